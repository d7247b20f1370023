// The menu sensitivity rule: which browse mode the menus are set for, and
// which items are sensitive in it.
#include <gtest/gtest.h>

#include "xkp_sensitivity.h"
#include "xkp_state.h"

#include <string>

namespace {

TEST(MenuSensitivity, ModeZeroIsDerivedFromTheBrowseStateAndScriptModesFold) {
    struct Case {
        int mode, filesys, database, want;
    } cases[] = {{0, 1, 0, 1}, {0, 0, 0, 2}, {0, 1, 5, 3}, {0, 1, 12, 4}, {0, 0, 7, 2},
                 {1, 0, 0, 1}, {2, 1, 0, 2}, {9, 1, 0, 3}, {14, 0, 0, 4}, {-2, 1, 0, -2}};
    for (const Case &c : cases) {
        reset_program_state();
        browsing_filesys = c.filesys;
        browsing_database = c.database;
        EXPECT_EQ(sensitivity_mode(c.mode), c.want)
            << "mode " << c.mode << " filesys " << c.filesys << " database " << c.database;
    }
}

TEST(MenuSensitivity, ItemsFollowTheirModeTheSelectionsAndTrueImage) {
    // The Backup and Restore items as the main window registers them.
    struct Item {
        int mode;
        bool needs_selection;
    } items[] = {{1, true}, {1, false}, {3, true}, {2, false}, {2, true}, {-2, false}, {4, true}};
    struct Case {
        const char *what;
        int mode, selections, true_image;
        const char *want; // one 0/1 per item
    } cases[] = {
        {"file system, nothing selected", 1, 0, 0, "0100000"},
        {"file system, a selection", 1, 1, 0, "1100000"},
        {"restore, nothing selected", 2, 0, 0, "0001010"},
        {"restore, selections", 2, 3, 0, "0001110"},
        {"true-image restore leaves -2 out", 2, 3, 1, "0001100"},
        {"database backup scripts", 3, 1, 0, "0010000"},
        {"database restore scripts", 4, 1, 0, "0000001"},
    };
    for (const Case &c : cases) {
        reset_program_state();
        true_image = c.true_image;
        std::string got;
        for (const Item &item : items) {
            got += menu_item_sensitive(item.mode, item.needs_selection, c.mode, c.selections) ? '1'
                                                                                              : '0';
        }
        EXPECT_EQ(got, c.want) << c.what;
    }
}

TEST(MenuSensitivity, ClientTypeThreeHasNoAlternateDestination) {
    for (int type : {-1, 0, 3, 16, 19}) {
        reset_program_state();
        standard_or_wbak = type;
        EXPECT_EQ(altpath_item_allowed(), type != 3) << type;
    }
}

} // namespace
