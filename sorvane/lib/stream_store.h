// One entry's content streamed into the repository as a snapshot of its
// own ("restic backup --stdin") and read back ("restic dump"): for what is
// not a tree of files, such as a raw device or a database dump read from
// standard input. The snapshot carries the tags of the image it belongs to,
// like the snapshot of a file backup, and the tag "stream".
#pragma once

#include <string>

#include "catalog.h"
#include "kpserver.h"

class ProgressLog;

// The path of an entry inside its stream snapshot: the name with one
// leading "/" ("dev/sdb1" and "/dev/sdb1" both give "/dev/sdb1"). Empty
// when the name cannot be one: empty, ending in "/", an empty, "." or ".."
// component, or a NUL or newline byte.
std::string stream_entry_path(const std::string &name);

struct StreamResult {
    int status = 0;       // kpstatus: 0 done
    long long bytes = 0;  // store: bytes restic read; dump: bytes written to out_fd
    std::string snapshot; // store: the new snapshot's id
    std::string error;    // why, when status is not 0
};

// Stores everything read from in_fd, to its end, as the entry `name` of a
// new snapshot for image h (its client, backup time, schedule, keyword and
// policy become the snapshot's host, time and tags). Progress lines go to
// log when given. Status 0 only with a snapshot id from restic's summary;
// BACKUP_FAILED otherwise (NO_SERVER when the repository cannot be reached,
// TERMINATED when the job was cancelled).
StreamResult store_stream(const KpServer &server, const ImageHeader &h, int in_fd,
                          const std::string &name, ProgressLog *log = nullptr);

// Writes the entry `name` of snapshot to out_fd (every byte, retrying short
// writes). With expected_bytes >= 0, another count is a failure. Status 0
// only when restic succeeded and everything it gave was written;
// RESTORE_FAILED otherwise (NO_SERVER, TERMINATED as above). Progress
// lines go to log when given.
StreamResult dump_stream(const KpServer &server, const std::string &snapshot,
                         const std::string &name, int out_fd, long long expected_bytes = -1,
                         ProgressLog *log = nullptr);
