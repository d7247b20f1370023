// Start-up: the toolkit options rewritten into resource settings, the
// program's own options and the debug setting.
#include <gtest/gtest.h>

#include "xkp_startup.h"
#include "xkp_state.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using V = std::vector<std::string>;

// Runs fn(argc, argv) over args and returns the argument vector after it.
template <typename Fn> V with_argv(V args, Fn fn) {
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    fn(static_cast<int>(argv.size()), argv.data());
    return V(argv.begin(), argv.end());
}

TEST(ResourcifyArgv, RewritesToolkitOptions) {
    const std::string huge(5000, 'x');
    struct Case {
        V in, out;
    } cases[] = {
        {{"xkp", "-fn", "fixed"}, {"xkp", "-xrm", "*fontList: fixed"}},
        {{"xkp", "-font", "9x15", "-b"}, {"xkp", "-xrm", "*fontList: 9x15", "-b"}},
        {{"xkp", "-g", "640x480+0+0"}, {"xkp", "-xrm", "*geometry: 640x480+0+0"}},
        {{"xkp", "-geometry", "1x1"}, {"xkp", "-xrm", "*geometry: 1x1"}},
        {{"xkp", "-T", "My xkp"}, {"xkp", "-xrm", "*title: My xkp"}},
        {{"xkp", "-title", "t", "-fn", "f"}, {"xkp", "-xrm", "*title: t", "-xrm", "*fontList: f"}},
        {{"xkp", "-b", "-title"}, {"xkp", "-b", "-title"}}, // last argument left alone
        {{"xkp", "-title"}, {"xkp", "-title"}},
        {{"xkp", "-fn"}, {"xkp", "-fn"}},
        {{"xkp", "-FN", "x"}, {"xkp", "-FN", "x"}}, // case matters
        {{"xkp"}, {"xkp"}},
        // One buffer per option, overwritten by a second occurrence.
        {{"xkp", "-fn", huge, "-fn", "second"},
         {"xkp", "-xrm", "*fontList: second", "-xrm", "*fontList: second"}},
        // A long value is cut to the buffer.
        {{"xkp", "-title", huge}, {"xkp", "-xrm", ("*title: " + huge).substr(0, 2047)}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(with_argv(c.in, resourcify_argv), c.out) << c.in.size();
    }
}

TEST(OwnOptions, TableOfOptions) {
    struct Case {
        const char *what;
        V args;
        int filesys, archives, raw, limit, real;
        const char *t_option, *ct_option;
    } cases[] = {
        {"nothing", {}, 1, 0, 0, 10000, 1, "", ""},
        {"-r", {"-r"}, 0, 0, 0, 10000, 1, "-t 0", "-ct 0"},
        {"-ra", {"-ra"}, 0, 1, 0, 10000, 1, "-t 0", "-ct 0"},
        {"-rr then -b", {"-rr", "-b"}, 1, 0, 1, 10000, 1, "-t 0", "-ct 0"},
        {"-r then -a", {"-r", "-a"}, 1, 0, 0, 10000, 1, "-t 0", "-ct 0"},
        {"-browselimit 500", {"-browselimit", "500"}, 1, 0, 0, 1000, 1, "", ""},
        {"-browselimit abc", {"-browselimit", "abc"}, 1, 0, 0, 1000, 1, "", ""},
        {"-browselimit 20000", {"-browselimit", "20000"}, 1, 0, 0, 20000, 1, "", ""},
        {"-browselimit 12ab", {"-browselimit", "12000ab"}, 1, 0, 0, 12000, 1, "", ""},
        {"-browselimit last", {"-browselimit"}, 1, 0, 0, 10000, 1, "", ""},
        {"-nl eats -r", {"-nl", "-r"}, 1, 0, 0, 10000, 0, "", ""},
        {"-nl last", {"-nl"}, 1, 0, 0, 10000, 1, "", ""},
        {"unknown and case", {"-R", "-x", "--r", "-RA", "r"}, 1, 0, 0, 10000, 1, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        reset_program_state();
        V args = {"xkp"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        with_argv(args, parse_own_options);
        EXPECT_EQ(browsing_filesys, c.filesys);
        EXPECT_EQ(restore_from_archives, c.archives);
        EXPECT_EQ(browsing_raw_partitions, c.raw);
        EXPECT_EQ(browse_limit, c.limit);
        EXPECT_EQ(really_get_real, c.real);
        EXPECT_STREQ(dash_t_option, c.t_option);
        EXPECT_STREQ(dash_ct_option, c.ct_option);
    }
}

TEST(DebugSetting, PresentEvenWhenEmptyAndCutWhenLong) {
    const std::string huge = "avoid " + std::string(4000, 'k');
    struct Case {
        const char *value; // null: unset
        int enabled;
        std::string setting;
    } cases[] = {{nullptr, 0, ""}, {"", 1, ""}, {"gkc", 1, "gkc"}, {huge.c_str(), 1, huge}};
    for (const Case &c : cases) {
        reset_program_state();
        if (c.value) {
            setenv("XKP_DEBUG", c.value, 1);
        } else {
            unsetenv("XKP_DEBUG");
        }
        read_debug_setting();
        EXPECT_EQ(debug_enabled, c.enabled);
        EXPECT_EQ(std::string(debug_string), c.setting.substr(0, XKP_TEXT_SIZE - 1));
    }
    unsetenv("XKP_DEBUG");
}

} // namespace
