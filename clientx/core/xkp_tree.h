// The tree of backed-up files, built from the output of kplist and dumped
// into the directory list and the file list (through add_left_item and
// add_right_list, xkp_rows.h).
//
// Every backup version of every file and every backup time of every
// directory is kept:
//   - a directory's subdirectories in ascending strcmp order of their names;
//   - its files in ascending order of base name, equal names newest first
//     (compare_files), never two with the same name and time;
//   - its time entries newest first, never two with the same time.
//
// All nodes and texts live in one arena owned by the tree: init_tree and
// free_all release it as a whole, so building a million-line listing costs
// no per-node allocation.
//
// Listing line (fields separated by blanks, tabs or newlines): nine decimal
// integers (the eighth is the device number, -1 when unknown), then the text
// R read by column: mode text at column 0, owner at 11, group at 21; at
// column 31 the size, backup time, modification time and the path length in
// bytes; the path from the first "/" at or after column 69. A path shorter
// than its length continues on the following lines, joined by newlines.
#pragma once

#include "cmnutils.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// One backup time of a directory.
struct time_entry {
    int32_t time;
    const char *text; // the entry text of the directory's line (verbose mode only), else null
    time_entry *next;
};

// One backup version of a file (24 bytes: a million versions are common).
struct file_node {
    int32_t backup_time;
    int32_t name_len;  // the length stated in the entry text
    file_node *next;   // next version or file of the directory, in order
    const char *entry; // entry text: "%4d %s" (length, base name), verbose columns after
                       // it; the nine-numbers text follows its NUL (file_numbers)
};

// The nine-numbers text of a file version's line ("" when it has none).
inline const char *file_numbers(const file_node *f) {
    const char *p = f->entry;
    while (*p != '\0') {
        ++p;
    }
    return p + 1;
}

// One directory.
struct tree_node {
    time_entry *timelist;     // newest first
    tree_node *child;         // first subdirectory
    tree_node *next;          // next sibling
    file_node *files;         // first file
    const char *name;         // the path component ("" for the root)
    const char *verbose_text; // entry text of the line that created the node (verbose mode)
    const char *numbers;      // nine-numbers text of the line that created the node
    tree_node *hint;          // last subdirectory found or made here (speeds ordered input)
};

// Tree state, valid within one build (the cache and the hint) or until the
// next init_tree (the tree).
extern tree_node *rootnode;
extern char previous_path[XKP_TEXT_SIZE];
extern tree_node *previous_node;
extern file_node *final_filenode;
extern int minimum_depth;

// Longest path taken from a listing (a stated length beyond it is not a
// real path and is not completed from further lines).
constexpr size_t TREE_PATH_MAX = 4095;
// Longest path component used when walking a path.
constexpr size_t TREE_COMPONENT_MAX = 256;

// Discards the tree, clears the cache and the hint, creates an empty root.
void init_tree();
// Releases the tree; rootnode becomes null.
void free_all();

// Reads a whole kplist listing from stream into the tree (the tree is
// created first when there is none); dir is the listed root. Also derives
// device_number and root_filesys_only_possible.
void build_tree(const char *dir, FILE *stream);

// The directory node for path ("/a/b", "" or "/" for the root), creating
// missing nodes with copies of numbers and (verbose mode) entry.
tree_node *build_node(const char *path, int32_t time, const char *entry, const char *numbers);
// Inserts a file version unless one with the same name and time is there.
void add_file(tree_node *dir, int32_t time, const char *entry, const char *numbers);
// Inserts a time entry (with a copy of text, may be null) unless the time is there.
void build_timelist(time_entry **list, int32_t time, const char *text);

// The last subdirectory of parent whose name compares <= name (null when
// none); *found is set when it is equal.
tree_node *closest_node(tree_node *parent, const char *name, int *found);
// The last file of dir comparing <= (time, entry), starting from the hint
// final_filenode when it allows; *found when equal, *end when the walk ran
// off the end of the list.
file_node *closest_file(tree_node *dir, int32_t time, const char *entry, int *found, int *end);
// <0, 0, >0 as the file node sorts before, with, after (time, entry).
int compare_files(const file_node *node, int32_t time, const char *entry);
// The subdirectory of parent named name, or null.
tree_node *search_node(tree_node *parent, const char *name);

// Fills both lists from the tree: minimum_depth from left_dir, then dump_tree.
void dump_all();
// The left-list walk from node at depth, its parent's path being parent_path.
void dump_tree(tree_node *node, int depth, const char *parent_path);
// The right-list rows of one directory, then the pending batch is flushed.
void dump_filelist(tree_node *node);
// The right-list rows of the directory at path; nothing when it is not in the tree.
void dump_dir(const char *path);

// Base name length stated at the start of an entry text (0 when unreadable).
int entry_name_length(const char *entry);
// The verbose columns of an entry text: what follows the base name and one
// blank ("" when there are none).
const char *entry_verbose_columns(const char *entry);

// Bytes held by the tree's arena (for measurements).
size_t tree_memory_bytes();
