// The catalog's queries: listings, the versions a restore brings back and
// the images that hold them.
#include "catalog_db.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

#include "fsentry.h"
#include "image_select.h"
#include "sqlite_stmt.h"
#include "catalog_sql.h"

using catalog_sql::child_path;
using catalog_sql::components;
using catalog_sql::db_error;
using catalog_sql::history_id;
using catalog_sql::normal_path;

namespace {
long long clamp31(long long v) {
    return v >= 0 && v <= INT_MAX ? v : 0;
}
struct ImageInfo {
    long long time = 0;
    int schedule = 0;
    std::unordered_set<long long> roots;          // path ids the request covered
    std::unordered_set<long long> root_ancestors; // directories above them
};

// Path ids from the history's root down to path (root first); empty when
// the path is not known.
std::vector<long long> path_chain(sqlite3 *db, long long root, std::string_view path) {
    std::vector<long long> chain = {root};
    Stmt s(db, "SELECT id FROM paths WHERE parent = ? AND name = ?");
    for (const auto &c : components(path)) {
        s.reset().bind(1, chain.back()).bind(2, c);
        if (s.step() != SQLITE_ROW) {
            return {};
        }
        chain.push_back(s.i64(0));
    }
    return chain;
}

// The path's id in the history's tree, or 0 (never an id) when the history
// or the path is not known.
long long known_path_id(sqlite3 *db, const HistoryKey &h, std::string_view path) {
    long long root = 0;
    if (history_id(db, h, &root) == 0) {
        return 0;
    }
    std::vector<long long> chain = path_chain(db, root, path);
    return chain.empty() ? 0 : chain.back();
}

// Reads the chosen images of a history with their roots.
bool load_images(sqlite3 *db, long long history, const ListingQuery &q,
                 std::vector<ImageInfo> &chosen, std::map<long long, int> &schedules,
                 std::string &err) {
    Stmt s(db, "SELECT backup_time, schedule, policy_type, keyword FROM images WHERE history = ? "
               "ORDER BY backup_time");
    Stmt roots(db, "SELECT path FROM image_roots WHERE image = ?");
    Stmt parent(db, "SELECT parent FROM paths WHERE id = ?");
    s.bind(1, history);
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        long long t = s.i64(0);
        schedules[t] = static_cast<int>(s.i64(1));
        if (t < q.start || t > q.end) {
            continue;
        }
        if (q.policy_type >= 0 && s.i64(2) != q.policy_type) {
            continue;
        }
        if (!keyword_matches(q.keyword, s.text(3))) {
            continue;
        }
        ImageInfo info;
        info.time = t;
        info.schedule = static_cast<int>(s.i64(1));
        roots.reset().bind(1, t);
        while (roots.step() == SQLITE_ROW) {
            long long id = roots.i64(0);
            info.roots.insert(id);
            for (;;) {
                parent.reset().bind(1, id);
                if (parent.step() != SQLITE_ROW || parent.i64(0) <= 0) {
                    break;
                }
                id = parent.i64(0);
                info.root_ancestors.insert(id);
            }
        }
        chosen.push_back(std::move(info));
    }
    if (rc != SQLITE_DONE) {
        err = db_error(db, "images");
        return false;
    }
    return true;
}

ListingLine make_line(const std::string &path, const Version &v, long long dated, int schedule) {
    ListingLine l;
    const FileState &st = v.st;
    l.numbers[LN_TYPE] = st.type;
    l.numbers[LN_MODE] = st.mode;
    l.numbers[LN_UID] = clamp31(st.uid);
    l.numbers[LN_GID] = clamp31(st.gid);
    l.numbers[LN_NLINK] = clamp31(st.nlink);
    l.numbers[LN_SCHED] = schedule;
    l.numbers[LN_BLOCKS] = clamp31(st.blocks_kb);
    // The client reads the device number as a 32-bit value: the low 31
    // bits keep it a non-negative, comparable number.
    l.numbers[LN_DEVICE] = st.device < 0 ? -1 : (st.device & 0x7fffffffLL);
    l.numbers[LN_INODE] = clamp31(st.inode);
    l.mode = mode_text(st.mode);
    l.owner = st.owner;
    l.group = st.group;
    l.size = st.type == 1 ? 0 : st.size;
    l.backup_time = dated;
    l.mtime = st.mtime_ns >= 0 ? st.mtime_ns / 1000000000LL
                               : -((-st.mtime_ns + 999999999LL) / 1000000000LL);
    l.path = st.type == 1 && path != "/" ? path + "/" : path;
    return l;
}

