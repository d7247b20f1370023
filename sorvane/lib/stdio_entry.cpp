#include "stdio_entry.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "catalog_db.h"
#include "fsentry.h"
#include "jobs.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "progress_log.h"
#include "request_file.h"
#include "restic.h"
#include "retention.h"
#include "stream_store.h"
#include "sync.h"
#include "unique_fd.h"

namespace {

// The entry's name as given, decoded from the transfer encoding under -8.
std::string entry_name(const KpArgs &args, const char *opt) {
    std::string name = args.get(opt);
    return args.has("-8") ? transfer_decode(name) : name;
}

// The entry's catalog path from the name given after OPT, or empty (with the
// refusal on standard error and in the log) when the name is not an absolute
// path of named components.
std::string checked_entry_path(const KpArgs &args, const char *opt, const char *program,
                               ProgressLog &log) {
    const std::string name = entry_name(args, opt);
    std::string path = stream_entry_path(name);
    if (name.empty() || name[0] != '/' || path.empty()) {
        log.line("the entry name " + log_quote(name) +
                 " is not an absolute path of named components: nothing was done");
        fprintf(stderr, "%s: bad entry name for %s: %s\n", program, opt, log_quote(name).c_str());
        return "";
    }
    return path;
}

// A broken pipe (the reader of our output, or restic, went away) is a
// failure we report, not a signal that ends us silently.
void ignore_broken_pipes() {
    signal(SIGPIPE, SIG_IGN);
}

// Copies standard input into a pipe that restic reads, counting the bytes,
// so that what restic says it stored is checked against what was given.
// Stops when restic closes its end (it failed or was stopped).
struct Feeder {
    int out = -1;
    std::string first; // read before restic started
    long long bytes = 0;
    int read_errno = 0;
    bool reader_gone = false;

    void run() {
        char buf[65536];
        if (write_all(first.data(), first.size())) {
            bytes += static_cast<long long>(first.size());
        } else {
            fds_done();
        }
        pollfd fds[2] = {{0, POLLIN, 0}, {out, 0, 0}};
        while (out >= 0) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                read_errno = errno;
                break;
            }
            if (fds[1].revents != 0) {
                reader_gone = true;
                break;
            }
            if (fds[0].revents == 0) {
                continue;
            }
            ssize_t n = read(0, buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (n < 0) {
                read_errno = errno;
                break;
            }
            if (n == 0) {
                break;
            }
            if (!write_all(buf, static_cast<size_t>(n))) {
                break;
            }
            bytes += n;
        }
        fds_done();
    }

    void fds_done() {
        if (out >= 0) {
            close(out);
        }
        out = -1;
    }

    bool write_all(const char *p, size_t n) {
        while (n > 0) {
            ssize_t w = write(out, p, n);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                reader_gone = true;
                return false;
            }
            p += w;
            n -= static_cast<size_t>(w);
        }
        return true;
    }
};

// The policy of a user backup, as kpbackup chooses it: KPBACKUP_POLICY of
// the environment, then of kp.conf, else "user-backup"; one word.
std::string user_backup_policy() {
    const char *env = getenv("KPBACKUP_POLICY");
    std::string p = env != nullptr && env[0] != '\0' ? env : kpconf_value("KPBACKUP_POLICY");
    if (p.empty()) {
        p = "user-backup";
    }
    for (char &c : p) {
        if (c == ' ' || c == '\t' || c == '\n') {
            c = '_';
        }
    }
    return p;
}

// The state recorded for the entry and for the directories above it: the
// running user's, made at the backup time. Device and inode are unknown.
FileState made_state(const std::string &path, mode_t mode, long long size, long long when,
                     NameCache &names) {
    struct stat st {};
    st.st_mode = mode;
    st.st_uid = getuid();
    st.st_gid = getgid();
    st.st_nlink = 1;
    st.st_size = size;
    st.st_blocks = (size + 511) / 512;
    st.st_mtim.tv_sec = st.st_ctim.tv_sec = when;
    FileState f =
        file_state_from_stat(path == "/" ? "" : path.substr(path.rfind('/') + 1), st, names);
    f.device = -1;
    f.inode = 0;
    return f;
}

// The image: the entry as a regular file of size bytes, a root of the
// image, and the directories above it where they have no version yet: as
// they are on disk when they exist ("/" always does, and a later restore
// of a directory gives it the recorded mode), else private to the user.
bool record_image(const ImageHeader &h, const std::string &path, long long size, CatalogDb &db,
                  std::string &err) {
    NameCache names;
    ImageWriter w;
    if (!db.begin_image(h, w, err)) {
        return false;
    }
    if (!w.root(path, made_state(path, S_IFREG | 0600, size, h.backup_time, names), err)) {
        return false;
    }
    for (std::string p = path; p != "/";) {
        size_t sl = p.rfind('/');
        p = sl == 0 ? "/" : p.substr(0, sl);
        struct stat st {};
        FileState f =
            lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)
                ? file_state_from_stat(p == "/" ? "" : p.substr(p.rfind('/') + 1), st, names)
                : made_state(p, S_IFDIR | 0700, 0, h.backup_time, names);
        if (!w.ancestor(p, f, err)) {
            return false;
        }
    }
    return w.commit(err);
}

} // namespace

