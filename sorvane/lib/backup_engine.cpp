// kpbackup and kparchive: back up the files of a request into the server's
// repository as one snapshot, record in the catalog what the snapshot holds
// and, for an archive, remove the originals that provably are in it.
//
// The flow of one run:
//   1. walk the request before restic starts: each path's lstat (inode,
//      size, mtime and ctime to the nanosecond) goes to a temporary file in
//      the server directory, one record per directory read, so that memory
//      stays small whatever the tree;
//   2. restic backup --json -vv: restic names every regular file and
//      directory it stored, and every item it could not read;
//   3. reconcile: an entry is in the image only when restic stored it and it
//      did not change between the walk and the end of restic's run;
//      everything else is counted failed with its reason;
//   4. write the image in one catalog transaction;
//   5. (archive) remove an original only when it still matches the walk and
//      the snapshot's own node for it.
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "backup_engine.h"
#include "catalog.h"
#include "catalog_db.h"
#include "fsentry.h"
#include "jobs.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "raw_device.h"
#include "request_file.h"
#include "restic.h"
#include "retention.h"
#include "sync.h"
#include "restic_node.h"
#include "stdio_entry.h"

namespace {

const char *const BACKUP_USAGE =
    "kpbackup [-S server] [-t policy_type] [-k keyword] [-L log] [-8] [-w] {-f request_file | "
    "directory | -stdin NAME}";
const char *const ARCHIVE_USAGE =
    "kparchive [-S server] [-t policy_type] [-k keyword] [-L log] [-8] [-w] {-f request_file | "
    "directory}";

const std::vector<KpOption> BACKUP_OPTIONS = {{"-S", true},  {"-t", true},    {"-k", true},
                                              {"-L", true},  {"-8", false},   {"-f", true},
                                              {"-w", false}, {"-stdin", true}};

} // namespace

