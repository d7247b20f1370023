// What restic's JSON reports about single entries: the nodes of "restic ls
// --json" (the state a snapshot holds for a path) and the items of "restic
// backup --json -vv" (what it stored, what it could not read). Paths are in
// restic's lossy UTF-8 form (see lossy_utf8).
#pragma once

#include <string>
#include <string_view>

// One node of a snapshot. type is restic's word ("file", "dir", "symlink",
// "fifo", "dev", "chardev", "socket"); times are nanoseconds since the epoch.
struct ResticNode {
    std::string path;
    std::string type;
    long long size = 0;
    long long mtime_ns = 0;
    long long ctime_ns = 0;
};

// Parses one line of "restic ls --json"; false for lines that are not a
// node (the snapshot line) or lack a path, a type or valid times (RFC 3339,
// read by parse_rfc3339_ns).
bool parse_restic_node(std::string_view line, ResticNode &out);

// One line of "restic backup --json -vv" output or error stream.
struct ResticBackupEvent {
    enum Kind { Other, Stored, Error, Status, Summary } kind = Other;
    std::string item;     // Stored, Error: the path, without a trailing "/"
    std::string error;    // Error: restic's reason
    std::string snapshot; // Summary
    long long files_new = 0, files_changed = 0, files_unmodified = 0, data_added = 0; // Summary
    long long files_done = -1, total_files = -1;                                      // Status
    long long bytes_done = -1, total_bytes = -1;                                      // Status
};

ResticBackupEvent parse_restic_backup_line(std::string_view line);
