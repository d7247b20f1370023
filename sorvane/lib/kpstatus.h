// Exit statuses of the Sorvane command programs. The client shows every
// status but 0, 25 and 227 with the status text of its code, so each code
// here is used only for the situation its text describes.
#pragma once

namespace kpstatus {
constexpr int OK = 0;             // the requested operation was successfully completed
constexpr int PARTIAL = 1;        // the requested operation was partially successful
constexpr int NONE_BACKED_UP = 2; // none of the requested files were backed up
constexpr int RESTORE_FAILED = 5; // the restore failed to recover the requested files
constexpr int BACKUP_FAILED = 6;  // the backup failed to back up the requested files
constexpr int OPEN_FAILED = 12;   // file open failed (request, rename or log file)
constexpr int NO_SERVER =
    25; // cannot connect on socket: server directory or repository unreachable
constexpr int NO_CLIENT = 58;           // can't connect to client (restore to another client)
constexpr int NONE_EXIST = 71;          // none of the files in the file list exist
constexpr int DEVICE_IN_USE = 97;       // the requested storage is in use (a mounted device)
constexpr int PATH_TOO_LONG = 105;      // file pathname exceeds the maximum length allowed
constexpr int BAD_DATE = 108;           // invalid date format specified
constexpr int NO_CONFIG = 110;          // cannot find the configuration information
constexpr int EMPTY_LIST = 112;         // no files specified in the file list
constexpr int NO_DEVICE = 122;          // the specified device path does not exist
constexpr int TERMINATED = 150;         // termination requested
constexpr int DEVICE_TOO_SMALL = 155;   // the disk is full (a device smaller than the entry)
constexpr int NOT_ALL_RESTORED = 175;   // not all requested files were restored
constexpr int NOT_FOUND_IN_IMAGE = 185; // the image did not hold all the files to be restored
constexpr int NO_IMAGES = 190;          // found no images matching the selection criteria
constexpr int NOTHING_FOUND = 227;      // no entity was found
constexpr int USAGE = 252;              // the error status has been written to stderr
constexpr int UNKNOWN_SERVER = 254;     // server name not found in the kp.conf file
} // namespace kpstatus