// The walk of a listing.
class Lister {
  public:
    Lister(sqlite3 *db, const ListingQuery &q, const ListingSink &sink)
        : q_(q), sink_(sink), versions_(db, "SELECT " VERSION_COLUMNS " FROM versions v WHERE "
                                            "v.path = ? AND v.first <= ? AND v.ended > ? ORDER "
                                            "BY v.first DESC"),
          children_(db, "SELECT p.id, p.name, " VERSION_COLUMNS " FROM paths p JOIN versions v "
                        "ON v.path = p.id WHERE p.parent = ? AND v.first <= ? AND v.ended > ? "
                        "ORDER BY p.name, v.first DESC") {}

    std::vector<ImageInfo> images;
    std::map<long long, int> schedules;
    long long lo = 0, hi = 0; // versions alive at some moment of [lo, hi]
    bool held_only = false;   // keyword search: versions its images held
    long long true_time = -1; // true image: the image time listed
    long long lines = 0;
    bool failed = false;

    void top(std::vector<long long> chain, const std::string &path) {
        versions_.reset().bind(1, chain.back()).bind(2, hi).bind(3, lo);
        std::vector<Version> vs;
        while (versions_.step() == SQLITE_ROW) {
            Version v;
            read_version(versions_, 0, v);
            vs.push_back(std::move(v));
        }
        walk(chain, path, vs, 0);
    }

  private:
    bool chosen(long long t) const {
        return std::any_of(images.begin(), images.end(),
                           [t](const ImageInfo &i) { return i.time == t; });
    }
    int schedule_of(long long t) const {
        auto it = schedules.find(t);
        return it == schedules.end() ? 0 : it->second;
    }

    // Image i covered a path whose ids from the root are chain, or holds
    // something below it.
    bool touches(const ImageInfo &i, const std::vector<long long> &chain) const {
        for (long long id : chain) {
            if (i.roots.count(id) != 0) {
                return true;
            }
        }
        return i.root_ancestors.count(chain.back()) != 0;
    }

    bool held(const Version &v, const std::vector<long long> &chain) const {
        for (const auto &i : images) {
            if (v.alive_at(i.time) && touches(i, chain)) {
                return true;
            }
        }
        return false;
    }

    void emit(const std::string &path, const Version &v, long long dated) {
        sink_(make_line(path, v, dated, schedule_of(dated)));
        ++lines;
    }

    void walk(std::vector<long long> &chain, const std::string &path,
              const std::vector<Version> &vs, int level) {
        std::map<long long, const Version *, std::greater<>> dir_lines;
        bool is_dir = false;
        for (const auto &v : vs) {
            if (v.st.type == 1) {
                is_dir = true;
                // A keyword search dates directories by its own images
                // only (below), not by images it did not choose.
                if (true_time < 0 && !held_only) {
                    dir_lines.emplace(v.first, &v);
                }
                continue;
            }
            if (is_raw_entry(v.st) != q_.raw) {
                continue;
            }
            // A raw entry is held by the one image that read it: listed
            // when the query chose that image (policy type, keyword).
            if (q_.raw && !chosen(v.first)) {
                continue;
            }
            if (!held_only || held(v, chain)) {
                emit(path, v, v.first);
            }
        }
        if (!is_dir) {
            return;
        }
        // Raw entries are listed alone: their directories are only where
        // they were found.
        if (q_.raw) {
            dir_lines.clear();
        }
        // A directory line for each image that touched it, dated by that
        // image, with the directory as it was then.
        for (const auto &i : images) {
            if (true_time >= 0 && i.time != true_time) {
                continue;
            }
            if (q_.raw || (!touches(i, chain) && true_time < 0)) {
                continue;
            }
            for (const auto &v : vs) {
                if (v.st.type == 1 && v.alive_at(i.time)) {
                    dir_lines.emplace(i.time, &v);
                }
            }
        }
        for (const auto &[t, v] : dir_lines) {
            emit(path, *v, t);
        }
        if (q_.max_level >= 0 && level >= q_.max_level && !q_.raw) {
            return;
        }
        // The entries: one query per directory, rows grouped by path.
        struct Child {
            long long id;
            std::string name;
            std::vector<Version> vs;
        };
        std::vector<Child> kids;
        children_.reset().bind(1, chain.back()).bind(2, hi).bind(3, lo);
        int rc;
        while ((rc = children_.step()) == SQLITE_ROW) {
            long long id = children_.i64(0);
            if (kids.empty() || kids.back().id != id) {
                kids.push_back({id, children_.text(1), {}});
            }
            Version v;
            read_version(children_, 2, v);
            kids.back().vs.push_back(std::move(v));
        }
        if (rc != SQLITE_DONE) {
            failed = true;
            return;
        }
        for (auto &k : kids) {
            chain.push_back(k.id);
            walk(chain, child_path(path, k.name), k.vs, level + 1);
            chain.pop_back();
            if (failed) {
                return;
            }
        }
    }

