// The generic list loader: lines of a stream or of a command's output into a
// Motif list or a text widget. The line rules (modes) are in xkp_listline.h.
#pragma once

#include "xkp_listline.h"

#include <X11/Intrinsic.h>

#include <cstdio>

// Reads lines from stream (read_till_eol, at most LOAD_LINE_MAX characters a
// line) until end of file or LOAD_MAX_LINES lines, strips each line's
// trailing blanks, tabs and newlines, and appends what the line gives under
// mode (list_line_item): a list item for modes 0, -3, -4 and N > 0, text
// at the end of the text widget for mode -2. A last line without a newline is
// not loaded. Nothing happens for a null widget or stream, or for mode -2 on
// a widget that is not a text widget (or a list mode on one that is not a
// list). The stream is left where reading stopped.
void load_list_from_fd(Widget widget, FILE *stream, int mode);

// Runs command through the command runner (mypopen), empties widget first
// when clear is set (mode -2: its text becomes ""; otherwise every item is
// deleted), loads the output with load_list_from_fd and returns the exit
// status (mypclose); 0 when the command did not start, in which case the
// widget is left as it was. The widget is unmanaged while it is filled.
int load_list(Widget widget, const char *command, int mode, int clear);
