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

#include "catalog.h"
#include "catalog_db.h"
#include "fsentry.h"
#include "jobs.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "request_file.h"
#include "restic.h"
#include "retention.h"
#include "sync.h"
#include "restic_node.h"
#include "stdio_entry.h"

namespace {

const char *const BACKUP_USAGE =
    "kpbackup [-S server] [-k keyword] [-L log] [-8] [-w] {-f request_file | directory | "
    "-stdin NAME}";
const char *const ARCHIVE_USAGE =
    "kparchive [-S server] [-k keyword] [-L log] [-8] [-w] {-f request_file | directory}";

const std::vector<KpOption> BACKUP_OPTIONS = {{"-S", true},    {"-k", true}, {"-L", true},
                                              {"-8", false},   {"-f", true}, {"-w", false},
                                              {"-stdin", true}};

// Temporary files of a run live in the server directory under this prefix.
// Runs of one server hold its lock, so a file with this prefix found by the
// lock holder was left by a killed run.
constexpr const char *TEMP_PREFIX = ".kpbackup.";

// A temporary file of ours (mode 0600), removed when the object goes, or
// at once when no other program needs its name (then a killed run leaves
// nothing behind).
class TempFile {
  public:
    TempFile() = default;
    ~TempFile() {
        if (f_ != nullptr)
            fclose(f_);
        if (!path_.empty())
            unlink(path_.c_str());
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    bool create(const std::string &dir, const char *what, bool named, std::string &err) {
        std::string tmpl = dir + "/" + TEMP_PREFIX + what + ".XXXXXX";
        int fd = mkstemp(tmpl.data());
        if (fd < 0) {
            err = "cannot create a temporary file in " + dir + ": " + strerror(errno);
            return false;
        }
        if (named)
            path_ = tmpl;
        else
            unlink(tmpl.c_str());
        fchmod(fd, 0600);
        f_ = fdopen(fd, "w+");
        if (f_ == nullptr) {
            close(fd);
            err = strerror(errno);
            return false;
        }
        return true;
    }
    FILE *file() const { return f_; }
    const std::string &path() const { return path_; }
    // Flushes and checks that everything written reached the file.
    bool finish_writing(std::string &err) {
        if (fflush(f_) != 0 || ferror(f_)) {
            err = std::string("cannot write a temporary file: ") + strerror(errno);
            return false;
        }
        return true;
    }

  private:
    std::string path_;
    FILE *f_ = nullptr;
};

// Removes what a killed run of ours left in the server directory.
void remove_stale_temp_files(const std::string &dir, ProgressLog &log) {
    std::unique_ptr<DIR, int (*)(DIR *)> d(opendir(dir.c_str()), closedir);
    if (!d)
        return;
    int removed = 0;
    while (dirent *de = readdir(d.get())) {
        if (strncmp(de->d_name, TEMP_PREFIX, strlen(TEMP_PREFIX)) != 0)
            continue;
        struct stat st {};
        if (fstatat(dirfd(d.get()), de->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            unlinkat(dirfd(d.get()), de->d_name, 0) == 0)
            ++removed;
    }
    if (removed > 0)
        log.line("removed " + std::to_string(removed) +
                 " temporary files left by an interrupted run");
}

// The walk file: per directory read, a header record ('D', its path, whether
// it could be read, its lstat), a record per entry ('C', name, lstat) and an
// end record ('E').
struct WalkWriter {
    FILE *f;
    void put(const void *p, size_t n) { fwrite(p, 1, n, f); }
    void text(const std::string &s) {
        uint32_t n = static_cast<uint32_t>(s.size());
        put(&n, sizeof n);
        put(s.data(), s.size());
    }
    void dir(const std::string &path, bool readable, const struct stat &st) {
        fputc('D', f);
        text(path);
        fputc(readable ? 1 : 0, f);
        put(&st, sizeof st);
    }
    void child(const char *name, const struct stat &st) {
        fputc('C', f);
        text(name);
        put(&st, sizeof st);
    }
    void end() { fputc('E', f); }
};

struct WalkReader {
    FILE *f;
    // One record; false at the end of the file or on a damaged record.
    struct Record {
        char kind = 0;
        std::string text; // 'D': the path, 'C': the name
        bool readable = false;
        struct stat st {};
    };
    bool get(void *p, size_t n) { return fread(p, 1, n, f) == n; }
    bool next(Record &r) {
        int k = fgetc(f);
        if (k == EOF)
            return false;
        r.kind = static_cast<char>(k);
        if (r.kind == 'E')
            return true;
        uint32_t n = 0;
        if (!get(&n, sizeof n) || n > (1u << 20))
            return false;
        r.text.resize(n);
        if (!get(r.text.data(), n))
            return false;
        if (r.kind == 'D') {
            int c = fgetc(f);
            if (c == EOF)
                return false;
            r.readable = c != 0;
        } else if (r.kind != 'C') {
            return false;
        }
        return get(&r.st, sizeof r.st);
    }
};

std::string child_path(const std::string &dir, const std::string &name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

std::string base_name(const std::string &path) {
    if (path == "/")
        return "";
    return path.substr(path.rfind('/') + 1);
}

long long ns_of(const struct timespec &ts) {
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The file is still the one the walk saw: same inode, type, size, and
// modification and change times to the nanosecond. (A rewrite that keeps
// size and mtime still moves ctime.)
bool unchanged_since(const struct stat &walk, const struct stat &now) {
    return walk.st_ino == now.st_ino && walk.st_dev == now.st_dev &&
           (walk.st_mode & S_IFMT) == (now.st_mode & S_IFMT) && walk.st_size == now.st_size &&
           ns_of(walk.st_mtim) == ns_of(now.st_mtim) && ns_of(walk.st_ctim) == ns_of(now.st_ctim);
}

uint64_t path_key(const std::string &restic_form) {
    return std::hash<std::string_view>{}(restic_form);
}

// What became of one walked entry.
enum Fate : uint8_t { STORED, KEPT, GONE };

struct Root {
    std::string path;
    struct stat st {};
    Fate fate = GONE;
};

class Backup {
  public:
    Backup(bool archive, ProgressLog &log) : archive_(archive), log_(log) {}
    // Checks the request at once (request file, server, repository, at
    // least one requested path present): a status other than 0 ends the
    // request before any job starts, its log already closed with it.
    int check(const KpArgs &args);
    // The backup itself, run as the request's job.
    int work();
    const std::string &server_dir() const { return server_.dir; }

  private:
    int read_request(const KpArgs &args, std::vector<std::string> &paths);
    void choose_roots(const std::vector<std::string> &paths);
    bool walk(std::string &err);
    void walk_dir(WalkWriter &w, const std::string &root, const struct stat &root_st);
    ResticResult restic_unlocking(const std::vector<std::string> &args, const LineFn &on_out,
                                  const LineFn &on_err, const std::function<void()> &reset);
    int run_restic_backup(std::string &snapshot, bool &partial);
    Fate judge(const std::string &path, const struct stat &walk_st, bool parent_stored);
    using ScanFn =
        std::function<bool(const std::string &dir, const WalkReader::Record &rec, Fate fate)>;
    bool scan_walk(const ScanFn &fn, std::string &err);
    bool reconcile(std::string &err);
    bool write_image(const ImageHeader &h, CatalogDb &db, std::string &err);
    bool load_snapshot_nodes(const std::string &snapshot, std::string &err);
    bool matches_node(const std::string &path, const struct stat &st) const;
    bool may_remove(const std::string &path, const struct stat &walk_st, const struct stat &now);
    long long remove_originals();

    bool archive_;
    ProgressLog &log_;
    KpServer server_;
    NameCache names_;
    std::string client_, keyword_, policy_;
    int schedule_ = SCHED_USER_BACKUP;
    long long backup_time_ = 0;
    std::vector<Root> roots_; // request paths, none inside another
    TempFile walk_file_;
    long long examined_ = 0;
    long long examined_files_ = 0, examined_bytes_ = 0; // regular files, for progress
    // Paths the walk could not read (already counted failed).
    std::unordered_set<std::string> walk_failed_;
    // What restic reported: keys of the paths it stored (restic's form),
    // and the items it could not read with its reason.
    std::vector<uint64_t> stored_keys_;
    std::unordered_map<std::string, std::string> restic_errors_;
    // The reconciliation: the fate of each entry record of the walk file,
    // in file order, and the keys (raw paths) of the directories stored.
    std::vector<uint8_t> fates_;
    std::unordered_set<uint64_t> stored_dirs_;
    long long files_ = 0, bytes_ = 0;
    // Archive: the snapshot's nodes, sorted by the key of their path.
    struct Node {
        uint64_t key;
        int type; // listing type
        long long size, mtime_ns, ctime_ns;
    };
    std::vector<Node> nodes_;
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

void Backup::choose_roots(const std::vector<std::string> &paths) {
    std::vector<Root> found;
    for (const auto &raw : paths) {
        if (raw.size() >= 4096) {
            log_.skipped(raw.substr(0, 200) + "...", "path longer than the system allows");
            continue;
        }
        Root r;
        r.path = absolute_path(raw);
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
             sl = r.path.find('/', sl + 1))
            covered = dirs.count(sl == 0 ? "/" : r.path.substr(0, sl)) != 0;
        if (covered)
            continue;
        if (S_ISDIR(r.st.st_mode))
            dirs.insert(r.path);
        roots_.push_back(std::move(r));
    }
}

bool Backup::walk(std::string &err) {
    if (!walk_file_.create(server_.dir, "walk", false, err))
        return false;
    WalkWriter w{walk_file_.file()};
    for (const auto &r : roots_) {
        ++examined_;
        if (S_ISDIR(r.st.st_mode))
            walk_dir(w, r.path, r.st);
    }
    if (job_cancelled()) {
        err = "cancelled while examining the files: nothing was backed up";
        return false;
    }
    return walk_file_.finish_writing(err);
}

void Backup::walk_dir(WalkWriter &w, const std::string &root, const struct stat &root_st) {
    // Depth first, a directory's record before those of its subdirectories.
    std::vector<std::pair<std::string, struct stat>> stack = {{root, root_st}};
    while (!stack.empty() && !job_cancelled()) {
        auto [dir, dir_st] = std::move(stack.back());
        stack.pop_back();
        // O_NOFOLLOW: a directory swapped for a link since its lstat is not
        // followed.
        int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        std::unique_ptr<DIR, int (*)(DIR *)> d(fd >= 0 ? fdopendir(fd) : nullptr, closedir);
        if (!d) {
            int e = errno;
            if (fd >= 0)
                close(fd);
            log_.failed(dir, std::string("cannot read the directory: ") + strerror(e));
            walk_failed_.insert(dir);
            w.dir(dir, false, dir_st);
            w.end();
            continue;
        }
        w.dir(dir, true, dir_st);
        size_t first_sub = stack.size();
        while (dirent *de = readdir(d.get())) {
            const char *n = de->d_name;
            if ((n[0] == '.' && n[1] == '\0') || (n[0] == '.' && n[1] == '.' && n[2] == '\0'))
                continue;
            struct stat st {};
            if (fstatat(dirfd(d.get()), n, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT)
                    continue;
                // Recorded all the same, so that its old version is kept.
                std::string p = child_path(dir, n);
                log_.failed(p, std::string("cannot examine: ") + strerror(errno));
                walk_failed_.insert(p);
                st = {};
            }
            w.child(n, st);
            ++examined_;
            if (S_ISREG(st.st_mode)) {
                ++examined_files_;
                examined_bytes_ += st.st_size;
            }
            if (S_ISDIR(st.st_mode))
                stack.emplace_back(child_path(dir, n), st);
        }
        w.end();
        std::reverse(stack.begin() + static_cast<long>(first_sub), stack.end());
    }
}

// Runs restic; when the repository is locked, removes stale locks (those of
// processes that are gone, as "restic unlock" judges) once and tries again.
ResticResult Backup::restic_unlocking(const std::vector<std::string> &args, const LineFn &on_out,
                                      const LineFn &on_err, const std::function<void()> &reset) {
    ResticResult r = run_restic(server_, args, on_out, on_err);
    if (r.failure != ResticFailure::Locked)
        return r;
    log_.line("the repository is locked; removing stale locks left by interrupted runs");
    ResticResult u = run_restic(server_, {"unlock"});
    if (!u.started || u.exit_code != 0)
        log_.line("restic unlock failed: " + log_quote(u.err.substr(0, u.err.find('\n'))));
    if (reset)
        reset();
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
    for (const auto &r : roots_)
        fwrite(r.path.c_str(), 1, r.path.size() + 1, list.file());
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
            if (!ev.item.empty() && restic_errors_.size() < 100000)
                restic_errors_.emplace(ev.item, ev.error);
            return;
        }
        std::string s(l);
        if (s.find("does not exist, skipping") != std::string::npos || s.rfind("error: ", 0) == 0)
            log_.line("restic: " + log_quote(s));
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

// Whether a walked entry is in the snapshot as the walk saw it. Regular
// files and directories are in it when restic named them as stored; other
// kinds (restic does not name them) when their directory was stored and no
// error named them. A regular file or other non-directory that changed
// between the walk and now is left out: restic may have read either state,
// and recording the walk's state could promise a version the snapshot does
// not hold. It keeps its previous version in the catalog and is counted
// failed; the next backup records it.
Fate Backup::judge(const std::string &path, const struct stat &walk_st, bool parent_stored) {
    // What the walk could not read is counted failed already; it exists, so
    // its previous version stays alive.
    if (walk_failed_.count(path) != 0)
        return KEPT;
    const std::string lossy = lossy_utf8(path);
    const bool reg_or_dir = S_ISREG(walk_st.st_mode) || S_ISDIR(walk_st.st_mode);
    auto err = restic_errors_.find(lossy);
    bool confirmed =
        reg_or_dir ? std::binary_search(stored_keys_.begin(), stored_keys_.end(), path_key(lossy))
                   : parent_stored && err == restic_errors_.end();
    struct stat now {};
    bool exists = lstat(path.c_str(), &now) == 0;
    // A directory restic stored is in the snapshot whatever happened to it
    // since; its entries are judged one by one.
    bool changed = !S_ISDIR(walk_st.st_mode) && (!exists || !unchanged_since(walk_st, now));
    if (confirmed && !changed)
        return STORED;
    log_.failed(path, !exists                       ? (confirmed ? "vanished while being backed up"
                                                                 : "vanished before it was backed up")
                      : err != restic_errors_.end() ? "restic could not read it: " + err->second
                      : confirmed                   ? "changed while being backed up"
                      : !parent_stored              ? "its directory was not stored"
                                                    : "not stored in the snapshot");
    return exists ? KEPT : GONE;
}

// Reads the walk file from its start: fn(dir, record, fate) for each
// record, dir being the directory the record belongs to and fate that of an
// entry record once reconciled (KEPT before). Stops early when fn returns
// false; false with err when the file cannot be read back.
bool Backup::scan_walk(const ScanFn &fn, std::string &err) {
    FILE *f = walk_file_.file();
    rewind(f);
    WalkReader rd{f};
    WalkReader::Record rec;
    std::string dir;
    size_t index = 0;
    while (rd.next(rec)) {
        Fate fate = KEPT;
        if (rec.kind == 'D') {
            dir = rec.text;
        } else if (rec.kind == 'C') {
            if (index < fates_.size())
                fate = static_cast<Fate>(fates_[index]);
            ++index;
        }
        if (!fn(dir, rec, fate))
            return true;
    }
    if (ferror(f) || !feof(f)) {
        err = std::string("cannot read back the walk of the request: ") + strerror(errno);
        return false;
    }
    return true;
}

// Decides the fate of every walked entry (lstat once more after restic)
// and counts what the image holds, before anything is written.
bool Backup::reconcile(std::string &err) {
    std::sort(stored_keys_.begin(), stored_keys_.end());
    for (auto &r : roots_) {
        r.fate = judge(r.path, r.st, true);
        if (r.fate != STORED)
            continue;
        ++files_;
        if (S_ISREG(r.st.st_mode))
            bytes_ += r.st.st_size;
        if (S_ISDIR(r.st.st_mode))
            stored_dirs_.insert(path_key(r.path));
    }
    bool dir_stored = false;
    return scan_walk(
        [&](const std::string &dir, const WalkReader::Record &rec, Fate) {
            if (rec.kind == 'D') {
                dir_stored = rec.readable && stored_dirs_.count(path_key(dir)) != 0;
            } else if (rec.kind == 'C') {
                std::string p = child_path(dir, rec.text);
                Fate fate = judge(p, rec.st, dir_stored);
                fates_.push_back(fate);
                if (fate == STORED) {
                    ++files_;
                    if (S_ISREG(rec.st.st_mode))
                        bytes_ += rec.st.st_size;
                    if (S_ISDIR(rec.st.st_mode))
                        stored_dirs_.insert(path_key(p));
                }
            }
            return true;
        },
        err);
}

bool Backup::write_image(const ImageHeader &h, CatalogDb &db, std::string &err) {
    ImageWriter w;
    if (!db.begin_image(h, w, err))
        return false;
    // The directories above the stored roots, each once (the walk up stops
    // at one already met).
    std::unordered_set<std::string> seen;
    std::vector<std::string> ancestors;
    for (const auto &r : roots_) {
        if (r.fate == STORED) {
            if (!w.root(r.path, file_state_from_stat(base_name(r.path), r.st, names_), err))
                return false;
        } else if (r.fate == GONE) {
            if (!w.gone(r.path, err))
                return false;
            continue;
        } else {
            continue;
        }
        for (std::string p = r.path; p != "/";) {
            size_t sl = p.rfind('/');
            p = sl == 0 ? "/" : p.substr(0, sl);
            if (!seen.insert(p).second)
                break;
            ancestors.push_back(p);
        }
    }
    std::sort(ancestors.begin(), ancestors.end());
    for (const auto &a : ancestors) {
        struct stat st {};
        if (lstat(a.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            !w.ancestor(a, file_state_from_stat(base_name(a), st, names_), err))
            return false;
    }

    bool dir_stored = false;
    std::vector<FileState> stored;
    std::vector<std::string> kept;
    bool written = true;
    auto each = [&](const std::string &dir, const WalkReader::Record &rec, Fate fate) {
        if (rec.kind == 'D') {
            dir_stored = rec.readable && stored_dirs_.count(path_key(dir)) != 0;
            stored.clear();
            kept.clear();
        } else if (rec.kind == 'C') {
            if (fate == STORED)
                stored.push_back(file_state_from_stat(rec.text, rec.st, names_));
            else if (fate == KEPT)
                kept.push_back(rec.text);
        } else if (dir_stored) {
            // An unreadable directory gets no call: nothing below it changes.
            written = w.directory(dir, stored, kept, err);
        }
        return written;
    };
    return scan_walk(each, err) && written && w.commit(err);
}

bool Backup::load_snapshot_nodes(const std::string &snapshot, std::string &err) {
    nodes_.clear();
    auto on_out = [&](std::string_view l) {
        ResticNode n;
        if (!parse_restic_node(l, n))
            return;
        int type = n.type == "file" ? 0 : n.type == "dir" ? 1 : n.type == "symlink" ? 2 : 3;
        nodes_.push_back({path_key(n.path), type, n.size, n.mtime_ns, n.ctime_ns});
    };
    ResticResult r =
        restic_unlocking({"ls", "--json", snapshot}, on_out, {}, [&] { nodes_.clear(); });
    if (!r.started || r.exit_code != 0 || nodes_.empty()) {
        err = "cannot list snapshot " + snapshot + ": " + r.err.substr(0, r.err.find('\n'));
        return false;
    }
    std::sort(nodes_.begin(), nodes_.end(),
              [](const Node &a, const Node &b) { return a.key < b.key; });
    return true;
}

// The snapshot holds this very state of the path: a node of the same type
// with the same size, mtime and ctime.
bool Backup::matches_node(const std::string &path, const struct stat &st) const {
    uint64_t key = path_key(lossy_utf8(path));
    auto it = std::lower_bound(nodes_.begin(), nodes_.end(), key,
                               [](const Node &n, uint64_t k) { return n.key < k; });
    for (; it != nodes_.end() && it->key == key; ++it) {
        if (it->type != listing_type(st.st_mode))
            continue;
        if (S_ISDIR(st.st_mode))
            return true;
        if ((!S_ISREG(st.st_mode) || it->size == st.st_size) && it->mtime_ns == ns_of(st.st_mtim) &&
            it->ctime_ns == ns_of(st.st_ctim))
            return true;
    }
    return false;
}

bool Backup::may_remove(const std::string &path, const struct stat &walk_st,
                        const struct stat &now) {
    if (!unchanged_since(walk_st, now)) {
        log_.skipped(path, "kept: changed since the backup");
        return false;
    }
    if (!matches_node(path, walk_st)) {
        log_.skipped(path, "kept: the snapshot does not hold this version");
        return false;
    }
    return true;
}

// Removes the archived originals; returns how many were kept.
long long Backup::remove_originals() {
    long long removed = 0;
    const long long kept_before = log_.skipped_count();
    auto remove_at = [&](int dfd, const std::string &name, const std::string &path,
                         const struct stat &walk_st) {
        struct stat now {};
        if (fstatat(dfd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        if (!may_remove(path, walk_st, now))
            return;
        if (unlinkat(dfd, name.c_str(), 0) == 0)
            ++removed;
        else
            log_.failed(path, std::string("cannot remove the original: ") + strerror(errno));
    };
    // Directories are removed after everything below them, and only when
    // empty: the walk lists parents first, so in reverse order.
    std::vector<std::pair<std::string, struct stat>> dirs;
    for (const auto &r : roots_) {
        if (r.fate != STORED || r.path == "/")
            continue;
        if (S_ISDIR(r.st.st_mode)) {
            dirs.emplace_back(r.path, r.st);
            continue;
        }
        std::string parent = r.path.substr(0, std::max<size_t>(r.path.rfind('/'), 1));
        int dfd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            remove_at(dfd, base_name(r.path), r.path, r.st);
            close(dfd);
        }
    }
    int dfd = -1;
    std::string err;
    scan_walk(
        [&](const std::string &dir, const WalkReader::Record &rec, Fate fate) {
            if (rec.kind == 'D') {
                if (dfd >= 0)
                    close(dfd);
                // Entries are removed through the directory as walked: one
                // replaced by another (or a link) since is left alone.
                dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                struct stat st {};
                if (dfd >= 0 && (fstat(dfd, &st) != 0 || st.st_ino != rec.st.st_ino ||
                                 st.st_dev != rec.st.st_dev)) {
                    close(dfd);
                    dfd = -1;
                }
            } else if (rec.kind == 'C' && fate == STORED && dfd >= 0) {
                std::string p = child_path(dir, rec.text);
                if (S_ISDIR(rec.st.st_mode))
                    dirs.emplace_back(p, rec.st);
                else
                    remove_at(dfd, rec.text, p, rec.st);
            }
            return !job_cancelled();
        },
        err);
    if (dfd >= 0)
        close(dfd);
    for (auto it = dirs.rbegin(); it != dirs.rend() && !job_cancelled(); ++it) {
        struct stat now {};
        if (lstat(it->first.c_str(), &now) != 0)
            continue;
        if (!S_ISDIR(now.st_mode) || now.st_ino != it->second.st_ino) {
            log_.skipped(it->first, "kept: replaced since the backup");
            continue;
        }
        if (!matches_node(it->first, it->second)) {
            log_.skipped(it->first, "kept: the snapshot does not hold this directory");
            continue;
        }
        if (rmdir(it->first.c_str()) == 0)
            ++removed;
        else
            log_.skipped(it->first, "kept: directory holds files not in the image");
    }
    log_.line("removed " + std::to_string(removed) + " originals" +
              (job_cancelled() ? " before the archive was cancelled" : ""));
    return log_.skipped_count() - kept_before;
}

int Backup::check(const KpArgs &args) {
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
    auto finish = [&](int status) {
        log_.report(archive_ ? "archive" : "backup", status);
        return status;
    };

    std::vector<std::string> paths;
    int st = read_request(args, paths);
    if (st != 0)
        return finish(st);
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
    if (roots_.empty())
        return finish(kpstatus::NONE_EXIST);
    log_.line(std::string(archive_ ? "archive" : "backup") + " of " +
              std::to_string(roots_.size()) + " requested paths to server " + server_.name +
              " (repository " + log_quote(server_repository(server_)) + "), client " + client_ +
              (keyword_.empty() ? std::string() : ", keyword \"" + log_quote(keyword_) + "\""));
    return 0;
}

int Backup::work() {
    std::string err;
    int st = 0;
    auto finish = [&](int status) {
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
    if (st != 0)
        return finish(st);
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
    if (partial || log_.failed_count() > 0)
        status = h.files > 0 ? kpstatus::PARTIAL : kpstatus::NONE_BACKED_UP;
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
            if (remove_originals() > 0 || log_.failed_count() > 0 || job_cancelled())
                status = kpstatus::PARTIAL;
        }
    }
    return finish(status);
}

int backup_program(int argc, char **argv, bool archive) {
    // Temporary files and logs we create hold the user's paths.
    umask(077);
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
    if (args.has("-stdin") && (archive || args.has("-f") || !args.operands.empty()))
        return usage_error(prog, "-stdin names the only entry of a backup", usage);
    ProgressLog log;
    if (!open_program_log(args, log, err)) {
        fprintf(stderr, "%s: %s\n", prog, err.c_str());
        return kpstatus::OPEN_FAILED;
    }
    if (!args.has("-L"))
        log.echo_to_stderr(true);
    if (args.has("-stdin"))
        return backup_stdin_entry(args, log);
    Backup b(archive, log);
    int st = b.check(args);
    if (st != 0)
        return st;
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
