// Path matching: element records, the three matchers and kppathmatch.
//
// The matchers walk pattern and text together and recurse only at "*". A star
// that has tried every position its run may end at reports "abort" (-1) to
// every enclosing star, because no earlier star could do better: giving an
// earlier star more characters only leaves the later one fewer to choose
// from. This keeps even hostile patterns ("*a*a*a*a*b") polynomial.

#include "kppathmatch.h"

#include <cstring>

namespace {

using uchar = unsigned char;

constexpr int MATCH_ABORT = -1;

// Characters a backslash makes literal in DoMatch; before any other character
// the backslash stands for itself.
bool domatch_escapable(uchar c) {
    return c == '*' || c == '?' || c == '[' || c == ']';
}

// Reads one set member at p: with quoting, a backslash takes the next
// character literally (a backslash at the very end stands for itself).
uchar set_member(const uchar *&p, bool quoting) {
    if (quoting && *p == '\\' && p[1] != '\0') {
        ++p;
    }
    return *p++;
}

// Matches c against the set whose first character (after "[") is at p; "!"
// first negates, x-y is a range, the set ends at "]" or at the end of the
// pattern. On return p is past the "]" (or on the terminator).
bool set_matches(uchar c, const uchar *&p, bool quoting) {
    bool negate = false;
    if (*p == '!') {
        negate = true;
        ++p;
    }
    bool matched = false;
    while (*p != '\0' && *p != ']') {
        uchar lo = set_member(p, quoting);
        if (*p == '-' && p[1] != '\0' && p[1] != ']') {
            ++p;
            uchar hi = set_member(p, quoting);
            if (lo <= c && c <= hi) {
                matched = true;
            }
        } else if (c == lo) {
            matched = true;
        }
    }
    if (*p == ']') {
        ++p;
    }
    return matched != negate;
}

int do_match(const uchar *t, const uchar *p) {
    while (*p != '\0') {
        if (*t == '\0' && *p != '*') {
            return MATCH_ABORT;
        }
        switch (*p) {
        case '\\':
            if (domatch_escapable(p[1])) {
                if (*t != p[1]) {
                    return 0;
                }
                p += 2;
            } else {
                if (*t != '\\') {
                    return 0;
                }
                ++p;
            }
            break;
        case '?':
            ++p;
            break;
        case '*':
            while (*p == '*') {
                ++p;
            }
            if (*p == '\0') {
                return 1;
            }
            while (*t != '\0') {
                int r = do_match(t++, p);
                if (r != 0) {
                    return r;
                }
            }
            return MATCH_ABORT;
        case '[':
            ++p;
            if (!set_matches(*t, p, false)) {
                return 0;
            }
            break;
        default:
            if (*t != *p) {
                return 0;
            }
            ++p;
            break;
        }
        ++t;
    }
    return *t == '\0' ? 1 : 0;
}

// path_match: "*", "?" and sets stay inside one path element. Sets never match
// "/" either (our choice: a set is a stand-in for one character of a name),
// so every "/" of the path meets a literal "/" of the pattern, which is what
// makes the star's early abort sound here.
int path_match_r(const uchar *t, const uchar *p) {
    while (*p != '\0') {
        if (*t == '\0' && *p != '*') {
            return MATCH_ABORT;
        }
        switch (*p) {
        case '?':
            if (*t == '/') {
                return 0;
            }
            ++p;
            break;
        case '[':
            ++p;
            if (*t == '/' || !set_matches(*t, p, false)) {
                return 0;
            }
            break;
        case '\\':
            if (p[1] != '\0') {
                ++p;
            }
            if (*t != *p) {
                return 0;
            }
            ++p;
            break;
        case '*':
            while (*p == '*') {
                ++p;
            }
            for (;;) {
                int r = path_match_r(t, p);
                if (r != 0) {
                    return r;
                }
                if (*t == '\0' || *t == '/') {
                    return MATCH_ABORT;
                }
                ++t;
            }
        case '/':
            if (*t != '/') {
                return 0;
            }
            if (p[1] == '\0') {
                return 1; // a trailing "/" takes everything below the directory
            }
            ++p;
            break;
        default:
            if (*t != *p) {
                return 0;
            }
            ++p;
            break;
        }
        ++t;
    }
    return *t == '\0' ? 1 : 0;
}

int gmatch_r(const uchar *t, const uchar *p) {
    while (*p != '\0') {
        if (*t == '\0' && *p != '*') {
            return MATCH_ABORT;
        }
        switch (*p) {
        case '?':
            ++p;
            break;
        case '[':
            ++p;
            if (!set_matches(*t, p, true)) {
                return 0;
            }
            break;
        case '\\':
            if (p[1] != '\0') {
                ++p;
            }
            if (*t != *p) {
                return 0;
            }
            ++p;
            break;
        case '*':
            while (*p == '*') {
                ++p;
            }
            if (*p == '\0') {
                return 1;
            }
            while (*t != '\0') {
                int r = gmatch_r(t++, p);
                if (r != 0) {
                    return r;
                }
            }
            return MATCH_ABORT;
        default:
            if (*t != *p) {
                return 0;
            }
            ++p;
            break;
        }
        ++t;
    }
    return *t == '\0' ? 1 : 0;
}

const uchar *u(const char *s) {
    return reinterpret_cast<const uchar *>(s);
}

} // namespace

