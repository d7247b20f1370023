// The product root: every fixed path of the installed product lives below it.
//
// The root is "/usr/tamra" unless the build chose another default
// (XKP_PRODUCT_ROOT) or the environment variable XKP_ROOT names one at run
// time. With XKP_ROOT unset the paths are exactly the installed ones, so
// "sorvane/bin" resolves to "/usr/tamra/sorvane/bin".
#pragma once

#include <cstddef>
#include <string>

// The root in force: XKP_ROOT when set and not empty, else the built-in default.
// No trailing slash (a root of "/" is returned as "").
std::string product_root();

// product_root() + "/" + rel, where rel is relative ("sorvane/bin/kplist").
std::string product_path(const char *rel);

// The same into a caller's buffer, cut to size-1 bytes; returns the full length.
size_t product_path(char *dst, size_t size, const char *rel);

// The mount table: XKP_MNTTAB when set, "/etc/mnttab" when it exists,
// else "/proc/self/mounts".
std::string mount_table_path();

// Well-known places below the root.
inline std::string product_bin_dir() {
    return product_path("sorvane/bin");
}
inline std::string product_help_dir() {
    return product_path("sorvane/help");
}
inline std::string product_host_config() {
    return product_path("sorvane/kp.conf");
}
inline std::string product_msg_dir() {
    return product_path("msg");
}
