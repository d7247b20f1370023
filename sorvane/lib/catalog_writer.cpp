// The image writer: one image of a backup written into the catalog in one
// transaction.
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

struct ImageWriter::Impl {
    sqlite3 *db = nullptr;
    ImageHeader header;
    long long history = 0;
    long long root = 0; // path id of the history's "/"
    bool open = false;  // inside the transaction
    std::unordered_map<std::string, long long> dir_ids;
    // Directories this image stored, those whose entries it read, and the
    // paths it covered but did not store: what it does not hold although
    // their versions stay alive.
    std::unordered_set<long long> stored_dirs, read_dirs, gaps;
    Stmt find_child, add_path, alive, add_version, end_version, replace_version, children, add_root;

    explicit Impl(sqlite3 *d)
        : db(d), find_child(d, "SELECT id FROM paths WHERE parent = ? AND name = ?"),
          add_path(d, "INSERT INTO paths(parent, name) VALUES(?, ?)"),
          alive(d, "SELECT " VERSION_COLUMNS " FROM versions v WHERE v.path = ? AND v.ended = ?"),
          add_version(d, "INSERT INTO versions VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                         "?, ?)"),
          end_version(d, "UPDATE versions SET ended = ? WHERE path = ? AND first = ?"),
          replace_version(d, "DELETE FROM versions WHERE path = ? AND first = ?"),
          children(d, "SELECT p.id, p.name, " VERSION_COLUMNS " FROM paths p LEFT JOIN versions v "
                      "ON v.path = p.id AND v.ended = ? WHERE p.parent = ?"),
          add_root(d, "INSERT OR IGNORE INTO image_roots VALUES(?, ?)") {}

    ~Impl() {
        if (open) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }

    bool fail(std::string &err, const char *what) {
        err = db_error(db, what);
        return false;
    }

    // The id of name below parent, created when missing.
    bool child_id(long long parent, const std::string &name, long long &id, std::string &err) {
        find_child.reset().bind(1, parent).bind(2, name);
        int rc = find_child.step();
        if (rc == SQLITE_ROW) {
            id = find_child.i64(0);
            return true;
        }
        if (rc != SQLITE_DONE) {
            return fail(err, "path lookup");
        }
        add_path.reset().bind(1, parent).bind(2, name);
        if (add_path.step() != SQLITE_DONE) {
            return fail(err, "new path");
        }
        id = sqlite3_last_insert_rowid(db);
        return true;
    }

    bool path_id(const std::string &path, long long &id, std::string &err) {
        std::string p = normal_path(path);
        auto it = dir_ids.find(p);
        if (it != dir_ids.end()) {
            id = it->second;
            return true;
        }
        id = root;
        std::string sofar;
        for (const auto &c : components(p)) {
            sofar += "/" + c;
            auto hit = dir_ids.find(sofar);
            if (hit != dir_ids.end()) {
                id = hit->second;
                continue;
            }
            if (!child_id(id, c, id, err)) {
                return false;
            }
        }
        return true;
    }

    // The alive version of a path; false when there is none.
    bool alive_version(long long id, Version &v, std::string &err, bool &failed) {
        failed = false;
        alive.reset().bind(1, id).bind(2, KP_INFINITY);
        int rc = alive.step();
        if (rc == SQLITE_ROW) {
            read_version(alive, 0, v);
            return true;
        }
        if (rc != SQLITE_DONE) {
            failed = true;
            fail(err, "version lookup");
        }
        return false;
    }

    bool insert_version(long long id, const FileState &st, std::string &err) {
        bind_new_version(add_version, id, header.backup_time, st);
        return add_version.step() == SQLITE_DONE || fail(err, "new version");
    }

    // Ends the alive versions of everything below path id (not id itself).
    bool end_below(long long id, long long &ended, std::string &err) {
        Stmt s(db, "WITH RECURSIVE sub(id) AS (SELECT id FROM paths WHERE parent = ?1 "
                   "UNION ALL SELECT p.id FROM paths p JOIN sub ON p.parent = sub.id) "
                   "UPDATE versions SET ended = ?2 WHERE ended = ?3 AND path IN sub");
        s.bind(1, id).bind(2, header.backup_time).bind(3, KP_INFINITY);
        if (s.step() != SQLITE_DONE) {
            return fail(err, "ending versions");
        }
        ended += sqlite3_changes(db);
        return true;
    }

