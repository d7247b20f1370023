// What one line of command or file output becomes in a list or a text, by
// the loading mode of load_list_from_fd. Display-free, so that the rules are
// tested (and fuzzed) without an X server; the Motif side only appends.
#pragma once

#include <string>

// Loading modes of load_list_from_fd.
constexpr int LOAD_WHOLE_LINE = 0;      // the whole line is one list item
constexpr int LOAD_WHOLE_LINE_ALT = -3; // the same
constexpr int LOAD_TEXT = -2;           // the line and a newline go into a text widget
constexpr int LOAD_ALL_BUT_LAST = -4;   // fields 1 .. count-1, each followed by a blank
// Any mode N > 0 loads field N of the line alone.

// Lines read at most per load.
constexpr int LOAD_MAX_LINES = 50000;
// Characters read at most per line (a longer line continues as the next one).
constexpr int LOAD_LINE_MAX = 1536;

// Removes trailing blanks, tabs and newlines from line, in place.
void strip_line_end(char *line);

// The text that line (already stripped) contributes under mode, into out:
//   0, -3 (and any other mode not listed)  the line itself;
//   N > 0                                  field N ("" past the last field);
//   -4                                     fields 1 .. count-1, each + " ";
//   -2                                     the line and "\n".
// REQUIRES: line is not null.
void list_line_item(const char *line, int mode, std::string &out);
