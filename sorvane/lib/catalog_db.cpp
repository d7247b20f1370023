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

namespace {

// The schema. Paths form one tree per history: the history's "/" is a row
// whose parent is minus the history id. Names are blobs, compared as bytes,
// so that any name survives and children come out in byte order.
const char *const SCHEMA = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS histories(
    id INTEGER PRIMARY KEY, client BLOB NOT NULL, archives INTEGER NOT NULL,
    root INTEGER NOT NULL, UNIQUE(client, archives));
CREATE TABLE IF NOT EXISTS images(
    backup_time INTEGER PRIMARY KEY, history INTEGER NOT NULL, expiration INTEGER NOT NULL,
    files INTEGER NOT NULL, kb INTEGER NOT NULL, schedule INTEGER NOT NULL,
    policy_type INTEGER NOT NULL, policy BLOB NOT NULL, client BLOB NOT NULL,
    keyword BLOB NOT NULL, snapshot TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS image_roots(
    image INTEGER NOT NULL, path INTEGER NOT NULL, PRIMARY KEY(image, path)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS image_gaps(
    image INTEGER NOT NULL, path INTEGER NOT NULL, PRIMARY KEY(image, path)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS paths(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS paths_by_parent ON paths(parent, name);
CREATE TABLE IF NOT EXISTS versions(
    path INTEGER NOT NULL, first INTEGER NOT NULL, ended INTEGER NOT NULL,
    type INTEGER NOT NULL, mode INTEGER NOT NULL, uid INTEGER NOT NULL, gid INTEGER NOT NULL,
    nlink INTEGER NOT NULL, blocks INTEGER NOT NULL, dev INTEGER NOT NULL, ino INTEGER NOT NULL,
    size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL,
    owner BLOB NOT NULL, grp BLOB NOT NULL, PRIMARY KEY(path, first)) WITHOUT ROWID;
INSERT OR IGNORE INTO meta VALUES('schema', '1');
)sql";

std::string db_error(sqlite3 *db, const char *what) {
    return std::string("catalog database: ") + what + ": " + sqlite3_errmsg(db);
}

std::string child_path(const std::string &dir, const std::string &name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

// Components of an absolute path ("/" has none). Empty and "." components
// are dropped.
std::vector<std::string> components(std::string_view path) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        std::string_view c = path.substr(i, j - i);
        if (!c.empty() && c != ".")
            out.emplace_back(c);
        i = j + 1;
    }
    return out;
}

std::string normal_path(std::string_view path) {
    std::string out;
    for (const auto &c : components(path))
        out += "/" + c;
    return out.empty() ? "/" : out;
}

long long history_id(sqlite3 *db, const HistoryKey &h, long long *root) {
    Stmt s(db, "SELECT id, root FROM histories WHERE client = ? AND archives = ?");
    s.bind(1, h.client).bind(2, h.archives ? 1 : 0);
    if (s.step() != SQLITE_ROW)
        return 0;
    if (root != nullptr)
        *root = s.i64(1);
    return s.i64(0);
}

ImageHeader read_image(const Stmt &s) {
    ImageHeader h;
    h.backup_time = s.i64(0);
    char id[32];
    snprintf(id, sizeof id, "%010lld", h.backup_time);
    h.id = id;
    h.expiration = s.i64(1);
    h.files = s.i64(2);
    h.kb = s.i64(3);
    h.schedule = static_cast<int>(s.i64(4));
    h.policy_type = static_cast<int>(s.i64(5));
    h.policy = s.text(6);
    h.client = s.text(7);
    h.keyword = s.text(8);
    h.snapshot = s.text(9);
    return h;
}

const char *const IMAGE_COLUMNS = "backup_time, expiration, files, kb, schedule, policy_type, "
                                  "policy, client, keyword, snapshot";

long long clamp31(long long v) {
    return v >= 0 && v <= INT_MAX ? v : 0;
}

} // namespace

FileState file_state_from_stat(const std::string &name, const struct stat &st, NameCache &names) {
    FileState f;
    f.name = name;
    f.type = listing_type(st.st_mode);
    f.mode = st.st_mode;
    f.uid = st.st_uid;
    f.gid = st.st_gid;
    f.nlink = static_cast<long long>(st.st_nlink);
    f.blocks_kb = static_cast<long long>(st.st_blocks) / 2;
    f.device = static_cast<long long>(st.st_dev);
    f.inode = static_cast<long long>(st.st_ino);
    f.size = S_ISDIR(st.st_mode) ? 0 : static_cast<long long>(st.st_size);
    f.mtime_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    f.ctime_ns = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    f.owner = names.user(st.st_uid);
    f.group = names.group(st.st_gid);
    return f;
}

bool same_version(const FileState &a, const FileState &b) {
    return a.type == b.type && a.size == b.size && a.mtime_ns == b.mtime_ns &&
           a.ctime_ns == b.ctime_ns && a.mode == b.mode && a.uid == b.uid && a.gid == b.gid &&
           a.inode == b.inode;
}

std::string catalog_db_path(const std::string &server_dir) {
    return server_dir + "/catalog.db";
}

// ---------------------------------------------------------------- database

CatalogDb::~CatalogDb() {
    close();
}

void CatalogDb::close() {
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool CatalogDb::open(const std::string &path, bool writable, std::string &err) {
    if (writable) {
        // The file is made here, private, before SQLite opens it: SQLite
        // gives its journal files the mode of the database.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            err = "cannot open the catalog database " + path + ": " + strerror(errno);
            return false;
        }
        struct stat st {};
        if (fstat(fd, &st) == 0 && (st.st_mode & 077) != 0)
            fchmod(fd, 0600);
        ::close(fd);
    }
    int flags = writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
        err = "cannot open the catalog database " + path + ": " +
              (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return false;
    }
    writable_ = writable;
    sqlite3_busy_timeout(db_, 30000);
    if (writable) {
        // WAL: readers never wait for the writer of an image. FULL: a
        // committed image survives a crash of the machine.
        if (!exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", err) ||
            !exec(db_, SCHEMA, err)) {
            sqlite3_close_v2(db_);
            db_ = nullptr;
            return false;
        }
    } else {
        Stmt s(db_, "SELECT value FROM meta WHERE key = 'schema'");
        if (!s.ok() || s.step() != SQLITE_ROW) {
            err = "the catalog database " + path + " cannot be read: " + sqlite3_errmsg(db_);
            sqlite3_close_v2(db_);
            db_ = nullptr;
            return false;
        }
    }
    return true;
}

std::vector<ImageHeader> CatalogDb::images(std::string &err) const {
    std::vector<ImageHeader> out;
    std::string sql = std::string("SELECT ") + IMAGE_COLUMNS + " FROM images ORDER BY backup_time";
    Stmt s(db_, sql.c_str());
    if (!s.ok()) {
        err = db_error(db_, "images");
        return out;
    }
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        out.push_back(read_image(s));
    if (rc != SQLITE_DONE)
        err = db_error(db_, "images");
    return out;
}

bool CatalogDb::image_at(long long backup_time, ImageHeader &out) const {
    std::string sql = std::string("SELECT ") + IMAGE_COLUMNS + " FROM images WHERE backup_time = ?";
    Stmt s(db_, sql.c_str());
    s.bind(1, backup_time);
    if (s.step() != SQLITE_ROW)
        return false;
    out = read_image(s);
    return true;
}

long long CatalogDb::next_backup_time(long long now) const {
    Stmt s(db_, "SELECT MAX(backup_time) FROM images");
    if (s.step() == SQLITE_ROW) {
        long long newest = s.i64(0);
        if (newest >= now)
            return newest + 1;
    }
    return now;
}

// ------------------------------------------------------------------ writer

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
        if (open)
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
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
        if (rc != SQLITE_DONE)
            return fail(err, "path lookup");
        add_path.reset().bind(1, parent).bind(2, name);
        if (add_path.step() != SQLITE_DONE)
            return fail(err, "new path");
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
            if (!child_id(id, c, id, err))
                return false;
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
        if (s.step() != SQLITE_DONE)
            return fail(err, "ending versions");
        ended += sqlite3_changes(db);
        return true;
    }