int backup_stdin_entry(const KpArgs &args, ProgressLog &log) {
    auto finish = [&](int status) {
        log.report("backup", status);
        return status;
    };
    const std::string path = checked_entry_path(args, "-stdin", "kpbackup", log);
    if (path.empty()) {
        return finish(kpstatus::USAGE);
    }
    KpServer server;
    std::string err;
    int st = open_server(args.get("-S"), server, err);
    if (st != 0) {
        log.line(err);
        return finish(st);
    }
    ResticFailure why = ResticFailure::None;
    if (!repository_reachable(server, why, err)) {
        log.line(err);
        return finish(restic_failure_status(why, kpstatus::BACKUP_FAILED));
    }
    ImageHeader h;
    h.schedule = SCHED_USER_BACKUP;
    h.policy = user_backup_policy();
    h.client = local_client_name();
    h.keyword = args.get("-k");
    for (char &c : h.keyword) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    log.line("backup of standard input as " + log_quote(path) + " to server " + server.name +
             ", client " + h.client +
             (h.keyword.empty() ? std::string() : ", keyword \"" + log_quote(h.keyword) + "\""));
    auto work = [&]() -> int {
        ignore_broken_pipes();
        CatalogLock lock(server.lock_file, false);
        if (lock.busy()) {
            std::string what = "another backup or archive of server " + server.name;
            log.line("waiting for " + what + " to finish");
            job_set_waiting(what);
            lock.wait();
            job_set_waiting("");
        }
        if (!lock.held()) {
            log.line("cannot lock the catalog of server " + server.name);
            return finish(kpstatus::NO_SERVER);
        }
        CatalogDb db;
        std::string e;
        if (!db.open(catalog_db_path(server.dir), true, e)) {
            log.line("cannot open the catalog: " + e);
            return finish(kpstatus::BACKUP_FAILED);
        }
        // restic 0.14 cannot store an empty stream (it saves a snapshot
        // without the entry), so an empty input is refused before restic
        // runs: for a database dump it means the dump program failed.
        Feeder feeder;
        char buf[65536];
        ssize_t n;
        while ((n = read(0, buf, sizeof buf)) < 0 && errno == EINTR) {
        }
        if (n < 0) {
            log.line(std::string("cannot read standard input: ") + strerror(errno));
            return finish(kpstatus::BACKUP_FAILED);
        }
        if (n == 0) {
            log.line("standard input is empty: there is nothing to store, nothing was recorded");
            return finish(kpstatus::NONE_BACKED_UP);
        }
        feeder.first.assign(buf, static_cast<size_t>(n));
        h.backup_time = db.next_backup_time(time(nullptr));
        char id[32];
        snprintf(id, sizeof id, "%010lld", h.backup_time);
        h.id = id;
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0) {
            log.line(std::string("cannot make a pipe: ") + strerror(errno));
            return finish(kpstatus::BACKUP_FAILED);
        }
        Fd restic_in(p[0]);
        feeder.out = p[1];
        std::thread t([&feeder] { feeder.run(); });
        StreamResult r = store_stream(server, h, restic_in.fd, path, &log);
        // restic has ended: a feeder still writing finds the pipe closed.
        restic_in.reset();
        t.join();
        if (r.status != 0) {
            log.line(r.error + "; nothing was recorded");
            return finish(r.status);
        }
        if (feeder.read_errno != 0) {
            log.line("standard input could not be read after " + std::to_string(feeder.bytes) +
                     " bytes (" + strerror(feeder.read_errno) + "): snapshot " + r.snapshot +
                     " is incomplete and was not recorded");
            return finish(kpstatus::BACKUP_FAILED);
        }
        if (feeder.reader_gone || r.bytes != feeder.bytes) {
            log.line("restic stored " + std::to_string(r.bytes) + " bytes of the " +
                     std::to_string(feeder.bytes) + " read" +
                     (feeder.reader_gone ? " (and stopped reading)" : "") + ": snapshot " +
                     r.snapshot + " was not recorded");
            return finish(kpstatus::BACKUP_FAILED);
        }
        h.snapshot = r.snapshot;
        h.files = 1;
        h.kb = (r.bytes + 1023) / 1024;
        h.expiration = image_expiration(server, h.schedule, h.backup_time);
        if (job_cancelled()) {
            log.line("cancelled: snapshot " + r.snapshot + " is stored but no image was recorded");
            return finish(kpstatus::BACKUP_FAILED);
        }
        if (!record_image(h, path, r.bytes, db, e)) {
            log.line("snapshot " + r.snapshot + " is stored but could not be recorded (" + e + ")");
            return finish(kpstatus::BACKUP_FAILED);
        }
        log.done();
        log.line("stored " + std::to_string(r.bytes) + " bytes as " + log_quote(path) +
                 " in image " + local_time_text(h.backup_time) + " (snapshot " + r.snapshot + ")");
        store_record_after_backup(server, db, h.backup_time, log);
        return finish(kpstatus::OK);
    };
    st = start_job(server.dir, "kpbackup", args.get("-L"), true, work, err, {log.fd()});
    if (st < 0) {
        log.line(err);
        return finish(kpstatus::BACKUP_FAILED);
    }
    return st;
}

