// The start dialog: the last step of every backup, archive, database-script
// and restore request. It shows what the request covers, takes the keyword,
// the restore options and the progress log, and on OK runs the assembled
// command and drops the selections; Cancel keeps them.
#pragma once

#include <X11/Intrinsic.h>

// The window's widgets, bound to each of them (UxGetContext).
struct _UxCxkp_confirm {
    Widget Uxxkp_confirm; // the shell; the record is freed with it
    Widget Uxform2;
    Widget Uxlabel5;
    Widget UxscrolledWindow7, UxscrolledList5;
    Widget Uxlabel6, Uxtext5;
    Widget UxtoggleButton1, Uxlabel17, Uxtext7;
    Widget UxtoggleButton3, UxtoggleButtonDummy, UxtoggleButton7, UxtoggleButton15;
    Widget UxpushButton6, UxpushButton7, UxpushButton11;
};
extern _UxCxkp_confirm *UxXkp_confirmContext;

// Builds (unshown) the dialog from the request state and returns its shell.
Widget create_xkp_confirm();
