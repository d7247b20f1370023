// The catalog database of a server: what every image holds, as versions of
// paths, in one SQLite database (WAL mode) in the server's directory. The
// backup programs write it, one image per transaction, so that a killed
// program or a full disk never leaves half an image; the listing programs
// and the restore read it and never call restic.
//
// Histories. Images are grouped in histories: one per client and kind
// (backups, archives). Within a history every path has a list of versions;
// a version is one state of the path (type, size, times, mode, owner,
// inode) and is stored once, however many images hold it:
//   first  the backup time of the image that first stored it;
//   ended  the backup time of the image that found the path changed or
//          gone (KP_INFINITY while the version is alive).
// A version is alive at time t when first <= t < ended. Only an image whose
// request covered the path (the path itself, or a requested directory
// above it) can end its version: a backup of d/a says nothing of d/b.
// Ancestors of a request path are recorded only when they have no alive
// version, so that every listed directory has attributes.
//
// Images also record the paths their request covered (roots), which says
// which directories each image touched: an image touched directory X when
// one of its roots is X or lies below X, or when X lies below one of its
// roots and was alive at the image's time.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalog.h"

struct sqlite3;
struct sqlite3_stmt;

// The state of one path as a backup found and stored it.
struct FileState {
    std::string name; // base name (no "/"); "" for "/"
    int type = 0;     // listing type: 0 file, 1 directory, 2 symbolic link, 3 other
    unsigned mode = 0;
    long long uid = 0, gid = 0, nlink = 1;
    long long blocks_kb = 0; // kilobytes allocated
    long long device = -1;   // -1 unknown
    long long inode = 0;     // 0 unknown
    long long size = 0;
    long long mtime_ns = 0; // nanoseconds since the epoch
    long long ctime_ns = 0;
    std::string owner, group; // names as listed (at most 9 bytes, no blank)
};

// Fills a FileState from lstat; names come from the cache. device and inode
// are kept whole here (the listing clamps them when printing).
class NameCache;
FileState file_state_from_stat(const std::string &name, const struct stat &st, NameCache &names);

// Two states are the same version when type, size, mtime, ctime, mode,
// owner (uid, gid) and inode agree.
bool same_version(const FileState &a, const FileState &b);

// One stored version of a path.
struct Version {
    std::string path; // absolute, no trailing "/" ("/" for the root)
    long long first = 0;
    long long ended = KP_INFINITY;
    FileState st; // st.name is the base name
    bool alive_at(long long t) const { return first <= t && t < ended; }
};

// Which images a listing or a restore considers.
struct HistoryKey {
    std::string client;
    bool archives = false;
};

class CatalogDb;

// Writes one image. Everything between begin and commit is one transaction;
// an object destroyed without commit rolls back and leaves no trace.
// Usage, for one backup:
//   begin(header)                       the image (backup time unique)
//   root(path, st) for each request path that exists, gone(path) for one
//                                       that does not (ends its versions)
//   ancestor(path, st) for each directory above a root
//   directory(dir, stored, kept) for every covered directory that was read
//   commit()
class ImageWriter {
  public:
    ImageWriter();
    ~ImageWriter();
    ImageWriter(const ImageWriter &) = delete;
    ImageWriter &operator=(const ImageWriter &) = delete;

    // Counts of what this image changed in the history.
    struct Counts {
        long long added = 0;     // paths without an alive version before
        long long changed = 0;   // alive version ended and replaced
        long long unchanged = 0; // alive version kept
        long long ended = 0;     // versions ended because their path is gone
    };

    // A request path (absolute, no trailing "/") as the backup stored it:
    // compared with its alive version, recorded as a root of the image.
    bool root(const std::string &path, const FileState &st, std::string &err);
    // A request path that does not exist: its alive versions (and those of
    // everything below it) end at this image; still recorded as a root.
    bool gone(const std::string &path, std::string &err);
    // A directory above a root: recorded only when it has no alive version.
    bool ancestor(const std::string &path, const FileState &st, std::string &err);
    // The entries of covered directory dir (absolute, no trailing "/") that
    // this image stored (stored), and the names of entries that exist but
    // were not stored (kept: unreadable, changed while read...). Every other
    // child with an alive version is gone: it and everything below it end.
    // dir itself must have been given by root() or an earlier directory().
    bool directory(const std::string &dir, const std::vector<FileState> &stored,
                   const std::vector<std::string> &kept, std::string &err);
    // Writes the image row (files and kb of the header as given) and
    // commits. False with err (the transaction is rolled back).
    bool commit(std::string &err);

