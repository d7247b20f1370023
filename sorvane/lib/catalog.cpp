#include "catalog.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <sys/stat.h>

namespace {

// Column of the text after the nine numbers where the path starts.
constexpr size_t PATH_COLUMN = 69;

bool read_ll(std::string_view t, size_t &p, long long &v) {
    while (p < t.size() && (t[p] == ' ' || t[p] == '\t')) {
        ++p;
    }
    return read_decimal(t, p, v);
}

// First field of text starting at column col of r ("" when past the end).
std::string field_at(std::string_view r, size_t col) {
    if (col >= r.size()) {
        return {};
    }
    size_t e = col;
    while (e < r.size() && r[e] != ' ' && r[e] != '\t') {
        ++e;
    }
    return std::string(r.substr(col, e - col));
}

} // namespace

bool read_decimal(std::string_view t, size_t &pos, long long &v) {
    size_t p = pos;
    bool neg = false;
    if (p < t.size() && t[p] == '-') {
        neg = true;
        ++p;
    }
    size_t digits = 0;
    long long acc = 0;
    while (p < t.size() && t[p] >= '0' && t[p] <= '9') {
        if (acc > (LLONG_MAX - 9) / 10) {
            return false;
        }
        acc = acc * 10 + (t[p] - '0');
        ++p;
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    v = neg ? -acc : acc;
    pos = p;
    return true;
}

std::string mode_text(unsigned mode) {
    std::string s(10, '-');
    switch (mode & S_IFMT) {
    case S_IFDIR:
        s[0] = 'd';
        break;
    case S_IFLNK:
        s[0] = 'l';
        break;
    case S_IFCHR:
        s[0] = 'c';
        break;
    case S_IFBLK:
        s[0] = 'b';
        break;
    case S_IFIFO:
        s[0] = 'p';
        break;
    case S_IFSOCK:
        s[0] = 's';
        break;
    default:
        break;
    }
    const char *rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        if (mode & (0400u >> i)) {
            s[1 + i] = rwx[i];
        }
    }
    if (mode & S_ISUID) {
        s[3] = (mode & S_IXUSR) ? 's' : 'S';
    }
    if (mode & S_ISGID) {
        s[6] = (mode & S_IXGRP) ? 's' : 'S';
    }
    if (mode & S_ISVTX) {
        s[9] = (mode & S_IXOTH) ? 't' : 'T';
    }
    return s;
}

int path_depth(std::string_view path) {
    size_t n = path.size();
    if (n > 0 && path[n - 1] == '/') {
        --n;
    }
    int d = 0;
    for (size_t i = 0; i < n; ++i) {
        if (path[i] == '/') {
            ++d;
        }
    }
    return d;
}

std::string format_listing_line(const ListingLine &l) {
    std::string out;
    out.reserve(160 + l.path.size());
    // Numbers as "%lld " would print them, without a printf per number: a
    // listing of a million lines prints thirteen million of them.
    auto number = [&out](long long n) {
        char num[24];
        auto [end, ec] = std::to_chars(num, num + sizeof num, n);
        out.append(num, end);
        out += ' ';
    };
    for (long long n : l.numbers) {
        number(n);
    }
    size_t r0 = out.size();
    auto pad_to = [&](size_t col) {
        if (out.size() - r0 < col) {
            out.append(col - (out.size() - r0), ' ');
        }
    };
    out.append(l.mode, 0, 10);
    pad_to(11);
    out.append(l.owner, 0, 9);
    pad_to(21);
    out.append(l.group, 0, 9);
    pad_to(31);
    number(l.size);
    number(l.backup_time);
    number(l.mtime);
    number(static_cast<long long>(l.path.size()));
    pad_to(PATH_COLUMN);
    out += l.path;
    out += '\n';
    return out;
}

size_t parse_listing_line(std::string_view text, size_t pos, ListingLine &out) {
    out = ListingLine{};
    if (pos >= text.size()) {
        return 0;
    }
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view line = text.substr(pos, end - pos);
    size_t p = 0;
    for (long long &n : out.numbers) {
        if (!read_ll(line, p, n)) {
            return 0;
        }
    }
    // R starts at the first character of the tenth field.
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) {
        ++p;
    }
    if (p >= line.size()) {
        return 0;
    }
    std::string_view r = line.substr(p);
    out.mode = field_at(r, 0);
    out.owner = field_at(r, 11);
    out.group = field_at(r, 21);
    size_t q = 31;
    long long len = 0;
    if (q > r.size() || !read_ll(r, q, out.size) || !read_ll(r, q, out.backup_time) ||
        !read_ll(r, q, out.mtime) || !read_ll(r, q, len) || len < 0) {
        return 0;
    }
    size_t col = std::max(q + 1, PATH_COLUMN);
    if (col > r.size()) {
        return 0;
    }
    size_t slash = r.find('/', col);
    size_t path_start = slash == std::string_view::npos ? col : slash;
    out.path = std::string(r.substr(path_start));
    size_t consumed_end = end;
    // Names holding newlines continue on the following lines.
    while (out.path.size() < static_cast<size_t>(len) && consumed_end < text.size()) {
        size_t from = consumed_end + 1;
        if (from > text.size()) {
            break;
        }
        size_t nl2 = text.find('\n', from);
        size_t e2 = nl2 == std::string_view::npos ? text.size() : nl2;
        out.path += '\n';
        out.path.append(text.substr(from, e2 - from));
        consumed_end = e2;
    }
    return std::min(consumed_end + 1, text.size()) - pos;
}

std::string percent_encode(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == ',' || c == '=') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string percent_decode(std::string_view text) {
    auto hexval = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexval(text[i + 1]) >= 0 &&
            hexval(text[i + 2]) >= 0) {
            out += static_cast<char>(hexval(text[i + 1]) * 16 + hexval(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}
