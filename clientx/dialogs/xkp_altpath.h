// The alternate destination dialog: one source path and one destination
// path written to a rename file that the next restore passes to kprestore
// after "-R", with the two link-renaming choices.
#pragma once
#include <X11/Intrinsic.h>

// The window's widgets, bound to each of them (UxGetContext).
struct _UxCxkp_altpath {
    Widget Uxxkp_desttpath; // the shell; the record is freed with it
    Widget Uxform;
    Widget Uxlabel25, Uxtext4;
    Widget Uxlabel26, Uxtext13;
    Widget UxtoggleButton9, UxtoggleButton11;
    Widget UxpushButton10, UxpushButton14, UxpushButton16, UxpushButton15;
};
extern _UxCxkp_altpath *UxXkp_altpathContext;

// Builds the dialog (unshown) and returns its shell "xkp_desttpath".
Widget create_xkp_altpath();

// OK's work without the widgets: a new rename file in the temporary
// directory (TMPDIR, else /tmp) named in altpath_cmdfile, holding
// "change FROM to TO". Returns 1 and defines the redirection with the two
// link flags, or 0 after showing why it failed.
int define_alternate_path(const char *from, const char *to, int hard, int soft);