    const Counts &counts() const { return counts_; }

  private:
    friend class CatalogDb;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    Counts counts_;
};

// Lines of a listing, in path order (a directory's line before its
// entries; a directory's lines newest first).
using ListingSink = std::function<void(const ListingLine &)>;

struct ListingQuery {
    HistoryKey history;
    std::string dir;    // absolute; a file's path lists that file
    int max_level = -1; // levels below dir (its entries are level 1); -1 no limit
    long long start = 0, end = KP_INFINITY;
    bool true_image = false;
    // Image filter beyond the history: policy type (-1 any), keyword phrase
    // ("" any; as image_select's keyword_matches).
    int policy_type = -1;
    std::string keyword;
};

class CatalogDb {
  public:
    CatalogDb() = default;
    ~CatalogDb();
    CatalogDb(const CatalogDb &) = delete;
    CatalogDb &operator=(const CatalogDb &) = delete;

    // Opens (creating when writable and missing) the database file, mode
    // 0600. Read-only opens never wait for a writer (WAL). False with err.
    bool open(const std::string &path, bool writable, std::string &err);
    bool is_open() const { return db_ != nullptr; }
    // Closes the database. A connection must not cross a fork: a program
    // closes it before it starts its job, and the job opens its own.
    void close();

    // Every image, oldest first.
    std::vector<ImageHeader> images(std::string &err) const;
    // The image with this backup time; false when there is none.
    bool image_at(long long backup_time, ImageHeader &out) const;
    // A backup time for a new image: now, or one after the newest image.
    long long next_backup_time(long long now) const;

    // Starts an image (h.backup_time set by the caller, unique). The
    // history is (h.client, h.schedule == SCHED_USER_ARCHIVE).
    bool begin_image(const ImageHeader &h, ImageWriter &w, std::string &err);

    // kplist: without true_image, every version alive at some moment of
    // [start, end] once, dated by the image that first stored it, plus a
    // directory line for each image of the range that touched the
    // directory; with true_image, the versions alive at the newest image
    // time of the range, directories dated by that image. Returns the
    // number of lines given to sink; -1 with err on a database failure.
    long long list(const ListingQuery &q, const ListingSink &sink, std::string &err) const;

    // Restore: the versions of path and (for a directory) of everything
    // below it to bring back. Without true_image, each path's newest
    // version alive at some moment of [start, end]; with true_image, the
    // versions alive at end. Parents come before their entries. Empty when
    // nothing matches.
    std::vector<Version> restore_set(const HistoryKey &h, const std::string &path, long long start,
                                     long long end, bool true_image, std::string &err) const;
    // The newest version of path stored at or before t (alive or not);
    // false when there is none. For recreating missing parents.
    bool version_before(const HistoryKey &h, const std::string &path, long long t,
                        Version &out) const;

    // For each version, the newest image that holds it: alive at its time,
    // covered by its request, and stored by it (an image does not hold what
    // it could not read, though the version stays alive). Any image that
    // holds a version gives back the same content, and the newest ones hold
    // most of what a restore needs, so a restore asks few of them. 0 when
    // no image holds it: a version's first image always does, but once
    // images are removed, a version can be dated by one whose request did
    // not cover it, and its snapshot must not be asked for the data. The
    // images at the times in absent are not considered.
    std::vector<long long> newest_holders(const HistoryKey &h, const std::vector<Version> &versions,
                                          const std::set<long long> &absent = {}) const;

    // The raw handle, for tests that inspect the schema.
    sqlite3 *handle() const { return db_; }

  private:
    friend class ImageWriter;
    sqlite3 *db_ = nullptr;
    bool writable_ = false;
};

// The catalog database of a server directory: DIR/catalog.db.
std::string catalog_db_path(const std::string &server_dir);
