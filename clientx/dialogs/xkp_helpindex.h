// The help index: the topics of the Index file in a list; choosing one
// opens it in a new help window.
#pragma once

#include <X11/Intrinsic.h>

// The window's widgets, bound to each of them (UxGetContext).
struct _UxCxkp_helpindex {
    Widget Uxxkp_helpindex; // the shell; the record is freed with it
    Widget Uxform3;
    Widget Uxlabel5;
    Widget UxscrolledWindow3;
    Widget UxscrolledList3;
    Widget UxpushButton1;
    Widget UxpushButton2;
};
extern _UxCxkp_helpindex *UxXkp_helpindexContext;

// Builds (unshown) the help index and returns its shell. Its list shows one
// item per Index line: the line's words but the last (the topic's path),
// each followed by one blank. A missing Index leaves the list empty.
Widget create_xkp_helpindex();

// Opens the topic of the Index line whose position is selected in list: the
// line's last field, or the tutorial when the line is empty or the Index
// cannot be read that far.
void help_topic_by_widget(Widget list);
