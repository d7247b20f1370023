// The help window, the help index and the version window, built for real
// and read back: which file a topic shows, how much of it, what the index
// lists and opens, and what the version window says.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_help.h"
#include "xkp_helpindex.h"
#include "xkp_helppath.h"
#include "xkp_state.h"
#include "xkp_version.h"

#include <X11/IntrinsicP.h>
#include <Xm/List.h>
#include <Xm/Text.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// Each test gets a product root of its own, with a help directory it fills.
class HelpWindowsTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        const char *r = getenv("XKP_ROOT");
        had_root_ = r != nullptr;
        saved_root_ = r != nullptr ? r : "";
        setenv("XKP_ROOT", root_.path().c_str(), 1);
        std::filesystem::create_directories(help_dir() + "/xkp");
    }
    void TearDown() override {
        GuiTest::TearDown();
        if (had_root_) {
            setenv("XKP_ROOT", saved_root_.c_str(), 1);
        } else {
            unsetenv("XKP_ROOT");
        }
    }

    std::string help_dir() const { return root_.path() + "/sorvane/help"; }
    void write_help(const std::string &rel, const std::string &text) const {
        std::filesystem::path p = help_dir() + "/" + rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }

    // Live shells of the given name under the test's top level, oldest first.
    static std::vector<Widget> shells(const char *name) {
        std::vector<Widget> found;
        for (Cardinal i = 0; i < UxTopLevel->core.num_popups; ++i) {
            Widget s = UxTopLevel->core.popup_list[i];
            if (!s->core.being_destroyed && strcmp(XtName(s), name) == 0) {
                found.push_back(s);
            }
        }
        return found;
    }
    static std::string help_text(Widget shell) {
        return gui::text_of(gui::must_find(shell, "scrolledText2"));
    }
    static std::string title_of(Widget shell) {
        char *title = nullptr;
        XtVaGetValues(shell, XmNtitle, &title, nullptr);
        return title ? title : "";
    }
    static void expect_geometry(Widget shell, int w, int h, int x, int y) {
        Dimension width = 0, height = 0;
        Position px = 0, py = 0;
        XtVaGetValues(shell, XmNwidth, &width, XmNheight, &height, XmNx, &px, XmNy, &py, nullptr);
        EXPECT_EQ(width, w) << XtName(shell);
        EXPECT_EQ(height, h) << XtName(shell);
        EXPECT_EQ(px, x) << XtName(shell);
        EXPECT_EQ(py, y) << XtName(shell);
    }
    Widget open_index() {
        Widget shell = create_xkp_helpindex();
        EXPECT_NE(shell, nullptr);
        popup_interface(shell, XtGrabNone);
        gui::drain();
        return shell;
    }

    gui::TempDir root_;
    bool had_root_ = false;
    std::string saved_root_;
};

const char *const index_text = "Using the tutorial   xkp/Tutorial\n"
                               "The main\twindow xkp/Main\n"
                               "Third topic here  extra/Third\n"
                               "lonely\n"
                               "\n"
                               "   \t \n"
                               "Full path topic FULL\n"
                               "No newline at the end xkp/Never";

TEST_F(HelpWindowsTest, IndexListsEveryWordButTheLastOfEachLine) {
    write_help("xkp/Index", index_text);
    Widget shell = open_index();
    Widget list = gui::must_find(shell, "scrolledList3");
    std::vector<std::string> expected = {
        "Using the tutorial ", "The main window ", "Third topic here ", "", "", "",
        "Full path topic ",
        // The last line has no newline: it is not loaded.
    };
    EXPECT_EQ(gui::list_items(list), expected);
    EXPECT_EQ(UxrGetProp<unsigned char>(list, XmNselectionPolicy), XmBROWSE_SELECT);
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "label5")), "Please Select a Help Topic");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "pushButton1")), "Close");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "pushButton2")), "Help...");
    EXPECT_EQ(title_of(shell), "xkp_helpindex");
    expect_geometry(shell, 800, 540, 70, 70);
}

TEST_F(HelpWindowsTest, MissingIndexLeavesTheListEmpty) {
    Widget shell = open_index();
    EXPECT_TRUE(gui::list_items(gui::must_find(shell, "scrolledList3")).empty());
    EXPECT_TRUE(gui::message_boxes().empty());
}

