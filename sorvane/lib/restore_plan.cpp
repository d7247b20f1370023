// The plan of a restore: the versions to bring back from the catalog and
// where each goes, and what to ask restic for.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "restore_engine.h"

namespace restore_engine {

std::string strip_slash(std::string p) {
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    return p;
}

bool under(const std::string &path, const std::string &dir) {
    if (dir == "/") {
        return path.size() > 0 && path[0] == '/';
    }
    return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           path[dir.size()] == '/');
}

std::string parent_of(const std::string &path) {
    size_t sl = path.rfind('/');
    return sl == std::string::npos || sl == 0 ? "/" : path.substr(0, sl);
}

std::string Restore::redirect(const std::string &p) const {
    if (!renaming_ || !under(p, rename_.from)) {
        return p;
    }
    if (rename_.from == "/") {
        return rename_.to == "/" ? p : rename_.to + p;
    }
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
    if (!under(dest, rename_.to)) {
        return false;
    }
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
        if (p.size() >= 2 && p.compare(p.size() - 2, 2, "/.") == 0) {
            p.pop_back();
        }
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
        if (one_fs_ && vs.front().path == bare && vs.front().st.type == 1) {
            root_dev = vs.front().st.device;
        }
        std::map<std::string, long long> left_out; // directory -> entries left out
        for (auto &v : vs) {
            // A raw partition's content goes to a device, never into a
            // file where its device node was.
            if (is_raw_entry(v.st)) {
                log_.skipped(v.path, "a raw partition: restored by a raw restore (-r) only");
                continue;
            }
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
                if (below) {
                    continue;
                }
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
        for (const auto &[dir, n] : left_out) {
            log_.skipped(dir, "on another file system than the directory restored (-O); " +
                                  std::to_string(n) + " entries left out");
        }
    }
    std::sort(planned.begin(), planned.end(),
              [](const Planned &a, const Planned &b) { return a.dest < b.dest; });
    plan_ = std::move(planned);
}

// What to ask restic for: a covering directory when most of what is planned
// below it comes from this image (restic brings whole subtrees; the rest
// stays in the staging directory), else the exact paths.
std::vector<std::string> Restore::include_patterns(const std::vector<size_t> &items) const {
    std::map<std::string, long long> mine;
    for (size_t i : items) {
        count_up(plan_[i].v.path, mine);
    }
    std::set<std::string> chosen;
    for (size_t i : items) {
        std::string pick = plan_[i].v.path;
        for (std::string d = parent_of(pick); mine.count(d); d = parent_of(d)) {
            auto t = total_below_.find(d);
            if (t != total_below_.end() && mine[d] * 2 >= t->second) {
                pick = d;
            }
            if (d == "/") {
                break;
            }
        }
        chosen.insert(pick);
    }
    std::vector<std::string> out;
    for (const auto &c : chosen) {
        if (out.empty() || !under(c, out.back())) {
            out.push_back(c);
        }
    }
    return out;
}

// Counts path in every planned directory above it.
void Restore::count_up(const std::string &path, std::map<std::string, long long> &m) const {
    for (std::string d = parent_of(path); planned_dirs_.count(redirect(d)); d = parent_of(d)) {
        ++m[d];
        if (d == "/") {
            break;
        }
    }
}

} // namespace restore_engine
