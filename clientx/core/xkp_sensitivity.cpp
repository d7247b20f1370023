// The menu sensitivity rule, from the browse state.
#include "xkp_sensitivity.h"

#include "xkp_state.h"

int sensitivity_mode(int mode) {
    if (mode == 0) {
        if (browsing_filesys == 0) {
            mode = 2;
        } else {
            mode = browsing_database > 0 ? browsing_database : 1;
        }
    }
    if (mode > 4) {
        mode = (mode % 2 != 0) ? 3 : 4;
    }
    return mode;
}

bool menu_item_sensitive(int item_mode, bool needs_selection, int mode, int selections) {
    bool sensitive = item_mode == mode || (mode == 2 && item_mode == -2 && true_image == 0);
    return sensitive && !(needs_selection && selections <= 0);
}

bool altpath_item_allowed() {
    return standard_or_wbak != 3;
}
