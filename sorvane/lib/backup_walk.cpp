// The walk of a backup run (before restic starts) and the reading back of
// its walk file.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "backup_engine.h"
#include "backup_walk.h"
#include "jobs.h"
#include "kpprograms.h"

namespace backup_engine {

void remove_stale_temp_files(const std::string &dir, ProgressLog &log) {
    std::unique_ptr<DIR, int (*)(DIR *)> d(opendir(dir.c_str()), closedir);
    if (!d) {
        return;
    }
    int removed = 0;
    while (dirent *de = readdir(d.get())) {
        if (strncmp(de->d_name, TEMP_PREFIX, strlen(TEMP_PREFIX)) != 0) {
            continue;
        }
        struct stat st {};
        if (fstatat(dirfd(d.get()), de->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            unlinkat(dirfd(d.get()), de->d_name, 0) == 0) {
            ++removed;
        }
    }
    if (removed > 0) {
        log.line("removed " + std::to_string(removed) +
                 " temporary files left by an interrupted run");
    }
}

std::string child_path(const std::string &dir, const std::string &name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

uint64_t path_key(const std::string &restic_form) {
    return std::hash<std::string_view>{}(restic_form);
}

bool Backup::walk(std::string &err) {
    if (!walk_file_.create(server_.dir, "walk", false, err)) {
        return false;
    }
    WalkWriter w{walk_file_.file()};
    for (const auto &r : roots_) {
        ++examined_;
        if (S_ISDIR(r.st.st_mode)) {
            walk_dir(w, r.path, r.st);
        }
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
            if (fd >= 0) {
                close(fd);
            }
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
            if ((n[0] == '.' && n[1] == '\0') || (n[0] == '.' && n[1] == '.' && n[2] == '\0')) {
                continue;
            }
            struct stat st {};
            if (fstatat(dirfd(d.get()), n, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) {
                    continue;
                }
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
            if (S_ISDIR(st.st_mode)) {
                stack.emplace_back(child_path(dir, n), st);
            }
        }
        w.end();
        std::reverse(stack.begin() + static_cast<long>(first_sub), stack.end());
    }
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
            if (index < fates_.size()) {
                fate = static_cast<Fate>(fates_[index]);
            }
            ++index;
        }
        if (!fn(dir, rec, fate)) {
            return true;
        }
    }
    if (ferror(f) || !feof(f)) {
        err = std::string("cannot read back the walk of the request: ") + strerror(errno);
        return false;
    }
    return true;
}

} // namespace backup_engine
