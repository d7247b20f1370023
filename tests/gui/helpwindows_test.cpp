// The help window, the help index and the version window, built for real
// and read back: which file a topic shows, how much of it, what the index
// lists and opens, and what the version window says.
#include <gtest/gtest.h>

#include "support/gui_harness.h"
#include "temp_root.h"

#include "xkp_help.h"
#include "xkp_helpindex.h"
#include "xkp_version.h"

#include <Xm/Text.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

using Items = std::vector<std::string>;

// Each test gets a product root of its own, with a help directory it fills.
class HelpWindowsTest : public GuiTest {
  protected:
    std::string help_dir() const { return root_.path() + "/sorvane/help"; }
    void write_help(const std::string &rel, const std::string &text) const {
        std::filesystem::path p = help_dir() + "/" + rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    static std::string last_help_text() {
        return gui::text_of(gui::must_find(gui::shells("xkp_help").back(), "scrolledText2"));
    }

    gui::TempDir root_;
    ScopedEnv env_{"XKP_ROOT", root_.path().c_str()};
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
    // No index file: an empty list and no message.
    Widget empty = gui::open(create_xkp_helpindex());
    EXPECT_TRUE(gui::list_items(gui::must_find(empty, "scrolledList3")).empty());
    EXPECT_TRUE(gui::message_boxes().empty());

    write_help("xkp/Index", index_text);
    Widget shell = gui::open(create_xkp_helpindex());
    Widget list = gui::must_find(shell, "scrolledList3");
    // The last line has no newline: it is not loaded.
    EXPECT_EQ(gui::list_items(list), (Items{"Using the tutorial ", "The main window ",
                                            "Third topic here ", "", "", "", "Full path topic "}));
    EXPECT_EQ(UxrGetProp<unsigned char>(list, XmNselectionPolicy), XmBROWSE_SELECT);
}

TEST_F(HelpWindowsTest, ChoosingAnItemOpensTheTopicOfItsLine) {
    // FULL is replaced by a full path below the help directory.
    std::string index = index_text;
    index.replace(index.find("FULL"), 4, help_dir() + "/xkp/Full");
    write_help("xkp/Index", index);
    for (const char *topic : {"xkp/Tutorial", "xkp/Main", "extra/Third", "lonely", "xkp/Full"}) {
        write_help(topic, std::string(topic) + " text\n");
    }
    const std::string tutorial = help_dir() + "/xkp/Tutorial";
    struct Case {
        int position;
        std::string topic, text;
    } cases[] = {
        {3, "extra/Third", "extra/Third text\n"},
        {1, "xkp/Tutorial", "xkp/Tutorial text\n"},
        {2, "xkp/Main", "xkp/Main text\n"},
        {4, "lonely", "lonely text\n"}, // a one-word line names its own file
        // Empty lines, and lines of blanks only, open the tutorial.
        {6, tutorial, "xkp/Tutorial text\n"},
        {7, help_dir() + "/xkp/Full", "xkp/Full text\n"},
    };
    Widget index_shell = gui::open(create_xkp_helpindex());
    Widget list = gui::must_find(index_shell, "scrolledList3");
    size_t opened = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE("item " + std::to_string(c.position));
        gui::select(list, c.position);
        // Every choice opens a further window; the earlier ones stay.
        ASSERT_EQ(gui::shells("xkp_help").size(), ++opened);
        EXPECT_STREQ(help_topic, c.topic.c_str());
        EXPECT_EQ(last_help_text(), c.text);
    }
    // The file is read again at each choice: a line it lost since the list
    // was built cannot be read, so the tutorial opens.
    write_help("xkp/Index", "One xkp/Main\n");
    gui::select(list, 2);
    EXPECT_STREQ(help_topic, tutorial.c_str());
    EXPECT_EQ(last_help_text(), "xkp/Tutorial text\n");
    // The index stays open for the next choice.
    EXPECT_EQ(gui::shells("xkp_helpindex").size(), 1u);
}