namespace backup_engine {

int Backup::read_request(const KpArgs &args, std::vector<std::string> &paths) {
    if (args.has("-f")) {
        std::string text, err;
        if (!read_whole_file(args.get("-f"), text, err)) {
            log_.line("cannot read the request file: " + err);
            return kpstatus::OPEN_FAILED;
        }
        if (!parse_counted_list(text, paths, err)) {
            log_.line("the request file " + log_quote(args.get("-f")) +
                      " is damaged, nothing was backed up: " + err);
            fprintf(stderr, "request file damaged: %s\n", err.c_str());
            return kpstatus::USAGE;
        }
    } else {
        paths = args.operands;
    }
    if (paths.empty()) {
        log_.line("the request names no files");
        return kpstatus::EMPTY_LIST;
    }
    return 0;
}

void Backup::choose_roots(const std::vector<std::string> &paths) {
    std::vector<Root> found;
    for (const auto &raw : paths) {
        if (raw.size() >= 4096) {
            log_.skipped(raw.substr(0, 200) + "...", "path longer than the system allows");
            continue;
        }
        Root r;
        r.path = absolute_path(raw);
        // A block device (or a link to one) named by a backup is its
        // content: one raw entry, not a device node.
        RawSource src;
        if (!archive_ && raw_source(r.path, src)) {
            if (access(src.device.c_str(), R_OK) != 0) {
                log_.skipped(r.path, "cannot read the device " + log_quote(src.device) + ": " +
                                         strerror(errno));
            } else {
                raw_.push_back(std::move(src));
            }
            continue;
        }
        if (lstat(r.path.c_str(), &r.st) != 0) {
            log_.skipped(r.path, std::string("does not exist: ") + strerror(errno));
            continue;
        }
        found.push_back(std::move(r));
    }
    // A path named twice, or inside another requested directory, is covered
    // by the walk of the outer one. Sorted, a path follows its duplicate and
    // its directories; each is looked up by its ancestors, not compared with
    // every root, for requests that name many files.
    std::sort(found.begin(), found.end(),
              [](const Root &a, const Root &b) { return a.path < b.path; });
    std::unordered_set<std::string> dirs;
    for (auto &r : found) {
        bool covered = !roots_.empty() && roots_.back().path == r.path;
        for (size_t sl = r.path.find('/');
             !covered && sl != std::string::npos && sl + 1 < r.path.size();
             sl = r.path.find('/', sl + 1)) {
            covered = dirs.count(sl == 0 ? "/" : r.path.substr(0, sl)) != 0;
        }
        if (covered) {
            continue;
        }
        if (S_ISDIR(r.st.st_mode)) {
            dirs.insert(r.path);
        }
        roots_.push_back(std::move(r));
    }
}

// Runs restic; when the repository is locked, removes stale locks (those of
// processes that are gone, as "restic unlock" judges) once and tries again.
ResticResult Backup::restic_unlocking(const std::vector<std::string> &args, const LineFn &on_out,
                                      const LineFn &on_err, const std::function<void()> &reset) {
    ResticResult r = run_restic(server_, args, on_out, on_err);
    if (r.failure != ResticFailure::Locked) {
        return r;
    }
    log_.line("the repository is locked; removing stale locks left by interrupted runs");
    ResticResult u = run_restic(server_, {"unlock"});
    if (!u.started || u.exit_code != 0) {
        log_.line("restic unlock failed: " + log_quote(u.err.substr(0, u.err.find('\n'))));
    }
    if (reset) {
        reset();
    }
    return run_restic(server_, args, on_out, on_err);
}

int Backup::run_restic_backup(std::string &snapshot, bool &partial) {
    // The paths restic reads: the roots, NUL-separated so that any byte
    // survives.
    TempFile list;
    std::string err;
    if (!list.create(server_.dir, "list", true, err)) {
        log_.line("cannot write the file list: " + err);
        return kpstatus::BACKUP_FAILED;
    }
    for (const auto &r : roots_) {
        fwrite(r.path.c_str(), 1, r.path.size() + 1, list.file());
    }
    if (!list.finish_writing(err)) {
        log_.line("cannot write the file list: " + err);
        return kpstatus::BACKUP_FAILED;
    }

    std::vector<std::string> args = {"backup",
                                     "--json",
                                     "-vv",
                                     "--files-from-raw",
                                     list.path(),
                                     "--time",
                                     local_time_text(backup_time_),
                                     "--host",
                                     client_,
                                     "--tag",
                                     "sorvane",
                                     "--tag",
                                     "client=" + percent_encode(client_),
                                     "--tag",
                                     "sched=" + std::to_string(schedule_),
                                     "--tag",
                                     "kw=" + percent_encode(keyword_),
                                     "--tag",
                                     "policy=" + percent_encode(policy_)};
    // A progress line every two seconds while restic works, from its
    // latest status, and one at the end.
    ProgressTicker ticker(log_);
    ticker.total_files = examined_files_;
    ticker.total_bytes = examined_bytes_;
    auto on_out = [&](std::string_view l) {
        ResticBackupEvent ev = parse_restic_backup_line(l);
        switch (ev.kind) {
        case ResticBackupEvent::Stored:
            stored_keys_.push_back(path_key(ev.item));
            break;
        case ResticBackupEvent::Status:
            if (ev.files_done >= 0) {
                ticker.files = ev.files_done;
                ticker.bytes = std::max(ev.bytes_done, 0LL);
                // restic's totals grow while it scans; the walk's are known.
                ticker.total_files = std::max(ev.total_files, examined_files_);
                ticker.total_bytes = std::max(ev.total_bytes, examined_bytes_);
            }
            break;
        case ResticBackupEvent::Summary:
            snapshot = ev.snapshot;
            // Everything restic went through, for the last progress line.
            ticker.files = ticker.total_files = std::max(ev.files_done, 0LL);
            ticker.bytes = ticker.total_bytes = std::max(ev.bytes_done, 0LL);
            log_.line("stored: " + std::to_string(ev.files_new) + " new, " +
                      std::to_string(ev.files_changed) + " changed, " +
                      std::to_string(ev.files_unmodified) + " unchanged files; " +
                      std::to_string(ev.data_added) + " bytes added to the repository");
            break;
        default:
            break;
        }
    };
    auto on_err = [&](std::string_view l) {
        ResticBackupEvent ev = parse_restic_backup_line(l);
        if (ev.kind == ResticBackupEvent::Error) {
            // Counted failed when the entry is reconciled.
            log_.line("restic could not read " +
                      log_quote(ev.item.empty() ? "(unnamed)" : ev.item) + ": " + ev.error);
            if (!ev.item.empty() && restic_errors_.size() < 100000) {
                restic_errors_.emplace(ev.item, ev.error);
            }
            return;
        }
        std::string s(l);
        if (s.find("does not exist, skipping") != std::string::npos || s.rfind("error: ", 0) == 0) {
            log_.line("restic: " + log_quote(s));
        }
    };
    auto reset = [&] {
        stored_keys_.clear();
        restic_errors_.clear();
        snapshot.clear();
    };
    ResticResult r = restic_unlocking(args, on_out, on_err, reset);
    if (!r.started) {
        log_.line("cannot run restic: " + r.err);
        return kpstatus::BACKUP_FAILED;
    }
    if (r.cancelled) {
        log_.line("cancelled while restic was storing the files: no image was recorded");
        return kpstatus::BACKUP_FAILED;
    }
    if (r.exit_code == 3 && !snapshot.empty()) {
        partial = true;
        return 0;
    }
    if (r.exit_code != 0 || snapshot.empty()) {
        std::string first = r.err.substr(0, r.err.find('\n'));
        log_.line(std::string("restic backup failed (") + restic_failure_name(r.failure) +
                  "): " + log_quote(first));
        return restic_failure_status(r.failure, kpstatus::BACKUP_FAILED);
    }
    return 0;
}

int Backup::check(const KpArgs &args) {
    schedule_ = archive_ ? SCHED_USER_ARCHIVE : SCHED_USER_BACKUP;
    keyword_ = args.get("-k");
    if (args.has("-t")) {
        long long t = 0;
        if (!kp_parse_time(args.get("-t"), t) || t < 0 || t > 1000) {
            log_.line("bad policy type " + log_quote(args.get("-t")));
            log_.report(archive_ ? "archive" : "backup", kpstatus::USAGE);
            return usage_error(archive_ ? "kparchive" : "kpbackup",
                               "bad policy type " + args.get("-t"),
                               archive_ ? ARCHIVE_USAGE : BACKUP_USAGE);
        }
        policy_type_ = static_cast<int>(t);
    }
    for (char &c : keyword_) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    const char *pol = getenv(archive_ ? "KPARCHIVE_POLICY" : "KPBACKUP_POLICY");
    policy_ = pol != nullptr && pol[0] != '\0' ? pol
              : !kpconf_value(archive_ ? "KPARCHIVE_POLICY" : "KPBACKUP_POLICY").empty()
                  ? kpconf_value(archive_ ? "KPARCHIVE_POLICY" : "KPBACKUP_POLICY")
                  : std::string(archive_ ? "user-archive" : "user-backup");
    for (char &c : policy_) {
        if (c == ' ' || c == '\t' || c == '\n') {
            c = '_';
        }
    }
    client_ = local_client_name();
    auto finish = [&](int status) {
        log_.report(archive_ ? "archive" : "backup", status);
        return status;
    };

    std::vector<std::string> paths;
    int st = read_request(args, paths);
    if (st != 0) {
        return finish(st);
    }
    std::string err;
    st = open_server(args.get("-S"), server_, err);
    if (st != 0) {
        log_.line(err);
        return finish(st);
    }
    ResticFailure why = ResticFailure::None;
    if (!repository_reachable(server_, why, err)) {
        log_.line(err);
        return finish(restic_failure_status(why, kpstatus::BACKUP_FAILED));
    }
    choose_roots(paths);
    if (roots_.empty() && raw_.empty()) {
        return finish(kpstatus::NONE_EXIST);
    }
    if (!raw_.empty()) {
        log_.line(std::to_string(raw_.size()) + " requested paths are block devices: each is "
                                                "backed up as a raw partition, in an image "
                                                "of its own");
    }
    log_.line(std::string(archive_ ? "archive" : "backup") + " of " +
              std::to_string(roots_.size() + raw_.size()) + " requested paths to server " +
              server_.name + " (repository " + log_quote(server_repository(server_)) +
              "), client " + client_ +
              (keyword_.empty() ? std::string() : ", keyword \"" + log_quote(keyword_) + "\""));
    return 0;
}

int Backup::work() {
    std::string err;
    int st = 0;
    int raw_status = -1; // of the raw partitions, when the request named some
    auto finish = [&](int status) {
        if (raw_status >= 0 && roots_.empty()) {
            status = raw_status;
        } else if (raw_status >= 0 && (status == 0) != (raw_status == 0)) {
            status = kpstatus::PARTIAL;
        }
        log_.report(archive_ ? "archive" : "backup", status);
        return status;
    };
    // Backups of one server take turns: each image gets its own backup
    // time and the catalog one writer.
    CatalogLock lock(server_.lock_file, false);
    if (lock.busy()) {
        std::string what = "another backup or archive of server " + server_.name;
        log_.line("waiting for " + what + " to finish");
        job_set_waiting(what);
        lock.wait();
        job_set_waiting("");
        log_.line("the server is free: starting");
    }
    if (!lock.held()) {
        log_.line("cannot lock the catalog of server " + server_.name);
        return finish(kpstatus::NO_SERVER);
    }
    remove_stale_temp_files(server_.dir, log_);
    CatalogDb db;
    if (!db.open(catalog_db_path(server_.dir), true, err)) {
        log_.line("cannot open the catalog: " + err);
        return finish(kpstatus::BACKUP_FAILED);
    }
    if (!raw_.empty()) {
        raw_status = back_up_raw_devices(
            server_, db, {client_, keyword_, policy_, schedule_, policy_type_}, raw_, log_);
        if (roots_.empty()) {
            return finish(raw_status);
        }
    }

    // The walk comes first: what restic stores is checked against it. The
    // catalog's own cost (walk, reconciliation, image write) is timed for
    // the log.
    auto seconds = [t0 = std::chrono::steady_clock::now()]() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    double catalog_time = 0, mark = seconds();
    if (!walk(err)) {
        log_.line(err);
        return finish(kpstatus::BACKUP_FAILED);
    }
    log_.line("examined " + std::to_string(examined_) + " files and directories");
    const double walk_time = seconds() - mark;
    catalog_time += walk_time;
    backup_time_ = db.next_backup_time(time(nullptr));
    std::string snapshot;
    bool partial = false;
    st = run_restic_backup(snapshot, partial);
    if (st != 0) {
        return finish(st);
    }
    log_.line("snapshot " + snapshot + (partial ? " (incomplete)" : ""));
    mark = seconds();
    double check_time = 0;
    if (!reconcile(err)) {
        log_.line("snapshot " + snapshot + " is stored but could not be recorded: " + err);
        return finish(kpstatus::BACKUP_FAILED);
    }

    check_time = seconds() - mark;
    ImageHeader h;
    h.backup_time = backup_time_;
    char id[32];
    snprintf(id, sizeof id, "%010lld", backup_time_);
    h.id = id;
    h.schedule = schedule_;
    h.policy_type = policy_type_;
    h.policy = policy_;
    h.client = client_;
    h.keyword = keyword_;
    h.snapshot = snapshot;
    h.files = files_;
    h.kb = (bytes_ + 1023) / 1024;
    h.expiration = image_expiration(server_, h.schedule, h.backup_time);
    if (job_cancelled()) {
        log_.line("cancelled: snapshot " + snapshot + " is stored but no image was recorded");
        return finish(kpstatus::BACKUP_FAILED);
    }
    // A failed write (a full disk) rolls the transaction back: the catalog
    // stays as it was.
    if (!write_image(h, db, err)) {
        log_.line("snapshot " + snapshot + " is stored but could not be recorded in the catalog (" +
                  err + ")");
        return finish(kpstatus::BACKUP_FAILED);
    }
    log_.done(files_);
    catalog_time += seconds() - mark;
    log_.line("image " + local_time_text(backup_time_) + " recorded: " + std::to_string(h.files) +
              " files and directories, " + std::to_string(h.kb) + " KB");
    char timing[160];
    snprintf(timing, sizeof timing,
             "catalog updated in %.3f s of %.3f s (walk %.3f s, check after restic %.3f s, image "
             "%.3f s)",
             catalog_time, seconds(), walk_time, check_time, catalog_time - walk_time - check_time);
    log_.line(timing);
    store_record_after_backup(server_, db, h.backup_time, log_);

    int status = kpstatus::OK;
    if (partial || log_.failed_count() > 0) {
        status = h.files > 0 ? kpstatus::PARTIAL : kpstatus::NONE_BACKED_UP;
    }
    // An archive removes each original that provably is in the snapshot,
    // also when others could not be stored: those stay where they are.
    if (archive_ && h.files > 0) {
        if (!load_snapshot_nodes(snapshot, err)) {
            log_.line("verification failed, no original was removed: " + err);
            status = kpstatus::PARTIAL;
        } else {
            log_.line("snapshot " + snapshot +
                      " verified: each original is removed only when it matches its node");
            // An original kept is an archive partly done.
            if (remove_originals() > 0 || log_.failed_count() > 0 || job_cancelled()) {
                status = kpstatus::PARTIAL;
            }
        }
    }
    return finish(status);
}

} // namespace backup_engine

