// The main window's menu sensitivity table.
#include "xkp_menus.h"

#include "uimx_helper.h"
#include "xkp_handles.h"
#include "xkp_sensitivity.h"

#include <utility>
#include <vector>

Widget resensitize_table[resensitize_limit];
int resensitize_parity[resensitize_limit];
int resensitize_selected[resensitize_limit];
int resensitize_index = 0;
Widget altpath_menu_item = nullptr;

void add_resensitize_entry(Widget w, int mode, int needs_selection) {
    if (resensitize_index >= resensitize_limit) {
        return;
    }
    resensitize_table[resensitize_index] = w;
    resensitize_parity[resensitize_index] = mode;
    resensitize_selected[resensitize_index] = needs_selection ? 1 : 0;
    ++resensitize_index;
}

void reset_resensitize_table() {
    for (int i = 0; i < resensitize_limit; ++i) {
        resensitize_table[i] = nullptr;
        resensitize_parity[i] = 0;
        resensitize_selected[i] = 0;
    }
    resensitize_index = 0;
    altpath_menu_item = nullptr;
}

void resensitize_menus_with(int mode, int selections) {
    mode = sensitivity_mode(mode);
    std::vector<std::pair<Widget, bool>> items;
    for (int i = 0; i < resensitize_index; ++i) {
        items.emplace_back(resensitize_table[i],
                           menu_item_sensitive(resensitize_parity[i], resensitize_selected[i] != 0,
                                               mode, selections));
    }
    if (!altpath_item_allowed() && altpath_menu_item != nullptr) {
        items.emplace_back(altpath_menu_item, false);
    }
    apply_sensitivity(items);
}

void resensitize_menus(int mode) {
    int selections = get_selection_count(right_list) + get_item_count(persistent_list);
    resensitize_menus_with(mode, selections);
}