TEST_F(HelpWindowsTest, TopicsReadTheirFileBelowTheHelpDirectory) {
    std::string long_text, long_want;
    for (int i = 1; i <= 60000; ++i) {
        std::string line = "line " + std::to_string(i);
        long_text += line + "  \n";
        long_want += i <= 50000 ? line + "\n" : "";
    }
    write_help("xkp/Main", "main page\n");
    write_help("xkp/T", "first  \t\n\n  indented\t \nlast without newline");
    write_help("xkp/Long", long_text);
    ASSERT_EQ(mkfifo((help_dir() + "/xkp/Fifo").c_str(), 0600), 0);
    std::filesystem::create_directories(help_dir() + "/xkp/Dir");
    std::ofstream(root_.path() + "/elsewhere") << "must not be shown\n";
    const std::string overlong(5000, 'a');
    struct Case {
        std::string topic, text;
    } cases[] = {
        {"xkp/Main", "main page\n"},
        // A full path elsewhere is still taken below the help directory.
        {root_.path() + "/elsewhere", ""},
        // Trailing blanks and an unfinished last line are dropped.
        {"xkp/T", "first\n\n  indented\n"},
        {"xkp/Long", long_want}, // the first 50000 lines
        // Unreadable topics give empty windows and no message.
        {"xkp/Missing", ""},
        {"xkp/Fifo", ""},
        {"xkp/Dir", ""},
        {"", ""},
        {overlong, ""},
    };
    size_t opened = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.topic.substr(0, 80));
        help_topic_by_name(c.topic.c_str());
        gui::drain();
        ASSERT_EQ(gui::shells("xkp_help").size(), ++opened);
        // The topic is cut to its buffer.
        EXPECT_EQ(std::string(help_topic), c.topic.substr(0, XKP_TEXT_SIZE - 1));
        // Compared whole, without a line diff of the long text on failure.
        const std::string text = last_help_text();
        EXPECT_TRUE(text == c.text) << "got " << text.size() << " bytes: " << text.substr(0, 200);
    }
    EXPECT_TRUE(gui::message_boxes().empty());
}

TEST_F(HelpWindowsTest, WindowsLabelsLayoutAndButtons) {
    write_help("xkp/Help", "about help\n");
    Widget index = gui::open(create_xkp_helpindex());
    gui::click(gui::must_find(index, "pushButton2"));
    ASSERT_EQ(gui::shells("xkp_help").size(), 1u);
    EXPECT_STREQ(help_topic, (help_dir() + "/xkp/Help").c_str());
    EXPECT_EQ(last_help_text(), "about help\n");
    Widget help = gui::shells("xkp_help")[0];
    Widget text = gui::must_find(help, "scrolledText2");
    EXPECT_FALSE(XmTextGetEditable(text));
    EXPECT_EQ(UxrGetProp<int>(text, XmNeditMode), XmMULTI_LINE_EDIT);
    Widget version = gui::open(create_xkp_version());
    EXPECT_EQ(gui::text_of(gui::must_find(version, "text12")), "2004100719");
    EXPECT_FALSE(XmTextGetEditable(gui::must_find(version, "text12")));
    EXPECT_FALSE(gui::label_of(gui::must_find(version, "label8")).empty());
    EXPECT_FALSE(gui::label_of(gui::must_find(version, "label35")).empty());
    struct Case {
        Widget shell;
        const char *title, *geometry, *label, *label_text, *close, *help;
    } cases[] = {
        {index, "xkp_helpindex", "800x540+70+70", "label5", "Please Select a Help Topic",
         "pushButton1", "pushButton2"},
        {help, "xkp_help", "750x570+50+50", "label9", "Online Help text for xkp", "pushButton5",
         nullptr},
        {version, "xkp_version", "550x300+60+60", "label27", "Product Identification",
         "pushButton4", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(gui::title_of(c.shell), c.title);
        EXPECT_EQ(gui::geometry(c.shell), c.geometry);
        EXPECT_EQ(gui::label_of(gui::must_find(c.shell, c.label)), c.label_text);
        EXPECT_EQ(gui::label_of(gui::must_find(c.shell, c.close)), "Close");
        if (c.help != nullptr) {
            EXPECT_EQ(gui::label_of(gui::must_find(c.shell, c.help)), "Help...");
        }
    }
    // Each opening builds a window of its own; Close shuts only its own.
    Widget second = gui::open(create_xkp_version());
    gui::click(gui::must_find(index, "pushButton1"));
    EXPECT_TRUE(gui::shells("xkp_helpindex").empty());
    EXPECT_EQ(gui::shells("xkp_help").size(), 1u);
    gui::click(gui::must_find(help, "pushButton5"));
    EXPECT_TRUE(gui::shells("xkp_help").empty());
    gui::click(gui::must_find(version, "pushButton4"));
    EXPECT_EQ(gui::shells("xkp_version"), std::vector<Widget>{second});
}

} // namespace