    bool end_path(long long id, const Version &v, long long &ended, std::string &err) {
        if (v.first == header.backup_time) {
            replace_version.reset().bind(1, id).bind(2, v.first);
            if (replace_version.step() != SQLITE_DONE)
                return fail(err, "replacing a version");
        } else {
            end_version.reset().bind(1, header.backup_time).bind(2, id).bind(3, v.first);
            if (end_version.step() != SQLITE_DONE)
                return fail(err, "ending a version");
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
            if (!end_path(id, old, dummy, err))
                return false;
            // A directory that is no longer one takes its entries with it.
            if (old.st.type == 1 && st.type != 1 && !end_below(id, c.ended, err))
                return false;
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
    if (!exec(db_, "BEGIN IMMEDIATE", err))
        return false;
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
    if (!impl_ || !impl_->path_id(path, id, err))
        return impl_ ? false : (err = "no image begun", false);
    Version old;
    bool failed = false;
    bool have = impl_->alive_version(id, old, err, failed);
    if (failed || !impl_->store(id, st, have, old, counts_, err))
        return false;
    if (st.type == 1) {
        impl_->dir_ids[normal_path(path)] = id;
        impl_->stored_dirs.insert(id);
    }
    impl_->add_root.reset().bind(1, impl_->header.backup_time).bind(2, id);
    return impl_->add_root.step() == SQLITE_DONE || impl_->fail(err, "image root");
}

bool ImageWriter::gone(const std::string &path, std::string &err) {
    if (!impl_)
        return err = "no image begun", false;
    long long id = 0;
    if (!impl_->path_id(path, id, err))
        return false;
    Version old;
    bool failed = false;
    if (impl_->alive_version(id, old, err, failed) && !impl_->end_path(id, old, counts_.ended, err))
        return false;
    if (failed || !impl_->end_below(id, counts_.ended, err))
        return false;
    impl_->add_root.reset().bind(1, impl_->header.backup_time).bind(2, id);
    return impl_->add_root.step() == SQLITE_DONE || impl_->fail(err, "image root");
}

bool ImageWriter::ancestor(const std::string &path, const FileState &st, std::string &err) {
    if (!impl_)
        return err = "no image begun", false;
    long long id = 0;
    if (!impl_->path_id(path, id, err))
        return false;
    if (st.type == 1)
        impl_->dir_ids[normal_path(path)] = id;
    Version old;
    bool failed = false;
    if (impl_->alive_version(id, old, err, failed))
        return true;
    return !failed && impl_->insert_version(id, st, err);
}

bool ImageWriter::directory(const std::string &dir, const std::vector<FileState> &stored,
                            const std::vector<std::string> &kept, std::string &err) {
    if (!impl_)
        return err = "no image begun", false;
    long long id = 0;
    std::string d = normal_path(dir);
    if (!impl_->path_id(d, id, err))
        return false;
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
        if (k.have)
            read_version(c, 2, k.v);
        known.emplace(c.text(1), std::move(k));
    }
    if (rc != SQLITE_DONE)
        return impl_->fail(err, "directory entries");
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
        if (!impl_->store(cid, st, have, old, counts_, err))
            return false;
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
        if (k.have && !impl_->end_path(k.id, k.v, counts_.ended, err))
            return false;
        if (k.have && k.v.st.type == 1 && !impl_->end_below(k.id, counts_.ended, err))
            return false;
    }
    return true;
}

