// The progress dialog: which logs it lists, a log followed as it grows,
// shrinks, vanishes or is a link, deleting a log, the automatic refresh, and
// the one-dialog rule of the menus.
#include <gtest/gtest.h>

#include "support/gui_harness.h"
#include "temp_root.h"

#include "tmmsg.h"
#include "xkp_main.h"
#include "xkp_progress.h"

#include <Xm/Scale.h>

#include <chrono>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Items = std::vector<std::string>;

class ProgressTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
    }
    void TearDown() override {
        set_auto_refresh(0);
        gui::close_message_boxes();
        GuiTest::TearDown();
    }
    void write(const std::string &name, const std::string &text, bool append = false) {
        std::ofstream(home_.file(name), append ? std::ios::app : std::ios::trunc) << text;
    }
    Widget open(const char *kind) {
        report_name_fragment = kind;
        return gui::open(create_xkp_progress());
    }
    static std::string shown() { return gui::text_of(progress_cat_widget); }
    static Items logs(Widget shell) {
        return gui::list_items(gui::must_find(shell, "scrolledList6"));
    }
    static void choose(Widget shell, const std::string &path) {
        Widget list = gui::must_find(shell, "scrolledList6");
        ASSERT_GT(gui::position_of(list, path), 0) << "not listed: " << path;
        gui::select(list, gui::position_of(list, path));
    }
    // Enter in the file name field, after typing path when one is given.
    static void enter(const std::string &path = "") {
        if (!path.empty()) {
            put_text(progress_filename_widget, path.c_str());
        }
        gui::fire(progress_filename_widget, XmNactivateCallback);
    }

    gui::TempDir home_;
    ScopedEnv env_{"HOME", home_.path().c_str()};
};

