// One line of a kplist listing: its fields (the nine numbers, the columns,
// the times and the path), and the reading of a listing's lines from a
// stream. The backup tree (xkp_tree.cpp) is built from them. Every line
// handed to the parser ends with a NUL at its end, so the digit loops stop
// there without a bounds test.
#pragma once

#include "cmnutils.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

// Writes v at out as "%d" prints it; returns the end.
inline char *put_int(char *out, int32_t v) {
    char digits[12];
    int n = 0;
    uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0) {
        *out++ = '-';
    }
    while (n > 0) {
        *out++ = digits[--n];
    }
    return out;
}

constexpr size_t SMALL_FIELD = 65; // mode, owner, group and size texts

struct listing_line {
    int32_t device;
    const char *numbers; // the nine-numbers text: in the line, or in numbers_buf
    size_t numbers_len;
    char numbers_buf[9 * 12 + 1];
    char mode[SMALL_FIELD];
    char owner[SMALL_FIELD];
    char group[SMALL_FIELD];
    char size[SMALL_FIELD];
    int32_t backup_time;
    int32_t mod_time;
    int32_t path_len;
    char *path;       // the first piece, inside the line
    size_t first_len; // its length
};

// Splits a line (newline removed, a NUL at line[len]) into its parts; the
// mode, owner, group and size texts only when want_columns. False for a
// line that does not carry nine numbers, the four fields of column 31 and
// a path.
bool parse_listing_line(char *line, size_t len, listing_line &out, bool want_columns);

// Lines of a stream, read in large blocks, each at most XKP_TEXT_SIZE - 1
// bytes with its newline (a longer line continues as the next one, as with
// fgets into a buffer of XKP_TEXT_SIZE). The text handed out has its newline
// replaced by a NUL; the caller may write into it; it stays valid until the
// next call.
class line_reader {
  public:
    explicit line_reader(FILE *stream) : stream_(stream), buf_(new char[BLOCK + 1]) {}

    // The next line without its newline, or null at the end of the input.
    char *next(size_t &len) {
        constexpr size_t limit = XKP_TEXT_SIZE - 1;
        if (carried_) {
            buf_[pos_] = carry_;
            carried_ = false;
        }
        for (;;) {
            size_t avail = end_ - pos_;
            size_t look = std::min(avail, limit);
            char *start = buf_.get() + pos_;
            char *nl = static_cast<char *>(memchr(start, '\n', look));
            if (nl != nullptr || avail >= limit || (eof_ && avail > 0)) {
                if (nl != nullptr) {
                    len = static_cast<size_t>(nl - start);
                    pos_ += len + 1;
                } else {
                    len = look;
                    pos_ += len;
                    // The piece is cut: keep its last byte for the next piece
                    // while this one is terminated in place.
                    if (len < avail) {
                        carry_ = start[len];
                        carried_ = true;
                    }
                }
                start[len] = '\0';
                return start;
            }
            if (eof_) {
                return nullptr;
            }
            refill();
        }
    }

  private:
    static constexpr size_t BLOCK = 1 << 18;

    void refill() {
        size_t keep = end_ - pos_;
        memmove(buf_.get(), buf_.get() + pos_, keep);
        pos_ = 0;
        end_ = keep;
        size_t got = fread(buf_.get() + end_, 1, BLOCK - end_, stream_);
        end_ += got;
        if (got == 0) {
            eof_ = true;
        }
    }

    FILE *stream_;
    std::unique_ptr<char[]> buf_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
    char carry_ = 0;
    bool carried_ = false;
};

// Is path (trailing slash ignored, then one added) the listed root?
bool is_root_line(const std::string &root_text, const char *path, size_t len);