    const ListingQuery &q_;
    const ListingSink &sink_;
    Stmt versions_, children_;
};

} // namespace

long long CatalogDb::list(const ListingQuery &q, const ListingSink &sink, std::string &err) const {
    long long root = 0;
    long long history = history_id(db_, q.history, &root);
    if (history == 0) {
        return 0;
    }
    Lister l(db_, q, sink);
    if (!load_images(db_, history, q, l.images, l.schedules, err)) {
        return -1;
    }
    if (l.images.empty()) {
        return 0;
    }
    std::vector<long long> chain = path_chain(db_, root, q.dir);
    if (chain.empty()) {
        return 0;
    }
    if (q.true_image) {
        l.true_time = l.images.back().time;
        l.lo = l.hi = l.true_time;
    } else {
        l.lo = q.start;
        l.hi = q.end;
        l.held_only = !q.keyword.empty();
    }
    l.top(chain, normal_path(q.dir));
    if (l.failed) {
        err = db_error(db_, "listing");
        return -1;
    }
    return l.lines;
}

std::vector<Version> CatalogDb::restore_set(const HistoryKey &h, const std::string &path,
                                            long long start, long long end, bool true_image,
                                            std::string &err) const {
    std::vector<Version> out;
    const long long id = known_path_id(db_, h, path);
    if (id == 0) {
        return out;
    }
    long long lo = true_image ? end : start, hi = end;
    Stmt versions(db_, "SELECT " VERSION_COLUMNS " FROM versions v WHERE v.path = ? AND v.first "
                       "<= ? AND v.ended > ? ORDER BY v.first DESC LIMIT 1");
    Stmt children(db_, "SELECT p.id, p.name, " VERSION_COLUMNS " FROM paths p JOIN versions v ON "
                       "v.path = p.id WHERE p.parent = ? AND v.first <= ? AND v.ended > ? "
                       "ORDER BY p.name, v.first DESC");
    versions.bind(1, id).bind(2, hi).bind(3, lo);
    if (versions.step() != SQLITE_ROW) {
        return out;
    }
    Version top;
    read_version(versions, 0, top);
    top.path = normal_path(path);
    top.st.name = top.path == "/" ? "" : top.path.substr(top.path.rfind('/') + 1);
    out.push_back(top);
    // Each directory's entries, newest version alive in the range first:
    // the first row of each path is the one to bring back.
    std::vector<std::pair<long long, size_t>> todo; // (path id, index in out)
    if (top.st.type == 1) {
        todo.emplace_back(id, 0);
    }
    while (!todo.empty()) {
        auto [id, at] = todo.back();
        todo.pop_back();
        std::string dir = out[at].path;
        children.reset().bind(1, id).bind(2, hi).bind(3, lo);
        long long last = 0;
        int rc;
        std::vector<std::pair<long long, size_t>> subdirs;
        while ((rc = children.step()) == SQLITE_ROW) {
            long long cid = children.i64(0);
            if (cid == last) {
                continue;
            }
            last = cid;
            Version v;
            read_version(children, 2, v);
            v.st.name = children.text(1);
            v.path = child_path(dir, v.st.name);
            out.push_back(std::move(v));
            if (out.back().st.type == 1) {
                subdirs.emplace_back(cid, out.size() - 1);
            }
        }
        if (rc != SQLITE_DONE) {
            err = db_error(db_, "restore set");
            return {};
        }
        todo.insert(todo.end(), subdirs.rbegin(), subdirs.rend());
    }
    // Each directory was added before its entries were read: parents come
    // before their entries.
    return out;
}

std::vector<Version> CatalogDb::versions_in_range(const HistoryKey &h, const std::string &path,
                                                  long long start, long long end) const {
    std::vector<Version> out;
    const long long id = known_path_id(db_, h, path);
    if (id == 0) {
        return out;
    }
    Stmt s(db_, "SELECT " VERSION_COLUMNS " FROM versions v WHERE v.path = ? AND v.first <= ? "
                "AND v.ended > ? ORDER BY v.first DESC");
    s.bind(1, id).bind(2, end).bind(3, start);
    while (s.step() == SQLITE_ROW) {
        Version v;
        read_version(s, 0, v);
        v.path = normal_path(path);
        v.st.name = v.path == "/" ? "" : v.path.substr(v.path.rfind('/') + 1);
        out.push_back(std::move(v));
    }
    return out;
}

