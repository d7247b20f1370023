// Small RAII helpers over SQLite shared by the catalog database's code: a
// prepared statement finalized with its object, and running plain SQL.
#pragma once

#include <sqlite3.h>
#include <string>
#include <string_view>

#include "catalog_db.h"

// A prepared statement, finalized with the object.
class Stmt {
  public:
    Stmt(sqlite3 *db, const char *sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK) {
            s_ = nullptr;
        }
    }
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt(const Stmt &) = delete;
    Stmt &operator=(const Stmt &) = delete;
    bool ok() const { return s_ != nullptr; }
    Stmt &reset() {
        if (s_ != nullptr) {
            sqlite3_reset(s_);
            sqlite3_clear_bindings(s_);
        }
        return *this;
    }
    Stmt &bind(int i, long long v) {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    Stmt &bind(int i, std::string_view v) {
        sqlite3_bind_blob(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return s_ == nullptr ? SQLITE_MISUSE : sqlite3_step(s_); }
    bool done() { return step() == SQLITE_DONE; }
    long long i64(int c) const { return sqlite3_column_int64(s_, c); }
    bool null(int c) const { return sqlite3_column_type(s_, c) == SQLITE_NULL; }
    std::string text(int c) const {
        const void *p = sqlite3_column_blob(s_, c);
        int n = sqlite3_column_bytes(s_, c);
        return p == nullptr ? std::string() : std::string(static_cast<const char *>(p), n);
    }

  private:
    sqlite3_stmt *s_ = nullptr;
};

// Runs sql; false with err ("catalog database: ...") when it fails.
inline bool exec(sqlite3 *db, const char *sql, std::string &err) {
    char *msg = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) == SQLITE_OK) {
        return true;
    }
    err = std::string("catalog database: ") + (msg != nullptr ? msg : sqlite3_errmsg(db));
    sqlite3_free(msg);
    return false;
}

// Binds an alive version of path id, first stored at first, to an
// "INSERT INTO versions VALUES(16 columns)" statement.
inline Stmt &bind_new_version(Stmt &add, long long id, long long first, const FileState &st) {
    return add.reset()
        .bind(1, id)
        .bind(2, first)
        .bind(3, KP_INFINITY)
        .bind(4, st.type)
        .bind(5, static_cast<long long>(st.mode))
        .bind(6, st.uid)
        .bind(7, st.gid)
        .bind(8, st.nlink)
        .bind(9, st.blocks_kb)
        .bind(10, st.device)
        .bind(11, st.inode)
        .bind(12, st.size)
        .bind(13, st.mtime_ns)
        .bind(14, st.ctime_ns)
        .bind(15, st.owner)
        .bind(16, st.group);
}

// The columns of a version, in the order read_version reads them.
#define VERSION_COLUMNS                                                                            \
    "v.first, v.ended, v.type, v.mode, v.uid, v.gid, v.nlink, v.blocks, v.dev, v.ino, v.size, "    \
    "v.mtime_ns, v.ctime_ns, v.owner, v.grp"

// Reads the version columns starting at column c.
inline void read_version(const Stmt &s, int c, Version &v) {
    v.first = s.i64(c);
    v.ended = s.i64(c + 1);
    FileState &st = v.st;
    st.type = static_cast<int>(s.i64(c + 2));
    st.mode = static_cast<unsigned>(s.i64(c + 3));
    st.uid = s.i64(c + 4);
    st.gid = s.i64(c + 5);
    st.nlink = s.i64(c + 6);
    st.blocks_kb = s.i64(c + 7);
    st.device = s.i64(c + 8);
    st.inode = s.i64(c + 9);
    st.size = s.i64(c + 10);
    st.mtime_ns = s.i64(c + 11);
    st.ctime_ns = s.i64(c + 12);
    st.owner = s.text(c + 13);
    st.group = s.text(c + 14);
}
