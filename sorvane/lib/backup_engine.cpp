// kpbackup and kparchive: back up the files of a request into the server's
// repository as one snapshot, record the image in the catalog and, for an
// archive, remove the originals once the image is recorded and verified.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <mutex>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "catalog.h"
#include "fsentry.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "request_file.h"
#include "restic.h"

namespace {

const char *const BACKUP_USAGE =
    "kpbackup [-S server] [-k keyword] [-L log] [-8] {-f request_file | directory}";
const char *const ARCHIVE_USAGE =
    "kparchive [-S server] [-k keyword] [-L log] [-8] {-f request_file | directory}";

const std::vector<KpOption> BACKUP_OPTIONS = {
    {"-S", true}, {"-k", true}, {"-L", true}, {"-8", false}, {"-f", true}};

struct Entry {
    std::string path; // with a trailing "/" for directories
    ListingLine line;
    bool in_request = false; // false for the ancestors of the request
};

std::string file_path(const Entry &e) {
    std::string p = e.path;
    if (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

class Backup {
  public:
    Backup(bool archive, ProgressLog &log) : archive_(archive), log_(log) {}
    int run(const KpArgs &args);

  private:
    int read_request(const KpArgs &args, std::vector<std::string> &paths);
    void add_ancestors(const std::string &path);
    void walk(const std::string &root);
    void add_entry(const std::string &path, const struct stat &st, bool in_request);
    long long choose_backup_time();
    int run_restic_backup(std::string &snapshot, bool &partial);
    bool verify_snapshot(const std::string &snapshot, std::string &why);
    void remove_originals();

    bool archive_;
    ProgressLog &log_;
    KpServer server_;
    NameCache names_;
    std::string client_, keyword_, policy_;
    int schedule_ = SCHED_USER_BACKUP;
    long long backup_time_ = 0;
    std::vector<Entry> entries_;
    std::unordered_map<std::string, size_t> seen_;
    std::vector<std::string> roots_;         // existing request paths, no trailing slash
    std::mutex failed_mu_;                   // the walk and the reader of restic both add
    std::unordered_set<std::string> failed_; // paths that could not be read
    long long request_entries_ = 0;
};

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

void Backup::add_entry(const std::string &path, const struct stat &st, bool in_request) {
    std::string key = S_ISDIR(st.st_mode) && path != "/" ? path + "/" : path;
    auto [it, added] = seen_.emplace(key, entries_.size());
    if (!added) {
        // An ancestor of one request path named by another request path
        // belongs to the request.
        Entry &old = entries_[it->second];
        if (in_request && !old.in_request) {
            old.in_request = true;
            ++request_entries_;
        }
        return;
    }
    Entry e;
    e.path = key;
    e.line = listing_from_stat(key, st, 0, schedule_, names_);
    e.in_request = in_request;
    if (in_request)
        ++request_entries_;
    entries_.push_back(std::move(e));
}

void Backup::add_ancestors(const std::string &path) {
    size_t pos = 0;
    for (;;) {
        size_t sl = path.find('/', pos);
        if (sl == std::string::npos)
            break;
        std::string anc = sl == 0 ? "/" : path.substr(0, sl);
        struct stat st {};
        if (lstat(anc.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            add_entry(anc, st, false);
        pos = sl + 1;
    }
}

void Backup::walk(const std::string &root) {
    std::vector<std::string> stack = {root};
    while (!stack.empty()) {
        std::string dir = stack.back();
        stack.pop_back();
        DIR *d = opendir(dir.c_str());
        if (d == nullptr) {
            log_.failed(dir, std::string("cannot read the directory: ") + strerror(errno));
            std::lock_guard<std::mutex> g(failed_mu_);
            failed_.insert(dir);
            continue;
        }
        std::vector<std::string> subdirs;
        while (dirent *de = readdir(d)) {
            const char *n = de->d_name;
            if ((n[0] == '.' && n[1] == '\0') || (n[0] == '.' && n[1] == '.' && n[2] == '\0'))
                continue;
            std::string p = dir == "/" ? "/" + std::string(n) : dir + "/" + n;
            struct stat st {};
            if (lstat(p.c_str(), &st) != 0) {
                if (errno != ENOENT)
                    log_.failed(p, std::string("cannot examine: ") + strerror(errno));
                continue;
            }
            add_entry(p, st, true);
            if (S_ISDIR(st.st_mode))
                subdirs.push_back(p);
        }
        closedir(d);
        for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it)
            stack.push_back(*it);
    }
}

long long Backup::choose_backup_time() {
    // Backup times identify versions: no two images of a server share one.
    long long t = time(nullptr);
    auto images = load_image_headers(server_.catalog_dir);
    if (!images.empty() && images.back().backup_time >= t)
        t = images.back().backup_time + 1;
    return t;
}

int Backup::run_restic_backup(std::string &snapshot, bool &partial) {
    // The paths restic reads: the request roots, without those inside
    // another root, NUL-separated so that any byte survives.
    std::vector<std::string> tops = roots_;
    std::sort(tops.begin(), tops.end());
    std::vector<std::string> kept;
    for (const auto &p : tops) {
        bool covered = false;
        for (const auto &k : kept)
            if (k == "/" || p == k || p.compare(0, k.size() + 1, k + "/") == 0)
                covered = true;
        if (!covered)
            kept.push_back(p);
    }
    std::string list;
    for (const auto &p : kept) {
        list += p;
        list += '\0';
    }
    char tmpl[] = "/tmp/kpbackup.XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0 || write(fd, list.data(), list.size()) != static_cast<ssize_t>(list.size())) {
        if (fd >= 0) {
            close(fd);
            unlink(tmpl);
        }
        log_.line(std::string("cannot write the file list: ") + strerror(errno));
        return kpstatus::BACKUP_FAILED;
    }
    close(fd);

    std::vector<std::string> args = {"backup",
                                     "--json",
                                     "--files-from-raw",
                                     tmpl,
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
    long long next_report = 1000;
    long long total = 0;
    auto on_out = [&](std::string_view l) {
        auto j = nlohmann::json::parse(l, nullptr, false);
        if (!j.is_object() || !j.contains("message_type") || !j["message_type"].is_string())
            return;
        std::string type = j["message_type"];
        if (type == "status") {
            if (j.contains("total_files") && j["total_files"].is_number_integer())
                total = j["total_files"];
            if (j.contains("files_done") && j["files_done"].is_number_integer()) {
                long long done = j["files_done"];
                if (done >= next_report) {
                    log_.line("progress: " + std::to_string(done) + " of " + std::to_string(total) +
                              " files stored");
                    while (next_report <= done)
                        next_report += 1000;
                }
            }
        } else if (type == "summary") {
            if (j.contains("snapshot_id") && j["snapshot_id"].is_string())
                snapshot = j["snapshot_id"];
            auto num = [&](const char *k) -> long long {
                return j.contains(k) && j[k].is_number_integer() ? j[k].get<long long>() : 0;
            };
            log_.line("stored: " + std::to_string(num("files_new")) + " new, " +
                      std::to_string(num("files_changed")) + " changed, " +
                      std::to_string(num("files_unmodified")) + " unchanged files; " +
                      std::to_string(num("data_added")) + " bytes added to the repository");
        }
    };
    auto on_err = [&](std::string_view l) {
        auto j = nlohmann::json::parse(l, nullptr, false);
        if (j.is_object() && j.contains("message_type") && j["message_type"] == "error") {
            std::string item = j.contains("item") && j["item"].is_string()
                                   ? j["item"].get<std::string>()
                                   : std::string();
            std::string what =
                j.contains("error")
                    ? (j["error"].is_string() ? j["error"].get<std::string>() : j["error"].dump())
                    : std::string("read error");
            if (!item.empty()) {
                std::lock_guard<std::mutex> g(failed_mu_);
                failed_.insert(item);
            }
            log_.failed(item.empty() ? "(unnamed)" : item, "restic could not read it: " + what);
            return;
        }
        std::string s(l);
        if (s.find("does not exist, skipping") != std::string::npos) {
            log_.line("restic: " + log_quote(s));
            return;
        }
        if (s.rfind("error: ", 0) == 0)
            log_.line("restic: " + log_quote(s));
    };
    ResticResult r = run_restic(server_, args, on_out, on_err);
    unlink(tmpl);
    if (!r.started) {
        log_.line("cannot run restic: " + r.err);
        return kpstatus::BACKUP_FAILED;
    }
    if (r.exit_code == 3) {
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

bool Backup::verify_snapshot(const std::string &snapshot, std::string &why) {
    // The snapshot's tree must list every file to be removed, with its
    // type and size. restic's JSON shows names in a lossy UTF-8 form:
    // compare in that form, counting equal forms.
    std::unordered_map<std::string, std::vector<std::pair<std::string, long long>>> nodes;
    long long count = 0;
    auto on_out = [&](std::string_view l) {
        auto j = nlohmann::json::parse(l, nullptr, false);
        if (!j.is_object() || !j.contains("struct_type") || j["struct_type"] != "node" ||
            !j.contains("path") || !j["path"].is_string())
            return;
        std::string type = j.contains("type") && j["type"].is_string()
                               ? j["type"].get<std::string>()
                               : std::string();
        long long size =
            j.contains("size") && j["size"].is_number_integer() ? j["size"].get<long long>() : 0;
        nodes[j["path"].get<std::string>()].emplace_back(type, size);
        ++count;
    };
    ResticResult r = run_restic(server_, {"ls", "--json", snapshot}, on_out);
    if (!r.started || r.exit_code != 0 || count == 0) {
        why = "cannot list snapshot " + snapshot + ": " + r.err.substr(0, r.err.find('\n'));
        return false;
    }
    for (const auto &e : entries_) {
        if (!e.in_request)
            continue;
        std::string key = lossy_utf8(file_path(e));
        auto it = nodes.find(key);
        static const char *types[] = {"file", "dir", "symlink", ""};
        std::string want = types[std::clamp<long long>(e.line.numbers[LN_TYPE], 0, 3)];
        bool found = false;
        if (it != nodes.end())
            for (auto &n : it->second)
                if ((want.empty() || n.first == want) &&
                    (want != "file" || n.second == e.line.size)) {
                    n.first = "(matched)";
                    found = true;
                    break;
                }
        if (!found) {
            why = "snapshot " + snapshot + " does not hold " + log_quote(file_path(e)) +
                  " as backed up";
            return false;
        }
    }
    return true;
}

void Backup::remove_originals() {
    // Children before parents: reverse path order puts "/a/b/c" before "/a/b/".
    std::vector<const Entry *> order;
    for (const auto &e : entries_)
        if (e.in_request)
            order.push_back(&e);
    std::sort(order.begin(), order.end(),
              [](const Entry *a, const Entry *b) { return a->path > b->path; });
    long long removed = 0;
    for (const Entry *e : order) {
        std::string p = file_path(*e);
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (e->line.numbers[LN_TYPE] != 1) {
                log_.skipped(p, "kept: replaced by a directory since the backup");
                continue;
            }
            if (rmdir(p.c_str()) == 0)
                ++removed;
            else
                log_.skipped(p, "kept: directory holds files not in the image");
            continue;
        }
        if (listing_type(st.st_mode) != e->line.numbers[LN_TYPE] || st.st_mtime != e->line.mtime ||
            (S_ISREG(st.st_mode) && st.st_size != e->line.size)) {
            log_.skipped(p, "kept: changed since the backup");
            continue;
        }
        if (unlink(p.c_str()) == 0)
            ++removed;
        else
            log_.failed(p, std::string("cannot remove the original: ") + strerror(errno));
    }
    log_.line("removed " + std::to_string(removed) + " originals");
}

int Backup::run(const KpArgs &args) {
    schedule_ = archive_ ? SCHED_USER_ARCHIVE : SCHED_USER_BACKUP;
    keyword_ = args.get("-k");
    for (char &c : keyword_)
        if (c == '\n' || c == '\r')
            c = ' ';
    const char *pol = getenv(archive_ ? "KPARCHIVE_POLICY" : "KPBACKUP_POLICY");
    policy_ = pol != nullptr && pol[0] != '\0' ? pol
              : !kpconf_value(archive_ ? "KPARCHIVE_POLICY" : "KPBACKUP_POLICY").empty()
                  ? kpconf_value(archive_ ? "KPARCHIVE_POLICY" : "KPBACKUP_POLICY")
                  : std::string(archive_ ? "user-archive" : "user-backup");
    for (char &c : policy_)
        if (c == ' ' || c == '\t' || c == '\n')
            c = '_';
    client_ = local_client_name();
    const char *what = archive_ ? "archive" : "backup";
    log_.line(std::string(archive_ ? "kparchive" : "kpbackup") + " started");

    std::vector<std::string> paths;
    int st = read_request(args, paths);
    if (st != 0) {
        log_.report(what, st);
        return st;
    }
    std::string err;
    st = open_server(args.get("-S"), server_, err);
    if (st != 0) {
        log_.line(err);
        log_.report(what, st);
        return st;
    }
    log_.line("server " + server_.name + ", client " + client_ +
              (keyword_.empty() ? std::string() : ", keyword \"" + log_quote(keyword_) + "\""));
    CatalogLock lock(server_.lock_file);
    if (!lock.held()) {
        log_.line("cannot lock the catalog of server " + server_.name);
        log_.report(what, kpstatus::NO_SERVER);
        return kpstatus::NO_SERVER;
    }
    ResticFailure why = ResticFailure::None;
    if (!repository_reachable(server_, why, err)) {
        log_.line(err);
        st = restic_failure_status(why, kpstatus::BACKUP_FAILED);
        log_.report(what, st);
        return st;
    }

    for (const auto &raw : paths) {
        if (raw.size() >= 4096) {
            log_.skipped(raw.substr(0, 200) + "...", "path longer than the system allows");
            continue;
        }
        std::string p = absolute_path(raw);
        struct stat sb {};
        if (lstat(p.c_str(), &sb) != 0) {
            log_.skipped(p, std::string("does not exist: ") + strerror(errno));
            continue;
        }
        add_ancestors(p);
        add_entry(p, sb, true);
        roots_.push_back(p);
    }
    if (roots_.empty()) {
        log_.report(what, kpstatus::NONE_EXIST);
        return kpstatus::NONE_EXIST;
    }

    // The listing lines are made from our own walk of the request, which
    // runs beside restic's backup of the same paths: the walk costs little
    // CPU but waits on the file system, and so does restic.
    backup_time_ = choose_backup_time();
    std::vector<std::string> dirs;
    for (const auto &e : entries_)
        if (e.in_request && e.line.numbers[LN_TYPE] == 1)
            dirs.push_back(file_path(e));
    std::sort(dirs.begin(), dirs.end());
    std::vector<std::string> outer; // directories not inside another one
    for (const auto &d : dirs)
        if (outer.empty() || !(outer.back() == "/" ||
                               d.compare(0, outer.back().size() + 1, outer.back() + "/") == 0))
            outer.push_back(d);
    dirs = std::move(outer);
    std::thread walker([this, dirs] {
        for (const auto &d : dirs)
            walk(d);
    });
    std::string snapshot;
    bool partial = false;
    st = run_restic_backup(snapshot, partial);
    walker.join();
    log_.line("examined " + std::to_string(request_entries_) + " files and directories");
    if (st != 0) {
        log_.report(what, st);
        return st;
    }
    log_.line("snapshot " + snapshot + (partial ? " (incomplete)" : ""));

    // Record the image: every entry restic stored, stamped with the backup time.
    ImageHeader h;
    h.backup_time = backup_time_;
    h.schedule = schedule_;
    h.policy = policy_;
    h.client = client_;
    h.keyword = keyword_;
    h.snapshot = snapshot;
    std::vector<std::pair<std::string, std::string>> lines;
    lines.reserve(entries_.size());
    long long kb_bytes = 0;
    for (auto &e : entries_) {
        std::string fp = file_path(e);
        bool lost = failed_.count(fp) != 0;
        if (!lost && !failed_.empty())
            for (const auto &f : failed_)
                if (fp.compare(0, f.size() + 1, f + "/") == 0) {
                    lost = true;
                    break;
                }
        if (lost)
            continue;
        e.line.backup_time = backup_time_;
        if (e.in_request) {
            ++h.files;
            log_.done();
            if (e.line.numbers[LN_TYPE] == 0)
                kb_bytes += e.line.size;
        }
        lines.emplace_back(e.path, format_listing_line(e.line));
    }
    h.kb = (kb_bytes + 1023) / 1024;
    if (!write_image(server_.catalog_dir, h, lines, err)) {
        log_.line("snapshot " + snapshot + " is stored but could not be recorded (" + err +
                  "); \"kpadmin rebuild-catalog " + server_.name + "\" recovers it");
        log_.report(what, kpstatus::BACKUP_FAILED);
        return kpstatus::BACKUP_FAILED;
    }
    log_.line("image " + local_time_text(backup_time_) + " recorded: " + std::to_string(h.files) +
              " files and directories, " + std::to_string(h.kb) + " KB");

    int status = kpstatus::OK;
    if (partial || log_.failed_count() > 0)
        status = h.files > 0 ? kpstatus::PARTIAL : kpstatus::NONE_BACKED_UP;
    if (archive_) {
        if (status != kpstatus::OK) {
            log_.line("the archive is incomplete: no original was removed");
        } else if (!verify_snapshot(snapshot, err)) {
            log_.line("verification failed, no original was removed: " + err);
            status = kpstatus::PARTIAL;
        } else {
            log_.line("snapshot " + snapshot + " verified");
            remove_originals();
            if (log_.failed_count() > 0)
                status = kpstatus::PARTIAL;
        }
    }
    log_.report(what, status);
    return status;
}

int backup_program(int argc, char **argv, bool archive) {
    const char *prog = archive ? "kparchive" : "kpbackup";
    const char *usage = archive ? ARCHIVE_USAGE : BACKUP_USAGE;
    KpArgs args;
    std::string err;
    if (!kp_parse_args(argc, argv, BACKUP_OPTIONS, args, err))
        return usage_error(prog, err, usage);
    if (args.has("-f") && !args.operands.empty())
        return usage_error(prog, "give either -f or a directory, not both", usage);
    if (!args.has("-f") && args.operands.size() > 1)
        return usage_error(prog, "more than one directory given", usage);
    ProgressLog log;
    if (!open_program_log(args, log, err)) {
        fprintf(stderr, "%s: %s\n", prog, err.c_str());
        return kpstatus::OPEN_FAILED;
    }
    if (!args.has("-L"))
        log.echo_to_stderr(true);
    Backup b(archive, log);
    return b.run(args);
}

} // namespace

int kpbackup_main(int argc, char **argv) {
    return backup_program(argc, argv, false);
}

int kparchive_main(int argc, char **argv) {
    return backup_program(argc, argv, true);
}
