#include <gtest/gtest.h>

#include "xkp_state.h"

#include <string>

struct ClientTypeCase {
    int type;
    int auspex;
    const char *t;
    const char *ct;
};

TEST(ProgramState, ClientTypeFragments) {
    const ClientTypeCase cases[] = {
        {0, 0, "-t 0", "-ct 0"},    {-1, 0, "", ""},           {17, 0, "-t 17", "-ct 17"},
        {-1, 1, "-t 12", "-ct 12"}, {5, 1, "-t 12", "-ct 12"},
    };
    for (const auto &c : cases) {
        reset_program_state();
        standard_or_wbak = c.type;
        browsing_auspex = c.auspex;
        set_client_type_argvs();
        EXPECT_STREQ(dash_t_option, c.t) << c.type << "/" << c.auspex;
        EXPECT_STREQ(dash_ct_option, c.ct) << c.type << "/" << c.auspex;
    }
}

TEST(ProgramState, TypeThreeCancelsAlternateDestination) {
    reset_program_state();
    use_alternate_path = alternate_path_defined = 1;
    standard_or_wbak = 3;
    set_client_type_argvs();
    EXPECT_EQ(use_alternate_path, 0);
    EXPECT_EQ(alternate_path_defined, 0);
    standard_or_wbak = 2;
    use_alternate_path = 1;
    set_client_type_argvs();
    EXPECT_EQ(use_alternate_path, 1);
}
