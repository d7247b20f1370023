// Which menu items the user may choose in which browse mode. An item belongs
// to one browse mode (1 file system, 2 restore, 3 database backup scripts,
// 4 database restore scripts, -2 restore but not true-image restore) and may
// need a selection; the window applies the answers to its widgets.
#pragma once

// The browse modes of the sensitivity rule. SENS_FROM_BROWSE_STATE asks for
// the mode the browse state gives.
enum : int {
    SENS_FROM_BROWSE_STATE = 0,
    SENS_FILESYS = 1,
    SENS_RESTORE = 2,
    SENS_RESTORE_NOT_TRUE_IMAGE = -2, // restore, but not true-image restore
    SENS_DB_BACKUP_SCRIPTS = 3,
    SENS_DB_RESTORE_SCRIPTS = 4,
};

// The mode the menus are set for: mode itself, or for 0 the one the browse
// state gives (file system, a database-script mode, or restore). The
// database-script modes above 4 fold into 3 (odd, backup scripts) and 4
// (even, restore scripts).
int sensitivity_mode(int mode);

// Whether an item of item_mode, needing a selection or not, is sensitive in
// mode (as sensitivity_mode gives it) while the user holds selections.
bool menu_item_sensitive(int item_mode, bool needs_selection, int mode, int selections);

// Whether the alternate-destination item may be offered: not for clients of
// type 3, which restore to their own paths only.
bool altpath_item_allowed();
