// The main window's menu sensitivity table: the items that belong to one
// browse mode (xkp_sensitivity.h) and may need a selection, set sensitive
// or not as the mode and the selections change.
#pragma once

#include <X11/Intrinsic.h>

constexpr int resensitize_limit = 20;
extern Widget resensitize_table[resensitize_limit];
extern int resensitize_parity[resensitize_limit];
extern int resensitize_selected[resensitize_limit];
extern int resensitize_index;
// The Restore menu's alternate-destination item, handled apart from the table
// (null while it does not exist).
extern Widget altpath_menu_item;

// Appends an entry; entries beyond the twentieth are dropped.
void add_resensitize_entry(Widget w, int mode, int needs_selection);
// Applies the table for mode (0: derived from the browse state) given the
// number of selections the user holds (file-list selections plus remembered
// ones). resensitize_menus(mode) supplies that number.
void resensitize_menus_with(int mode, int selections);
// The sensitivity table applied for mode (0: from the browse state), with
// the user's selections counted from right_list and persistent_list.
void resensitize_menus(int mode);
// Forgets the table (a test builds several main windows in one process).
void reset_resensitize_table();