namespace {

using backup_engine::Backup;

int backup_program(int argc, char **argv, bool archive) {
    // Temporary files and logs we create hold the user's paths.
    umask(077);
    const char *prog = archive ? "kparchive" : "kpbackup";
    const char *usage = archive ? ARCHIVE_USAGE : BACKUP_USAGE;
    KpArgs args;
    std::string err;
    if (!kp_parse_args(argc, argv, BACKUP_OPTIONS, args, err)) {
        return usage_error(prog, err, usage);
    }
    if (args.has("-f") && !args.operands.empty()) {
        return usage_error(prog, "give either -f or a directory, not both", usage);
    }
    if (!args.has("-f") && args.operands.size() > 1) {
        return usage_error(prog, "more than one directory given", usage);
    }
    if (args.has("-stdin") && (archive || args.has("-f") || !args.operands.empty())) {
        return usage_error(prog, "-stdin names the only entry of a backup", usage);
    }
    ProgressLog log;
    if (!open_program_log(args, log, err)) {
        fprintf(stderr, "%s: %s\n", prog, err.c_str());
        return kpstatus::OPEN_FAILED;
    }
    if (!args.has("-L")) {
        log.echo_to_stderr(true);
    }
    if (args.has("-stdin")) {
        return backup_stdin_entry(args, log);
    }
    Backup b(archive, log);
    int st = b.check(args);
    if (st != 0) {
        return st;
    }
    // Accepted: the work goes on as a job of its own, detached from the
    // caller, which gets 0 now (or the job's status under -w).
    int r = start_job(b.server_dir(), prog, args.get("-L"), args.has("-w"),
                      [&] { return b.work(); }, err, {log.fd()});
    if (r < 0) {
        log.line(err);
        log.report(archive ? "archive" : "backup", kpstatus::BACKUP_FAILED);
        return kpstatus::BACKUP_FAILED;
    }
    return r;
}

} // namespace

int kpbackup_main(int argc, char **argv) {
    return backup_program(argc, argv, false);
}

int kparchive_main(int argc, char **argv) {
    return backup_program(argc, argv, true);
}
