// Readers of the files the client hands to the request programs: the
// counted list of a backup or archive, the image entries of a restore, the
// plain list of database scripts and the rename file; and the decoder of the
// two-byte transfer encoding used for names on the command line.
#pragma once

#include <string>
#include <vector>

// Reverses the client's transfer encoding: each pair 0xC0|(b>>6),
// 0x80|(b&0x3F) (lead byte 0xC0 to 0xC3) becomes the byte b; every other
// byte is copied. Decoding text that was never encoded changes only such
// pairs, which is what the client's encoder would have produced for them.
std::string transfer_decode(const std::string &text);

// Reads a whole file (at most max_bytes) into out. False with err set when
// it cannot be opened or read or is larger than max_bytes.
bool read_whole_file(const std::string &path, std::string &out, std::string &err,
                     size_t max_bytes = 256u << 20);

// A counted list: records "LEN PATH\n" where LEN is the length of PATH in
// bytes, so that a path may hold blanks and newlines. A last record without
// its newline is accepted when its LEN bytes are all there. Any other
// deviation (no number, no blank, fewer bytes than LEN, a stray byte where
// the next record starts, an empty path) rejects the whole file: err names
// the record and the byte offset.
bool parse_counted_list(const std::string &text, std::vector<std::string> &paths, std::string &err);

// One entry of a restore request: the nine numbers carried from the listing
// (absent ones are 0), the absolute path (a trailing "/" marks a directory)
// and the range of backup times to choose the version from.
struct ImageEntry {
    long long numbers[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::string path;
    long long start = 0;
    long long end = 0;
};

// Records "N1 ... N9 LEN PATH START END\n" (the directory line of a
// search-directory restore has the same shape). Fewer than nine leading
// numbers are accepted (the client writes what the listing row carried);
// the path must be absolute and exactly LEN bytes long, START <= END.
// Rejects the whole file on any deviation, with err naming the record.
bool parse_image_entries(const std::string &text, std::vector<ImageEntry> &entries,
                         std::string &err);

// A plain list: one name per line; empty lines are skipped, a last line
// without newline counts.
std::vector<std::string> parse_plain_list(const std::string &text);

// The rename file: one line "change SRC to DST\n". SRC and DST are taken as
// written. As either may itself hold " to ", every split at " to " whose
// destination is an absolute path is returned, first split first; the
// caller decides between several (see kprestore). False with err when the
// line is not of that form.
struct RenamePair {
    std::string from;
    std::string to;
};
bool parse_rename_file(const std::string &text, std::vector<RenamePair> &candidates,
                       std::string &err);