TEST_F(HelpWindowsTest, ChoosingAnItemOpensTheTopicOfItsLine) {
    // FULL is replaced by a full path below the help directory.
    std::string index = index_text;
    index.replace(index.find("FULL"), 4, help_dir() + "/xkp/Full");
    write_help("xkp/Index", index);
    write_help("xkp/Tutorial", "tutorial text\n");
    write_help("xkp/Main", "main text\n");
    write_help("extra/Third", "third text\n");
    write_help("lonely", "a one-word line names its own file\n");
    write_help("xkp/Full", "full text\n");
    struct Case {
        int position;
        std::string topic;
        std::string text;
    } cases[] = {
        {3, "extra/Third", "third text\n"},
        {1, "xkp/Tutorial", "tutorial text\n"},
        {2, "xkp/Main", "main text\n"},
        {4, "lonely", "a one-word line names its own file\n"},
        // Empty lines, and lines of blanks only, open the tutorial.
        {5, help_dir() + "/xkp/Tutorial", "tutorial text\n"},
        {6, help_dir() + "/xkp/Tutorial", "tutorial text\n"},
        {7, help_dir() + "/xkp/Full", "full text\n"},
    };
    Widget index_shell = open_index();
    Widget list = gui::must_find(index_shell, "scrolledList3");
    size_t opened = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE("item " + std::to_string(c.position));
        XmListSelectPos(list, c.position, True);
        gui::drain();
        std::vector<Widget> helps = shells("xkp_help");
        // Every choice opens a further window; the earlier ones stay.
        ASSERT_EQ(helps.size(), ++opened);
        EXPECT_STREQ(help_topic, c.topic.c_str());
        EXPECT_EQ(help_text(helps.back()), c.text);
    }
    // The index stays open for the next choice.
    EXPECT_EQ(shells("xkp_helpindex").size(), 1u);
}

TEST_F(HelpWindowsTest, IndexChangedOnDiskIsReadAgainWhenChoosing) {
    write_help("xkp/Index", "One xkp/One\nTwo xkp/Two\n");
    write_help("xkp/One", "one\n");
    write_help("xkp/Tutorial", "tutorial\n");
    Widget list = gui::must_find(open_index(), "scrolledList3");
    // The file loses its second line after the list was built: the line
    // cannot be read, so the tutorial opens.
    write_help("xkp/Index", "One xkp/One\n");
    XmListSelectPos(list, 2, True);
    gui::drain();
    ASSERT_EQ(shells("xkp_help").size(), 1u);
    EXPECT_STREQ(help_topic, (help_dir() + "/xkp/Tutorial").c_str());
    EXPECT_EQ(help_text(shells("xkp_help").back()), "tutorial\n");
}

TEST_F(HelpWindowsTest, IndexButtons) {
    write_help("xkp/Help", "about help\n");
    Widget shell = open_index();
    gui::click(gui::must_find(shell, "pushButton2"));
    ASSERT_EQ(shells("xkp_help").size(), 1u);
    EXPECT_STREQ(help_topic, (help_dir() + "/xkp/Help").c_str());
    EXPECT_EQ(help_text(shells("xkp_help")[0]), "about help\n");
    gui::click(gui::must_find(shell, "pushButton1"));
    EXPECT_TRUE(shells("xkp_helpindex").empty());
    EXPECT_EQ(shells("xkp_help").size(), 1u);
}

TEST_F(HelpWindowsTest, TopicsResolveBelowTheHelpDirectory) {
    write_help("xkp/Main", "main page\n");
    struct Case {
        std::string topic;
        std::string text;
    } cases[] = {
        {"xkp/Main", "main page\n"},
        {help_dir() + "/xkp/Main", "main page\n"},
        // A full path elsewhere is still taken below the help directory.
        {root_.path() + "/elsewhere", ""},
    };
    std::ofstream(root_.path() + "/elsewhere") << "must not be shown\n";
    for (const auto &c : cases) {
        help_topic_by_name(c.topic.c_str());
        gui::drain();
        EXPECT_STREQ(help_topic, c.topic.c_str());
        EXPECT_EQ(help_text(shells("xkp_help").back()), c.text) << c.topic;
    }
}

TEST_F(HelpWindowsTest, LinesLoseTrailingBlanksAndTheUnfinishedLastLine) {
    write_help("xkp/T", "first  \t\n\n  indented\t \nlast without newline");
    help_topic_by_name("xkp/T");
    gui::drain();
    EXPECT_EQ(help_text(shells("xkp_help").back()), "first\n\n  indented\n");
}

TEST_F(HelpWindowsTest, LongFileShowsItsFirstFiftyThousandLines) {
    std::string text, expected;
    for (int i = 1; i <= 60000; ++i) {
        std::string line = "line " + std::to_string(i);
        text += line + "  \n";
        if (i <= 50000) {
            expected += line + "\n";
        }
    }
    write_help("xkp/Long", text);
    help_topic_by_name("xkp/Long");
    gui::drain();
    EXPECT_EQ(help_text(shells("xkp_help").back()), expected);
}

