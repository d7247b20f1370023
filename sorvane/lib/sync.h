// The repository is the one truth: every image's catalog record is stored
// in the repository as a small snapshot of its own, tagged
// "sorvane-record", "client=CLIENT" (percent-encoded), "image=TIME" and
// "sched=N". The record (image_record.h) is the file
// TIME-backup.rec or TIME-archive.rec of the host's records directory
// (DIR/records/CLIENT/), which each record snapshot stores whole: the
// newest snapshot of a client holds all its records, so a sync reads any
// number of new records with one "restic restore". A sync
// brings the server's catalog database (a cache of those records) up to
// date: it lists the record snapshots (one restic call; nothing more when
// nothing changed), imports the new ones of every client, removes the
// images whose records are gone from the repository (expired by another
// host) and stores the records of this host's images that have none yet
// (a backup whose record could not be stored).
#pragma once

#include <string>
#include <vector>

#include "catalog_db.h"
#include "kpserver.h"
#include "progress_log.h"

constexpr const char *RECORD_TAG = "sorvane-record";

struct SyncReport {
    int imported = 0, removed = 0, stored = 0, refused = 0;
    int restic_calls = 0;
    std::vector<std::string> notes; // one line per record refused or image removed
};

// Stores the record of image backup_time (already in db) in the
// repository and remembers it. False with err.
bool store_image_record(const KpServer &server, CatalogDb &db, long long backup_time,
                        std::string &err, int *restic_calls = nullptr);

// After a backup wrote image backup_time: stores its record and logs what
// happened. A record that cannot be stored leaves the image as it is; the
// next sync stores it.
void store_record_after_backup(const KpServer &server, CatalogDb &db, long long backup_time,
                               ProgressLog &log);

// Brings db (open for writing, the server's lock held) up to date. Returns
// 0, or the status of a repository that cannot be read (err says why).
int sync_catalog(const KpServer &server, CatalogDb &db, SyncReport &report, std::string &err);

// Seconds a listing trusts the catalog cache before it syncs:
// CATALOG_SYNC_SECONDS of kp.conf, default 60; 0 syncs every time, a
// negative value never.
long long catalog_sync_seconds();

// For the listing programs: syncs the server's catalog when the last sync
// (or attempt) is older than catalog_sync_seconds(), when the password can
// be read and the catalog written, and no other program holds the lock.
// Quiet: a listing answers from the cache whatever happens here.
void refresh_catalog_cache(const KpServer &server);

// Removes a directory and everything below it (what the programs made).
void remove_directory_tree(const std::string &dir);

// Removes this host's record files of images removed from the catalog.
void forget_own_record_files(const KpServer &server, const std::vector<ImageHeader> &images);

// The file whose time says when the catalog was last synced.
std::string sync_stamp_path(const KpServer &server);

// The record snapshots of the repository (restic snapshots --json output).
struct RepoRecord {
    std::string id;   // full snapshot id
    std::string path; // the records directory the snapshot holds
    std::string client;
    bool archives = false;
    long long image_time = 0;
    long long stored_ns = 0; // when the record snapshot was made
    std::string sum;         // checksum of the record's text
};
bool parse_record_snapshots(const std::string &json, std::vector<RepoRecord> &out);
