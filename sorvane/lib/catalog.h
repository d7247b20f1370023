// What the engine's programs share about images and listings: the image
// header, the listing line the client reads (its format and parser), mode
// texts and the percent-encoding of texts in repository tags. The catalog
// itself is the database of catalog_db.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

constexpr long long KP_INFINITY = 2147483647;

// Schedule types of an image.
constexpr int SCHED_FULL = 0;
constexpr int SCHED_USER_BACKUP = 2;
constexpr int SCHED_USER_ARCHIVE = 3;

struct ImageHeader {
    std::string id; // file name stem: backup time in ten digits
    long long backup_time = 0;
    long long expiration = KP_INFINITY;
    long long files = 0; // files and directories the request covered
    long long kb = 0;    // kilobytes of regular-file data
    int schedule = SCHED_USER_BACKUP;
    int policy_type = 0; // the client (policy) type number, 0 for standard
    std::string policy;  // one word
    std::string client;
    std::string keyword;  // may be empty; never holds a newline
    std::string snapshot; // the repository snapshot id
};

// One listing line, parsed or to be formatted.
struct ListingLine {
    long long numbers[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0}; // eighth: device number
    std::string mode;                                   // "drwxr-xr-x"
    std::string owner;                                  // at most 9 bytes, no blank
    std::string group;
    long long size = 0;
    long long backup_time = 0;
    long long mtime = 0;
    std::string path; // absolute; a directory ends in "/"
};

// Meaning of the nine numbers of our listing lines.
enum ListingNumber {
    LN_TYPE = 0, // 0 regular file, 1 directory, 2 symbolic link, 3 other
    LN_MODE = 1, // st_mode
    LN_UID = 2,
    LN_GID = 3,
    LN_NLINK = 4,
    LN_SCHED = 5,  // schedule type of the image
    LN_BLOCKS = 6, // kilobytes allocated on disk (a sparse file has fewer than its size)
    LN_DEVICE = 7, // device number, -1 when unknown
    LN_INODE = 8,  // inode number, 0 when it does not fit or is unknown
};

// The line, "\n" included. The path starts at column 69 of the text after
// the nine numbers (later when the numbers there are longer).
std::string format_listing_line(const ListingLine &l);

// Parses one line starting at text[pos]; a path shorter than its stated
// length continues on the following lines (joined with "\n") as the client
// reads it. Returns the number of bytes consumed (newline included), or 0
// when the text at pos is not a listing line.
size_t parse_listing_line(std::string_view text, size_t pos, ListingLine &out);

// Reads a decimal number (an optional minus sign, then digits that fit a
// long long) at pos; advances pos past it only when there is one.
bool read_decimal(std::string_view t, size_t &pos, long long &v);

// "-rw-r--r--" style text of a mode.
std::string mode_text(unsigned mode);

// Number of components of an absolute path ("/" 0, "/a" and "/a/" 1).
int path_depth(std::string_view path);

// Percent-encoding of texts stored in records and repository tags: "%",
// ",", "=", blanks, control bytes and bytes above 0x7E become "%XX".
std::string percent_encode(std::string_view text);
// Reverses percent_encode; a malformed "%" sequence is kept as it is.
std::string percent_decode(std::string_view text);
