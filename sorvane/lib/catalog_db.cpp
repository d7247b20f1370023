#include "catalog_db.h"
#include "catalog_sql.h"
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
} // namespace

namespace catalog_sql {

std::string db_error(sqlite3 *db, const char *what) {
    return std::string("catalog database: ") + what + ": " + sqlite3_errmsg(db);
}

std::string child_path(const std::string &dir, const std::string &name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}
std::vector<std::string> components(std::string_view path) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos) {
            j = path.size();
        }
        std::string_view c = path.substr(i, j - i);
        if (!c.empty() && c != ".") {
            out.emplace_back(c);
        }
        i = j + 1;
    }
    return out;
}

std::string normal_path(std::string_view path) {
    std::string out;
    for (const auto &c : components(path)) {
        out += "/" + c;
    }
    return out.empty() ? "/" : out;
}

long long history_id(sqlite3 *db, const HistoryKey &h, long long *root) {
    Stmt s(db, "SELECT id, root FROM histories WHERE client = ? AND archives = ?");
    s.bind(1, h.client).bind(2, h.archives ? 1 : 0);
    if (s.step() != SQLITE_ROW) {
        return 0;
    }
    if (root != nullptr) {
        *root = s.i64(1);
    }
    return s.i64(0);
}

} // namespace catalog_sql

using catalog_sql::db_error;

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

bool is_raw_entry(const FileState &st) {
    return st.type == 3 && S_ISBLK(st.mode) && st.size > 0;
}

bool same_version(const FileState &a, const FileState &b) {
    return a.type == b.type && a.size == b.size && a.mtime_ns == b.mtime_ns &&
           a.ctime_ns == b.ctime_ns && a.mode == b.mode && a.uid == b.uid && a.gid == b.gid &&
           a.inode == b.inode;
}

std::string catalog_db_path(const std::string &server_dir) {
    return server_dir + "/catalog.db";
}

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
        if (fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) {
            fchmod(fd, 0600);
        }
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
    while ((rc = s.step()) == SQLITE_ROW) {
        out.push_back(read_image(s));
    }
    if (rc != SQLITE_DONE) {
        err = db_error(db_, "images");
    }
    return out;
}

bool CatalogDb::image_at(long long backup_time, ImageHeader &out) const {
    std::string sql = std::string("SELECT ") + IMAGE_COLUMNS + " FROM images WHERE backup_time = ?";
    Stmt s(db_, sql.c_str());
    s.bind(1, backup_time);
    if (s.step() != SQLITE_ROW) {
        return false;
    }
    out = read_image(s);
    return true;
}

long long CatalogDb::next_backup_time(long long now) const {
    Stmt s(db_, "SELECT MAX(backup_time) FROM images");
    if (s.step() == SQLITE_ROW) {
        long long newest = s.i64(0);
        if (newest >= now) {
            return newest + 1;
        }
    }
    return now;
}
