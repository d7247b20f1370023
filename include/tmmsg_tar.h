// Reading the locale alias file (msg/.conf below the product root).
//
// "TM" lines say that a platform locale name corresponds to a common name:
//   TM <len> <platform name> <len> <common name>
// "TL" lines name a platform locale that is its own common name, optionally
// followed by its date definition (read by the date functions):
//   TL <len> <name> [time format] [date format]
// The file is read in pieces of at most 99 characters; each piece is a line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr size_t TM_ALIAS_PIECE = 99;

struct TmAliasLine {
    char kind = 0;          // 'M' for a TM line, 'L' for a TL line
    std::string_view name1; // the platform name (TM) or the name (TL)
    std::string_view name2; // the common name (TM only)
    size_t rest = 0;        // position just after the last name read
};

// Parses one piece (at most 99 characters, a trailing newline allowed).
// Returns false for any other line, a malformed length or a name that runs
// past the end of the piece. The views point into piece.
bool tm_parse_alias(std::string_view piece, TmAliasLine *out);

// The alias file's path: product_path("msg/.conf").
std::string tm_alias_path();
