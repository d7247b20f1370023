// kprestore: restore the entries of a request file from the catalog's
// versions. Each entry is planned as the list of versions to bring back (a
// file entry: its version alive at the entry's date; a directory entry:
// every path below it, merged across images). Directories are made from the
// catalog's records; every other entry comes from the image that first
// stored its version, image by image, oldest first, through restic into a
// staging directory on the destination's own file system, and is then
// renamed into place. Afterwards every planned entry is checked where it
// should be, and only what is there counts as done.
#include <algorithm>
#include <mutex>
#include <condition_variable>
#include <chrono>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <map>
#include <set>
#include <thread>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "catalog.h"
#include "catalog_db.h"
#include "jobs.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "request_file.h"
#include "restic.h"
#include "restore_errors.h"
#include "stdio_entry.h"
#include "unique_fd.h"

namespace {

const char *const RESTORE_USAGE =
    "kprestore [-t type] [-C client] [-D client] [-S server] [-K] [-O] [-8] [-L log] "
    "[-R rename_file [-l|-H|-y]] [-T] [-W] [-r] [-A] [-w] {-f request_file | "
    "-stdout NAME [-s start] [-e end]}";

const std::vector<KpOption> RESTORE_OPTIONS = {
    {"-t", true},      {"-C", true},  {"-D", true},  {"-S", true},  {"-K", false}, {"-O", false},
    {"-8", false},     {"-L", true},  {"-R", true},  {"-l", false}, {"-H", false}, {"-y", false},
    {"-T", false},     {"-W", false}, {"-r", false}, {"-A", false}, {"-f", true},  {"-w", false},
    {"-stdout", true}, {"-s", true},  {"-e", true}};

int remove_one(const char *path, const struct stat *, int, struct FTW *) {
    return remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

// Removes a staging tree without following links.
void remove_tree(const std::string &path) {
    nftw(path.c_str(), remove_one, 32, FTW_DEPTH | FTW_PHYS);
}

std::string strip_slash(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

bool under(const std::string &path, const std::string &dir) {
    if (dir == "/")
        return path.size() > 0 && path[0] == '/';
    return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           path[dir.size()] == '/');
}

// The directory holding path ("/" for a top-level name and for "/").
std::string parent_of(const std::string &path) {
    size_t sl = path.rfind('/');
    return sl == std::string::npos || sl == 0 ? "/" : path.substr(0, sl);
}

std::string join(const std::string &dir, const std::string &path) {
    return path == "/" ? dir : (dir == "/" ? path : dir + path);
}

std::string nearest_existing_dir(std::string p) {
    for (;;) {
        struct stat st {};
        if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return p;
        if (p == "/")
            return p;
        p = parent_of(p);
    }
}

bool type_matches(int type, mode_t m) {
    switch (type) {
    case 0:
        return S_ISREG(m);
    case 1:
        return S_ISDIR(m);
    case 2:
        return S_ISLNK(m);
    default:
        return !S_ISREG(m) && !S_ISDIR(m) && !S_ISLNK(m);
    }
}

// A name for a temporary entry in dir, not taken at the time of the call;
// the caller creates it with a call that fails when it exists.
std::string temp_name(const std::string &dir) {
    std::string tmpl = (dir == "/" ? "" : dir) + "/.kprestore.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0)
        return "";
    close(fd);
    unlink(buf.data());
    return buf.data();
}

// Owner, mode and modification time of a directory's catalog version,
// through a descriptor of the directory itself: a directory replaced by a
// symbolic link meanwhile is left alone.
void apply_recorded(const std::string &path, const FileState &st) {
    Fd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.fd < 0)
        return;
    if (geteuid() == 0 &&
        fchown(dir.fd, static_cast<uid_t>(st.uid), static_cast<gid_t>(st.gid)) != 0) {
        // Kept with the restoring user's ownership; the mode still applies.
    }
    fchmod(dir.fd, st.mode & 07777);
    struct timespec ts[2] = {{0, UTIME_OMIT},
                             {static_cast<time_t>(st.mtime_ns / 1000000000),
                              static_cast<long>(st.mtime_ns % 1000000000)}};
    futimens(dir.fd, ts);
}

enum class Outcome { Pending, Placed, Skipped, Failed };

struct Planned {
    Version v;        // v.path: the path as backed up
    std::string dest; // where it goes
    long long end = 0;
    bool is_dir = false;
    bool existed = false; // a directory that was there before the restore
    dev_t dev = 0;        // file system that receives it (not for directories)
    std::string anchor;   // an existing directory of that file system
    Outcome outcome = Outcome::Pending;
};

// A directory made because a destination needed it, with the version of
// its source path when the catalog has one.
struct MadeParent {
    std::string path;
    bool known = false;
    FileState st;
};

class Restore {
  public:
    explicit Restore(ProgressLog &log) : log_(log) {}
    // Checks the request at once (request and rename files, server, the
    // catalog's versions, the repository): a status other than 0 ends the
    // request before any job starts, its log already closed with it.
    int check(const KpArgs &args);
    // The restore itself, run as the request's job.
    int work();
    const std::string &server_dir() const { return server_.dir; }

