// The main window: menus that switch the browse mode, change the display,
// manage selections and start requests; the fields of the search; the image,
// directory and file lists with their hidden companions.
#pragma once

#include "xkp_handles.h"

#include <X11/Intrinsic.h>

// The window's own widgets, bound to every one of them.
struct _UxCxkp_main {
    Widget Uxxkp_main;
    Widget Uxform1;
    Widget Uxmenu1;
    Widget Uxlabel1, Uxtext11;
    Widget Uxlabel3, Uxtext1, Uxtext3;
    Widget Uxlabel4, Uxtext4;
    Widget Uxframe1, UxpanedWindow2;
    Widget Uxform10, Uxlabel18, UxscrolledList7;
    Widget Uxform4, Uxlabel14, Uxtext6, UxarrowButton2, UxarrowButton1, Uxlabel2, Uxtext2;
    Widget Uxlabel10, UxscrolledList1, Uxseparator2, Uxlabel11, UxscrolledList2;
    Widget UxscrolledList4, UxscrolledList9, UxscrolledList10, UxscrolledList11;
    // View toggles handled in pairs.
    Widget Uxmenu1_p3_b1, Uxmenu1_p3_b2, Uxmenu1_p3_b4, Uxmenu1_p3_b5;
};
extern _UxCxkp_main *UxXkp_mainContext;

// Builds the main window with every widget, callback and binding (creation
// callbacks run in layout order) and returns its shell, unshown.
Widget create_xkp_main();

// Every browse and View toggle from the program state.
void set_toggle_states();

// The mode switches, as the File menu runs them. db_mode: 0 for plain
// file-system browsing, 3..14 for a database-script item.
void enter_filesys_mode(int db_mode);
// The kinds of restore browsing, as the File menu offers them.
enum : int {
    RESTORE_BACKUPS = 0,
    RESTORE_TRUE_IMAGE = 1,
    RESTORE_ARCHIVES = 2,
    RESTORE_RAW_PARTITIONS = 3,
    RESTORE_AUSPEX = 4,
};
// kind: one of the RESTORE_ kinds; any other value does nothing.
void enter_restore_mode(int kind);
