// Common text, field and path utilities shared by the client library, the
// client and the command programs. None of them needs X.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <sys/types.h>

// Sizes of the fixed buffers that are part of the contract.
constexpr size_t XKP_TEXT_SIZE = 1536; // paths, rows, messages (1535 characters)
constexpr size_t XKP_FIELD_MAX = 2048; // longest field field_copy returns
constexpr size_t XKP_EOL_MAX = 2047;   // longest rest-of-line field_copy_to_eol returns

// Bounded copy: copies at most size-1 bytes, always terminates dst, returns
// strlen(src). Returns 0 (and copies nothing) when size is 0 or a pointer is null.
size_t T_strlcpy(char *dst, const char *src, size_t size);

// Bounded append: appends at most size-strlen(dst)-1 bytes and returns the
// combined length. Returns 0 without change when dst is already full (no room
// for one more byte), when size is 0 or a pointer is null.
size_t T_strlcat(char *dst, const char *src, size_t size);

// Fields: maximal runs of characters other than blank, tab and newline.
int field_count(const char *line);
// dest (>= 2049 bytes) = field n (from 1; n <= 0 means 1), cut to 2048; "" past the last.
void field_copy(char *dest, const char *line, int n);
void field_copy_noval(char *dest, const char *line, int n);
// dest (>= 2048 bytes) = the rest of line from field n's first character, separators and
// a trailing newline kept, cut to 2047; "" past the last field.
void field_copy_to_eol(char *dest, const char *line, int n);
void field_copy_eol_noval(char *dest, const char *line, int n);

// Path and text utilities. Texts returned live in a static buffer of the
// function (1536 bytes) that its next call overwrites.
char *trim(const char *text);         // trailing blanks and tabs removed
char *trim_slash(const char *path);   // one trailing "/" removed
char *pad_slash(const char *path);    // "/" appended unless already there
void zap_slash(char *path);           // in place: one trailing "/" removed, "/" kept
char last(const char *text);          // last character, '\0' for ""
void shorten(char *text);             // in place: last character removed
void zaplast(char *text, int c);      // in place: last character replaced by c
int leading_blanks(const char *text); // number of leading blanks (the blank only)
// Copies at most 64 characters of src with every ':' made a blank. With dst
// null the copy goes to one of three static 65-byte buffers chosen by mode
// (1, 2, anything else). Returns the destination.
char *decolonize_by_mode(const char *src, char *dst, int mode);
// Creates every missing directory along path with permissions mode (umask 0
// during the walk). Returns 0, or -1 with *err = errno of the failure.
int mkdirpath(const char *path, mode_t mode, int *err);

// Quotes text for the Bourne shell: runs without apostrophes inside
// apostrophes, each apostrophe as \' outside them; "" gives "". Empty result
// (nullopt) when text is null or memory runs out.
std::optional<std::string> apostrophize(const char *text);

// Creates a new, empty file named PREFIX followed by six random characters
// (xkpXXXXXX by default) in $TMPDIR (/tmp when unset or empty) with mkstemp:
// mode 0600, never an existing name or a planted link. Returns its
// descriptor and puts the path into name; -1 with errno set when none can be
// made.
int create_private_temp(std::string &name, const char *prefix = "xkp");

// text as one word for /bin/sh, so that a program receives it exactly as
// typed: unchanged when it holds only letters, digits and "/", ".", "_",
// "-", "+", ":", ",", "@", "%", "="; else quoted with apostrophize. An
// empty or null text gives "''", so that it still stands as an argument of
// its own and the next option is not taken for its value.
std::string shell_word(const char *text);

// The transfer encoding: letters, digits and / \ : _ . - + are copied; every
// other byte b becomes 0xC0|(b>>6), 0x80|(b&0x3F). output needs 2*len+1 bytes.
void ucs1_to_utf8(const char *input, char *output);

// Steps through the components of a slash-separated path: skips the slashes
// at p, sets start and len to the component after them and p past it.
// False at the end of the path (nothing but slashes left).
inline bool next_path_component(const char *&p, const char *&start, size_t &len) {
    while (*p == '/') {
        ++p;
    }
    if (*p == '\0') {
        return false;
    }
    const char *slash = strchr(p, '/');
    len = slash != nullptr ? static_cast<size_t>(slash - p) : strlen(p);
    start = p;
    p += len;
    return true;
}