  private:
    // Marks p placed and counts it for the progress lines.
    void placed(Planned &p) {
        p.outcome = Outcome::Placed;
        if (ticker_ != nullptr) {
            ++ticker_->files;
            ticker_->bytes += p.is_dir ? 0 : p.v.st.size;
        }
    }
    ProgressTicker *ticker_ = nullptr; // while work() runs
    int read_rename_file(const KpArgs &args, const std::vector<ImageEntry> &entries);
    void plan(const std::vector<ImageEntry> &entries);
    std::string redirect(const std::string &p) const;
    bool source_of(const std::string &dest, std::string &src) const;
    bool ensure_parents(const std::string &dest, long long end);
    void prepare_directories();
    struct Call;
    std::vector<Call> prepare_calls(const std::map<long long, std::vector<size_t>> &by_image);
    void run_calls(std::vector<Call> &calls);
    void place_call(Call &c);
    std::vector<std::string> include_patterns(const std::vector<size_t> &items) const;
    void count_up(const std::string &path, std::map<std::string, long long> &m) const;
    void place(Planned &p, const std::string &src);
    bool copy_across(const std::string &src, const std::string &dest, bool no_replace,
                     bool &existed, std::string &why);
    void fail(Planned &p, const std::string &why) {
        p.outcome = Outcome::Failed;
        log_.failed(p.dest, why);
    }
    void fix_symlinks();
    void finish_directories();
    void verify();
    std::string stage_root_for(dev_t dev, const std::string &anchor);

