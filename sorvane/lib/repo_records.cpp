#include "repo_records.h"

#include "kpprograms.h"
#include "sqlite_stmt.h"

#include <algorithm>
#include <set>
#include <unordered_map>

namespace {

bool fail(sqlite3 *db, const char *what, std::string &err) {
    err = std::string("catalog database: ") + what + ": " + sqlite3_errmsg(db);
    return false;
}

// Rolls back an open transaction unless committed.
class Transaction {
  public:
    explicit Transaction(sqlite3 *db) : db_(db) {}
    ~Transaction() {
        if (open_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    bool begin(std::string &err) { return open_ = exec(db_, "BEGIN IMMEDIATE", err); }
    bool commit(std::string &err) {
        if (!exec(db_, "COMMIT", err)) {
            return false;
        }
        open_ = false;
        return true;
    }

  private:
    sqlite3 *db_;
    bool open_ = false;
};

const char *const RECORD_SCHEMA =
    "CREATE TABLE IF NOT EXISTS image_records(record TEXT PRIMARY KEY, "
    "backup_time INTEGER NOT NULL) WITHOUT ROWID;";

// Full paths of path ids, remembered.
class PathNames {
  public:
    explicit PathNames(sqlite3 *db) : q_(db, "SELECT parent, name FROM paths WHERE id = ?") {}
    bool get(long long id, std::string &out) {
        auto it = memo_.find(id);
        if (it != memo_.end()) {
            out = it->second;
            return true;
        }
        q_.reset().bind(1, id);
        if (q_.step() != SQLITE_ROW) {
            return false;
        }
        long long parent = q_.i64(0);
        std::string name = q_.text(1);
        if (parent <= 0) {
            out = "/";
        } else {
            std::string dir;
            if (!get(parent, dir)) {
                return false;
            }
            out = dir == "/" ? "/" + name : dir + "/" + name;
        }
        memo_.emplace(id, out);
        return true;
    }

  private:
    Stmt q_;
    std::unordered_map<long long, std::string> memo_;
};

// Path ids of one history, created on demand.
class PathIds {
  public:
    PathIds(sqlite3 *db, long long root)
        : db_(db), find_(db, "SELECT id FROM paths WHERE parent = ? AND name = ?"),
          add_(db, "INSERT INTO paths(parent, name) VALUES(?, ?)") {
        memo_["/"] = root;
    }
    // id of path; 0 when it is not known and create is false; -1 on failure.
    long long get(const std::string &path, bool create) {
        auto it = memo_.find(path);
        if (it != memo_.end()) {
            return it->second;
        }
        size_t slash = path.rfind('/');
        std::string parent_path = slash == 0 ? "/" : path.substr(0, slash);
        long long parent = get(parent_path, create);
        if (parent <= 0) {
            return parent;
        }
        std::string name = path.substr(slash + 1);
        find_.reset().bind(1, parent).bind(2, name);
        long long id = 0;
        int rc = find_.step();
        if (rc == SQLITE_ROW) {
            id = find_.i64(0);
        } else if (rc != SQLITE_DONE) {
            return -1;
        } else if (!create) {
            return 0;
        } else {
            add_.reset().bind(1, parent).bind(2, name);
            if (!add_.done()) {
                return -1;
            }
            id = sqlite3_last_insert_rowid(db_);
        }
        memo_.emplace(path, id);
        return id;
    }

  private:
    sqlite3 *db_;
    Stmt find_, add_;
    std::unordered_map<std::string, long long> memo_;
};

} // namespace

bool ensure_record_table(CatalogDb &db, std::string &err) {
    return exec(db.handle(), RECORD_SCHEMA, err);
}

bool export_image_record(const CatalogDb &db, long long t, ImageRecord &out, std::string &err) {
    out = ImageRecord{};
    if (!db.image_at(t, out.header)) {
        err = "no image at " + std::to_string(t) + " in the catalog";
        return false;
    }
    sqlite3 *h = db.handle();
    PathNames names(h);
    Stmt roots(h, "SELECT path FROM image_roots WHERE image = ?");
    roots.bind(1, t);
    std::string p;
    while (roots.step() == SQLITE_ROW) {
        if (!names.get(roots.i64(0), p)) {
            return fail(h, "path of a root", err);
        }
        out.roots.push_back(p);
    }
    Stmt gaps(h, "SELECT path FROM image_gaps WHERE image = ?");
    gaps.bind(1, t);
    while (gaps.step() == SQLITE_ROW) {
        if (!names.get(gaps.i64(0), p)) {
            return fail(h, "path of a gap", err);
        }
        out.gaps.push_back(p);
    }
    Stmt ended(h, "SELECT path, first FROM versions WHERE ended = ?");
    ended.bind(1, t);
    while (ended.step() == SQLITE_ROW) {
        if (!names.get(ended.i64(0), p)) {
            return fail(h, "path of a version", err);
        }
        out.ended.emplace_back(p, ended.i64(1));
    }
    Stmt added(h, "SELECT v.path, " VERSION_COLUMNS " FROM versions v WHERE v.first = ?");
    added.bind(1, t);
    int rc;
    while ((rc = added.step()) == SQLITE_ROW) {
        Version v;
        if (!names.get(added.i64(0), v.path)) {
            return fail(h, "path of a version", err);
        }
        read_version(added, 1, v);
        // A record says where its versions begin; later records end them.
        v.ended = KP_INFINITY;
        out.added.push_back(std::move(v));
    }
    if (rc != SQLITE_DONE) {
        return fail(h, "versions of an image", err);
    }
    std::sort(out.roots.begin(), out.roots.end());
    std::sort(out.gaps.begin(), out.gaps.end());
    std::sort(out.ended.begin(), out.ended.end());
    std::sort(out.added.begin(), out.added.end(),
              [](const Version &a, const Version &b) { return a.path < b.path; });
    return true;
}

bool import_image_record(CatalogDb &db, const ImageRecord &r, long long &local_time,
                         std::string &err) {
    sqlite3 *h = db.handle();
    Transaction tx(h);
    if (!tx.begin(err)) {
        return false;
    }
    bool archives = r.header.schedule == SCHED_USER_ARCHIVE;
    long long history = 0, root = 0;
    {
        Stmt s(h, "SELECT id, root FROM histories WHERE client = ? AND archives = ?");
        s.bind(1, r.header.client).bind(2, archives ? 1 : 0);
        if (s.step() == SQLITE_ROW) {
            history = s.i64(0);
            root = s.i64(1);
        }
    }
    if (history == 0) {
        Stmt add(h, "INSERT INTO histories(client, archives, root) VALUES(?, ?, 0)");
        add.bind(1, r.header.client).bind(2, archives ? 1 : 0);
        if (!add.done()) {
            return fail(h, "new history", err);
        }
        history = sqlite3_last_insert_rowid(h);
        Stmt rootrow(h, "INSERT INTO paths(parent, name) VALUES(?, X'')");
        rootrow.bind(1, -history);
        if (!rootrow.done()) {
            return fail(h, "history root", err);
        }
        root = sqlite3_last_insert_rowid(h);
        Stmt set(h, "UPDATE histories SET root = ? WHERE id = ?");
        set.bind(1, root).bind(2, history);
        if (!set.done()) {
            return fail(h, "history root", err);
        }
    }
    Stmt newest(h, "SELECT MAX(backup_time) FROM images WHERE history = ?");
    newest.bind(1, history);
    if (newest.step() == SQLITE_ROW && newest.i64(0) >= r.header.backup_time) {
        err = "the history of " + r.header.client + " already has images at or after " +
              local_time_text(r.header.backup_time);
        return false;
    }
    // Backup times identify images across clients: another client's image
    // of the same second moves this one to the next free second.
    local_time = r.header.backup_time;
    Stmt taken(h, "SELECT 1 FROM images WHERE backup_time = ?");
    for (;;) {
        taken.reset().bind(1, local_time);
        if (taken.step() != SQLITE_ROW) {
            break;
        }
        ++local_time;
    }
    PathIds ids(h, root);
    Stmt end_alive(h, "UPDATE versions SET ended = ? WHERE path = ? AND ended = ?");
    for (const auto &e : r.ended) {
        long long id = ids.get(e.first, false);
        if (id < 0) {
            return fail(h, "path lookup", err);
        }
        if (id > 0 &&
            !end_alive.reset().bind(1, local_time).bind(2, id).bind(3, KP_INFINITY).done()) {
            return fail(h, "ending a version", err);
        }
    }
    Stmt add(h, "INSERT INTO versions VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (const auto &v : r.added) {
        long long id = ids.get(v.path, true);
        if (id <= 0) {
            return fail(h, "new path", err);
        }
        // One alive version per path, whatever the record says.
        if (!end_alive.reset().bind(1, local_time).bind(2, id).bind(3, KP_INFINITY).done()) {
            return fail(h, "ending a version", err);
        }
        bind_new_version(add, id, local_time, v.st);
        if (!add.done()) {
            return fail(h, "new version", err);
        }
    }
    Stmt add_root(h, "INSERT OR IGNORE INTO image_roots VALUES(?, ?)");
    for (const auto &p : r.roots) {
        long long id = ids.get(p, true);
        if (id <= 0 || !add_root.reset().bind(1, local_time).bind(2, id).done()) {
            return fail(h, "image root", err);
        }
    }
    Stmt add_gap(h, "INSERT OR IGNORE INTO image_gaps VALUES(?, ?)");
    for (const auto &p : r.gaps) {
        long long id = ids.get(p, true);
        if (id <= 0 || !add_gap.reset().bind(1, local_time).bind(2, id).done()) {
            return fail(h, "image gap", err);
        }
    }
    const ImageHeader &hd = r.header;
    Stmt img(h, "INSERT INTO images VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    img.bind(1, local_time)
        .bind(2, history)
        .bind(3, hd.expiration)
        .bind(4, hd.files)
        .bind(5, hd.kb)
        .bind(6, hd.schedule)
        .bind(7, hd.policy_type)
        .bind(8, hd.policy)
        .bind(9, hd.client)
        .bind(10, hd.keyword)
        .bind(11, std::string_view(hd.snapshot));
    if (!img.done()) {
        return fail(h, "image", err);
    }
    return tx.commit(err);
}

bool sole_copies(const CatalogDb &db, const std::vector<long long> &times,
                 std::vector<SoleCopy> &out, std::string &err) {
    out.clear();
    sqlite3 *h = db.handle();
    const std::set<long long> gone(times.begin(), times.end());
    // A version's first image holds it: only versions first stored by one
    // of these images can lack another holder.
    std::map<long long, std::vector<long long>> by_history;
    Stmt hist_of(h, "SELECT history FROM images WHERE backup_time = ?");
    for (long long t : gone) {
        hist_of.reset().bind(1, t);
        if (hist_of.step() == SQLITE_ROW) {
            by_history[hist_of.i64(0)].push_back(t);
        }
    }
    Stmt key_of(h, "SELECT client, archives FROM histories WHERE id = ?");
    Stmt first_at(h, "SELECT v.path, " VERSION_COLUMNS " FROM versions v WHERE v.first = ? "
                     "AND v.type <> 1");
    PathNames names(h);
    for (const auto &[history, first_times] : by_history) {
        key_of.reset().bind(1, history);
        if (key_of.step() != SQLITE_ROW) {
            return fail(h, "history of an image", err);
        }
        HistoryKey key{key_of.text(0), key_of.i64(1) != 0};
        std::vector<Version> versions;
        std::vector<long long> ids;
        for (long long t : first_times) {
            first_at.reset().bind(1, t);
            int rc;
            while ((rc = first_at.step()) == SQLITE_ROW) {
                Version v;
                if (!names.get(first_at.i64(0), v.path)) {
                    return fail(h, "path of a version", err);
                }
                read_version(first_at, 1, v);
                v.st.name = v.path.substr(v.path.rfind('/') + 1);
                ids.push_back(first_at.i64(0));
                versions.push_back(std::move(v));
            }
            if (rc != SQLITE_DONE) {
                return fail(h, "versions of an image", err);
            }
        }
        // Held elsewhere, usually nearly all; the few others are then
        // matched with the newest of these images that holds them.
        const std::vector<long long> others = db.newest_holders(key, versions, gone);
        std::vector<Version> alone;
        std::vector<long long> alone_ids;
        for (size_t i = 0; i < versions.size(); ++i) {
            if (others[i] == 0) {
                alone.push_back(std::move(versions[i]));
                alone_ids.push_back(ids[i]);
            }
        }
        const std::vector<long long> holder = db.newest_holders(key, alone);
        for (size_t i = 0; i < alone.size(); ++i) {
            out.push_back({alone_ids[i], std::move(alone[i]), holder[i]});
        }
    }
    return true;
}

bool remove_images(CatalogDb &db, const std::vector<long long> &times,
                   std::vector<long long> &changed, std::string &err) {
    changed.clear();
    std::vector<SoleCopy> sole;
    if (!sole_copies(db, times, sole, err)) {
        return false;
    }
    sqlite3 *h = db.handle();
    Transaction tx(h);
    if (!tx.begin(err) ||
        !exec(h, "CREATE TEMP TABLE IF NOT EXISTS kept_images(t INTEGER PRIMARY KEY)", err)) {
        return false;
    }
    // Versions that only removed images held go whatever their dates: a
    // remaining image dating them would not give their data back.
    Stmt drop_sole(h, "DELETE FROM versions WHERE path = ? AND first = ?");
    for (const auto &c : sole) {
        if (!drop_sole.reset().bind(1, c.path_id).bind(2, c.v.first).done()) {
            return fail(h, "versions of removed images", err);
        }
    }
    std::set<long long> gone(times.begin(), times.end());
    std::set<long long> histories;
    Stmt hist_of(h, "SELECT history FROM images WHERE backup_time = ?");
    for (long long t : gone) {
        hist_of.reset().bind(1, t);
        if (hist_of.step() == SQLITE_ROW) {
            histories.insert(hist_of.i64(0));
        }
    }
    Stmt in_history(h, "SELECT backup_time FROM images WHERE history = ? ORDER BY backup_time");
    Stmt keep(h, "INSERT INTO temp.kept_images VALUES(?)");
    // New first and end of a version on the grid of the images kept.
    const char *const SUBTREE =
        "WITH RECURSIVE sub(id) AS (SELECT root FROM histories WHERE id = ?1 UNION ALL "
        "SELECT p.id FROM paths p JOIN sub ON p.parent = sub.id) ";
    const std::string NEW_FIRST = "(SELECT MIN(t) FROM temp.kept_images WHERE t >= versions.first)";
    const std::string NEW_ENDED =
        "(CASE WHEN versions.ended = ?2 THEN ?2 ELSE COALESCE((SELECT "
        "MIN(t) FROM temp.kept_images WHERE t >= versions.ended), ?2) END)";
    std::string drop_sql = std::string(SUBTREE) + "DELETE FROM versions WHERE path IN sub AND (" +
                           NEW_FIRST + " IS NULL OR " + NEW_FIRST + " >= " + NEW_ENDED + ")";
    std::string move_sql = std::string(SUBTREE) + "UPDATE versions SET first = " + NEW_FIRST +
                           ", ended = " + NEW_ENDED + " WHERE path IN sub";
    Stmt drop(h, drop_sql.c_str()), move(h, move_sql.c_str());
    for (long long hist : histories) {
        if (!exec(h, "DELETE FROM temp.kept_images", err)) {
            return false;
        }
        std::vector<long long> all;
        in_history.reset().bind(1, hist);
        while (in_history.step() == SQLITE_ROW) {
            all.push_back(in_history.i64(0));
        }
        bool after_gone = false;
        for (long long t : all) {
            if (gone.count(t) != 0) {
                after_gone = true;
                continue;
            }
            if (after_gone) {
                changed.push_back(t);
            }
            after_gone = false;
            if (!keep.reset().bind(1, t).done()) {
                return fail(h, "images kept", err);
            }
        }
        if (!drop.reset().bind(1, hist).bind(2, KP_INFINITY).done() ||
            !move.reset().bind(1, hist).bind(2, KP_INFINITY).done()) {
            return fail(h, "versions of removed images", err);
        }
    }
    Stmt del_roots(h, "DELETE FROM image_roots WHERE image = ?");
    Stmt del_gaps(h, "DELETE FROM image_gaps WHERE image = ?");
    Stmt del_image(h, "DELETE FROM images WHERE backup_time = ?");
    Stmt del_records(h, "DELETE FROM image_records WHERE backup_time = ?");
    std::vector<long long> drop_records(gone.begin(), gone.end());
    drop_records.insert(drop_records.end(), changed.begin(), changed.end());
    for (long long t : gone) {
        if (!del_roots.reset().bind(1, t).done() || !del_gaps.reset().bind(1, t).done() ||
            !del_image.reset().bind(1, t).done()) {
            return fail(h, "removing an image", err);
        }
    }
    for (long long t : drop_records) {
        if (!del_records.reset().bind(1, t).done()) {
            return fail(h, "removing a record", err);
        }
    }
    return tx.commit(err);
}

std::map<std::string, long long> known_records(const CatalogDb &db) {
    std::map<std::string, long long> out;
    Stmt s(db.handle(), "SELECT record, backup_time FROM image_records");
    while (s.step() == SQLITE_ROW) {
        out.emplace(s.text(0), s.i64(1));
    }
    return out;
}

bool add_known_record(CatalogDb &db, const std::string &record, long long backup_time,
                      std::string &err) {
    Stmt s(db.handle(), "INSERT OR REPLACE INTO image_records VALUES(?, ?)");
    s.bind(1, record).bind(2, backup_time);
    return s.done() || fail(db.handle(), "record", err);
}

std::vector<std::string> records_of_image(const CatalogDb &db, long long backup_time) {
    std::vector<std::string> out;
    Stmt s(db.handle(), "SELECT record FROM image_records WHERE backup_time = ?");
    s.bind(1, backup_time);
    while (s.step() == SQLITE_ROW) {
        out.push_back(s.text(0));
    }
    return out;
}
