// Start-up: the toolkit options rewritten into resource settings, the
// program's own options and the debug setting.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "xkp_root.h"
#include "xkp_startup.h"
#include "xkp_state.h"

#include <Xm/Label.h>

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
        {{"xkp", "-FN", "x"}, {"xkp", "-FN", "x"}}, // case matters
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

// The font of a widget's first rendition and its type, "name type".
std::string font_of(Widget w) {
    XmRenderTable table = UxrGetProp<XmRenderTable>(w, XmNrenderTable);
    XmStringTag *tags = nullptr;
    const int count = table != nullptr ? XmRenderTableGetTags(table, &tags) : 0;
    if (count < 1) {
        return "-";
    }
    XmRendition r = XmRenderTableGetRendition(table, tags[0]);
    char *name = nullptr;
    XmFontType type = XmFONT_IS_FONT;
    Arg args[2];
    XtSetArg(args[0], XmNfontName, &name);
    XtSetArg(args[1], XmNfontType, &type);
    XmRenditionRetrieve(r, args, 2);
    std::string got = std::string(name != nullptr ? name : "") + " " + std::to_string(type);
    XmRenditionFree(r);
    for (int i = 0; i < count; ++i) {
        XtFree(tags[i]);
    }
    XtFree(reinterpret_cast<char *>(tags));
    return got;
}

using FontOption = GuiTest;

TEST_F(FontOption, GivenFontIsTheFontOfLabelsAndLists) {
    // The installed resource file's render tables, then "-fn fixed".
    XrmDatabase db = XtDatabase(gui::display());
    ASSERT_NE(XrmCombineFileDatabase(product_path("app-defaults/XSV").c_str(), &db, True), 0);
    with_argv({"xkp", "-fn", "fixed"}, resourcify_argv);
    apply_font_option(&db);
    Widget label = XtVaCreateManagedWidget("label", xmLabelWidgetClass, top_, nullptr);
    Widget list = XmCreateScrolledList(top_, ux_str("list"), nullptr, 0);
    const std::string want = "fixed " + std::to_string(XmFONT_IS_FONT);
    EXPECT_EQ(font_of(label), want);
    EXPECT_EQ(font_of(list), want);
}

} // namespace
