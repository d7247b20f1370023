// The progress dialog: which logs it lists, a log followed as it grows,
// shrinks, vanishes or is a link, deleting a log, the automatic refresh, and
// the one-dialog rule of the menus.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_main.h"
#include "xkp_progress.h"
#include "xkp_state.h"

#include <X11/IntrinsicP.h>
#include <Xm/List.h>
#include <Xm/Text.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Items = std::vector<std::string>;

class ProgressTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        saved_home_ = getenv("HOME") != nullptr ? getenv("HOME") : "";
        setenv("HOME", home_.path().c_str(), 1);
    }
    void TearDown() override {
        set_auto_refresh(0);
        gui::close_message_boxes();
        GuiTest::TearDown();
        setenv("HOME", saved_home_.c_str(), 1);
    }
    void write(const std::string &name, const std::string &text, bool append = false) {
        std::ofstream(home_.file(name),
                      append ? std::ios::app | std::ios::binary : std::ios::binary)
            << text;
    }
    Widget open(const char *kind) {
        report_name_fragment = kind;
        Widget shell = create_xkp_progress();
        EXPECT_NE(shell, nullptr);
        popup_interface(shell, XtGrabNone);
        gui::drain();
        return shell;
    }
    std::string shown() {
        char *text = XmTextGetString(progress_cat_widget);
        std::string out = text != nullptr ? text : "";
        XtFree(text);
        return out;
    }
    void choose(Widget shell, const std::string &path) {
        Items items = gui::list_items(gui::must_find(shell, "scrolledList6"));
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i] == path) {
                XmListSelectPos(gui::must_find(shell, "scrolledList6"), static_cast<int>(i) + 1,
                                True);
                gui::drain();
                return;
            }
        }
        ADD_FAILURE() << "not listed: " << path;
    }
    void enter(Widget shell) {
        gui::fire(gui::must_find(shell, "text8"), XmNactivateCallback);
        gui::drain();
    }

    gui::TempDir home_;
    std::string saved_home_;
};

TEST_F(ProgressTest, ListsTheLogsOfOneKindInByteOrder) {
    for (const char *n : {"kplog.rest.010", "kplog.rest.009", "kplog.rest.old", "kplog.bkup.001",
                          "kplog.rest", "xkplog.rest.001"}) {
        write(n, "");
    }
    ASSERT_EQ(mkdir(home_.file("kplog.rest.dir").c_str(), 0755), 0);
    Widget shell = open("rest");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "label16")), "Log files in your $HOME directory");
    EXPECT_EQ(gui::list_items(gui::must_find(shell, "scrolledList6")),
              (Items{home_.file("kplog.rest.009"), home_.file("kplog.rest.010"),
                     home_.file("kplog.rest.dir"), home_.file("kplog.rest.old")}));
    EXPECT_EQ(progress_filename_widget, gui::must_find(shell, "text8"));
    EXPECT_FALSE(gui::toggle_set(gui::must_find(shell, "toggleButton6")));
    EXPECT_EQ(shown(), "");
}

TEST_F(ProgressTest, FollowsAGrowingLogReadingOnlyWhatIsNew) {
    write("kplog.bkup.001", "start  \t\nsecond\n");
    write("kplog.bkup.002", "other log\n");
    Widget shell = open("bkup");
    std::string log = home_.file("kplog.bkup.001");
    choose(shell, log);
    EXPECT_EQ(gui::text_of(gui::must_find(shell, "text8")), log);
    EXPECT_EQ(shown(), "start\nsecond\n");
    EXPECT_EQ(progress_filesize, 16);

    struct Step {
        const char *what;
        std::string append; // added to the log before the refresh
        bool truncate;
        std::string want;
    } steps[] = {
        {"a line still being written is not shown", "third\npart", false, "start\nsecond\nthird\n"},
        {"and shows whole once it ends", "ial\n", false, "start\nsecond\nthird\npartial\n"},
        {"nothing new", "", false, "start\nsecond\nthird\npartial\n"},
        {"truncated by a new request: shown from the start", "new run\n", true, "new run\n"},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        write("kplog.bkup.001", s.append, !s.truncate);
        enter(shell);
        EXPECT_EQ(shown(), s.want);
    }
    // Choosing another log starts it from the beginning; a path typed in the
    // field is shown on Enter even when it is not a log.
    choose(shell, home_.file("kplog.bkup.002"));
    EXPECT_EQ(shown(), "other log\n");
    write("elsewhere", "typed\n");
    put_text(progress_filename_widget, home_.file("elsewhere").c_str());
    enter(shell);
    EXPECT_EQ(shown(), "typed\n");

    // A log that vanishes, or a link in a log's place, empties the text.
    unlink(home_.file("elsewhere").c_str());
    enter(shell);
    EXPECT_EQ(shown(), "");
    ASSERT_EQ(symlink(home_.file("kplog.bkup.002").c_str(), home_.file("kplog.bkup.003").c_str()),
              0);
    put_text(progress_filename_widget, home_.file("kplog.bkup.003").c_str());
    enter(shell);
    EXPECT_EQ(shown(), "");
}

