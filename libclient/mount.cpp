// The mount table in memory: reading it with getmntent, the kept-entry filter
// and the three questions the browser asks.

#include "mount.h"

#include "xkp_root.h"

#include <cstdio>
#include <cstring>
#include <mntent.h>
#include <new>
#include <unistd.h>

std::unique_ptr<mount_entry> nfs_mount_list;
int lists_already_built = 0;
int lofs_and_hosts_mounts_only = 0;

namespace {

constexpr const char *HOSTS_MAP = "-hosts";

// Line buffer of getmntent_r; longer lines are skipped by the C library.
constexpr size_t MNT_LINE_SIZE = 8192;

struct MntCloser {
    void operator()(FILE *f) const { endmntent(f); }
};
using MntFile = std::unique_ptr<FILE, MntCloser>;

std::string translated;

bool is_hosts_node(const mount_entry &e) {
    return e.type == MNT_KIND_AUTOFS && e.resource == HOSTS_MAP;
}

} // namespace

mount_entry::~mount_entry() {
    // Unlink the tail one entry at a time so that a long list does not
    // destroy itself recursively.
    std::unique_ptr<mount_entry> rest = std::move(next);
    while (rest) {
        rest = std::move(rest->next);
    }
}

void discard_mount_list() {
    nfs_mount_list.reset();
    lists_already_built = 0;
    lofs_and_hosts_mounts_only = 0;
}

int mount_type_code(const char *fstype) {
    if (fstype == nullptr) {
        return MNT_KIND_OTHER;
    }
    if (strncmp(fstype, "nfs", 3) == 0) {
        return MNT_KIND_NFS;
    }
    if (strcmp(fstype, "lofs") == 0) {
        return MNT_KIND_LOFS;
    }
    if (strcmp(fstype, "autofs") == 0) {
        return MNT_KIND_AUTOFS;
    }
    return MNT_KIND_OTHER;
}

int already_in_list(int type, const char *path) {
    if (path == nullptr) {
        return 0;
    }
    for (const mount_entry *e = nfs_mount_list.get(); e != nullptr; e = e->next.get()) {
        if (e->type == type && e->unresolved_path == path) {
            return 1;
        }
    }
    return 0;
}

int ok_to_add_to_mount_list(int type, const char *path, const char *resource) {
    if (path == nullptr || resource == nullptr) {
        return 0;
    }
    bool wanted;
    if (lofs_and_hosts_mounts_only) {
        wanted =
            type == MNT_KIND_LOFS || (type == MNT_KIND_AUTOFS && strcmp(resource, HOSTS_MAP) == 0);
    } else {
        // No caller asks for more than the loop-back and hosts-map entries;
        // the wider filter keeps every kind the questions could use.
        wanted = type == MNT_KIND_NFS || type == MNT_KIND_LOFS || type == MNT_KIND_AUTOFS;
    }
    if (!wanted) {
        return 0;
    }
    if (lists_already_built && already_in_list(type, path)) {
        return 0;
    }
    return 1;
}

int add_to_mount_list(int type, const char *unresolved_path, const char *path,
                      const char *resource) {
    if (unresolved_path == nullptr || path == nullptr || resource == nullptr) {
        return MNT_OK;
    }
    try {
        auto e = std::make_unique<mount_entry>();
        e->type = type;
        e->unresolved_path = unresolved_path;
        e->path = path;
        if (e->path.size() > 1 && e->path.back() == '/') {
            e->path.pop_back();
        }
        e->path_length = static_cast<int>(e->path.size());
        e->resource = resource;
        e->hosts = is_hosts_node(*e) && e->path.find('/', 1) == std::string::npos ? 1 : 0;
        e->next = std::move(nfs_mount_list);
        if (e->next) {
            e->next->previous = e.get();
        }
        nfs_mount_list = std::move(e);
    } catch (const std::bad_alloc &) {
        return MNT_NO_MEMORY;
    }
    return MNT_OK;
}

int build_mount_list() {
    std::string table = mount_table_path();
    MntFile in(setmntent(table.c_str(), "r"));
    if (!in) {
        return MNT_TABLE_UNREADABLE;
    }
    static char line[MNT_LINE_SIZE];
    struct mntent ent;
    while (getmntent_r(in.get(), &ent, line, sizeof line) != nullptr) {
        int type = mount_type_code(ent.mnt_type);
        if (!ok_to_add_to_mount_list(type, ent.mnt_dir, ent.mnt_fsname)) {
            continue;
        }
        int rc = add_to_mount_list(type, ent.mnt_dir, ent.mnt_dir, ent.mnt_fsname);
        if (rc != MNT_OK) {
            return rc;
        }
    }
    if (ferror(in.get())) {
        return MNT_TABLE_UNREADABLE;
    }
    return MNT_OK;
}

int create_mount_list(int retry_count, int mode) {
    lists_already_built = nfs_mount_list ? 1 : 0;
    if (mode == MNT_LOFS_AND_HOSTS_ONLY) {
        lofs_and_hosts_mounts_only = 1;
    }
    int passes = retry_count < 0 ? 1 : retry_count + 1;
    int rc = MNT_OK;
    for (int pass = 1; pass <= passes; ++pass) {
        rc = build_mount_list();
        if (rc == MNT_OK) {
            return MNT_OK;
        }
        if (pass < passes) {
            sleep(1);
        }
    }
    return lists_already_built ? MNT_OK : rc;
}

int is_hosts_mount_point(const char *path) {
    if (path == nullptr) {
        return 0;
    }
    for (const mount_entry *e = nfs_mount_list.get(); e != nullptr; e = e->next.get()) {
        if (e->hosts && e->path == path) {
            return 1;
        }
    }
    return 0;
}

int path_is_automounted(const char *path) {
    if (path == nullptr) {
        return 0;
    }
    std::string p(path);
    if (p.empty() || p.back() != '/') {
        p += '/';
    }
    for (const mount_entry *e = nfs_mount_list.get(); e != nullptr; e = e->next.get()) {
        if (is_hosts_node(*e) && e->path.compare(0, p.size(), p) == 0) {
            return 1;
        }
    }
    return 0;
}

const char *actual_loop_back_path(const char *path) {
    if (path == nullptr) {
        return nullptr;
    }
    size_t len = strlen(path);
    for (const mount_entry *e = nfs_mount_list.get(); e != nullptr; e = e->next.get()) {
        if (e->type != MNT_KIND_LOFS) {
            continue;
        }
        // The mount point must be a prefix ending at a component boundary:
        // /home does not hold /homework, and a loop-back mount on "/" holds
        // "/" itself only.
        size_t plen = e->path.size();
        if (plen == 0 || plen > len || e->path.compare(0, plen, path, plen) != 0 ||
            (path[plen] != '/' && path[plen] != '\0')) {
            continue;
        }
        const char *rest = path + plen;
        try {
            translated = e->resource;
            if (*rest != '\0' && translated.size() > 1 && translated.back() == '/') {
                translated.pop_back();
            }
            translated += rest;
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
        return translated.c_str();
    }
    return nullptr;
}