    bool end_path(long long id, const Version &v, long long &ended, std::string &err) {
        if (v.first == header.backup_time) {
            replace_version.reset().bind(1, id).bind(2, v.first);
            if (replace_version.step() != SQLITE_DONE) {
                return fail(err, "replacing a version");
            }
        } else {
            end_version.reset().bind(1, header.backup_time).bind(2, id).bind(3, v.first);
            if (end_version.step() != SQLITE_DONE) {
                return fail(err, "ending a version");
            }
        }
        ++ended;
        return true;
    }

    // Records st as the state of path id in this image, given its alive
    // version (have_old).
    bool store(long long id, const FileState &st, bool have_old, const Version &old, Counts &c,
               std::string &err) {
        if (have_old && same_version(old.st, st)) {
            ++c.unchanged;
            return true;
        }
        if (have_old) {
            long long dummy = 0;
            if (!end_path(id, old, dummy, err)) {
                return false;
            }
            // A directory that is no longer one takes its entries with it.
            if (old.st.type == 1 && st.type != 1 && !end_below(id, c.ended, err)) {
                return false;
            }
            ++c.changed;
        } else {
            ++c.added;
        }
        return insert_version(id, st, err);
    }
};

ImageWriter::ImageWriter() = default;
ImageWriter::~ImageWriter() = default;

bool CatalogDb::begin_image(const ImageHeader &h, ImageWriter &w, std::string &err) {
    if (!writable_) {
        err = "the catalog database is open for reading only";
        return false;
    }
    auto impl = std::make_unique<ImageWriter::Impl>(db_);
    impl->header = h;
    if (!exec(db_, "BEGIN IMMEDIATE", err)) {
        return false;
    }
    impl->open = true;
    HistoryKey key{h.client, h.schedule == SCHED_USER_ARCHIVE};
    impl->history = history_id(db_, key, &impl->root);
    if (impl->history == 0) {
        Stmt add(db_, "INSERT INTO histories(client, archives, root) VALUES(?, ?, 0)");
        add.bind(1, key.client).bind(2, key.archives ? 1 : 0);
        if (add.step() != SQLITE_DONE) {
            err = db_error(db_, "new history");
            return false;
        }
        impl->history = sqlite3_last_insert_rowid(db_);
        Stmt root(db_, "INSERT INTO paths(parent, name) VALUES(?, X'')");
        root.bind(1, -impl->history);
        if (root.step() != SQLITE_DONE) {
            err = db_error(db_, "history root");
            return false;
        }
        impl->root = sqlite3_last_insert_rowid(db_);
        Stmt set(db_, "UPDATE histories SET root = ? WHERE id = ?");
        set.bind(1, impl->root).bind(2, impl->history);
        if (set.step() != SQLITE_DONE) {
            err = db_error(db_, "history root");
            return false;
        }
    }
    impl->dir_ids["/"] = impl->root;
    w.impl_ = std::move(impl);
    w.counts_ = {};
    return true;
}

bool ImageWriter::root(const std::string &path, const FileState &st, std::string &err) {
    long long id = 0;
    if (!impl_ || !impl_->path_id(path, id, err)) {
        return impl_ ? false : (err = "no image begun", false);
    }
    Version old;
    bool failed = false;
    bool have = impl_->alive_version(id, old, err, failed);
    if (failed || !impl_->store(id, st, have, old, counts_, err)) {
        return false;
    }
    if (st.type == 1) {
        impl_->dir_ids[normal_path(path)] = id;
        impl_->stored_dirs.insert(id);
    }
    impl_->add_root.reset().bind(1, impl_->header.backup_time).bind(2, id);
    return impl_->add_root.step() == SQLITE_DONE || impl_->fail(err, "image root");
}

bool ImageWriter::gone(const std::string &path, std::string &err) {
    if (!impl_) {
        return err = "no image begun", false;
    }
    long long id = 0;
    if (!impl_->path_id(path, id, err)) {
        return false;
    }
    Version old;
    bool failed = false;
    if (impl_->alive_version(id, old, err, failed) &&
        !impl_->end_path(id, old, counts_.ended, err)) {
        return false;
    }
    if (failed || !impl_->end_below(id, counts_.ended, err)) {
        return false;
    }
    impl_->add_root.reset().bind(1, impl_->header.backup_time).bind(2, id);
    return impl_->add_root.step() == SQLITE_DONE || impl_->fail(err, "image root");
}

