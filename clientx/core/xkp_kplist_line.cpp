// The fields of a kplist listing line.
#include "xkp_kplist_line.h"

#include <cstring>

namespace {

bool is_sep(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool is_digit(char c) {
    return static_cast<unsigned char>(c - '0') <= 9;
}

// Reads one integer field at p (after separators): an optional sign and
// digits, ending at a separator or the end of the text. Values beyond the
// 32-bit range are clamped. Returns false when the field is not a number.
bool take_int(const char *&p, const char *end, int32_t &out) {
    while (p < end && is_sep(*p)) {
        ++p;
    }
    bool neg = false;
    if (p < end && (*p == '-' || *p == '+')) {
        neg = *p == '-';
        ++p;
    }
    const char *digits = p;
    while (*p == '0') {
        ++p;
    }
    const char *significant = p;
    uint64_t v = 0;
    while (is_digit(*p)) {
        v = v * 10 + static_cast<unsigned>(*p++ - '0');
    }
    if (p == digits || p > end || (p < end && !is_sep(*p))) {
        return false;
    }
    // Eleven significant digits or more are beyond 32 bits however they
    // read (and would wrap the 64-bit sum past nineteen).
    if (p - significant > 10) {
        v = UINT64_C(1) << 32;
    }
    int64_t s = neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    out = static_cast<int32_t>(std::clamp<int64_t>(s, INT32_MIN, INT32_MAX));
    return true;
}

// Copies the first field at or after p (at most max-1 characters) into dst.
void take_field(const char *&p, const char *end, char *dst, size_t max) {
    while (p < end && is_sep(*p)) {
        ++p;
    }
    size_t n = 0;
    while (p < end && !is_sep(*p)) {
        if (n + 1 < max) {
            dst[n++] = *p;
        }
        ++p;
    }
    dst[n] = '\0';
}

// Skips one field at p (after separators); false when there is none.
bool skip_field(const char *&p, const char *end) {
    while (p < end && is_sep(*p)) {
        ++p;
    }
    if (p >= end) {
        return false;
    }
    while (p < end && !is_sep(*p)) {
        ++p;
    }
    return true;
}

// The nine numbers as kplist writes them, each in the form "%d" prints and
// one blank between them: their text is the line's own and only the device
// number is worked out. False for any other form (p is then unchanged).
bool take_numbers_as_written(const char *&p, const char *end, listing_line &out) {
    const char *q = p;
    for (int i = 0; i < 9; ++i) {
        bool neg = *q == '-';
        q += neg;
        const char *digits = q;
        while (is_digit(*q)) {
            ++q;
        }
        size_t n = static_cast<size_t>(q - digits);
        if (n == 0 || n > 9 || (digits[0] == '0' && (n > 1 || neg))) {
            return false;
        }
        if (i == 7) {
            int32_t v = 0;
            for (const char *d = digits; d < q; ++d) {
                v = v * 10 + (*d - '0');
            }
            out.device = neg ? -v : v;
        }
        if (i < 8) {
            if (*q != ' ') {
                return false;
            }
            ++q;
        }
    }
    if (q > end || (q < end && !is_sep(*q))) {
        return false;
    }
    out.numbers = p;
    out.numbers_len = static_cast<size_t>(q - p);
    p = q;
    return true;
}

// The nine numbers in any form take_int reads, re-printed as "%d" prints
// them into numbers_buf. False when one is not a number.
bool take_numbers_reprinted(const char *&p, const char *end, listing_line &out) {
    char *w = out.numbers_buf;
    for (int i = 0; i < 9; ++i) {
        if (i > 0) {
            *w++ = ' ';
        }
        int32_t v;
        if (!take_int(p, end, v)) {
            return false;
        }
        if (i == 7) {
            out.device = v;
        }
        w = put_int(w, v);
    }
    *w = '\0';
    out.numbers = out.numbers_buf;
    out.numbers_len = static_cast<size_t>(w - out.numbers_buf);
    return true;
}

} // namespace

// Splits a line (newline removed, a NUL at line[len]) into its parts; the
// mode, owner, group and size texts only when want_columns. False for a
// line that does not carry nine numbers, the four fields of column 31 and
// a path.
bool parse_listing_line(char *line, size_t len, listing_line &out, bool want_columns) {
    const char *p = line;
    const char *end = line + len;
    if (!take_numbers_as_written(p, end, out) && !take_numbers_reprinted(p, end, out)) {
        return false;
    }
    while (p < end && is_sep(*p)) {
        ++p;
    }
    char *r = line + (p - line);
    size_t rlen = static_cast<size_t>(end - r);
    if (rlen <= 69) {
        return false;
    }
    const char *q = r + 31;
    if (want_columns) {
        const char *m = r;
        take_field(m, r + 11, out.mode, sizeof out.mode);
        char raw[SMALL_FIELD];
        m = r + 11;
        take_field(m, end, raw, sizeof raw);
        decolonize_by_mode(raw, out.owner, 0);
        m = r + 21;
        take_field(m, end, raw, sizeof raw);
        decolonize_by_mode(raw, out.group, 0);
        take_field(q, end, out.size, sizeof out.size);
        if (out.size[0] == '\0') {
            return false;
        }
    } else if (!skip_field(q, end)) {
        return false;
    }
    if (!take_int(q, end, out.backup_time) || !take_int(q, end, out.mod_time) ||
        !take_int(q, end, out.path_len)) {
        return false;
    }
    char *slash = r[69] == '/' ? r + 69 : static_cast<char *>(memchr(r + 69, '/', rlen - 69));
    out.path = slash != nullptr ? slash : r + 69;
    out.first_len = static_cast<size_t>(end - out.path);
    return true;
}

// Is path (trailing slash ignored, then one added) the listed root?
bool is_root_line(const std::string &root_text, const char *path, size_t len) {
    if (len > 1 && path[len - 1] == '/') {
        --len;
    }
    if (len == 1 && path[0] == '/') {
        return root_text == "/";
    }
    return root_text.size() == len + 1 && root_text.compare(0, len, path, len) == 0 &&
           root_text.back() == '/';
}
