// The selection viewer: every selection the user holds, across all
// directories, one line each (the display text of its persistent_list
// entry). The Edit menu's "Inspect all selections..." merges the current
// selections into persistent_list and writes them to a request file before
// it opens the viewer.
#pragma once

#include <X11/Intrinsic.h>

// The window's widgets, bound to each of them (UxGetContext).
struct _UxCxkp_viewselect {
    Widget Uxxkp_viewselect; // the shell; the record is freed with it
    Widget Uxform6;
    Widget Uxlabel22;
    Widget UxscrolledWindow8;
    Widget UxscrolledList8;
    Widget UxpushButton3;
    Widget UxpushButton13;
};
extern _UxCxkp_viewselect *UxXkp_viewselectContext;

// Builds (unshown) the viewer and returns its shell. Its list holds line 1
// of every persistent_list entry, in list order (empty when there are none).
Widget create_xkp_viewselect();
