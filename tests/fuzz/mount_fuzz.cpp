// Fuzzes the mount-table reader: the input is a mount table, read through
// XKP_MNTTAB by a first build and a refresh, then every kept entry is asked
// about with paths at and below its mount point.
#include "mount.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

int table_fd() {
    char tmpl[] = "/tmp/mount_fuzz.XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) {
        abort();
    }
    // Read back through the descriptor, so that no file is left behind.
    unlink(tmpl);
    setenv("XKP_MNTTAB", ("/proc/self/fd/" + std::to_string(fd)).c_str(), 1);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int fd = table_fd();
    if (size > 65536) {
        return 0;
    }
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        abort();
    }
    discard_mount_list();
    if (create_mount_list(0, MNT_LOFS_AND_HOSTS_ONLY) != MNT_OK) {
        __builtin_trap(); // a readable file always builds
    }
    bool had_entries = nfs_mount_list != nullptr;
    if (create_mount_list(0, MNT_LOFS_AND_HOSTS_ONLY) != MNT_OK ||
        (lists_already_built != 0) != had_entries) {
        __builtin_trap();
    }
    for (const mount_entry *e = nfs_mount_list.get(); e != nullptr; e = e->next.get()) {
        if (e->type != MNT_KIND_LOFS && e->type != MNT_KIND_AUTOFS) {
            __builtin_trap();
        }
        if (e->hosts && (e->type != MNT_KIND_AUTOFS || !is_hosts_mount_point(e->path.c_str()))) {
            __builtin_trap();
        }
        std::string below = e->path + "/x";
        path_is_automounted(e->path.c_str());
        const char *t = actual_loop_back_path(below.c_str());
        if (e->type == MNT_KIND_LOFS && !e->path.empty() && t == nullptr) {
            __builtin_trap(); // some loop-back mount holds a path below its own
        }
        actual_loop_back_path(e->path.c_str());
    }
    discard_mount_list();
    return 0;
}
