// The reconciliation of a backup run with what restic stored, the image it
// writes in the catalog and, for an archive, the removal of the originals
// the snapshot provably holds.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

#include "backup_engine.h"
#include "jobs.h"
#include "restic_node.h"

namespace backup_engine {

namespace {

std::string base_name(const std::string &path) {
    if (path == "/") {
        return "";
    }
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

} // namespace

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
    if (walk_failed_.count(path) != 0) {
        return KEPT;
    }
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
    if (confirmed && !changed) {
        return STORED;
    }
    log_.failed(path, !exists                       ? (confirmed ? "vanished while being backed up"
                                                                 : "vanished before it was backed up")
                      : err != restic_errors_.end() ? "restic could not read it: " + err->second
                      : confirmed                   ? "changed while being backed up"
                      : !parent_stored              ? "its directory was not stored"
                                                    : "not stored in the snapshot");
    return exists ? KEPT : GONE;
}

// Decides the fate of every walked entry (lstat once more after restic)
// and counts what the image holds, before anything is written.
bool Backup::reconcile(std::string &err) {
    std::sort(stored_keys_.begin(), stored_keys_.end());
    for (auto &r : roots_) {
        r.fate = judge(r.path, r.st, true);
        if (r.fate != STORED) {
            continue;
        }
        ++files_;
        if (S_ISREG(r.st.st_mode)) {
            bytes_ += r.st.st_size;
        }
        if (S_ISDIR(r.st.st_mode)) {
            stored_dirs_.insert(path_key(r.path));
        }
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
                    if (S_ISREG(rec.st.st_mode)) {
                        bytes_ += rec.st.st_size;
                    }
                    if (S_ISDIR(rec.st.st_mode)) {
                        stored_dirs_.insert(path_key(p));
                    }
                }
            }
            return true;
        },
        err);
}

bool Backup::write_image(const ImageHeader &h, CatalogDb &db, std::string &err) {
    ImageWriter w;
    if (!db.begin_image(h, w, err)) {
        return false;
    }
    // The directories above the stored roots, each once (the walk up stops
    // at one already met).
    std::unordered_set<std::string> seen;
    std::vector<std::string> ancestors;
    for (const auto &r : roots_) {
        if (r.fate == STORED) {
            if (!w.root(r.path, file_state_from_stat(base_name(r.path), r.st, names_), err)) {
                return false;
            }
        } else if (r.fate == GONE) {
            if (!w.gone(r.path, err)) {
                return false;
            }
            continue;
        } else {
            continue;
        }
        for (std::string p = r.path; p != "/";) {
            size_t sl = p.rfind('/');
            p = sl == 0 ? "/" : p.substr(0, sl);
            if (!seen.insert(p).second) {
                break;
            }
            ancestors.push_back(p);
        }
    }
    std::sort(ancestors.begin(), ancestors.end());
    for (const auto &a : ancestors) {
        struct stat st {};
        if (lstat(a.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            !w.ancestor(a, file_state_from_stat(base_name(a), st, names_), err)) {
            return false;
        }
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
            if (fate == STORED) {
                stored.push_back(file_state_from_stat(rec.text, rec.st, names_));
            } else if (fate == KEPT) {
                kept.push_back(rec.text);
            }
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
        if (!parse_restic_node(l, n)) {
            return;
        }
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
        if (it->type != listing_type(st.st_mode)) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            return true;
        }
        if ((!S_ISREG(st.st_mode) || it->size == st.st_size) && it->mtime_ns == ns_of(st.st_mtim) &&
            it->ctime_ns == ns_of(st.st_ctim)) {
            return true;
        }
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
        if (fstatat(dfd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
            return;
        }
        if (!may_remove(path, walk_st, now)) {
            return;
        }
        if (unlinkat(dfd, name.c_str(), 0) == 0) {
            ++removed;
        } else {
            log_.failed(path, std::string("cannot remove the original: ") + strerror(errno));
        }
    };
    // Directories are removed after everything below them, and only when
    // empty: the walk lists parents first, so in reverse order.
    std::vector<std::pair<std::string, struct stat>> dirs;
    for (const auto &r : roots_) {
        if (r.fate != STORED || r.path == "/") {
            continue;
        }
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
                if (dfd >= 0) {
                    close(dfd);
                }
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
                if (S_ISDIR(rec.st.st_mode)) {
                    dirs.emplace_back(p, rec.st);
                } else {
                    remove_at(dfd, rec.text, p, rec.st);
                }
            }
            return !job_cancelled();
        },
        err);
    if (dfd >= 0) {
        close(dfd);
    }
    for (auto it = dirs.rbegin(); it != dirs.rend() && !job_cancelled(); ++it) {
        struct stat now {};
        if (lstat(it->first.c_str(), &now) != 0) {
            continue;
        }
        if (!S_ISDIR(now.st_mode) || now.st_ino != it->second.st_ino) {
            log_.skipped(it->first, "kept: replaced since the backup");
            continue;
        }
        if (!matches_node(it->first, it->second)) {
            log_.skipped(it->first, "kept: the snapshot does not hold this directory");
            continue;
        }
        if (rmdir(it->first.c_str()) == 0) {
            ++removed;
        } else {
            log_.skipped(it->first, "kept: directory holds files not in the image");
        }
    }
    log_.line("removed " + std::to_string(removed) + " originals" +
              (job_cancelled() ? " before the archive was cancelled" : ""));
    return log_.skipped_count() - kept_before;
}

} // namespace backup_engine