TEST_F(ProgressTest, ListsTheLogsOfOneKindInByteOrder) {
    for (const char *n : {"kplog.rest.010", "kplog.rest.009", "kplog.rest.old", "kplog.bkup.001",
                          "kplog.rest", "xkplog.rest.001"}) {
        write(n, "");
    }
    ASSERT_EQ(mkdir(home_.file("kplog.rest.dir").c_str(), 0755), 0);
    Widget shell = open("rest");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "label16")), "Log files in your $HOME directory");
    EXPECT_EQ(logs(shell), (Items{home_.file("kplog.rest.009"), home_.file("kplog.rest.010"),
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
    EXPECT_EQ(gui::text_of(progress_filename_widget), log);
    EXPECT_EQ(shown(), "start\nsecond\n");
    EXPECT_EQ(progress_filesize, 16);

    struct Step {
        const char *what;
        std::string append; // added to the log before the refresh (truncate: the whole log)
        bool truncate;
        std::string want;
    } steps[] = {
        {"a line still being written is not shown", "third\npart", false, "start\nsecond\nthird\n"},
        // The bytes of it already read are not read again (rewritten here
        // to tell): a refresh reads only what the log gained.
        {"and shows whole once it ends", "start  \t\nsecond\nthird\nPARTial\n", true,
         "start\nsecond\nthird\npartial\n"},
        {"nothing new", "", false, "start\nsecond\nthird\npartial\n"},
        {"truncated by a new request: shown from the start", "new run\n", true, "new run\n"},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        write("kplog.bkup.001", s.append, !s.truncate);
        enter();
        EXPECT_EQ(shown(), s.want);
    }
    // Choosing another log starts it from the beginning; a path typed in the
    // field is shown on Enter even when it is not a log.
    choose(shell, home_.file("kplog.bkup.002"));
    EXPECT_EQ(shown(), "other log\n");
    write("elsewhere", "typed\n");
    enter(home_.file("elsewhere"));
    EXPECT_EQ(shown(), "typed\n");
    // A log that vanishes, or a link in a log's place, empties the text.
    unlink(home_.file("elsewhere").c_str());
    enter();
    EXPECT_EQ(shown(), "");
    ASSERT_EQ(symlink(log.c_str(), home_.file("kplog.bkup.003").c_str()), 0);
    enter(home_.file("kplog.bkup.003"));
    EXPECT_EQ(shown(), "");
    // Closed by the window manager (destroyed) and opened again: the log
    // chosen again is shown whole.
    choose(shell, log);
    gui::wm_close(shell);
    ASSERT_EQ(progress_filename_widget, nullptr);
    choose(open("bkup"), log);
    EXPECT_EQ(shown(), "new run\n");
}

TEST_F(ProgressTest, ProgressBarFollowsTheLatestProgressLineAndTheEnd) {
    write("kplog.bkup.001", "12:00:00 backing up /home/ann\n");
    write("kplog.bkup.002", "12:00:00 restoring\n");
    Widget shell = open("bkup");
    choose(shell, home_.file("kplog.bkup.001"));
    Widget row = gui::must_find(shell, "form10"), scale = gui::must_find(shell, "scale1");
    // Shown or not, the bar's value and the counts under it.
    auto bar = [&] {
        int value = -1;
        XmScaleGetValue(scale, &value);
        return gui::managed(row)
                   ? std::to_string(value) + " " + gui::label_of(gui::must_find(shell, "label34"))
                   : "hidden";
    };
    EXPECT_EQ(bar(), "hidden");
    EXPECT_FALSE(gui::sensitive(scale) && UxrGetProp<Boolean>(scale, XmNeditable));
    const std::string ended = std::string("\nEnded with status 0: ") + getECmsgl(0, nullptr);
    const std::pair<std::string, std::string> steps[] = {
        {"12:00:02 progress: 1 of 4 files, 10 of 0 bytes, 25%\n"
         "12:00:04 progress: 2 of 4 files, 20 of 0 bytes, 50%\n",
         "50 50%, 2 of 4 files, 20 of 0 bytes"},
        {"12:00:05 FAILED '/home/ann/x': gone\n", "50 50%, 2 of 4 files, 20 of 0 bytes"},
        {"12:00:06 progress: 3 of 4 files, 30 of 90 bytes, 7",
         "50 50%, 2 of 4 files, 20 of 0 bytes"},
        {"5%\n12:00:07 EXIT STATUS 0: done\n", "100 100%, 3 of 4 files, 30 of 90 bytes" + ended},
    };
    for (const auto &[append, want] : steps) {
        SCOPED_TRACE(append);
        write("kplog.bkup.001", append, true);
        enter();
        EXPECT_EQ(bar(), want);
    }
    // A log without progress lines hides it; a failed job keeps its last
    // percentage and shows its status.
    choose(shell, home_.file("kplog.bkup.002"));
    EXPECT_EQ(bar(), "hidden");
    write("kplog.bkup.002",
          "12:00:02 progress: 0 of 0 files, 0 of 0 bytes, 0%\n12:00:03 EXIT STATUS 6: x\n", true);
    enter();
    EXPECT_EQ(bar(), std::string("0 0%, 0 of 0 files, 0 of 0 bytes\nEnded with status 6: ") +
                         getECmsgl(6, nullptr));
}

TEST_F(ProgressTest, LongLinesAndManyLines) {
    write("kplog.arch.001", std::string(4000, 'x') + "\n");
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
    enter(home_.file("kplog.arch.002"));
    EXPECT_EQ(shown().size(), 2u * 50000) << "at most 50000 lines a refresh";
    enter();
    EXPECT_EQ(shown().size(), 2u * 50010) << "the rest at the next";
}

TEST_F(ProgressTest, DeleteLogFile) {
    write("kplog.bkup.001", "a\n");
    write("kplog.bkup.002", "b\n");
    Widget shell = open("bkup");
    Widget del = gui::must_find(shell, "pushButton9");
    choose(shell, home_.file("kplog.bkup.001"));
    gui::fire(del, XmNactivateCallback);
    EXPECT_EQ(access(home_.file("kplog.bkup.001").c_str(), F_OK), -1);
    EXPECT_EQ(logs(shell), (Items{home_.file("kplog.bkup.002")}));
    EXPECT_EQ(shown(), "");
    EXPECT_EQ(gui::text_of(progress_filename_widget), "");
    EXPECT_STREQ(progress_cat_filename, "");
    // With an empty field nothing is deleted, the list is still rebuilt.
    write("kplog.bkup.005", "");
    gui::fire(del, XmNactivateCallback);
    EXPECT_EQ(logs(shell).size(), 2u);
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
    EXPECT_EQ(logs(shell).size(), 2u);
    gui::toggle(gui::must_find(shell, "toggleButton6"), false);
    EXPECT_EQ(auto_refresh_interval, 0);
}

TEST_F(ProgressTest, OneDialogAtATimeFromTheMenus) {
    T_strlcpy(current_working_directory, (home_.path() + "/").c_str(),
              sizeof current_working_directory);
    Widget menu = gui::must_find(gui::open(create_xkp_main()), "menu1_p4");
    gui::fire(XtNameToWidget(menu, "menu1_p4_b6"), XmNactivateCallback);
    ASSERT_NE(progress_filename_widget, nullptr);
    EXPECT_STREQ(report_name_fragment, "bkup");
    Widget first = progress_filename_widget;
    gui::fire(XtNameToWidget(menu, "menu1_p4_b7"), XmNactivateCallback);
    std::vector<gui::MessageBox> boxes = gui::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You can only show one progress display at one time.");
    EXPECT_EQ(progress_filename_widget, first);
    EXPECT_STREQ(report_name_fragment, "bkup");
    gui::close_message_boxes();

    // Close lets the next one open.
    gui::click(gui::must_find(XtParent(first), "pushButton8"));
    EXPECT_EQ(progress_filename_widget, nullptr);
    gui::fire(XtNameToWidget(menu, "menu1_p4_b7"), XmNactivateCallback);
    EXPECT_NE(progress_filename_widget, nullptr);
    EXPECT_STREQ(report_name_fragment, "arch");
}

} // namespace