bool ImageWriter::commit(std::string &err) {
    if (!impl_ || !impl_->open)
        return err = "no image begun", false;
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
    if (s.step() != SQLITE_DONE)
        return impl_->fail(err, "image");
    // A stored directory whose entries were not read (unreadable) is a gap
    // with everything below it.
    for (long long d : impl_->stored_dirs)
        if (impl_->read_dirs.count(d) == 0)
            impl_->gaps.insert(d);
    Stmt gap(impl_->db, "INSERT OR IGNORE INTO image_gaps VALUES(?, ?)");
    for (long long g : impl_->gaps) {
        gap.reset().bind(1, h.backup_time).bind(2, g);
        if (gap.step() != SQLITE_DONE)
            return impl_->fail(err, "image gaps");
    }
    if (!exec(impl_->db, "COMMIT", err))
        return false;
    impl_->open = false;
    return true;
}

// ----------------------------------------------------------------- queries

namespace {

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
        if (s.step() != SQLITE_ROW)
            return {};
        chain.push_back(s.i64(0));
    }
    return chain;
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
        if (t < q.start || t > q.end)
            continue;
        if (q.policy_type >= 0 && s.i64(2) != q.policy_type)
            continue;
        if (!keyword_matches(q.keyword, s.text(3)))
            continue;
        ImageInfo info;
        info.time = t;
        info.schedule = static_cast<int>(s.i64(1));
        roots.reset().bind(1, t);
        while (roots.step() == SQLITE_ROW) {
            long long id = roots.i64(0);
            info.roots.insert(id);
            for (;;) {
                parent.reset().bind(1, id);
                if (parent.step() != SQLITE_ROW || parent.i64(0) <= 0)
                    break;
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
    int schedule_of(long long t) const {
        auto it = schedules.find(t);
        return it == schedules.end() ? 0 : it->second;
    }

    // Image i covered a path whose ids from the root are chain, or holds
    // something below it.
    bool touches(const ImageInfo &i, const std::vector<long long> &chain) const {
        for (long long id : chain)
            if (i.roots.count(id) != 0)
                return true;
        return i.root_ancestors.count(chain.back()) != 0;
    }

    bool held(const Version &v, const std::vector<long long> &chain) const {
        for (const auto &i : images)
            if (v.alive_at(i.time) && touches(i, chain))
                return true;
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
                if (true_time < 0 && !held_only)
                    dir_lines.emplace(v.first, &v);
                continue;
            }
            if (!held_only || held(v, chain))
                emit(path, v, v.first);
        }
        if (!is_dir)
            return;
        // A directory line for each image that touched it, dated by that
        // image, with the directory as it was then.
        for (const auto &i : images) {
            if (true_time >= 0 && i.time != true_time)
                continue;
            if (!touches(i, chain) && true_time < 0)
                continue;
            for (const auto &v : vs)
                if (v.st.type == 1 && v.alive_at(i.time))
                    dir_lines.emplace(i.time, &v);
        }
        for (const auto &[t, v] : dir_lines)
            emit(path, *v, t);
        if (q_.max_level >= 0 && level >= q_.max_level)
            return;
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
            if (kids.empty() || kids.back().id != id)
                kids.push_back({id, children_.text(1), {}});
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
            if (failed)
                return;
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
    if (history == 0)
        return 0;
    Lister l(db_, q, sink);
    if (!load_images(db_, history, q, l.images, l.schedules, err))
        return -1;
    if (l.images.empty())
        return 0;
    std::vector<long long> chain = path_chain(db_, root, q.dir);
    if (chain.empty())
        return 0;
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
    long long root = 0;
    if (history_id(db_, h, &root) == 0)
        return out;
    std::vector<long long> chain = path_chain(db_, root, path);
    if (chain.empty())
        return out;
    long long lo = true_image ? end : start, hi = end;
    Stmt versions(db_, "SELECT " VERSION_COLUMNS " FROM versions v WHERE v.path = ? AND v.first "
                       "<= ? AND v.ended > ? ORDER BY v.first DESC LIMIT 1");
    Stmt children(db_, "SELECT p.id, p.name, " VERSION_COLUMNS " FROM paths p JOIN versions v ON "
                       "v.path = p.id WHERE p.parent = ? AND v.first <= ? AND v.ended > ? "
                       "ORDER BY p.name, v.first DESC");
    versions.bind(1, chain.back()).bind(2, hi).bind(3, lo);
    if (versions.step() != SQLITE_ROW)
        return out;
    Version top;
    read_version(versions, 0, top);
    top.path = normal_path(path);
    top.st.name = top.path == "/" ? "" : top.path.substr(top.path.rfind('/') + 1);
    out.push_back(top);
    // Each directory's entries, newest version alive in the range first:
    // the first row of each path is the one to bring back.
    std::vector<std::pair<long long, size_t>> todo; // (path id, index in out)
    if (top.st.type == 1)
        todo.emplace_back(chain.back(), 0);
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
            if (cid == last)
                continue;
            last = cid;
            Version v;
            read_version(children, 2, v);
            v.st.name = children.text(1);
            v.path = child_path(dir, v.st.name);
            out.push_back(std::move(v));
            if (out.back().st.type == 1)
                subdirs.emplace_back(cid, out.size() - 1);
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

bool CatalogDb::version_before(const HistoryKey &h, const std::string &path, long long t,
                               Version &out) const {
    long long root = 0;
    if (history_id(db_, h, &root) == 0)
        return false;
    std::vector<long long> chain = path_chain(db_, root, path);
    if (chain.empty())
        return false;
    Stmt s(db_, "SELECT " VERSION_COLUMNS " FROM versions v WHERE v.path = ? AND v.first <= ? "
                "ORDER BY v.first DESC LIMIT 1");
    s.bind(1, chain.back()).bind(2, t);
    if (s.step() != SQLITE_ROW)
        return false;
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
    if (history == 0)
        return out;
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
        if (absent.count(held.time) != 0)
            continue;
        roots.reset().bind(1, held.time);
        while (roots.step() == SQLITE_ROW)
            held.roots.insert(roots.i64(0));
        gaps.reset().bind(1, held.time);
        if (gaps.ok())
            while (gaps.step() == SQLITE_ROW)
                held.gaps.insert(gaps.i64(0));
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
                        if (st == 0 && img.roots.count(id) != 0)
                            st = 1;
                        if (st == 1 && img.gaps.count(id) != 0)
                            st = 2;
                    }
                    p.state.push_back(st);
                }
            }
            it = parents.emplace(dir, std::move(p)).first;
        }
        const Parent &p = it->second;
        if (p.id == 0)
            continue;
        long long id = p.id;
        if (v.path != "/") {
            child.reset().bind(1, p.id).bind(2, v.st.name);
            if (child.step() != SQLITE_ROW)
                continue;
            id = child.i64(0);
        }
        // The newest image at whose time the version was alive, whose
        // request covered the path, and that stored it.
        for (size_t k = 0; k < images.size(); ++k) {
            const Held &img = images[k];
            if (!v.alive_at(img.time))
                continue;
            char st = p.state[k];
            if (v.path == "/" || st == 0)
                st = img.roots.count(id) != 0 ? 1 : st;
            if (st == 1 && img.gaps.count(id) != 0)
                st = 2;
            if (st == 1) {
                out[i] = img.time;
                break;
            }
        }
    }
    return out;
}
