// The main window's widgets as program state: the search fields and the
// lists the browse engine reads and fills, and the File and View toggles the
// mode switches set. The main window creates them; the browse engine and the
// other windows reach them here, never through the main window's header.
#pragma once

#include <X11/Intrinsic.h>

// Widget handles of the program state, set by the widgets' creation
// callbacks (null before the window exists or after a list is destroyed).
extern Widget pathname;
extern Widget start_date, end_date;
extern Widget main_keyword, main_keyword_label;
extern Widget recursion;
extern Widget filename_filter;
extern Widget image_list, shadow_image_list;
extern Widget left_list, shadow_left_list;
extern Widget right_list, shadow_right_list;
extern Widget persistent_list;
// The File menu's browse toggles, in menu order.
extern Widget toggle_filesys, toggle_database, toggle_trueimage, toggle_archives, toggle_raw,
    toggle_auspex;
// The twelve database-script toggles.
extern Widget toggle_OBackup, toggle_ORestore, toggle_IBackup, toggle_IRestore, toggle_BBackup,
    toggle_BRestore, toggle_SBackup, toggle_SRestore, toggle_DB2Backup, toggle_DB2Restore,
    toggle_SAPBackup, toggle_SAPRestore;
// View menu toggles.
extern Widget toggle_all_dates, toggle_recent_dates, toggle_yes_get_real, toggle_no_get_real;
// The main window's shell (busy cursor of the start dialog).
extern Widget main_screen;

// Reads the fields into the program state; returns the directory a
// double-click in the lists opens (a buffer living for the whole run).
char *update_globals();
