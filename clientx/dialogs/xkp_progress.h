// The progress dialog: the user's progress logs of one kind (kplog.bkup.*,
// kplog.arch.*, kplog.rest.* in $HOME) and the content of the chosen one,
// followed as it grows, on Enter or every ten seconds, with the job's
// progress as a bar under it. One at a time: while
// progress_filename_widget is set, a progress dialog is open.
#pragma once
#include <X11/Intrinsic.h>

// The window's widgets, bound to each of them (UxGetContext).
struct _UxCxkp_progress {
    Widget Uxxkp_progress; // the shell; the record is freed with it
    Widget Uxform3, Uxlabel12, Uxframe2, UxpanedWindow1;
    Widget Uxform8, Uxlabel16, UxscrolledList6;
    Widget Uxform9, Uxlabel15, UxscrolledText3;
    Widget Uxform10, Uxscale1, Uxlabel34; // the job's progress bar and its counts
    Widget Uxlabel33, Uxtext8, UxtoggleButton6;
    Widget UxpushButton8, UxpushButton9, UxpushButton12;
};
extern _UxCxkp_progress *UxXkp_progressContext;

// The list, the text area, its scrolled window and the path field of the
// open dialog (null when there is none).
extern Widget progress_ls_widget;
extern Widget progress_cat_widget;
extern Widget progress_cat_window_widget;
extern Widget progress_filename_widget;

// Builds (unshown) the dialog for report_name_fragment and returns its shell.
Widget create_xkp_progress();

// Fills list with the full paths of the logs of kind ("bkup", "arch",
// "rest") in $HOME ("/" without HOME), in byte order.
void load_progress_directory(Widget list, const char *kind);
// Appends to text what path gained since the last call (from the start for
// a new path or a file that shrank). 1 when text was appended. The progress
// bar of the open dialog follows the latest progress line of what was read
// and shows the job's end once its closing line is read; it is hidden while
// the log has no progress line.
int load_progress_text(Widget text, const char *path);
// Refreshes now and refreshes again every seconds (0: no more).
void set_auto_refresh(int seconds);
