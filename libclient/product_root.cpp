#include "xkp_root.h"

#include "cmnutils.h"

#include <cstdlib>
#include <unistd.h>

#ifndef XKP_DEFAULT_ROOT
#define XKP_DEFAULT_ROOT "/usr/tamra"
#endif

std::string product_root() {
    const char *env = getenv("XKP_ROOT");
    std::string root = (env != nullptr && *env != '\0') ? env : XKP_DEFAULT_ROOT;
    while (!root.empty() && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

std::string product_path(const char *rel) {
    std::string path = product_root();
    path += '/';
    if (rel != nullptr) {
        while (*rel == '/') {
            ++rel;
        }
        path += rel;
    }
    return path;
}

size_t product_path(char *dst, size_t size, const char *rel) {
    std::string path = product_path(rel);
    T_strlcpy(dst, path.c_str(), size);
    return path.size();
}

std::string mount_table_path() {
    const char *env = getenv("XKP_MNTTAB");
    if (env != nullptr && *env != '\0') {
        return env;
    }
    if (access("/etc/mnttab", F_OK) == 0) {
        return "/etc/mnttab";
    }
    return "/proc/self/mounts";
}