TEST_F(ProgressTest, LongLinesAndManyLines) {
    std::string longline(4000, 'x');
    write("kplog.arch.001", longline + "\n");
    Widget shell = open("arch");
    choose(shell, home_.file("kplog.arch.001"));
    // A line over the line limit goes on as the next line.
    EXPECT_EQ(shown(), std::string(1536, 'x') + "\n" + std::string(1536, 'x') + "\n" +
                           std::string(928, 'x') + "\n");
    std::string many;
    for (int i = 0; i < 50010; ++i) {
        many += "l\n";
    }
    write("kplog.arch.002", many);
    put_text(progress_filename_widget, home_.file("kplog.arch.002").c_str());
    enter(shell);
    EXPECT_EQ(shown().size(), 2u * 50000) << "at most 50000 lines a refresh";
    enter(shell);
    EXPECT_EQ(shown().size(), 2u * 50010) << "the rest at the next";
}

TEST_F(ProgressTest, DeleteLogFile) {
    write("kplog.bkup.001", "a\n");
    write("kplog.bkup.002", "b\n");
    Widget shell = open("bkup");
    choose(shell, home_.file("kplog.bkup.001"));
    gui::fire(gui::must_find(shell, "pushButton9"), XmNactivateCallback);
    gui::drain();
    EXPECT_EQ(access(home_.file("kplog.bkup.001").c_str(), F_OK), -1);
    EXPECT_EQ(gui::list_items(gui::must_find(shell, "scrolledList6")),
              (Items{home_.file("kplog.bkup.002")}));
    EXPECT_EQ(shown(), "");
    EXPECT_EQ(gui::text_of(progress_filename_widget), "");
    EXPECT_STREQ(progress_cat_filename, "");
    // With an empty field nothing is deleted, the list is still rebuilt.
    write("kplog.bkup.005", "");
    gui::fire(gui::must_find(shell, "pushButton9"), XmNactivateCallback);
    gui::drain();
    EXPECT_EQ(gui::list_items(gui::must_find(shell, "scrolledList6")).size(), 2u);
}

TEST_F(ProgressTest, AutomaticRefreshFollowsTheLogUntilTurnedOff) {
    write("kplog.bkup.001", "one\n");
    Widget shell = open("bkup");
    choose(shell, home_.file("kplog.bkup.001"));
    gui::toggle(gui::must_find(shell, "toggleButton6"), true);
    EXPECT_EQ(auto_refresh_interval, 10);
    write("kplog.bkup.001", "two\n", true);
    write("kplog.bkup.007", "");
    // Wait for the timer (ten seconds and a tenth), not for a deadline.
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (shown() != "one\ntwo\n" && std::chrono::steady_clock::now() < give_up) {
        XtAppProcessEvent(gui::app(), XtIMAll);
    }
    EXPECT_EQ(shown(), "one\ntwo\n");
    EXPECT_EQ(gui::list_items(gui::must_find(shell, "scrolledList6")).size(), 2u);
    gui::toggle(gui::must_find(shell, "toggleButton6"), false);
    EXPECT_EQ(auto_refresh_interval, 0);
}

TEST_F(ProgressTest, OneDialogAtATimeFromTheMenus) {
    T_strlcpy(current_working_directory, (home_.path() + "/").c_str(),
              sizeof current_working_directory);
    Widget main = create_xkp_main();
    popup_interface(main, XtGrabNone);
    gui::drain();
    auto item = [main](const char *name) {
        return XtNameToWidget(gui::must_find(main, "menu1_p4"), name);
    };
    gui::fire(item("menu1_p4_b6"), XmNactivateCallback);
    gui::drain();
    ASSERT_NE(progress_filename_widget, nullptr);
    EXPECT_STREQ(report_name_fragment, "bkup");
    Widget first = progress_filename_widget;
    gui::fire(item("menu1_p4_b7"), XmNactivateCallback);
    gui::drain();
    std::vector<gui::MessageBox> boxes = gui::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You can only show one progress display at one time.");
    EXPECT_EQ(progress_filename_widget, first);
    EXPECT_STREQ(report_name_fragment, "bkup");
    gui::close_message_boxes();

    // Close lets the next one open.
    gui::click(gui::must_find(XtParent(first), "pushButton8"));
    gui::drain();
    EXPECT_EQ(progress_filename_widget, nullptr);
    gui::fire(item("menu1_p4_b7"), XmNactivateCallback);
    gui::drain();
    EXPECT_NE(progress_filename_widget, nullptr);
    EXPECT_STREQ(report_name_fragment, "arch");
}

} // namespace
