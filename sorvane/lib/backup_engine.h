// One backup or archive run of kpbackup and kparchive, shared by the units
// that carry it out: backup_engine.cpp (the request, restic's run and the
// job), backup_walk.cpp (the walk) and backup_reconcile.cpp (the judgement
// of each entry, the image written and the originals an archive removes).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "backup_walk.h"
#include "catalog.h"
#include "catalog_db.h"
#include "fsentry.h"
#include "kpargs.h"
#include "kpserver.h"
#include "progress_log.h"
#include "raw_device.h"
#include "restic.h"

namespace backup_engine {

// What became of one walked entry.
enum Fate : uint8_t { STORED, KEPT, GONE };

struct Root {
    std::string path;
    struct stat st {};
    Fate fate = GONE;
};

class Backup {
  public:
    Backup(bool archive, ProgressLog &log) : archive_(archive), log_(log) {}
    // Checks the request at once (request file, server, repository, at
    // least one requested path present): a status other than 0 ends the
    // request before any job starts, its log already closed with it.
    int check(const KpArgs &args);
    // The backup itself, run as the request's job.
    int work();
    const std::string &server_dir() const { return server_.dir; }

  private:
    int read_request(const KpArgs &args, std::vector<std::string> &paths);
    void choose_roots(const std::vector<std::string> &paths);
    bool walk(std::string &err);
    void walk_dir(WalkWriter &w, const std::string &root, const struct stat &root_st);
    ResticResult restic_unlocking(const std::vector<std::string> &args, const LineFn &on_out,
                                  const LineFn &on_err, const std::function<void()> &reset);
    int run_restic_backup(std::string &snapshot, bool &partial);
    Fate judge(const std::string &path, const struct stat &walk_st, bool parent_stored);
    using ScanFn =
        std::function<bool(const std::string &dir, const WalkReader::Record &rec, Fate fate)>;
    bool scan_walk(const ScanFn &fn, std::string &err);
    bool reconcile(std::string &err);
    bool write_image(const ImageHeader &h, CatalogDb &db, std::string &err);
    bool load_snapshot_nodes(const std::string &snapshot, std::string &err);
    bool matches_node(const std::string &path, const struct stat &st) const;
    bool may_remove(const std::string &path, const struct stat &walk_st, const struct stat &now);
    long long remove_originals();

    bool archive_;
    ProgressLog &log_;
    KpServer server_;
    NameCache names_;
    std::string client_, keyword_, policy_;
    int schedule_ = SCHED_USER_BACKUP;
    int policy_type_ = 0;
    std::vector<RawSource> raw_; // block devices named by a backup request
    long long backup_time_ = 0;
    std::vector<Root> roots_; // request paths, none inside another
    TempFile walk_file_;
    long long examined_ = 0;
    long long examined_files_ = 0, examined_bytes_ = 0; // regular files, for progress
    // Paths the walk could not read (already counted failed).
    std::unordered_set<std::string> walk_failed_;
    // What restic reported: keys of the paths it stored (restic's form),
    // and the items it could not read with its reason.
    std::vector<uint64_t> stored_keys_;
    std::unordered_map<std::string, std::string> restic_errors_;
    // The reconciliation: the fate of each entry record of the walk file,
    // in file order, and the keys (raw paths) of the directories stored.
    std::vector<uint8_t> fates_;
    std::unordered_set<uint64_t> stored_dirs_;
    long long files_ = 0, bytes_ = 0;
    // Archive: the snapshot's nodes, sorted by the key of their path.
    struct Node {
        uint64_t key;
        int type; // listing type
        long long size, mtime_ns, ctime_ns;
    };
    std::vector<Node> nodes_;
};

} // namespace backup_engine
