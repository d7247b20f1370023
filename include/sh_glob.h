// Wildcard expansion: words with shell wildcards and braces become the sorted
// list of existing file names.
//
// Wildcards are "*", "?", "[...]" (with "!" negation, x-y ranges and backslash
// quoting inside the set) and "{a,b,...}" alternatives (nested braces and sets
// do not split on their commas). A name starting with "." is matched only by a
// pattern starting with ".". The names found for each word, and for each brace
// alternative expanded at the start of a pattern element, are sorted byte-wise
// among themselves; the groups keep the order of the words. A word without
// wildcards comes back as it is, whether or not the file exists.
//
// Limits of one expansion: names of at most GLOB_PATH_MAX characters, at most
// GLOB_MAX_NAMES names and GLOB_MAX_BYTES bytes of names (terminators
// counted). An expansion that breaks a limit, runs out of memory or meets an
// unclosed "[" or "{" is logged (debug log, tag "glob"), calls Exit(), and
// abandons its word: the names that word found so far are kept and the next
// word is expanded. Single-threaded and not reentrant.
#pragma once

#include <cstddef>

constexpr size_t GLOB_PATH_MAX = 1022;
constexpr size_t GLOB_MAX_NAMES = 65535;
constexpr size_t GLOB_MAX_BYTES = 1048572;

// Debug-log levels of the expander's reports.
constexpr int GLOB_LOG_ERROR = 32;
constexpr int GLOB_LOG_OPENDIR = 16;

// Expands the null-terminated list of words. Returns a newly allocated
// null-terminated list of newly allocated names (malloc): the caller frees
// each name and the list (Globfree does both). Returns null only when there
// is no memory for the list itself; an expansion that finds nothing gives an
// empty list. A null argument is an empty list of words.
char **Glob(const char *const *words);

// Frees a list returned by Glob (null is allowed).
void Globfree(char **names);

// 1 when word contains "*", "?", "[" or a backslash, else -1. In the locale
// "C" (also null, "" and "POSIX") the bytes are examined; in any other locale
// the word is converted to wide characters under that locale first, so bytes
// inside multibyte characters never count, and a word that cannot be
// converted counts as having none. A locale name the system does not know
// (directly or through the catalog's alias file) is examined byte-wise.
int has_wildcards(const char *word, const char *locale);

// The program's exit hook: the expander calls it where it gives up and then
// carries on. In the client it does nothing; it is weak so that a program
// with a reason to stop may define its own.
void Exit();