bool ImageWriter::ancestor(const std::string &path, const FileState &st, std::string &err) {
    if (!impl_) {
        return err = "no image begun", false;
    }
    long long id = 0;
    if (!impl_->path_id(path, id, err)) {
        return false;
    }
    if (st.type == 1) {
        impl_->dir_ids[normal_path(path)] = id;
    }
    Version old;
    bool failed = false;
    if (impl_->alive_version(id, old, err, failed)) {
        return true;
    }
    return !failed && impl_->insert_version(id, st, err);
}

bool ImageWriter::directory(const std::string &dir, const std::vector<FileState> &stored,
                            const std::vector<std::string> &kept, std::string &err) {
    if (!impl_) {
        return err = "no image begun", false;
    }
    long long id = 0;
    std::string d = normal_path(dir);
    if (!impl_->path_id(d, id, err)) {
        return false;
    }
    struct Known {
        long long id;
        bool have;
        Version v;
    };
    std::unordered_map<std::string, Known> known;
    Stmt &c = impl_->children;
    c.reset().bind(1, KP_INFINITY).bind(2, id);
    int rc;
    while ((rc = c.step()) == SQLITE_ROW) {
        Known k{c.i64(0), !c.null(2), {}};
        if (k.have) {
            read_version(c, 2, k.v);
        }
        known.emplace(c.text(1), std::move(k));
    }
    if (rc != SQLITE_DONE) {
        return impl_->fail(err, "directory entries");
    }
    for (const auto &st : stored) {
        auto it = known.find(st.name);
        long long cid = 0;
        bool have = false;
        Version old;
        if (it != known.end()) {
            cid = it->second.id;
            have = it->second.have;
            old = it->second.v;
            known.erase(it);
        } else if (!impl_->child_id(id, st.name, cid, err)) {
            return false;
        }
        if (!impl_->store(cid, st, have, old, counts_, err)) {
            return false;
        }
        if (st.type == 1) {
            impl_->dir_ids[child_path(d, st.name)] = cid;
            impl_->stored_dirs.insert(cid);
        }
    }
    impl_->read_dirs.insert(id);
    for (const auto &k : kept) {
        auto it = known.find(k);
        if (it != known.end()) {
            impl_->gaps.insert(it->second.id);
            known.erase(it);
        }
    }
    // What is left was not found: gone, with everything below it.
    for (auto &[name, k] : known) {
        if (k.have && !impl_->end_path(k.id, k.v, counts_.ended, err)) {
            return false;
        }
        if (k.have && k.v.st.type == 1 && !impl_->end_below(k.id, counts_.ended, err)) {
            return false;
        }
    }
    return true;
}

bool ImageWriter::commit(std::string &err) {
    if (!impl_ || !impl_->open) {
        return err = "no image begun", false;
    }
    const ImageHeader &h = impl_->header;
    Stmt s(impl_->db, "INSERT INTO images VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, h.backup_time)
        .bind(2, impl_->history)
        .bind(3, h.expiration)
        .bind(4, h.files)
        .bind(5, h.kb)
        .bind(6, h.schedule)
        .bind(7, h.policy_type)
        .bind(8, h.policy)
        .bind(9, h.client)
        .bind(10, h.keyword)
        .bind(11, std::string_view(h.snapshot));
    if (s.step() != SQLITE_DONE) {
        return impl_->fail(err, "image");
    }
    // A stored directory whose entries were not read (unreadable) is a gap
    // with everything below it.
    for (long long d : impl_->stored_dirs) {
        if (impl_->read_dirs.count(d) == 0) {
            impl_->gaps.insert(d);
        }
    }
    Stmt gap(impl_->db, "INSERT OR IGNORE INTO image_gaps VALUES(?, ?)");
    for (long long g : impl_->gaps) {
        gap.reset().bind(1, h.backup_time).bind(2, g);
        if (gap.step() != SQLITE_DONE) {
            return impl_->fail(err, "image gaps");
        }
    }
    if (!exec(impl_->db, "COMMIT", err)) {
        return false;
    }
    impl_->open = false;
    return true;
}
