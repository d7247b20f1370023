// The local file-system listing: walks a directory to the depth in
// recursion_limit and produces, through add_left_item and add_right_item
// (xkp_rows.h), one directory-list line per directory visited (pre-order,
// indented or as full paths by graphic_mode) and the file-list rows of
// right_dir (subdirectories, the blank separator row, then the other
// entries; brief or verbose by verbose).
//
// Directories are kept only when their full path matches patterned_dir
// (kppathmatch, "/" separator, any depth), so a wildcard typed in the
// directory field selects the subdirectories shown at its level. Other
// entries are kept only in right_dir and only when modified within
// [start_time, end_time]. Links are never followed.
#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

// Inclusive modification-time window of the listing (seconds since the epoch).
extern int32_t start_time;
extern int32_t end_time;

// At most this many entries of one directory are kept; the rest is not read.
constexpr int FILESYS_MAX_ENTRIES = 4096;

// Fills both lists for the tree rooted at dir (as typed, wildcards allowed;
// "" means "/"). Sets start_time, end_time, patterned_dir and right_dir.
void filesys_tree(const char *dir, int32_t start, int32_t end);

// Fills only the file list with the entries of dir ("" means "/"). Sets
// start_time, end_time and right_dir; patterned_dir keeps the pattern of
// the last full listing.
void filesys_dir(const char *dir, int32_t start, int32_t end);

// The listing root for a typed directory text: cut at the first unescaped
// "?", "*" or "[" (from the second character on) and then at the last "/"
// before it, so /home/u* gives /home. A wildcard in the first component
// leaves nothing to cut down to; the root is then "/", whose subdirectories
// the pattern still filters (our choice: an empty root could not be opened
// and would list nothing at all).
std::string filesys_root(const char *dir);

// The recursive worker: the left line of dir, then its kept entries. prefix
// and child_prefix are the indentation of dir's line and of its children's
// lines; right_only suppresses the left lines and the descent. is_last tells
// whether dir is the last entry of its parent (kept for callers; the rows do
// not depend on it).
void show(const char *dir, int is_last, const char *prefix, const char *child_prefix,
          int right_only);

// What a verbose row shows of one entry.
struct file_stats {
    int type;       // low two bits: 1 directory, 2 symbolic link, 0 other
    char mode[11];  // type letter and nine permission letters
    char owner[10]; // owner name, at most 9 characters
    char group[10]; // group name, at most 9 characters
    char size[24];  // the 64-bit size in decimal
    int32_t mtime;  // modification time
};

void get_stats(file_stats *record, const struct stat64 *status);

// One permission position: the letter of the first choice whose mask bits
// are all set, else the default.
struct mode_choice {
    mode_t mask;
    char letter;
};
char xselect(const mode_choice *choices, int count, char fallback, mode_t mode);

// The nine permission letters of mode (static buffer, overwritten by the next call).
const char *pmode(mode_t mode);

// The file-type letter of mode: p c d b l s, "-" for anything else.
char printfiletype(mode_t mode);

// Orders the parallel arrays in place: names ending in "/" (directories)
// first, then strcmp byte order; equal keys keep their order. The result is
// that of a bubble sort with the same comparison, in O(n log n).
void sort(int count, std::string *names, struct stat64 *statuses);

// Copy the user or group name of an id (its decimal number when it has
// none) into dst, which holds at least 65 bytes; at most 64 characters. The
// last id looked up is remembered with its name.
void finduname(char *dst, uid_t uid);
void findgname(char *dst, gid_t gid);

// The verbose row of an entry into row (size bytes, cut to fit): mode,
// owner, group, size, date and name.
void verbose_row(char *row, size_t size, const file_stats &stats, const char *name);
