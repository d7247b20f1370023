// Raw partitions: the content of a block device backed up as one entry of
// an image of its own (streamed into the repository, stream_store.h), and
// written back to that device or, through a rename file, to another one of
// at least that size. A device in use (mounted, or held open exclusively,
// as by a file system or swap) is never written.
#pragma once

#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "catalog_db.h"
#include "kpserver.h"
#include "request_file.h"

class ProgressLog;

// The tag of the stream snapshot of a raw partition.
constexpr const char *RAW_PARTITION_TAG = "raw-partition";

// A request path that names a block device, itself or through symbolic
// links: the path as named and the device it leads to.
struct RawSource {
    std::string path;   // absolute, as requested: recorded in the catalog
    std::string device; // the device node the path resolves to
    struct stat st {};  // stat of the device node
};

// True when path leads to a block device (out filled).
bool raw_source(const std::string &path, RawSource &out);

// The mount point of a mount of the block device rdev, read from the
// mount table (sources that are paths, symbolic links followed); false
// when it is not mounted.
bool device_mounted(dev_t rdev, std::string &mount_point,
                    const char *mount_table = "/proc/self/mounts");

// What the images of raw entries carry, as the file images of the run.
struct RawImageContext {
    std::string client, keyword, policy;
    int schedule = 0;
    int policy_type = 0;
};

// Backs up each source as an image of its own (one stream snapshot, one
// version of type "other" with the device's mode and the bytes read),
// the catalog's lock held and db open for writing. Returns the status of
// the raw part of the run: OK, PARTIAL when some devices failed,
// BACKUP_FAILED (or NO_SERVER, TERMINATED) when none was stored.
int back_up_raw_devices(const KpServer &server, CatalogDb &db, const RawImageContext &ctx,
                        const std::vector<RawSource> &sources, ProgressLog &log);

// One device to write back.
struct RawRestoreItem {
    Version v;            // the raw entry's version (v.path as backed up)
    std::string snapshot; // the stream snapshot of the image that stored it
    std::string dest;     // the device path to write
};

// Plans a raw restore: for each request entry, the newest raw version of
// its path alive in [start, end] (read by an image of policy_type, unless
// it is -1), and its destination (redirect maps a
// backed-up path to where it goes). Then checks every destination: a
// block device, not mounted, at least the entry's size. Any refusal
// refuses the whole request, nothing written, with its status and a log
// line: NO_DEVICE, DEVICE_IN_USE, DEVICE_TOO_SMALL; NO_IMAGES when an
// entry has no raw version in its range.
int plan_raw_restore(const CatalogDb &db, const HistoryKey &h, int policy_type,
                     const std::vector<ImageEntry> &entries,
                     const std::function<std::string(const std::string &)> &redirect,
                     std::vector<RawRestoreItem> &items, ProgressLog &log);

// Writes each item's content to its device (opened for writing only,
// exclusively, never created or truncated), checks the count against the
// catalog and syncs the device. Returns OK, NOT_ALL_RESTORED, or the
// failure's status when nothing was written.
int restore_raw_devices(const KpServer &server, std::vector<RawRestoreItem> &items,
                        ProgressLog &log);
