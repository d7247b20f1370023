// A file descriptor closed when its owner goes.
#pragma once

#include <unistd.h>

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) {
            close(fd);
        }
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    void reset() {
        if (fd >= 0) {
            close(fd);
        }
        fd = -1;
    }
};
