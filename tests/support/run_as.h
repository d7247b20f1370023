// Set-up shared by the configuration-file and host identity tests: running a
// piece of a test in a child under other effective ids, files written whole,
// and a product root and home directory of the test's own.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

constexpr uid_t NOBODY = 65534;
constexpr gid_t NOGROUP = 65534;

// Runs fn in a child process under the given effective ids and returns what
// it returned (cut to 4095 bytes); "(ids)" when the switch failed.
inline std::string as_user(const std::function<std::string()> &fn, uid_t uid = NOBODY,
                           gid_t gid = NOGROUP) {
    constexpr size_t size = 4096;
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        return "(mmap)";
    }
    char *shared = static_cast<char *>(map);
    snprintf(shared, size, "(ids)");
    pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) == 0 && setegid(gid) == 0 && seteuid(uid) == 0) {
            snprintf(shared, size, "%s", fn().c_str());
        }
        _exit(0);
    }
    waitpid(pid, nullptr, 0);
    std::string out = shared;
    munmap(map, size);
    return out;
}

inline void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// DIR/root/sorvane as the product root (XKP_ROOT) and DIR/home, readable by
// everyone, for as long as the object lives.
struct TempProduct {
    TempProduct() {
        char tpl[] = "/tmp/xkp_conf.XXXXXX";
        dir = mkdtemp(tpl) != nullptr ? tpl : "/nonexistent";
        home = dir + "/home";
        std::filesystem::create_directories(dir + "/root/sorvane");
        std::filesystem::create_directory(home);
        std::filesystem::permissions(dir, std::filesystem::perms(0755));
        const char *old = getenv("XKP_ROOT");
        saved_root = old != nullptr ? old : "";
        setenv("XKP_ROOT", (dir + "/root").c_str(), 1);
    }
    ~TempProduct() {
        setenv("XKP_ROOT", saved_root.c_str(), 1);
        std::filesystem::remove_all(dir);
    }
    TempProduct(const TempProduct &) = delete;
    TempProduct &operator=(const TempProduct &) = delete;
    std::string host_file() const { return dir + "/root/sorvane/kp.conf"; }
    std::string user_file() const { return home + "/kp.conf"; }

    std::string dir, home, saved_root;
};
