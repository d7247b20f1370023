// The generic list loader on real widgets: the modes, the line and count
// limits, the batches, and loading a command's output.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_loadlist.h"

#include <Xm/Form.h>
#include <Xm/List.h>
#include <Xm/Text.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

class LoadListTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        form_ = XtVaCreateManagedWidget("form", xmFormWidgetClass, top_, nullptr);
        list_ = XmCreateScrolledList(form_, ux_str("list"), nullptr, 0);
        XtManageChild(list_);
        Arg arg;
        XtSetArg(arg, XmNeditMode, XmMULTI_LINE_EDIT);
        text_ = XmCreateScrolledText(form_, ux_str("text"), &arg, 1);
        XtManageChild(text_);
    }
    // A stream over text (kept alive by the test).
    FILE *stream(const std::string &text) {
        buffers_.push_back(text);
        std::string &b = buffers_.back();
        FILE *f = fmemopen(b.empty() ? nullptr : b.data(), b.size(), "r");
        if (b.empty()) {
            f = fopen("/dev/null", "r");
        }
        files_.emplace_back(f);
        return f;
    }
    std::vector<std::string> load(const std::string &input, int mode) {
        list_delete_all(list_);
        load_list_from_fd(list_, stream(input), mode);
        return gui::list_items(list_);
    }

    Widget form_ = nullptr, list_ = nullptr, text_ = nullptr;
    std::vector<std::string> buffers_;
    std::vector<FilePtr> files_;
};

using Items = std::vector<std::string>;

TEST_F(LoadListTest, ListModes) {
    const std::string input = "  alpha beta\tgamma  \n"
                              "one\n"
                              "\n"
                              "a b c d\n"
                              "unterminated last line";
    struct Case {
        int mode;
        Items items;
    } cases[] = {
        {0, {"  alpha beta\tgamma", "one", "", "a b c d"}},
        {-3, {"  alpha beta\tgamma", "one", "", "a b c d"}},
        {2, {"beta", "", "", "b"}},
        {1, {"alpha", "one", "", "a"}},
        {-4, {"alpha beta ", "", "", "a b c "}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(load(input, c.mode), c.items) << "mode " << c.mode;
    }
}

TEST_F(LoadListTest, LongLinesContinueAsTheNextItem) {
    std::string longline(LOAD_LINE_MAX + 10, 'x');
    Items items = load(longline + "\nshort\n", 0);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], std::string(LOAD_LINE_MAX, 'x'));
    EXPECT_EQ(items[1], std::string(10, 'x'));
    EXPECT_EQ(items[2], "short");
}

TEST_F(LoadListTest, CountsAcrossBatchesAndTheLineLimit) {
    struct Case {
        int lines;
        int items;
    } cases[] = {{1999, 1999}, {2000, 2000}, {2001, 2001}, {50000, 50000}, {60000, 50000}};
    for (const auto &c : cases) {
        std::string input;
        for (int i = 1; i <= c.lines; ++i) {
            input += "row " + std::to_string(i) + "\n";
        }
        Items items = load(input, 0);
        ASSERT_EQ(static_cast<int>(items.size()), c.items) << c.lines;
        EXPECT_EQ(items.front(), "row 1");
        EXPECT_EQ(items.back(), "row " + std::to_string(c.items));
        EXPECT_EQ(get_selection_count(list_), 0);
    }
}

TEST_F(LoadListTest, TextModeAppendsLinesAtTheEnd) {
    XmTextSetString(text_, ux_str("kept\n"));
    FILE *f = stream("one  \ntwo\t\npartial");
    load_list_from_fd(text_, f, LOAD_TEXT);
    EXPECT_EQ(gui::text_of(text_), "kept\none\ntwo\n");
}

TEST_F(LoadListTest, MismatchedWidgetsAndNullsLoadNothing) {
    load_list_from_fd(list_, stream("x\n"), LOAD_TEXT);
    EXPECT_TRUE(gui::list_items(list_).empty());
    load_list_from_fd(text_, stream("x\n"), 0);
    EXPECT_EQ(gui::text_of(text_), "");
    load_list_from_fd(nullptr, stream("x\n"), 0);
    load_list_from_fd(list_, nullptr, 0);
    EXPECT_TRUE(gui::list_items(list_).empty());
}

TEST_F(LoadListTest, LoadListRunsTheCommandAndReturnsItsStatus) {
    gui::TempDir dir;
    std::string ok = gui::write_fake_program(dir.path(), "lister", "new one\nnew two\n", 0);
    std::string failing = gui::write_fake_program(dir.path(), "failing", "partial\n", 227);

    load_list_from_fd(list_, stream("old\n"), 0);
    EXPECT_EQ(load_list(list_, ok.c_str(), 0, 1), 0);
    EXPECT_EQ(gui::list_items(list_), (Items{"new one", "new two"}));
    EXPECT_TRUE(gui::managed(list_));

    // Without clearing, the output is added to what the list holds; the
    // failing command's lines are loaded all the same.
    EXPECT_EQ(load_list(list_, failing.c_str(), 2, 0), 227);
    EXPECT_EQ(gui::list_items(list_), (Items{"new one", "new two", ""}));

    XmTextSetString(text_, ux_str("stale"));
    EXPECT_EQ(load_list(text_, ok.c_str(), LOAD_TEXT, 1), 0);
    EXPECT_EQ(gui::text_of(text_), "new one\nnew two\n");

    // A list its window keeps hidden stays hidden.
    XtUnmanageChild(list_);
    EXPECT_EQ(load_list(list_, ok.c_str(), 0, 1), 0);
    EXPECT_FALSE(gui::managed(list_));
    EXPECT_EQ(gui::list_items(list_).size(), 2u);
}

TEST_F(LoadListTest, CommandThatCannotStartLeavesTheListAlone) {
    gui::TempDir dir;
    load_list_from_fd(list_, stream("kept\n"), 0);
    std::string missing = dir.file("no-such-program");
    EXPECT_EQ(load_list(list_, missing.c_str(), 0, 1), 0);
    EXPECT_EQ(gui::list_items(list_), (Items{"kept"}));
    EXPECT_TRUE(gui::managed(list_));
    gui::close_message_boxes();
}

} // namespace
