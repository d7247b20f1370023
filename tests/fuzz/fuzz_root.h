// A private product root for a fuzz target: created once per process below
// /tmp and named by XKP_ROOT, so that catalog files written by the target are
// the ones the library reads; removed at exit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>

// The root's path lives in a plain array: the exit handler that removes the
// tree runs after static destructors registered later, so no std::string here.
inline const char *fuzz_root() {
    static char root[32] = "";
    if (root[0] == '\0') {
        char tmpl[] = "/tmp/xkp_fuzz_root.XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            abort();
        }
        memcpy(root, tmpl, sizeof tmpl);
        setenv("XKP_ROOT", root, 1);
        atexit([] { std::filesystem::remove_all(fuzz_root()); });
    }
    return root;
}

// Writes data to REL below the root's msg directory (directories made as needed).
inline void fuzz_write(const std::string &rel, const uint8_t *data, size_t size) {
    std::string path = std::string(fuzz_root()) + "/msg";
    mkdir(path.c_str(), 0700);
    std::string dirs = rel;
    size_t pos = 0;
    while ((pos = dirs.find('/', pos)) != std::string::npos) {
        std::string d = path + "/" + dirs.substr(0, pos);
        mkdir(d.c_str(), 0700);
        ++pos;
    }
    FILE *f = fopen((path + "/" + rel).c_str(), "wb");
    if (f == nullptr) {
        abort();
    }
    fwrite(data, 1, size, f);
    fclose(f);
}
