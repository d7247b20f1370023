// The generic list loader on real widgets: the modes, the line and count
// limits, the batches, and loading a command's output.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "xkp_loadlist.h"

#include <Xm/Form.h>
#include <Xm/Text.h>

#include <cstdio>
#include <list>
#include <memory>

namespace {

using Items = std::vector<std::string>;

struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};

class LoadListTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, top_, nullptr);
        list_ = XmCreateScrolledList(form, ux_str("list"), nullptr, 0);
        XtManageChild(list_);
        Arg arg;
        XtSetArg(arg, XmNeditMode, XmMULTI_LINE_EDIT);
        text_ = XmCreateScrolledText(form, ux_str("text"), &arg, 1);
        XtManageChild(text_);
    }
    // A stream over text, open until the end of the test.
    FILE *stream(const std::string &text) {
        std::string &b = buffers_.emplace_back(text);
        FILE *f = b.empty() ? fopen("/dev/null", "r") : fmemopen(b.data(), b.size(), "r");
        return files_.emplace_back(f).get();
    }

    Widget list_ = nullptr, text_ = nullptr;
    std::list<std::string> buffers_;
    std::vector<std::unique_ptr<FILE, FileCloser>> files_;
};

std::string rows(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += "row " + std::to_string(i) + "\n";
    }
    return text;
}

Items row_items(int count) {
    Items items;
    for (int i = 1; i <= count; ++i) {
        items.push_back("row " + std::to_string(i));
    }
    return items;
}

TEST_F(LoadListTest, ListModesLongLinesAndTheLineLimit) {
    const std::string input = "  alpha beta\tgamma  \n"
                              "one\n"
                              "\n"
                              "a b c d\n"
                              "unterminated last line";
    const std::string longline(LOAD_LINE_MAX + 10, 'x');
    struct Case {
        std::string input;
        int mode;
        Items items;
    } cases[] = {
        // The modes' item shapes are for the unit ListLine.ModesShapeTheItem;
        // here the mode must reach each line.
        {input, 0, {"  alpha beta\tgamma", "one", "", "a b c d"}},
        {input, -4, {"alpha beta ", "", "", "a b c "}},
        // A line over the limit goes on as the next item.
        {longline + "\nshort\n",
         0,
         {std::string(LOAD_LINE_MAX, 'x'), std::string(10, 'x'), "short"}},
        // Counts around the batch size, and the limit on lines.
        {rows(1999), 0, row_items(1999)},
        {rows(2000), 0, row_items(2000)},
        {rows(2001), 0, row_items(2001)},
        {rows(50000), 0, row_items(50000)},
        {rows(60000), 0, row_items(50000)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + ", " + std::to_string(c.items.size()));
        list_delete_all(list_);
        load_list_from_fd(list_, stream(c.input), c.mode);
        EXPECT_EQ(gui::list_items(list_), c.items);
        EXPECT_EQ(get_selection_count(list_), 0);
    }
}

TEST_F(LoadListTest, TextModeAppendsAndMismatchedWidgetsOrNullsLoadNothing) {
    XmTextSetString(text_, ux_str("kept\n"));
    load_list_from_fd(text_, stream("one  \ntwo\t\npartial"), LOAD_TEXT);
    EXPECT_EQ(gui::text_of(text_), "kept\none\ntwo\n");

    load_list_from_fd(list_, stream("x\n"), LOAD_TEXT);
    load_list_from_fd(text_, stream("x\n"), 0);
    load_list_from_fd(nullptr, stream("x\n"), 0);
    load_list_from_fd(list_, nullptr, 0);
    EXPECT_TRUE(gui::list_items(list_).empty());
    EXPECT_EQ(gui::text_of(text_), "kept\none\ntwo\n");
}

TEST_F(LoadListTest, LoadListRunsTheCommandAndReturnsItsStatus) {
    gui::TempDir dir;
    std::string ok = gui::write_fake_program(dir.path(), "lister", "new one\nnew two\n", 0);
    std::string failing = gui::write_fake_program(dir.path(), "failing", "partial\n", 227);

    // A command that cannot start leaves the list alone.
    load_list_from_fd(list_, stream("old\n"), 0);
    EXPECT_EQ(load_list(list_, dir.file("no-such-program").c_str(), 0, 1), 0);
    EXPECT_EQ(gui::list_items(list_), (Items{"old"}));
    EXPECT_TRUE(gui::managed(list_));
    gui::close_message_boxes();

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

} // namespace