int DoMatch(const char *text, const char *pattern) {
    if (text == nullptr || pattern == nullptr) {
        return 0;
    }
    return do_match(u(text), u(pattern));
}

int path_match(const char *path, const char *pattern) {
    if (path == nullptr || pattern == nullptr) {
        return 0;
    }
    return path_match_r(u(path), u(pattern)) == 1 ? 1 : 0;
}

int gmatch(const char *text, const char *pattern) {
    if (text == nullptr || pattern == nullptr) {
        return 0;
    }
    return gmatch_r(u(text), u(pattern)) == 1 ? 1 : 0;
}

int kpbuildpe(const char *text, kp_pathelem *pe, char separator) {
    if (pe == nullptr || text == nullptr) {
        return 0;
    }
    pe->separator = separator;
    size_t len = strnlen(text, KP_PE_TEXT_MAX);
    memcpy(pe->copy, text, len);
    pe->copy[len] = '\0';

    // The depth counts the kept text, so it always agrees with the elements.
    int depth = 0;
    for (size_t i = 0; i < len; ++i) {
        if (pe->copy[i] == separator && (i == 0 || pe->copy[i - 1] != separator)) {
            ++depth;
        }
    }
    if (len > 0 && pe->copy[0] != separator) {
        ++depth;
    }
    if (len > 0 && pe->copy[len - 1] != separator) {
        ++depth;
    }
    pe->depth = depth;

    int n = 0;
    char *c = pe->copy;
    while (*c != '\0') {
        if (*c == separator) {
            *c++ = '\0';
            continue;
        }
        pe->elements[n++] = c;
        if (n == KP_PE_MAX_ELEMENTS) {
            break; // the last element keeps the rest as it stands
        }
        while (*c != '\0' && *c != separator) {
            ++c;
        }
    }
    pe->elements[n] = nullptr;
    return 1;
}

int kppathmatch(const char *path, const kp_pathelem *path_pe, const char *pattern,
                const kp_pathelem *pattern_pe, char separator, int mode, int depth) {
    if (path == nullptr || pattern == nullptr) {
        return 0;
    }
    int (*element_match)(const char *, const char *);
    switch (mode) {
    case KP_MATCH_DOMATCH:
    case KP_MATCH_DOMATCH2:
        element_match = DoMatch;
        break;
    case KP_MATCH_GMATCH:
        element_match = gmatch;
        break;
    case KP_MATCH_PATH:
        return path_match(path, pattern);
    default:
        return 0;
    }

    kp_pathelem local_path;
    kp_pathelem local_pattern;
    if (path_pe == nullptr) {
        if (kpbuildpe(path, &local_path, separator) == 0) {
            return 0;
        }
        path_pe = &local_path;
    }
    if (pattern_pe == nullptr) {
        if (kpbuildpe(pattern, &local_pattern, separator) == 0) {
            return 0;
        }
        pattern_pe = &local_pattern;
    }

    long long extra = static_cast<long long>(path_pe->depth) - pattern_pe->depth;
    if (extra < 0 || extra > static_cast<long long>(depth) + 1) {
        return 0;
    }
    // An empty pattern matches so far only when both sides split alike.
    if (pattern_pe->elements[0] == nullptr && pattern_pe->separator != path_pe->separator) {
        return 0;
    }
    int i = 0;
    for (; pattern_pe->elements[i] != nullptr && path_pe->elements[i] != nullptr; ++i) {
        if (element_match(path_pe->elements[i], pattern_pe->elements[i]) != 1) {
            return 0;
        }
    }
    if (pattern_pe->elements[i] != nullptr) {
        return 0; // the path ran out first
    }
    if (depth < 1) {
        return path_pe->elements[i] == nullptr ? 1 : 0;
    }
    if (depth == KP_ANY_DEPTH) {
        return 1;
    }
    return extra <= depth ? 1 : 0;
}