bool CatalogDb::version_before(const HistoryKey &h, const std::string &path, long long t,
                               Version &out) const {
    const long long id = known_path_id(db_, h, path);
    if (id == 0) {
        return false;
    }
    Stmt s(db_, "SELECT " VERSION_COLUMNS " FROM versions v WHERE v.path = ? AND v.first <= ? "
                "ORDER BY v.first DESC LIMIT 1");
    s.bind(1, id).bind(2, t);
    if (s.step() != SQLITE_ROW) {
        return false;
    }
    read_version(s, 0, out);
    out.path = normal_path(path);
    out.st.name = out.path == "/" ? "" : out.path.substr(out.path.rfind('/') + 1);
    return true;
}

std::vector<long long> CatalogDb::newest_holders(const HistoryKey &h,
                                                 const std::vector<Version> &versions,
                                                 const std::set<long long> &absent) const {
    std::vector<long long> out(versions.size(), 0);
    long long root = 0, history = history_id(db_, h, &root);
    if (history == 0) {
        return out;
    }
    // Each image's roots and gaps as path ids; a version's path is matched
    // through the ids of its components.
    struct Held {
        long long time;
        std::unordered_set<long long> roots, gaps;
    };
    std::vector<Held> images;
    Stmt imgs(db_, "SELECT backup_time FROM images WHERE history = ? ORDER BY backup_time DESC");
    Stmt roots(db_, "SELECT path FROM image_roots WHERE image = ?");
    Stmt gaps(db_, "SELECT path FROM image_gaps WHERE image = ?");
    imgs.bind(1, history);
    while (imgs.step() == SQLITE_ROW) {
        Held held{imgs.i64(0), {}, {}};
        if (absent.count(held.time) != 0) {
            continue;
        }
        roots.reset().bind(1, held.time);
        while (roots.step() == SQLITE_ROW) {
            held.roots.insert(roots.i64(0));
        }
        gaps.reset().bind(1, held.time);
        if (gaps.ok()) {
            while (gaps.step() == SQLITE_ROW) {
                held.gaps.insert(gaps.i64(0));
            }
        }
        images.push_back(std::move(held));
    }
    // Per parent directory, for each image: 0 the directory is not covered,
    // 1 covered and stored, 2 covered but inside a gap.
    struct Parent {
        long long id = 0;
        std::vector<char> state;
    };
    std::unordered_map<std::string, Parent> parents;
    Stmt child(db_, "SELECT id FROM paths WHERE parent = ? AND name = ?");
    for (size_t i = 0; i < versions.size(); ++i) {
        const Version &v = versions[i];
        std::string dir = v.path == "/" ? "" : v.path.substr(0, v.path.rfind('/'));
        auto it = parents.find(dir);
        if (it == parents.end()) {
            Parent p;
            std::vector<long long> chain = path_chain(db_, root, dir);
            if (!chain.empty()) {
                p.id = chain.back();
                for (const auto &img : images) {
                    char st = 0;
                    for (long long id : chain) {
                        if (st == 0 && img.roots.count(id) != 0) {
                            st = 1;
                        }
                        if (st == 1 && img.gaps.count(id) != 0) {
                            st = 2;
                        }
                    }
                    p.state.push_back(st);
                }
            }
            it = parents.emplace(dir, std::move(p)).first;
        }
        const Parent &p = it->second;
        if (p.id == 0) {
            continue;
        }
        long long id = p.id;
        if (v.path != "/") {
            child.reset().bind(1, p.id).bind(2, v.st.name);
            if (child.step() != SQLITE_ROW) {
                continue;
            }
            id = child.i64(0);
        }
        // The newest image at whose time the version was alive, whose
        // request covered the path, and that stored it.
        for (size_t k = 0; k < images.size(); ++k) {
            const Held &img = images[k];
            if (!v.alive_at(img.time)) {
                continue;
            }
            char st = p.state[k];
            if (v.path == "/" || st == 0) {
                st = img.roots.count(id) != 0 ? 1 : st;
            }
            if (st == 1 && img.gaps.count(id) != 0) {
                st = 2;
            }
            if (st == 1) {
                out[i] = img.time;
                break;
            }
        }
    }
    return out;
}
