#include "request_file.h"

#include "catalog.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string transfer_decode(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0xC0 && c <= 0xC3 && i + 1 < text.size()) {
            auto d = static_cast<unsigned char>(text[i + 1]);
            if ((d & 0xC0) == 0x80) {
                out.push_back(static_cast<char>(((c & 0x03) << 6) | (d & 0x3F)));
                ++i;
                continue;
            }
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

bool read_whole_file(const std::string &path, std::string &out, std::string &err,
                     size_t max_bytes) {
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        err = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            err = "cannot read " + path + ": " + strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        if (out.size() + static_cast<size_t>(n) > max_bytes) {
            err = path + " is larger than " + std::to_string(max_bytes) + " bytes";
            close(fd);
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

namespace {

std::string where(size_t record, size_t offset) {
    return "record " + std::to_string(record) + " (byte " + std::to_string(offset) + ")";
}

} // namespace

bool parse_counted_list(const std::string &text, std::vector<std::string> &paths,
                        std::string &err) {
    paths.clear();
    size_t pos = 0;
    size_t record = 1;
    while (pos < text.size()) {
        size_t start = pos;
        long long len = 0;
        if (!read_decimal(text, pos, len) || len <= 0) {
            err = where(record, start) + ": no path length";
            return false;
        }
        if (pos >= text.size() || text[pos] != ' ') {
            err = where(record, start) + ": no blank after the length";
            return false;
        }
        ++pos;
        if (static_cast<unsigned long long>(len) > text.size() - pos) {
            err = where(record, start) + ": truncated, " + std::to_string(len) +
                  " bytes announced, " + std::to_string(text.size() - pos) + " present";
            return false;
        }
        paths.emplace_back(text, pos, static_cast<size_t>(len));
        pos += static_cast<size_t>(len);
        if (pos < text.size()) {
            if (text[pos] != '\n') {
                err = where(record, start) + ": path longer than its length";
                return false;
            }
            ++pos;
        }
        ++record;
    }
    return true;
}

bool parse_image_entries(const std::string &text, std::vector<ImageEntry> &entries,
                         std::string &err) {
    entries.clear();
    size_t pos = 0;
    size_t record = 1;
    while (pos < text.size()) {
        size_t start = pos;
        ImageEntry e;
        long long nums[10];
        int count = 0;
        // The numbers: each followed by one blank; the one just before the
        // path is its length. A path always starts with "/".
        while (pos < text.size() && text[pos] == ' ') {
            ++pos;
        }
        while (count < 10) {
            long long v = 0;
            if (!read_decimal(text, pos, v)) {
                break;
            }
            nums[count++] = v;
            if (pos >= text.size() || text[pos] != ' ') {
                err = where(record, start) + ": no blank after a number";
                return false;
            }
            ++pos;
            if (pos < text.size() && text[pos] == '/') {
                break;
            }
        }
        if (count == 0) {
            err = where(record, start) + ": no numbers";
            return false;
        }
        long long len = nums[count - 1];
        for (int i = 0; i < count - 1; ++i) {
            e.numbers[i] = nums[i];
        }
        if (pos >= text.size() || text[pos] != '/') {
            err = where(record, start) + ": path is not absolute";
            return false;
        }
        if (len <= 0 || static_cast<unsigned long long>(len) > text.size() - pos) {
            err = where(record, start) + ": truncated or bad path length";
            return false;
        }
        e.path.assign(text, pos, static_cast<size_t>(len));
        pos += static_cast<size_t>(len);
        if (pos >= text.size() || text[pos] != ' ' || !read_decimal(text, ++pos, e.start) ||
            pos >= text.size() || text[pos] != ' ' || !read_decimal(text, ++pos, e.end)) {
            err = where(record, start) + ": truncated or bad time range";
            return false;
        }
        if (pos < text.size()) {
            if (text[pos] != '\n') {
                err = where(record, start) + ": stray text after the time range";
                return false;
            }
            ++pos;
        }
        if (e.start > e.end) {
            err = where(record, start) + ": start time after end time";
            return false;
        }
        entries.push_back(std::move(e));
        ++record;
    }
    return true;
}

std::vector<std::string> parse_plain_list(const std::string &text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        if (end > pos) {
            out.emplace_back(text, pos, end - pos);
        }
        pos = end + 1;
    }
    return out;
}

bool parse_rename_file(const std::string &text, std::vector<RenamePair> &candidates,
                       std::string &err) {
    candidates.clear();
    static const std::string head = "change ";
    static const std::string sep = " to ";
    if (text.compare(0, head.size(), head) != 0) {
        err = "rename file does not start with \"change \"";
        return false;
    }
    std::string body = text.substr(head.size());
    if (!body.empty() && body.back() == '\n') {
        body.pop_back();
    }
    for (size_t at = body.find(sep); at != std::string::npos; at = body.find(sep, at + 1)) {
        std::string from = body.substr(0, at);
        std::string to = body.substr(at + sep.size());
        if (from.empty() || to.empty() || to[0] != '/') {
            continue;
        }
        candidates.push_back({from, to});
    }
    if (candidates.empty()) {
        err = "rename file is not \"change SOURCE to /DESTINATION\"";
        return false;
    }
    return true;
}