TEST_F(HelpWindowsTest, UnreadableTopicsGiveEmptyWindowsWithoutMessages) {
    std::string fifo = help_dir() + "/xkp/Fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directories(help_dir() + "/xkp/Dir");
    const char *topics[] = {"xkp/Missing", "xkp/Fifo", "xkp/Dir", ""};
    for (const char *t : topics) {
        help_topic_by_name(t);
        gui::drain();
        EXPECT_EQ(help_text(shells("xkp_help").back()), "") << t;
    }
    EXPECT_EQ(shells("xkp_help").size(), 4u);
    EXPECT_TRUE(gui::message_boxes().empty());
}

TEST_F(HelpWindowsTest, HelpWindowLayoutAndClose) {
    write_help("xkp/Tutorial", "x\n");
    help_topic_by_name("xkp/Tutorial");
    gui::drain();
    ASSERT_EQ(shells("xkp_help").size(), 1u);
    Widget shell = shells("xkp_help")[0];
    EXPECT_EQ(title_of(shell), "xkp_help");
    expect_geometry(shell, 750, 570, 50, 50);
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "label9")), "Online Help text for xkp");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "pushButton5")), "Close");
    Widget text = gui::must_find(shell, "scrolledText2");
    EXPECT_FALSE(XmTextGetEditable(text));
    EXPECT_EQ(UxrGetProp<int>(text, XmNeditMode), XmMULTI_LINE_EDIT);
    gui::click(gui::must_find(shell, "pushButton5"));
    EXPECT_TRUE(shells("xkp_help").empty());
}

TEST_F(HelpWindowsTest, OverlongTopicIsCutToTheTopicBuffer) {
    std::string topic(5000, 'a');
    help_topic_by_name(topic.c_str());
    gui::drain();
    EXPECT_EQ(strlen(help_topic), XKP_TEXT_SIZE - 1);
    EXPECT_EQ(help_text(shells("xkp_help").back()), "");
}

TEST_F(HelpWindowsTest, VersionWindow) {
    Widget shell = create_xkp_version();
    ASSERT_NE(shell, nullptr);
    popup_interface(shell, XtGrabNone);
    gui::drain();
    EXPECT_EQ(gui::text_of(gui::must_find(shell, "text12")), "2004100719");
    EXPECT_FALSE(XmTextGetEditable(gui::must_find(shell, "text12")));
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "label27")), "Product Identification");
    EXPECT_FALSE(gui::label_of(gui::must_find(shell, "label8")).empty());
    EXPECT_FALSE(gui::label_of(gui::must_find(shell, "label35")).empty());
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "pushButton4")), "Close");
    EXPECT_EQ(title_of(shell), "xkp_version");
    expect_geometry(shell, 550, 300, 60, 60);
    // Each opening builds a window of its own.
    Widget second = create_xkp_version();
    popup_interface(second, XtGrabNone);
    gui::drain();
    EXPECT_EQ(shells("xkp_version").size(), 2u);
    gui::click(gui::must_find(shell, "pushButton4"));
    ASSERT_EQ(shells("xkp_version").size(), 1u);
    EXPECT_EQ(shells("xkp_version")[0], second);
}

// The installed help, as the staged product root holds it: every index item
// opens a window with text in it.
using InstalledHelpTest = GuiTest;

TEST_F(InstalledHelpTest, EveryIndexItemOpensAPageWithText) {
    Widget index = create_xkp_helpindex();
    ASSERT_NE(index, nullptr);
    popup_interface(index, XtGrabNone);
    gui::drain();
    Widget list = gui::must_find(index, "scrolledList3");
    int count = get_item_count(list);
    ASSERT_GE(count, 8);
    for (int i = 1; i <= count; ++i) {
        SCOPED_TRACE("item " + std::to_string(i) + ": " + gui::list_items(list)[i - 1]);
        EXPECT_NE(gui::list_items(list)[i - 1], "");
        XmListSelectPos(list, i, True);
        gui::drain();
        Widget help = nullptr;
        for (Cardinal k = 0; k < UxTopLevel->core.num_popups; ++k) {
            Widget s = UxTopLevel->core.popup_list[k];
            if (!s->core.being_destroyed && strcmp(XtName(s), "xkp_help") == 0) {
                help = s;
            }
        }
        ASSERT_NE(help, nullptr);
        std::string text = gui::text_of(gui::must_find(help, "scrolledText2"));
        EXPECT_GT(text.size(), 500u);
        EXPECT_EQ(help_file_for_topic(help_topic).rfind(help_topic_path("xkp/"), 0), 0u);
    }
}

} // namespace