int restore_stdout_entry(const KpArgs &args, ProgressLog &log) {
    auto finish = [&](int status) {
        log.report("restore", status);
        return status;
    };
    const std::string path = checked_entry_path(args, "-stdout", "kprestore", log);
    if (path.empty()) {
        return finish(kpstatus::USAGE);
    }
    long long start = 0, end = KP_INFINITY;
    if ((args.has("-s") && !kp_parse_time(args.get("-s"), start)) ||
        (args.has("-e") && !kp_parse_time(args.get("-e"), end))) {
        fprintf(stderr, "kprestore: -s and -e take seconds since the epoch\n");
        log.line("bad date range: -s and -e take seconds since the epoch");
        return finish(kpstatus::BAD_DATE);
    }
    KpServer server;
    std::string err;
    int st = open_server(args.get("-S"), server, err);
    if (st != 0) {
        log.line(err);
        return finish(st);
    }
    HistoryKey history;
    history.client = args.has("-C") ? args.get("-C") : local_client_name();
    history.archives = args.has("-A");
    CatalogDb db;
    const std::string db_path = catalog_db_path(server.dir);
    if (access(db_path.c_str(), F_OK) != 0) {
        log.line("the server's catalog holds no image yet");
        return finish(kpstatus::NO_IMAGES);
    }
    if (!db.open(db_path, false, err)) {
        log.line("the catalog cannot be opened: " + err);
        return finish(kpstatus::RESTORE_FAILED);
    }
    // The newest version alive in the range; restore_set gives the path's
    // own version first (and, for a directory, what is below it).
    std::vector<Version> set = db.restore_set(history, path, start, end, false, err);
    if (!err.empty()) {
        log.line("the catalog cannot be read: " + err);
        return finish(kpstatus::RESTORE_FAILED);
    }
    const Version *v = nullptr;
    for (const auto &c : set) {
        if (c.path == path) {
            v = &c;
        }
    }
    if (v == nullptr) {
        log.line("no image of client " + history.client + " in the range holds " + log_quote(path));
        return finish(kpstatus::NO_IMAGES);
    }
    if (v->st.type != 0) {
        log.line(log_quote(path) + " is not a regular file in the images: nothing was written");
        fprintf(stderr, "kprestore: %s is not a regular file\n", log_quote(path).c_str());
        return finish(kpstatus::USAGE);
    }
    ImageHeader image;
    const long long holder = db.newest_holders(history, {*v}).at(0);
    if (!db.image_at(holder, image) || image.snapshot.empty()) {
        log.line("the image " + local_time_text(holder) + " that holds " + log_quote(path) +
                 " has no snapshot");
        return finish(kpstatus::RESTORE_FAILED);
    }
    db.close();
    const Version chosen = *v;
    log.line("writing " + log_quote(path) + " of " + local_time_text(chosen.first) + " (" +
             std::to_string(chosen.st.size) + " bytes, image " + local_time_text(holder) +
             ", snapshot " + image.snapshot + ") to standard output");
    auto work = [&]() -> int {
        ignore_broken_pipes();
        StreamResult r = dump_stream(server, image.snapshot, path, 1, chosen.st.size, &log);
        if (r.status != 0) {
            log.line(r.error + "; standard output holds only the first " + std::to_string(r.bytes) +
                     " bytes");
            return finish(r.status);
        }
        log.done();
        log.line("wrote " + std::to_string(r.bytes) + " bytes");
        return finish(kpstatus::OK);
    };
    st = start_job(server.dir, "kprestore", args.get("-L"), true, work, err, {log.fd()});
    if (st < 0) {
        log.line(err);
        return finish(kpstatus::RESTORE_FAILED);
    }
    return st;
}