    ProgressLog &log_;
    KpServer server_;
    CatalogDb db_;
    HistoryKey history_;
    bool keep_ = false, one_fs_ = false, rename_soft_ = false, true_image_ = false;
    bool renaming_ = false;
    RenamePair rename_;
    std::vector<Planned> plan_;                  // in destination order
    std::map<dev_t, std::string> stage_roots_;   // per destination file system
    std::map<std::string, size_t> planned_dirs_; // directory path -> index
    std::vector<MadeParent> made_parents_;
    std::map<std::string, long long> total_below_; // planned non-directories per directory
    long long missing_ = 0;
    bool unreachable_ = false, catalog_failed_ = false;
};

std::string Restore::redirect(const std::string &p) const {
    if (!renaming_ || !under(p, rename_.from))
        return p;
    if (rename_.from == "/")
        return rename_.to == "/" ? p : rename_.to + p;
    std::string rest = p.substr(rename_.from.size());
    return rename_.to == "/" ? (rest.empty() ? "/" : rest) : rename_.to + rest;
}

// The backed-up path that a destination directory stands for; false when
// it has none (a directory above the rename file's destination).
bool Restore::source_of(const std::string &dest, std::string &src) const {
    if (!renaming_) {
        src = dest;
        return true;
    }
    if (!under(dest, rename_.to))
        return false;
    std::string rest = rename_.to == "/" ? dest : dest.substr(rename_.to.size());
    src = rename_.from == "/" ? (rest.empty() ? "/" : rest)
                              : (rest == "/" ? rename_.from : rename_.from + rest);
    return true;
}

void Restore::plan(const std::vector<ImageEntry> &entries) {
    std::map<std::string, size_t> by_path;
    std::vector<Planned> planned;
    for (const auto &e : entries) {
        std::string p = e.path;
        // The directory entry "/a/b/." of a true-image selection is "/a/b/".
        if (p.size() >= 2 && p.compare(p.size() - 2, 2, "/.") == 0)
            p.pop_back();
        bool want_dir = p.size() > 1 && p.back() == '/';
        std::string bare = strip_slash(p);
        std::string err;
        std::vector<Version> vs =
            db_.restore_set(history_, bare, e.start, e.end, true_image_ && want_dir, err);
        if (!err.empty()) {
            catalog_failed_ = true;
            log_.failed(bare, "the catalog cannot be read: " + err);
            continue;
        }
        if (vs.empty()) {
            log_.failed(bare, "no image in the requested time range holds it");
            continue;
        }
        // -O: stay on the file system the directory was backed up from.
        long long root_dev = -1;
        if (one_fs_ && vs.front().path == bare && vs.front().st.type == 1)
            root_dev = vs.front().st.device;
        std::map<std::string, long long> left_out; // directory -> entries left out
        for (auto &v : vs) {
            if (root_dev >= 0) {
                std::string up = v.path;
                bool below = false;
                while (up != bare && up != "/") {
                    up = parent_of(up);
                    auto it = left_out.find(up);
                    if (it != left_out.end()) {
                        ++it->second;
                        below = true;
                        break;
                    }
                }
                if (below)
                    continue;
                if (v.st.device >= 0 && v.st.device != root_dev) {
                    left_out[v.path] = 1;
                    continue;
                }
            }
            Planned pl;
            pl.dest = redirect(v.path);
            pl.end = e.end;
            pl.is_dir = v.st.type == 1;
            pl.v = std::move(v);
            auto it = by_path.find(pl.v.path);
            if (it != by_path.end()) {
                planned[it->second] = std::move(pl); // a later entry wins
            } else {
                by_path.emplace(pl.v.path, planned.size());
                planned.push_back(std::move(pl));
            }
        }
        for (const auto &[dir, n] : left_out)
            log_.skipped(dir, "on another file system than the directory restored (-O); " +
                                  std::to_string(n) + " entries left out");
    }
    std::sort(planned.begin(), planned.end(),
              [](const Planned &a, const Planned &b) { return a.dest < b.dest; });
    plan_ = std::move(planned);
}

// Creates the missing directories above dest: with the mode and owner the
// catalog recorded for their source path (applied when the restore ends),
// private (0700) meanwhile and when nothing is recorded.
bool Restore::ensure_parents(const std::string &dest, long long end) {
    std::vector<std::string> missing;
    for (std::string d = parent_of(dest);; d = parent_of(d)) {
        struct stat st {};
        if (lstat(d.c_str(), &st) == 0)
            break;
        missing.push_back(d);
        if (d == "/")
            break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (planned_dirs_.count(*it))
            continue; // made by prepare_directories, in order
        if (mkdir(it->c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        MadeParent mp;
        mp.path = *it;
        std::string src;
        Version v;
        if (source_of(*it, src) && db_.version_before(history_, src, end, v) && v.st.type == 1) {
            mp.known = true;
            mp.st = v.st;
        }
        log_.line("created " + log_quote(*it) +
                  (mp.known ? "" : " (no recorded mode: private to its owner)"));
        made_parents_.push_back(mp);
    }
    return true;
}

// Directories come from the catalog's records, parents first: an existing
// one is merged into, a missing one is made private and gets its recorded
// mode, owner and time once its entries are in place.
void Restore::prepare_directories() {
    for (size_t i = 0; i < plan_.size(); ++i) {
        Planned &p = plan_[i];
        if (!p.is_dir)
            continue;
        planned_dirs_.emplace(p.dest, i);
        struct stat st {};
        if (lstat(p.dest.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                p.existed = true;
                placed(p);
            } else if (keep_) {
                p.outcome = Outcome::Skipped;
                log_.skipped(p.dest, "exists, kept (-K)");
            } else {
                fail(p, "a file is in the way of the backed-up directory");
            }
            continue;
        }
        if (!ensure_parents(p.dest, p.end)) {
            fail(p, std::string("cannot create its parent directory: ") + strerror(errno));
            continue;
        }
        if (mkdir(p.dest.c_str(), 0700) != 0)
            fail(p, std::string("cannot create: ") + strerror(errno));
        else
            placed(p);
    }
}

std::string Restore::stage_root_for(dev_t dev, const std::string &anchor) {
    auto it = stage_roots_.find(dev);
    if (it != stage_roots_.end())
        return it->second;
    std::string tmpl = (anchor == "/" ? "" : anchor) + "/.kprestore.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    std::string root = mkdtemp(buf.data()) != nullptr ? buf.data() : "";
    stage_roots_[dev] = root;
    return root;
}

// What to ask restic for: a covering directory when most of what is planned
// below it comes from this image (restic brings whole subtrees; the rest
// stays in the staging directory), else the exact paths.
std::vector<std::string> Restore::include_patterns(const std::vector<size_t> &items) const {
    std::map<std::string, long long> mine;
    for (size_t i : items)
        count_up(plan_[i].v.path, mine);
    std::set<std::string> chosen;
    for (size_t i : items) {
        std::string pick = plan_[i].v.path;
        for (std::string d = parent_of(pick); mine.count(d); d = parent_of(d)) {
            auto t = total_below_.find(d);
            if (t != total_below_.end() && mine[d] * 2 >= t->second)
                pick = d;
            if (d == "/")
                break;
        }
        chosen.insert(pick);
    }
    std::vector<std::string> out;
    for (const auto &c : chosen)
        if (out.empty() || !under(c, out.back()))
            out.push_back(c);
    return out;
}

// Counts path in every planned directory above it.
void Restore::count_up(const std::string &path, std::map<std::string, long long> &m) const {
    for (std::string d = parent_of(path); planned_dirs_.count(redirect(d)); d = parent_of(d)) {
        ++m[d];
        if (d == "/")
            break;
    }
}

// Copies a regular file's data, owner, mode and times to a new file to.
bool copy_file(const std::string &from, const std::string &to, const struct stat &ss,
               std::string &why) {
    Fd in(open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    Fd out(in.fd < 0
               ? -1
               : open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const bool created = out.fd >= 0;
    bool ok = in.fd >= 0 && created;
    char buf[1 << 16];
    for (ssize_t n; ok && (n = read(in.fd, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0 && write(out.fd, buf, static_cast<size_t>(n)) == n;
    }
    if (ok && geteuid() == 0 && fchown(out.fd, ss.st_uid, ss.st_gid) != 0) {
        // The copy keeps the restoring user's ownership.
    }
    struct timespec ts[2] = {ss.st_atim, ss.st_mtim};
    ok = ok && fchmod(out.fd, ss.st_mode & 07777) == 0 && futimens(out.fd, ts) == 0;
    if (out.fd >= 0 && close(out.fd) != 0)
        ok = false;
    out.fd = -1;
    if (!ok) {
        why = std::string("cannot copy across file systems: ") + strerror(errno);
        if (created)
            unlink(to.c_str());
    }
    return ok;
}

bool Restore::copy_across(const std::string &src, const std::string &dest, bool no_replace,
                          bool &existed, std::string &why) {
    existed = false;
    struct stat ss {};
    if (lstat(src.c_str(), &ss) != 0) {
        why = strerror(errno);
        return false;
    }
    std::string dir = parent_of(dest), tmp;
    bool made = false;
    for (int attempt = 0; attempt < 10 && !made; ++attempt) {
        tmp = temp_name(dir);
        if (tmp.empty())
            break;
        if (S_ISREG(ss.st_mode)) {
            if (!copy_file(src, tmp, ss, why))
                return false;
            made = true;
        } else if (S_ISLNK(ss.st_mode)) {
            std::vector<char> target(static_cast<size_t>(ss.st_size) + 1);
            ssize_t n = readlink(src.c_str(), target.data(), target.size());
            if (n < 0) {
                why = strerror(errno);
                return false;
            }
            made = symlink(std::string(target.data(), static_cast<size_t>(n)).c_str(),
                           tmp.c_str()) == 0;
        } else {
            made = mknod(tmp.c_str(), ss.st_mode, ss.st_rdev) == 0;
        }
        if (!made && errno != EEXIST)
            break;
    }
    if (!made) {
        why = std::string("cannot copy across file systems: ") + strerror(errno);
        return false;
    }
    if (!S_ISREG(ss.st_mode)) {
        if (geteuid() == 0 && lchown(tmp.c_str(), ss.st_uid, ss.st_gid) != 0) {
            // Kept with the restoring user's ownership.
        }
        if (!S_ISLNK(ss.st_mode))
            chmod(tmp.c_str(), ss.st_mode & 07777);
        struct timespec ts[2] = {ss.st_atim, ss.st_mtim};
        utimensat(AT_FDCWD, tmp.c_str(), ts, AT_SYMLINK_NOFOLLOW);
    }
    int rc = no_replace ? renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, dest.c_str(), RENAME_NOREPLACE)
                        : rename(tmp.c_str(), dest.c_str());
    if (rc != 0) {
        existed = errno == EEXIST;
        why = std::string("cannot move into place: ") + strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

// Moves one staged entry into place. Under -K the rename itself refuses to
// replace anything, so a file that appears meanwhile is kept too.
void Restore::place(Planned &p, const std::string &src) {
    if (!ensure_parents(p.dest, p.end)) {
        fail(p, std::string("cannot create its parent directory: ") + strerror(errno));
        return;
    }
    int rc;
    if (keep_) {
        rc = renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, p.dest.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && errno == EINVAL) {
            // The file system cannot rename without replacing: a hard link
            // refuses an existing name just the same.
            rc = linkat(AT_FDCWD, src.c_str(), AT_FDCWD, p.dest.c_str(), 0);
            if (rc == 0)
                unlink(src.c_str());
        }
    } else {
        struct stat ds {};
        if (lstat(p.dest.c_str(), &ds) == 0 && S_ISDIR(ds.st_mode)) {
            fail(p, "a directory is in the way of the backed-up file");
            return;
        }
        rc = rename(src.c_str(), p.dest.c_str());
    }
    if (rc == 0) {
        placed(p);
        return;
    }
    if (errno == EEXIST && keep_) {
        p.outcome = Outcome::Skipped;
        log_.skipped(p.dest, "exists, kept (-K)");
        return;
    }
    if (errno != EXDEV) {
        fail(p, std::string("cannot move into place: ") + strerror(errno));
        return;
    }
    bool existed = false;
    std::string why;
    if (copy_across(src, p.dest, keep_, existed, why)) {
        placed(p);
    } else if (existed && keep_) {
        p.outcome = Outcome::Skipped;
        log_.skipped(p.dest, "exists, kept (-K)");
    } else {
        fail(p, why);
    }
}

// One restic call: one image's entries bound for one file system.
struct Restore::Call {
    ImageHeader image;
    std::vector<size_t> items;
    std::string stage;
    std::vector<std::string> args;
    std::vector<std::string> errors; // "PATH: WHY" of what restic could not restore
    ResticResult result;
};

// The calls, oldest image first, each with its staging directory ready.
std::vector<Restore::Call>
Restore::prepare_calls(const std::map<long long, std::vector<size_t>> &by_image) {
    std::vector<Call> calls;
    for (const auto &[image, items] : by_image) {
        ImageHeader h;
        if (!db_.image_at(image, h) || h.snapshot.empty()) {
            for (size_t i : items)
                fail(plan_[i], "the catalog has no image of " + local_time_text(image));
            continue;
        }
        std::map<dev_t, std::vector<size_t>> groups;
        for (size_t i : items)
            groups[plan_[i].dev].push_back(i);
        for (auto &[dev, group] : groups) {
            std::string anchor = plan_[group.front()].anchor;
            for (size_t i : group)
                if (plan_[i].anchor.size() < anchor.size())
                    anchor = plan_[i].anchor;
            std::string root = stage_root_for(dev, anchor);
            std::string stage = root.empty() ? "" : temp_name(root);
            if (stage.empty() || mkdir(stage.c_str(), 0700) != 0) {
                for (size_t i : group)
                    fail(plan_[i], "cannot create a staging directory in " + log_quote(anchor) +
                                       ": " + strerror(errno));
                continue;
            }
            Call c;
            c.image = h;
            c.items = std::move(group);
            c.stage = stage;
            c.args = {"restore", h.snapshot, "--target", stage};
            for (const auto &p : include_patterns(c.items)) {
                c.args.push_back("--include");
                c.args.push_back(restic_include_pattern(p));
            }
            calls.push_back(std::move(c));
        }
    }
    return calls;
}

// Runs the calls, two at a time: each spends most of a second deriving the
// repository key before it reads anything.
void Restore::run_calls(std::vector<Call> &calls) {
    std::atomic<size_t> next{0};
    auto worker = [&]() {
        for (size_t k; (k = next++) < calls.size();) {
            Call &c = calls[k];
            log_.line("restoring " + std::to_string(c.items.size()) +
                      " entries from the image of " + local_time_text(c.image.backup_time) +
                      " (snapshot " + c.image.snapshot + ")");
            // restic reports what it could not restore and goes on with the
            // rest ("ignoring error for PATH: WHY", PATH as backed up).
            c.result = run_restic(
                server_, c.args, [](std::string_view) {},
                [&](std::string_view line) {
                    std::string text;
                    if (restore_error_text(line, text))
                        c.errors.push_back(std::move(text));
                });
        }
    };
    std::vector<std::thread> threads;
    for (size_t t = 1; t < std::min<size_t>(2, calls.size()); ++t)
        threads.emplace_back(worker);
    worker();
    for (auto &t : threads)
        t.join();
}

// Moves what one call staged into place; what restic could not restore fails.
void Restore::place_call(Call &c) {
    const ResticResult &r = c.result;
    if (!r.started || (r.exit_code != 0 && c.errors.empty())) {
        std::string first = r.err.substr(0, r.err.find('\n'));
        if (restic_failure_status(r.failure, 0) == kpstatus::NO_SERVER)
            unreachable_ = true;
        for (size_t i : c.items)
            fail(plan_[i], std::string("restic restore failed (") + restic_failure_name(r.failure) +
                               "): " + log_quote(first));
        remove_tree(c.stage);
        return;
    }
    const auto failed_at = restore_error_locations(c.errors, c.stage);
    for (size_t i : c.items) {
        Planned &p = plan_[i];
        auto exact = failed_at.find(p.v.path);
        if (exact != failed_at.end()) {
            fail(p, "restic could not restore it: " + exact->second);
            continue;
        }
        std::string src = join(c.stage, p.v.path);
        struct stat ss {};
        if (lstat(src.c_str(), &ss) != 0) {
            // A directory above it that restic could not read explains it.
            for (std::string up = parent_of(p.v.path);; up = parent_of(up)) {
                auto it = failed_at.find(up);
                if (it != failed_at.end()) {
                    fail(p, "restic could not restore " + log_quote(up) + ": " + it->second);
                    break;
                }
                if (up == "/") {
                    ++missing_;
                    fail(p, "the repository's snapshot did not give it back");
                    break;
                }
            }
            continue;
        }
        place(p, src);
    }
    remove_tree(c.stage);
}

// Under -R with -y or -l, a restored symbolic link that points into the
// renamed tree points into its new place.
void Restore::fix_symlinks() {
    for (const auto &p : plan_) {
        if (p.outcome != Outcome::Placed || p.v.st.type != 2)
            continue;
        char buf[4097];
        ssize_t n = readlink(p.dest.c_str(), buf, sizeof buf - 1);
        if (n <= 0)
            continue;
        std::string target(buf, static_cast<size_t>(n));
        if (target[0] != '/' || !under(target, rename_.from))
            continue;
        std::string nt = redirect(target), tmp = temp_name(parent_of(p.dest));
        if (!tmp.empty() && symlink(nt.c_str(), tmp.c_str()) == 0 &&
            rename(tmp.c_str(), p.dest.c_str()) == 0) {
            log_.line("link " + log_quote(p.dest) + " now points to " + log_quote(nt));
        } else {
            if (!tmp.empty())
                unlink(tmp.c_str());
            log_.line("the symbolic link " + log_quote(p.dest) + " could not be redirected");
        }
    }
}

// Recorded mode, owner and time, deepest directories first, once nothing
// more moves into them.
void Restore::finish_directories() {
    for (auto it = plan_.rbegin(); it != plan_.rend(); ++it)
        if (it->is_dir && it->outcome == Outcome::Placed && !(it->existed && keep_))
            apply_recorded(it->dest, it->v.st);
    for (auto it = made_parents_.rbegin(); it != made_parents_.rend(); ++it)
        if (it->known)
            apply_recorded(it->path, it->st);
}

// Only what is there, of the planned type (and size, for a file), is done.
void Restore::verify() {
    for (auto &p : plan_) {
        if (p.outcome != Outcome::Placed)
            continue;
        struct stat st {};
        if (lstat(p.dest.c_str(), &st) != 0) {
            fail(p, "not there after the restore");
        } else if (!type_matches(p.v.st.type, st.st_mode)) {
            fail(p, "of another type than the backed-up entry after the restore");
        } else if (p.v.st.type == 0 && st.st_size != p.v.st.size) {
            fail(p, "its size differs from the backed-up size after the restore (" +
                        std::to_string(st.st_size) + " bytes, not " + std::to_string(p.v.st.size) +
                        ")");
        } else {
            log_.done();
        }
    }
}

int Restore::read_rename_file(const KpArgs &args, const std::vector<ImageEntry> &entries) {
    std::string rpath = args.get("-R"), rtext, err;
    if (args.has("-8"))
        rpath = transfer_decode(rpath);
    std::vector<RenamePair> cands;
    if (!read_whole_file(rpath, rtext, err, 1 << 20)) {
        log_.line("cannot read the rename file: " + err);
        return kpstatus::OPEN_FAILED;
    }
    if (!parse_rename_file(rtext, cands, err)) {
        log_.line("the rename file is damaged, nothing was restored: " + err);
        return kpstatus::USAGE;
    }
    // A source or destination may itself hold " to ": take the one split
    // whose source covers requested paths; refuse when that is not a single
    // one, rather than restore into a wrong place.
    std::vector<RenamePair> fit;
    for (auto c : cands) {
        c.from = strip_slash(c.from);
        c.to = strip_slash(c.to);
        for (const auto &e : entries)
            if (under(strip_slash(e.path), c.from)) {
                fit.push_back(c);
                break;
            }
    }
    if (fit.size() != 1) {
        log_.line(fit.empty() ? "the rename file's source covers none of the requested paths"
                              : "the rename file can be read in more than one way");
        return kpstatus::RESTORE_FAILED;
    }
    rename_ = fit[0];
    renaming_ = true;
    log_.line("redirecting " + log_quote(rename_.from) + " to " + log_quote(rename_.to));
    return kpstatus::OK;
}

int Restore::check(const KpArgs &args) {
    keep_ = args.has("-K");
    one_fs_ = args.has("-O");
    true_image_ = args.has("-T");
    rename_soft_ = args.has("-y") || args.has("-l");
    log_.line("kprestore started");
    std::string text, err;
    std::vector<ImageEntry> entries;
    if (!read_whole_file(args.get("-f"), text, err)) {
        log_.line("cannot read the request file: " + err);
        log_.report("restore", kpstatus::OPEN_FAILED);
        return kpstatus::OPEN_FAILED;
    }
    if (!parse_image_entries(text, entries, err)) {
        log_.line("the request file is damaged, nothing was restored: " + err);
        fprintf(stderr, "kprestore: request file damaged: %s\n", err.c_str());
        log_.report("restore", kpstatus::USAGE);
        return kpstatus::USAGE;
    }
    if (entries.empty()) {
        log_.report("restore", kpstatus::EMPTY_LIST);
        return kpstatus::EMPTY_LIST;
    }
    if (args.has("-D") && args.get("-D") != local_client_name()) {
        log_.line("files can only be restored to this client (" + local_client_name() + "), not " +
                  args.get("-D"));
        log_.report("restore", kpstatus::NO_CLIENT);
        return kpstatus::NO_CLIENT;
    }
    if (args.has("-R")) {
        int st = read_rename_file(args, entries);
        if (st != kpstatus::OK) {
            log_.report("restore", st);
            return st;
        }
    }
    int st = open_server(args.get("-S"), server_, err);
    if (st != 0) {
        log_.line(err);
        log_.report("restore", st);
        return st;
    }
    history_.client = args.has("-C") ? args.get("-C") : local_client_name();
    history_.archives = args.has("-A");
    const std::string db_path = catalog_db_path(server_.dir);
    if (access(db_path.c_str(), F_OK) != 0) {
        log_.line("the server's catalog holds no image yet");
        log_.report("restore", kpstatus::NO_IMAGES);
        return kpstatus::NO_IMAGES;
    }
    if (!db_.open(db_path, false, err)) {
        log_.line("the catalog cannot be opened: " + err);
        log_.report("restore", kpstatus::RESTORE_FAILED);
        return kpstatus::RESTORE_FAILED;
    }
    if (!args.has("-r")) // raw partitions are never backed up by these programs
        plan(entries);
    if (plan_.empty()) {
        st = catalog_failed_ ? kpstatus::RESTORE_FAILED : kpstatus::NO_IMAGES;
        log_.report("restore", st);
        return st;
    }
    ResticFailure why = ResticFailure::None;
    if (!repository_reachable(server_, why, err)) {
        log_.line(err);
        st = restic_failure_status(why, kpstatus::RESTORE_FAILED);
        log_.report("restore", st);
        return st;
    }
    db_.close();
    return 0;
}

int Restore::work() {
    std::string err;
    if (!db_.open(catalog_db_path(server_.dir), false, err)) {
        log_.line("the catalog cannot be opened: " + err);
        log_.report("restore", kpstatus::RESTORE_FAILED);
        return kpstatus::RESTORE_FAILED;
    }
    if (keep_)
        log_.line("existing files are kept (-K)");
    if (geteuid() != 0)
        log_.line("restoring as a user other than root: restored files belong to that user");
    log_.line(std::to_string(plan_.size()) + " entries to restore");

    // A progress line every two seconds while the work runs: entries and
    // bytes placed of those planned.
    ProgressTicker ticker(log_);
    ticker_ = &ticker;
    for (const auto &p : plan_)
        ticker.total_bytes += p.is_dir ? 0 : p.v.st.size;
    ticker.total_files = static_cast<long long>(plan_.size());

    prepare_directories();
    // Everything else comes from an image that holds its version,
    // oldest image first, staged on the file system that receives it.
    std::map<long long, std::vector<size_t>> by_image;
    std::map<std::string, std::pair<std::string, dev_t>> anchors; // by parent
    bool sparse_note = false;
    // Each version from the newest image that holds it: most of what is
    // planned then comes from few images, often one.
    std::vector<Version> wanted;
    for (const auto &p : plan_)
        wanted.push_back(p.v);
    const std::vector<long long> holder = db_.newest_holders(history_, wanted);
    for (size_t i = 0; i < plan_.size(); ++i) {
        Planned &p = plan_[i];
        if (p.is_dir || p.outcome != Outcome::Pending)
            continue;
        std::string parent = parent_of(p.dest);
        auto it = anchors.find(parent);
        if (it == anchors.end()) {
            std::string a = nearest_existing_dir(parent);
            struct stat as {};
            if (lstat(a.c_str(), &as) != 0) {
                fail(p, "no directory to restore into");
                continue;
            }
            it = anchors.emplace(parent, std::make_pair(a, as.st_dev)).first;
        }
        p.anchor = it->second.first;
        p.dev = it->second.second;
        if (holder[i] == 0) {
            ++missing_;
            fail(p, "no image of the catalog holds this version: no snapshot has it");
            continue;
        }
        by_image[holder[i]].push_back(i);
        if (!sparse_note && p.v.st.type == 0 && p.v.st.blocks_kb * 1024 + 4096 < p.v.st.size) {
            sparse_note = true;
            log_.line("note: sparse files such as " + log_quote(p.v.path) +
                      " are restored with all their blocks written");
        }
    }
    for (const auto &p : plan_)
        if (!p.is_dir)
            count_up(p.v.path, total_below_);
    std::vector<Call> calls = prepare_calls(by_image);
    bool cancelled = job_cancelled();
    if (!cancelled)
        run_calls(calls);
    // Into place image by image, oldest first; a cancel stops between them.
    for (auto &c : calls) {
        if (cancelled || (cancelled = job_cancelled())) {
            remove_tree(c.stage);
            continue;
        }
        place_call(c);
    }
    for (const auto &[dev, root] : stage_roots_)
        if (!root.empty())
            remove_tree(root);
    cancelled = cancelled || job_cancelled();
    if (cancelled)
        log_.line("cancelled: the restore stopped before every entry was in place");
    for (auto &p : plan_)
        if (p.outcome == Outcome::Pending)
            fail(p, unreachable_ ? "not restored: the repository could no longer be reached"
                                 : "not restored: the restore was cancelled");
    if (renaming_ && rename_soft_)
        fix_symlinks();
    finish_directories();
    verify();

    // Directories alone (made from the catalog) do not make a restore.
    bool any_file = false, files_planned = false;
    for (const auto &p : plan_) {
        files_planned = files_planned || !p.is_dir;
        any_file = any_file || (!p.is_dir && p.outcome == Outcome::Placed);
    }
    bool something = files_planned ? any_file : log_.done_count() > 0;
    int status = kpstatus::OK;
    if (log_.failed_count() > 0)
        status = something                                         ? kpstatus::NOT_ALL_RESTORED
                 : missing_ > 0 && missing_ == log_.failed_count() ? kpstatus::NOT_FOUND_IN_IMAGE
                                                                   : kpstatus::RESTORE_FAILED;
    else if (log_.done_count() == 0 && log_.skipped_count() == 0)
        status = kpstatus::RESTORE_FAILED;
    if (unreachable_)
        status = kpstatus::NO_SERVER;
    else if (cancelled)
        status = kpstatus::TERMINATED;
    log_.report("restore", status);
    return status;
}

} // namespace

int kprestore_main(int argc, char **argv) {
    KpArgs args;
    std::string err;
    if (!kp_parse_args(argc, argv, RESTORE_OPTIONS, args, err))
        return usage_error("kprestore", err, RESTORE_USAGE);
    if (args.has("-stdout") == args.has("-f"))
        return usage_error("kprestore", "give a request file (-f) or -stdout NAME", RESTORE_USAGE);
    if (!args.has("-stdout") && (args.has("-s") || args.has("-e")))
        return usage_error("kprestore", "-s and -e go with -stdout", RESTORE_USAGE);
    if (!args.operands.empty())
        return usage_error("kprestore", "unexpected word " + args.operands[0], RESTORE_USAGE);
    ProgressLog log;
    if (!open_program_log(args, log, err)) {
        fprintf(stderr, "kprestore: %s\n", err.c_str());
        return kpstatus::OPEN_FAILED;
    }
    if (!args.has("-L"))
        log.echo_to_stderr(true);
    if (args.has("-stdout"))
        return restore_stdout_entry(args, log);
    Restore r(log);
    int st = r.check(args);
    if (st != 0)
        return st;
    // Accepted: the work goes on as a job of its own, detached from the
    // caller, which gets 0 now (or the job's status under -w).
    int res = start_job(r.server_dir(), "kprestore", args.get("-L"), args.has("-w"),
                        [&] { return r.work(); }, err, {log.fd()});
    if (res < 0) {
        log.line(err);
        log.report("restore", kpstatus::RESTORE_FAILED);
        return kpstatus::RESTORE_FAILED;
    }
    return res;
}
