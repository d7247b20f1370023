// Captures the library's debug log for a test: opens a temporary file as
// debugFD and hands back the logged lines without their time and process
// prefix, as "<severity> function: text".
#pragma once

#include "logging.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

class LogCapture {
  public:
    LogCapture() {
        fd_ = mkstemp(path_);
        previous_ = debugFD;
        debugFD = fd_;
    }
    ~LogCapture() {
        debugFD = previous_;
        if (fd_ >= 0) {
            close(fd_);
        }
        unlink(path_);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Every line logged so far.
    std::vector<std::string> lines() const {
        std::string all;
        char buf[4096];
        ssize_t n;
        off_t at = 0;
        while ((n = pread(fd_, buf, sizeof buf, at)) > 0) {
            all.append(buf, static_cast<size_t>(n));
            at += n;
        }
        std::vector<std::string> out;
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            if (end == std::string::npos) {
                end = all.size();
            }
            std::string line = all.substr(start, end - start);
            // "HH:MM:SS.mmm [pid] " comes first.
            size_t cut = line.find("] ");
            out.push_back(cut == std::string::npos ? line : line.substr(cut + 2));
            start = end + 1;
        }
        return out;
    }

    // The lines' texts after "<severity> function: ".
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const std::string &l : lines()) {
            size_t cut = l.find(": ");
            out.push_back(cut == std::string::npos ? l : l.substr(cut + 2));
        }
        return out;
    }

    bool has(const std::string &text) const {
        for (const std::string &t : texts()) {
            if (t == text) {
                return true;
            }
        }
        return false;
    }

    void clear() {
        if (ftruncate(fd_, 0) != 0) {
            perror("ftruncate");
        }
        lseek(fd_, 0, SEEK_SET);
    }

  private:
    char path_[64] = "/tmp/xkp_logcapture.XXXXXX";
    int fd_ = -1;
    int previous_ = -1;
};
