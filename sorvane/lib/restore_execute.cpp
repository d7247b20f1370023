// The execution of a restore plan: the directories made from the catalog's
// records, restic's calls into staging directories, the move of what they
// staged into place and the check of what is there afterwards.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <thread>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "kpprograms.h"
#include "kpstatus.h"
#include "restore_engine.h"
#include "restore_errors.h"
#include "unique_fd.h"

namespace restore_engine {

namespace {

int remove_one(const char *path, const struct stat *, int, struct FTW *) {
    return remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

std::string join(const std::string &dir, const std::string &path) {
    return path == "/" ? dir : (dir == "/" ? path : dir + path);
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
    if (fd < 0) {
        return "";
    }
    close(fd);
    unlink(buf.data());
    return buf.data();
}

// Owner, mode and modification time of a directory's catalog version,
// through a descriptor of the directory itself: a directory replaced by a
// symbolic link meanwhile is left alone.
void apply_recorded(const std::string &path, const FileState &st) {
    Fd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.fd < 0) {
        return;
    }
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

} // namespace

void remove_tree(const std::string &path) {
    nftw(path.c_str(), remove_one, 32, FTW_DEPTH | FTW_PHYS);
}

// Creates the missing directories above dest: with the mode and owner the
// catalog recorded for their source path (applied when the restore ends),
// private (0700) meanwhile and when nothing is recorded.
bool Restore::ensure_parents(const std::string &dest, long long end) {
    std::vector<std::string> missing;
    for (std::string d = parent_of(dest);; d = parent_of(d)) {
        struct stat st {};
        if (lstat(d.c_str(), &st) == 0) {
            break;
        }
        missing.push_back(d);
        if (d == "/") {
            break;
        }
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (planned_dirs_.count(*it)) {
            continue; // made by prepare_directories, in order
        }
        if (mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
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
        if (!p.is_dir) {
            continue;
        }
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
        if (mkdir(p.dest.c_str(), 0700) != 0) {
            fail(p, std::string("cannot create: ") + strerror(errno));
        } else {
            placed(p);
        }
    }
}

std::string Restore::stage_root_for(dev_t dev, const std::string &anchor) {
    auto it = stage_roots_.find(dev);
    if (it != stage_roots_.end()) {
        return it->second;
    }
    std::string tmpl = (anchor == "/" ? "" : anchor) + "/.kprestore.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    std::string root = mkdtemp(buf.data()) != nullptr ? buf.data() : "";
    stage_roots_[dev] = root;
    return root;
}

namespace {

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
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0 && write(out.fd, buf, static_cast<size_t>(n)) == n;
    }
    if (ok && geteuid() == 0 && fchown(out.fd, ss.st_uid, ss.st_gid) != 0) {
        // The copy keeps the restoring user's ownership.
    }
    struct timespec ts[2] = {ss.st_atim, ss.st_mtim};
    ok = ok && fchmod(out.fd, ss.st_mode & 07777) == 0 && futimens(out.fd, ts) == 0;
    if (out.fd >= 0 && close(out.fd) != 0) {
        ok = false;
    }
    out.fd = -1;
    if (!ok) {
        why = std::string("cannot copy across file systems: ") + strerror(errno);
        if (created) {
            unlink(to.c_str());
        }
    }
    return ok;
}

} // namespace

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
        if (tmp.empty()) {
            break;
        }
        if (S_ISREG(ss.st_mode)) {
            if (!copy_file(src, tmp, ss, why)) {
                return false;
            }
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
        if (!made && errno != EEXIST) {
            break;
        }
    }
    if (!made) {
        why = std::string("cannot copy across file systems: ") + strerror(errno);
        return false;
    }
    if (!S_ISREG(ss.st_mode)) {
        if (geteuid() == 0 && lchown(tmp.c_str(), ss.st_uid, ss.st_gid) != 0) {
            // Kept with the restoring user's ownership.
        }
        if (!S_ISLNK(ss.st_mode)) {
            chmod(tmp.c_str(), ss.st_mode & 07777);
        }
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
            if (rc == 0) {
                unlink(src.c_str());
            }
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

// The calls, oldest image first, each with its staging directory ready.
std::vector<Restore::Call>
Restore::prepare_calls(const std::map<long long, std::vector<size_t>> &by_image) {
    std::vector<Call> calls;
    for (const auto &[image, items] : by_image) {
        ImageHeader h;
        if (!db_.image_at(image, h) || h.snapshot.empty()) {
            for (size_t i : items) {
                fail(plan_[i], "the catalog has no image of " + local_time_text(image));
            }
            continue;
        }
        std::map<dev_t, std::vector<size_t>> groups;
        for (size_t i : items) {
            groups[plan_[i].dev].push_back(i);
        }
        for (auto &[dev, group] : groups) {
            std::string anchor = plan_[group.front()].anchor;
            for (size_t i : group) {
                if (plan_[i].anchor.size() < anchor.size()) {
                    anchor = plan_[i].anchor;
                }
            }
            std::string root = stage_root_for(dev, anchor);
            std::string stage = root.empty() ? "" : temp_name(root);
            if (stage.empty() || mkdir(stage.c_str(), 0700) != 0) {
                for (size_t i : group) {
                    fail(plan_[i], "cannot create a staging directory in " + log_quote(anchor) +
                                       ": " + strerror(errno));
                }
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
                    if (restore_error_text(line, text)) {
                        c.errors.push_back(std::move(text));
                    }
                });
        }
    };
    std::vector<std::thread> threads;
    for (size_t t = 1; t < std::min<size_t>(2, calls.size()); ++t) {
        threads.emplace_back(worker);
    }
    worker();
    for (auto &t : threads) {
        t.join();
    }
}

// Moves what one call staged into place; what restic could not restore fails.
void Restore::place_call(Call &c) {
    const ResticResult &r = c.result;
    if (!r.started || (r.exit_code != 0 && c.errors.empty())) {
        std::string first = r.err.substr(0, r.err.find('\n'));
        if (restic_failure_status(r.failure, 0) == kpstatus::NO_SERVER) {
            unreachable_ = true;
        }
        for (size_t i : c.items) {
            fail(plan_[i], std::string("restic restore failed (") + restic_failure_name(r.failure) +
                               "): " + log_quote(first));
        }
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
        if (p.outcome != Outcome::Placed || p.v.st.type != 2) {
            continue;
        }
        char buf[4097];
        ssize_t n = readlink(p.dest.c_str(), buf, sizeof buf - 1);
        if (n <= 0) {
            continue;
        }
        std::string target(buf, static_cast<size_t>(n));
        if (target[0] != '/' || !under(target, rename_.from)) {
            continue;
        }
        std::string nt = redirect(target), tmp = temp_name(parent_of(p.dest));
        if (!tmp.empty() && symlink(nt.c_str(), tmp.c_str()) == 0 &&
            rename(tmp.c_str(), p.dest.c_str()) == 0) {
            log_.line("link " + log_quote(p.dest) + " now points to " + log_quote(nt));
        } else {
            if (!tmp.empty()) {
                unlink(tmp.c_str());
            }
            log_.line("the symbolic link " + log_quote(p.dest) + " could not be redirected");
        }
    }
}

// Recorded mode, owner and time, deepest directories first, once nothing
// more moves into them.
void Restore::finish_directories() {
    for (auto it = plan_.rbegin(); it != plan_.rend(); ++it) {
        if (it->is_dir && it->outcome == Outcome::Placed && !(it->existed && keep_)) {
            apply_recorded(it->dest, it->v.st);
        }
    }
    for (auto it = made_parents_.rbegin(); it != made_parents_.rend(); ++it) {
        if (it->known) {
            apply_recorded(it->path, it->st);
        }
    }
}

// Only what is there, of the planned type (and size, for a file), is done.
void Restore::verify() {
    for (auto &p : plan_) {
        if (p.outcome != Outcome::Placed) {
            continue;
        }
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

} // namespace restore_engine
