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

} // namespace
