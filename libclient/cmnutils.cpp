#include "cmnutils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

size_t T_strlcpy(char *dst, const char *src, size_t size) {
    if (dst == nullptr || src == nullptr || size == 0) {
        return 0;
    }
    size_t len = strlen(src);
    size_t n = len < size - 1 ? len : size - 1;
    memmove(dst, src, n);
    dst[n] = '\0';
    return len;
}

size_t T_strlcat(char *dst, const char *src, size_t size) {
    if (dst == nullptr || src == nullptr || size == 0) {
        return 0;
    }
    size_t dlen = strnlen(dst, size);
    if (dlen >= size - 1) {
        return 0;
    }
    size_t slen = strlen(src);
    size_t room = size - dlen - 1;
    size_t n = slen < room ? slen : room;
    memmove(dst + dlen, src, n);
    dst[dlen + n] = '\0';
    return dlen + slen;
}

namespace {

bool is_sep(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// Start of field n (from 1) of line, or nullptr when there are fewer fields.
const char *field_start(const char *line, int n) {
    if (line == nullptr) {
        return nullptr;
    }
    if (n < 1) {
        n = 1;
    }
    const char *p = line;
    for (int i = 1;; ++i) {
        while (*p != '\0' && is_sep(*p)) {
            ++p;
        }
        if (*p == '\0') {
            return nullptr;
        }
        if (i == n) {
            return p;
        }
        while (*p != '\0' && !is_sep(*p)) {
            ++p;
        }
    }
}

// Empties dest (when there is one) and finds field n of line: null when
// there is no dest or no such field.
const char *start_copy(char *dest, const char *line, int n) {
    if (dest == nullptr) {
        return nullptr;
    }
    dest[0] = '\0';
    return field_start(line, n);
}

void copy_field(char *dest, const char *line, int n) {
    const char *p = start_copy(dest, line, n);
    if (p == nullptr) {
        return;
    }
    size_t len = 0;
    while (p[len] != '\0' && !is_sep(p[len]) && len < XKP_FIELD_MAX) {
        ++len;
    }
    memcpy(dest, p, len);
    dest[len] = '\0';
}

void copy_to_eol(char *dest, const char *line, int n) {
    const char *p = start_copy(dest, line, n);
    if (p == nullptr) {
        return;
    }
    T_strlcpy(dest, p, XKP_EOL_MAX + 1);
}

} // namespace

int field_count(const char *line) {
    if (line == nullptr) {
        return 0;
    }
    int count = 0;
    const char *p = line;
    for (;;) {
        while (*p != '\0' && is_sep(*p)) {
            ++p;
        }
        if (*p == '\0') {
            return count;
        }
        ++count;
        while (*p != '\0' && !is_sep(*p)) {
            ++p;
        }
    }
}

// The counting and the non-counting forms give the same result; the
// distinction is kept because callers name both.
namespace {

// The counting forms: dest is emptied when line has fewer than n fields.
bool line_has_field(char *dest, const char *line, int n) {
    if (n <= field_count(line)) {
        return true;
    }
    if (dest != nullptr) {
        dest[0] = '\0';
    }
    return false;
}

} // namespace

void field_copy(char *dest, const char *line, int n) {
    if (line_has_field(dest, line, n)) {
        copy_field(dest, line, n);
    }
}

void field_copy_noval(char *dest, const char *line, int n) {
    copy_field(dest, line, n);
}

void field_copy_to_eol(char *dest, const char *line, int n) {
    if (line_has_field(dest, line, n)) {
        copy_to_eol(dest, line, n);
    }
}

void field_copy_eol_noval(char *dest, const char *line, int n) {
    copy_to_eol(dest, line, n);
}

char *trim(const char *text) {
    static char buf[XKP_TEXT_SIZE];
    T_strlcpy(buf, text != nullptr ? text : "", sizeof buf);
    size_t len = strlen(buf);
    while (len > 0 && (buf[len - 1] == ' ' || buf[len - 1] == '\t')) {
        buf[--len] = '\0';
    }
    return buf;
}

char *trim_slash(const char *path) {
    static char buf[XKP_TEXT_SIZE];
    T_strlcpy(buf, path != nullptr ? path : "", sizeof buf);
    size_t len = strlen(buf);
    if (len > 0 && buf[len - 1] == '/') {
        buf[len - 1] = '\0';
    }
    return buf;
}

char *pad_slash(const char *path) {
    static char buf[XKP_TEXT_SIZE];
    T_strlcpy(buf, path != nullptr ? path : "", sizeof buf);
    size_t len = strlen(buf);
    if (len == 0 || buf[len - 1] != '/') {
        if (len < sizeof buf - 1) {
            buf[len] = '/';
            buf[len + 1] = '\0';
        } else {
            // A full buffer still ends in the slash the caller relies on.
            buf[len - 1] = '/';
        }
    }
    return buf;
}

void zap_slash(char *path) {
    if (path == nullptr) {
        return;
    }
    size_t len = strlen(path);
    if (len > 1 && path[len - 1] == '/') {
        path[len - 1] = '\0';
    }
}

char last(const char *text) {
    if (text == nullptr || *text == '\0') {
        return '\0';
    }
    return text[strlen(text) - 1];
}

void zaplast(char *text, int c) {
    if (text == nullptr || *text == '\0') {
        return;
    }
    text[strlen(text) - 1] = static_cast<char>(c);
}

void shorten(char *text) {
    zaplast(text, 0);
}

int leading_blanks(const char *text) {
    int n = 0;
    while (text != nullptr && text[n] == ' ') {
        ++n;
    }
    return n;
}

char *decolonize_by_mode(const char *src, char *dst, int mode) {
    static char buf1[65], buf2[65], buf3[65];
    if (dst == nullptr) {
        dst = mode == 1 ? buf1 : mode == 2 ? buf2 : buf3;
    }
    size_t i = 0;
    for (; src != nullptr && src[i] != '\0' && i < 64; ++i) {
        dst[i] = src[i] == ':' ? ' ' : src[i];
    }
    dst[i] = '\0';
    return dst;
}

int mkdirpath(const char *path, mode_t mode, int *err) {
    int dummy;
    if (err == nullptr) {
        err = &dummy;
    }
    *err = 0;
    if (path == nullptr || *path == '\0') {
        *err = ENOENT;
        return -1;
    }
    std::string so_far;
    if (path[0] == '/') {
        so_far = "/";
    }
    mode_t old = umask(0);
    int rc = 0;
    const char *p = path;
    const char *start;
    size_t len;
    while (next_path_component(p, start, len)) {
        if (!so_far.empty() && so_far.back() != '/') {
            so_far += '/';
        }
        so_far.append(start, len);
        if (access(so_far.c_str(), F_OK) != 0 && mkdir(so_far.c_str(), mode) != 0 &&
            errno != EEXIST) {
            *err = errno;
            rc = -1;
            break;
        }
    }
    umask(old);
    return rc;
}

std::optional<std::string> apostrophize(const char *text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    try {
        std::string out;
        out.reserve(strlen(text) * 3);
        bool open = false;
        for (const char *p = text; *p != '\0'; ++p) {
            if (*p == '\'') {
                if (open) {
                    out += '\'';
                    open = false;
                }
                out += "\\'";
            } else {
                if (!open) {
                    out += '\'';
                    open = true;
                }
                out += *p;
            }
        }
        if (open) {
            out += '\'';
        }
        return out;
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

int create_private_temp(std::string &name, const char *prefix) {
    const char *dir = getenv("TMPDIR");
    name = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + prefix + "XXXXXX";
    return mkstemp(name.data());
}

std::string shell_word(const char *text) {
    if (text == nullptr || *text == '\0') {
        return "''";
    }
    for (const char *p = text; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     strchr("/._-+:,@%=", c) != nullptr;
        if (!plain) {
            return apostrophize(text).value_or("''");
        }
    }
    return text;
}

void ucs1_to_utf8(const char *input, char *output) {
    if (output == nullptr) {
        return;
    }
    size_t o = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(input);
         p != nullptr && *p != '\0'; ++p) {
        unsigned char b = *p;
        bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                     strchr("/\\:_.-+", b) != nullptr;
        if (plain) {
            output[o++] = static_cast<char>(b);
        } else {
            output[o++] = static_cast<char>(0xC0 | (b >> 6));
            output[o++] = static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    output[o] = '\0';
}
