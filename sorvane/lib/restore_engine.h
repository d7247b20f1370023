// One restore run of kprestore, shared by the units that carry it out:
// restore_engine.cpp (the request and the job), restore_plan.cpp (the
// versions to bring back and where each goes) and restore_execute.cpp (the
// directories, restic's calls, the placing of what they stage and the check
// of what is in place).
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

#include "catalog.h"
#include "catalog_db.h"
#include "kpargs.h"
#include "kpserver.h"
#include "progress_log.h"
#include "raw_device.h"
#include "request_file.h"
#include "restic.h"

namespace restore_engine {

// Removes a staging tree without following links.
void remove_tree(const std::string &path);

// p without its trailing slashes ("/" stays "/").
std::string strip_slash(std::string p);

// Whether path is dir or lies below it.
bool under(const std::string &path, const std::string &dir);

// The directory holding path ("/" for a top-level name and for "/").
std::string parent_of(const std::string &path);

enum class Outcome { Pending, Placed, Skipped, Failed };

struct Planned {
    Version v;        // v.path: the path as backed up
    std::string dest; // where it goes
    long long end = 0;
    bool is_dir = false;
    bool existed = false; // a directory that was there before the restore
    dev_t dev = 0;        // file system that receives it (not for directories)
    std::string anchor;   // an existing directory of that file system
    Outcome outcome = Outcome::Pending;
};

// A directory made because a destination needed it, with the version of
// its source path when the catalog has one.
struct MadeParent {
    std::string path;
    bool known = false;
    FileState st;
};

class Restore {
  public:
    explicit Restore(ProgressLog &log) : log_(log) {}
    // Checks the request at once (request and rename files, server, the
    // catalog's versions, the repository): a status other than 0 ends the
    // request before any job starts, its log already closed with it.
    int check(const KpArgs &args);
    // The restore itself, run as the request's job.
    int work();
    const std::string &server_dir() const { return server_.dir; }

  private:
    // Marks p placed and counts it for the progress lines.
    void placed(Planned &p) {
        p.outcome = Outcome::Placed;
        if (ticker_ != nullptr) {
            ++ticker_->files;
            ticker_->bytes += p.is_dir ? 0 : p.v.st.size;
        }
    }
    ProgressTicker *ticker_ = nullptr; // while work() runs
    int read_rename_file(const KpArgs &args, const std::vector<ImageEntry> &entries);
    void plan(const std::vector<ImageEntry> &entries);
    std::string redirect(const std::string &p) const;
    bool source_of(const std::string &dest, std::string &src) const;
    bool ensure_parents(const std::string &dest, long long end);
    void prepare_directories();
    struct Call;
    std::vector<Call> prepare_calls(const std::map<long long, std::vector<size_t>> &by_image);
    void run_calls(std::vector<Call> &calls);
    void place_call(Call &c);
    std::vector<std::string> include_patterns(const std::vector<size_t> &items) const;
    void count_up(const std::string &path, std::map<std::string, long long> &m) const;
    void place(Planned &p, const std::string &src);
    bool copy_across(const std::string &src, const std::string &dest, bool no_replace,
                     bool &existed, std::string &why);
    void fail(Planned &p, const std::string &why) {
        p.outcome = Outcome::Failed;
        log_.failed(p.dest, why);
    }
    void fix_symlinks();
    void finish_directories();
    void verify();
    std::string stage_root_for(dev_t dev, const std::string &anchor);

    ProgressLog &log_;
    KpServer server_;
    CatalogDb db_;
    HistoryKey history_;
    bool keep_ = false, one_fs_ = false, rename_soft_ = false, true_image_ = false;
    bool renaming_ = false;
    RenamePair rename_;
    std::vector<Planned> plan_;                  // in destination order
    std::map<dev_t, std::string> stage_roots_;   // per destination file system
    std::map<std::string, size_t> planned_dirs_; // directory path -> index
    std::vector<MadeParent> made_parents_;
    std::map<std::string, long long> total_below_; // planned non-directories per directory
    long long missing_ = 0;
    bool unreachable_ = false, catalog_failed_ = false;
    bool raw_ = false; // "-r": raw partitions back to their devices
    std::vector<RawRestoreItem> raw_items_;
};

// One restic call: one image's entries bound for one file system.
struct Restore::Call {
    ImageHeader image;
    std::vector<size_t> items;
    std::string stage;
    std::vector<std::string> args;
    std::vector<std::string> errors; // "PATH: WHY" of what restic could not restore
    ResticResult result;
};

} // namespace restore_engine
