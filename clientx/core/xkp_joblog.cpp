// Progress and closing lines of a background request's log.
#include "xkp_joblog.h"

#include <algorithm>
#include <unistd.h>
#include <vector>

namespace {

// Walks a line from its start; every step either matches and moves on or
// fails, and a failed cursor stays failed.
struct cursor {
    std::string_view rest;
    bool ok = true;

    bool digit() const { return !rest.empty() && rest[0] >= '0' && rest[0] <= '9'; }
    cursor &lit(std::string_view s) {
        if (ok && rest.substr(0, s.size()) == s) {
            rest.remove_prefix(s.size());
        } else {
            ok = false;
        }
        return *this;
    }
    // A plain decimal of 1 to max_digits digits.
    cursor &number(uint64_t &out, size_t max_digits = 19) {
        out = 0;
        size_t n = 0;
        while (ok && digit() && n < max_digits) {
            out = out * 10 + static_cast<uint64_t>(rest[0] - '0');
            rest.remove_prefix(1);
            ++n;
        }
        ok = ok && n > 0 && !digit();
        return *this;
    }
    // "HH:MM:SS ".
    cursor &stamp() {
        for (size_t i = 0; ok && i < 9; ++i) {
            bool want_digit = i % 3 != 2;
            char c = rest.empty() ? '\0' : rest[0];
            ok = want_digit ? digit() : c == (i == 8 ? ' ' : ':');
            if (ok) {
                rest.remove_prefix(1);
            }
        }
        return *this;
    }
    bool at_end() const { return ok && (rest.empty() || rest == "\n"); }
};

} // namespace

std::optional<job_progress> parse_progress_line(std::string_view line) {
    job_progress p;
    uint64_t percent = 0;
    cursor c{line};
    c.stamp().lit("progress: ").number(p.files).lit(" of ").number(p.total_files);
    c.lit(" files, ").number(p.bytes).lit(" of ").number(p.total_bytes);
    c.lit(" bytes, ").number(percent, 3).lit("%");
    if (!c.at_end()) {
        return std::nullopt;
    }
    p.percent = static_cast<int>(std::min<uint64_t>(percent, 100));
    return p;
}

std::optional<int> parse_exit_line(std::string_view line) {
    uint64_t status = 0;
    cursor c{line};
    c.stamp().lit("EXIT STATUS ").number(status, 9);
    if (!c.ok || !(c.at_end() || c.rest[0] == ':')) {
        return std::nullopt;
    }
    return static_cast<int>(status);
}

std::optional<std::string> last_complete_line(int fd, int64_t size) {
    constexpr int64_t window = 4096;
    if (size <= 0) {
        return std::nullopt;
    }
    int64_t from = std::max<int64_t>(0, size - window);
    std::vector<char> buf(static_cast<size_t>(size - from));
    size_t got = 0;
    while (got < buf.size()) {
        ssize_t n = pread(fd, buf.data() + got, buf.size() - got, from + static_cast<int64_t>(got));
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    std::string_view text(buf.data(), got);
    size_t end = text.rfind('\n');
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    size_t start = end == 0 ? std::string_view::npos : text.rfind('\n', end - 1);
    if (start == std::string_view::npos) {
        // The line begins before the window unless the window is the file's
        // start.
        if (from > 0) {
            return std::nullopt;
        }
        start = 0;
    } else {
        ++start;
    }
    return std::string(text.substr(start, end - start));
}
