// Entry points of the command programs (each programs/NAME.cpp calls one)
// and what they share: usage errors, the progress log, absolute paths and
// the server's catalog lock.
#pragma once

#include <string>

#include "kpargs.h"
#include "progress_log.h"

int kpbackup_main(int argc, char **argv);
int kparchive_main(int argc, char **argv);
int kprestore_main(int argc, char **argv);
int kplist_main(int argc, char **argv);
int kpclimagelist_main(int argc, char **argv);
int kphdb_main(int argc, char **argv);
int kpadmin_main(int argc, char **argv);

// Prints "PROG: REASON" and the usage text on standard error and returns
// kpstatus::USAGE.
int usage_error(const char *prog, const std::string &reason, const char *usage);

// Opens the "-L" log of args (decoded from the transfer encoding under
// "-8"). With no "-L" the log writes nowhere. Returns false with err when
// the named log cannot be opened.
bool open_program_log(const KpArgs &args, ProgressLog &log, std::string &err);

// An absolute form of a path named by the user: relative paths are taken
// from the current directory, "." and empty components removed and ".."
// resolved against the physical parent. A trailing "/" is dropped ("/"
// stays).
std::string absolute_path(const std::string &path);

// Exclusive lock on a file (flock), held for the object's lifetime. Backups
// of one server are serialised so that each image gets its own backup time.
class CatalogLock {
  public:
    // Without wait, the lock is only tried: busy() says another holds it,
    // and wait() then waits for it.
    explicit CatalogLock(const std::string &path, bool wait = true);
    ~CatalogLock();
    CatalogLock(const CatalogLock &) = delete;
    CatalogLock &operator=(const CatalogLock &) = delete;
    bool held() const { return fd_ >= 0 && !busy_; }
    bool busy() const { return busy_; }
    void wait();

  private:
    int fd_ = -1;
    bool busy_ = false;
};

// "YYYY-MM-DD HH:MM:SS" in local time.
std::string local_time_text(long long t);
