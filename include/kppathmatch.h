// Path matching: does a path match a file-name pattern?
//
// The listing loader keeps only the entries that match the user's filter, and
// the local file-system listing keeps only the subdirectories that lie under a
// patterned directory; both ask kppathmatch with "/" as separator, mode 0 and
// depth 999. Three element matchers are offered:
//
//   DoMatch     one element against one pattern element: "*" (any run, also
//               empty), "?" (any one character), [...] sets ("!" negates, x-y
//               ranges, the set ends at "]" or at the end of the pattern),
//               "\*" "\?" "\[" "\]" for those characters; a backslash before
//               any other character stands for a backslash.
//   path_match  a whole path against a whole pattern: "*" and "?" never cross
//               a "/", a backslash makes the next character literal, and a
//               pattern ending in "/" matches everything below that directory.
//   gmatch      a whole text against a whole pattern: "*" crosses "/", sets
//               honour backslash quoting, a backslash quotes outside sets too.
//
// Nothing here allocates: element records live in the caller's or in local
// storage, and a caller may build them once for many comparisons.
#pragma once

#include <cstddef>

// Longest text kept in a path-element record and most elements it holds.
constexpr size_t KP_PE_TEXT_MAX = 1024;
constexpr int KP_PE_MAX_ELEMENTS = 255;

// Depth argument that lets a path run any number of elements deeper than the
// pattern (every caller in the client passes it).
constexpr int KP_ANY_DEPTH = 999;

// Matcher selection of kppathmatch.
enum kp_match_mode {
    KP_MATCH_DOMATCH = 0, // element by element with DoMatch
    KP_MATCH_PATH = 1,    // path_match on the whole texts
    KP_MATCH_GMATCH = 2,  // element by element with gmatch
    KP_MATCH_DOMATCH2 = 3 // as mode 0
};

// One split path. The element pointers point into copy, so a record must not
// be copied (it is not copyable); build another with kpbuildpe instead.
struct kp_pathelem {
    // Runs of separators, plus one when the text starts with a non-separator,
    // plus one when it ends with one: "/a/b" and "a/b" give 3, "/a/" and "a"
    // give 2, "/" gives 1, "" gives 0.
    int depth = 0;
    char separator = '/';
    // The text (cut to KP_PE_TEXT_MAX characters) with separators replaced by
    // terminators.
    char copy[KP_PE_TEXT_MAX + 1];
    // Null-terminated list of the non-empty elements in order. The 255th
    // element receives the whole rest of the text, separators included.
    char *elements[KP_PE_MAX_ELEMENTS + 1];

    // An empty record. The arrays are not cleared beyond their first slot:
    // kppathmatch builds two records on the stack per call, and clearing 3 KB
    // each would cost more than the match itself.
    kp_pathelem() {
        copy[0] = '\0';
        elements[0] = nullptr;
    }
    kp_pathelem(const kp_pathelem &) = delete;
    kp_pathelem &operator=(const kp_pathelem &) = delete;
};

// Fills pe from text split at separator. Returns 0 when pe or text is null,
// else 1.
int kpbuildpe(const char *text, kp_pathelem *pe, char separator);

// 1 when path matches pattern, else 0. path_pe and pattern_pe may be null (they
// are then built from the texts with separator); both texts are required.
// With depth KP_ANY_DEPTH a path matches when its leading elements match the
// pattern's elements one by one ("/home/*/src" matches "/home/ann/src/lib/x.c"
// but not "/home/ann"); with depth below 1 the element counts must be equal;
// otherwise the path may be at most depth elements deeper. Modes: see
// kp_match_mode; any other mode never matches.
int kppathmatch(const char *path, const kp_pathelem *path_pe, const char *pattern,
                const kp_pathelem *pattern_pe, char separator, int mode, int depth);

// One element against one pattern element: 1 match, 0 no match, -1 when the
// text ran out while the pattern still needed characters (callers treat
// anything but 1 as no match). Null arguments give 0.
int DoMatch(const char *text, const char *pattern);

// Whole path against whole pattern, and whole text against whole pattern:
// 1 or 0 (0 for null arguments).
int path_match(const char *path, const char *pattern);
int gmatch(const char *text, const char *pattern);
