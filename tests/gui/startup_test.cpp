// Start-up: the toolkit options rewritten into resource settings, the
// program's own options and the debug setting.
#include <gtest/gtest.h>

#include "xkp_startup.h"
#include "xkp_state.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> resourcified(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    resourcify_argv(static_cast<int>(argv.size()), argv.data());
    return std::vector<std::string>(argv.begin(), argv.end());
}

TEST(ResourcifyArgv, RewritesToolkitOptions) {
    using V = std::vector<std::string>;
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
    };
    for (const Case &c : cases) {
        EXPECT_EQ(resourcified(c.in), c.out) << c.in.size();
    }
}

TEST(ResourcifyArgv, LongValuesAreCutAndASecondOccurrenceReusesTheBuffer) {
    std::string huge(5000, 'x');
    std::vector<std::string> args = {"xkp", "-fn", huge, "-fn", "second"};
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    resourcify_argv(5, argv.data());
    std::string first = argv[2];
    EXPECT_EQ(first, "*fontList: second") << "one buffer per option, overwritten";
    EXPECT_EQ(argv[2], argv[4]);

    args = {"xkp", "-title", huge};
    argv.clear();
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    resourcify_argv(3, argv.data());
    EXPECT_EQ(std::string(argv[2]).size(), 2047u);
    EXPECT_EQ(std::string(argv[2]).rfind("*title: xxx", 0), 0u);
}

TEST(OwnOptions, TableOfOptions) {
    using V = std::vector<std::string>;
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
        reset_program_state();
        std::vector<std::string> args = {"xkp"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char *> argv;
        for (std::string &a : args) {
            argv.push_back(a.data());
        }
        parse_own_options(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(browsing_filesys, c.filesys) << c.what;
        EXPECT_EQ(restore_from_archives, c.archives) << c.what;
        EXPECT_EQ(browsing_raw_partitions, c.raw) << c.what;
        EXPECT_EQ(browse_limit, c.limit) << c.what;
        EXPECT_EQ(really_get_real, c.real) << c.what;
        EXPECT_STREQ(dash_t_option, c.t_option) << c.what;
        EXPECT_STREQ(dash_ct_option, c.ct_option) << c.what;
    }
}

TEST(DebugSetting, PresentEvenWhenEmptyAndCutWhenLong) {
    struct Case {
        const char *value; // null: unset
        int enabled;
        size_t length;
    } cases[] = {{nullptr, 0, 0}, {"", 1, 0}, {"gkc", 1, 3}};
    for (const Case &c : cases) {
        reset_program_state();
        if (c.value) {
            setenv("XKP_DEBUG", c.value, 1);
        } else {
            unsetenv("XKP_DEBUG");
        }
        read_debug_setting();
        EXPECT_EQ(debug_enabled, c.enabled);
        EXPECT_EQ(strlen(debug_string), c.length);
    }
    reset_program_state();
    std::string huge = "avoid " + std::string(4000, 'k');
    setenv("XKP_DEBUG", huge.c_str(), 1);
    read_debug_setting();
    EXPECT_EQ(strlen(debug_string), 1535u);
    unsetenv("XKP_DEBUG");
}

} // namespace
