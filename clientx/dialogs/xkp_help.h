// The help window: one help text file, read-only, in a window of its own.
// Every help request builds a further window; earlier ones stay open.
#pragma once

#include <X11/Intrinsic.h>

// The window's widgets, bound to each of them (UxGetContext).
struct _UxCxkp_help {
    Widget Uxxkp_help; // the shell; the record is freed with it
    Widget Uxform2;
    Widget Uxlabel9;
    Widget UxscrolledWindow2;
    Widget UxscrolledText2;
    Widget UxpushButton5;
};
extern _UxCxkp_help *UxXkp_helpContext;

// Builds (unshown) a help window for the topic in help_topic and returns its
// shell. The text shows the topic's file (help_file_for_topic): its lines
// without trailing blanks, at most 50000 of them; nothing when the file
// cannot be read.
Widget create_xkp_help();

// help_topic = topic, then a new help window is built and shown.
void help_topic_by_name(const char *topic);
