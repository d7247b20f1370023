// The mount table in memory: loop-back mounts and the automounter's hosts map.
//
// The browser shows a directory reached through a loop-back mount by its
// source path, and treats the mount point of the automounter's hosts map
// (such as /net) specially. create_mount_list reads the system mount table
// (mount_table_path(): XKP_MNTTAB, else /etc/mnttab, else /proc/self/mounts)
// with getmntent and keeps the entries that matter; the three questions below
// are answered from that list. Single-threaded.
#pragma once

#include <memory>
#include <string>

// File-system type codes of a mount entry.
constexpr int MNT_KIND_OTHER = 0;
constexpr int MNT_KIND_NFS = 1;    // a type beginning with "nfs"
constexpr int MNT_KIND_LOFS = 2;   // "lofs": loop-back mount
constexpr int MNT_KIND_AUTOFS = 3; // "autofs": automounter node

// Mode of create_mount_list that keeps only loop-back and hosts-map entries
// (the mode every caller passes).
constexpr int MNT_LOFS_AND_HOSTS_ONLY = 3;

// Status codes.
constexpr int MNT_OK = 0;
constexpr int MNT_NO_MEMORY = 10;
constexpr int MNT_TABLE_UNREADABLE = 60;

// One kept line of the mount table. Entries own the next one; the list is
// destroyed without recursion, however long it is.
struct mount_entry {
    int type = MNT_KIND_OTHER;
    std::string unresolved_path; // the mount point as the table writes it
    std::string path;            // without one trailing "/" (a lone "/" kept)
    int path_length = 0;
    std::string resource; // the table's special field: source directory or map name
    // 1 for an automounter node of the "-hosts" map whose path has no "/"
    // after its first character (the top-level mount point, such as /net).
    int hosts = 0;
    mount_entry *previous = nullptr;
    std::unique_ptr<mount_entry> next;

    mount_entry() = default;
    mount_entry(const mount_entry &) = delete;
    mount_entry &operator=(const mount_entry &) = delete;
    ~mount_entry();
};

// The entries, newest first: the first match of a search is the last matching
// line of the table.
extern std::unique_ptr<mount_entry> nfs_mount_list;
// Set when a list existed before the current build (the build is a refresh).
extern int lists_already_built;
// Set by create_mount_list with MNT_LOFS_AND_HOSTS_ONLY.
extern int lofs_and_hosts_mounts_only;

// Builds or refreshes the list: up to retry_count + 1 passes of
// build_mount_list, one second apart, until one succeeds. Returns 0 after a
// successful pass; when every pass failed, the last failure code (60 table
// unreadable, 10 no memory) on a first build and 0 on a refresh. Refreshes
// only add lines whose type and mount point are new; nothing is removed.
int create_mount_list(int retry_count, int mode);

// One reading pass over the mount table: 0, 60 when it cannot be opened or
// read, 10 when memory runs out (the pass ends there).
int build_mount_list();

// The type code of a file-system type name.
int mount_type_code(const char *fstype);

// Puts a new entry at the head of the list (path loses one trailing "/"
// unless it is one character long). 0, or 10 without memory.
int add_to_mount_list(int type, const char *unresolved_path, const char *path,
                      const char *resource);

// Whether a line passes the filter: with lofs_and_hosts_mounts_only, only
// loop-back mounts and autofs nodes of the "-hosts" map; otherwise (a mode no
// caller uses) nfs, loop-back and autofs lines. On a refresh a line whose type
// and unresolved mount point are already listed is refused. 1 or 0.
int ok_to_add_to_mount_list(int type, const char *path, const char *resource);

// 1 when an entry of this type has this unresolved mount point, else 0.
int already_in_list(int type, const char *path);

// Non-zero when path is exactly the path of an entry with the hosts flag
// ("/net" is, "/net/" is not).
int is_hosts_mount_point(const char *path);

// Non-zero when something of the hosts map is mounted below path: an autofs
// "-hosts" entry whose path starts with path followed by "/".
int path_is_automounted(const char *path);

// The source path of path through the newest loop-back mount whose mount
// point is path or an ancestor of it ("/home/ann" through "/export/home" on
// "/home" is "/export/home/ann"; "/homework" is not translated), or null. The
// text lives until the next call.
const char *actual_loop_back_path(const char *path);

// Drops every entry and clears the flags. The program never calls it (the
// list lives for the whole run); tests and fuzzers do between cases.
void discard_mount_list();
