// The menu sensitivity rule, from the browse state.
#include "xkp_sensitivity.h"

#include "xkp_state.h"

int sensitivity_mode(int mode) {
    if (mode == SENS_FROM_BROWSE_STATE) {
        if (browsing_filesys == 0) {
            mode = SENS_RESTORE;
        } else {
            mode = browsing_database > 0 ? browsing_database : SENS_FILESYS;
        }
    }
    if (mode > SENS_DB_RESTORE_SCRIPTS) {
        mode = (mode % 2 != 0) ? SENS_DB_BACKUP_SCRIPTS : SENS_DB_RESTORE_SCRIPTS;
    }
    return mode;
}

bool menu_item_sensitive(int item_mode, bool needs_selection, int mode, int selections) {
    bool sensitive =
        item_mode == mode ||
        (mode == SENS_RESTORE && item_mode == SENS_RESTORE_NOT_TRUE_IMAGE && true_image == 0);
    return sensitive && !(needs_selection && selections <= 0);
}

bool altpath_item_allowed() {
    return standard_or_wbak != CLIENT_TYPE_APOLLO_WBAK;
}
