// The main window's two lists in file-system mode, filled for real from a
// scratch tree: depth, wildcards, date window, separator and header rows,
// verbose rows, the filename filter, and the selection model (identity,
// restore after directory changes, conflicts, select-all, the Edit menu).
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "listing_helpers.h"

#include "xkp_glue.h"
#include "xkp_glue_list.h"
#include "xkp_main.h"
#include "xkp_rows.h"
#include "xkp_select.h"
#include "timefuncs.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Items = std::vector<std::string>;

class FilesysListsTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        T_strlcpy(tmlctime, "C", sizeof tmlctime);
        for (const char *f : {"sub1/deep/", "user1/", "user2/", "a.txt", "b.c", "sub1/x.c",
                              "sub1/deep/y", "sub2/z"}) {
            dir_.add(f);
        }
        T_strlcpy(current_working_directory, (root_ + "/").c_str(),
                  sizeof current_working_directory);
    }
    void TearDown() override {
        set_row_sink(nullptr);
        GuiTest::TearDown();
    }
    void build() { shell_ = gui::open(create_xkp_main()); }
    // Types text into a field and presses Enter.
    static void enter(Widget field, const std::string &text) {
        put_text(field, text.c_str());
        gui::fire(field, XmNactivateCallback);
    }
    // The right list's row of a name (its companion's second line).
    static int row_of(const std::string &name) {
        for (int i = 1; i <= get_item_count(shadow_right_list); ++i) {
            if (name == get_line_from_item(shadow_right_list, i, 2)) {
                return i;
            }
        }
        return 0;
    }
    static void click_row(int position) { gui::select(right_list, position); }
    static void click_dir(const std::string &line) {
        gui::select(left_list, gui::position_of(left_list, line));
    }
    static std::vector<int> selected_rows() { return get_selected_positions(right_list); }
    static Items remembered_paths() {
        Items out;
        for (int i = 1; i <= get_item_count(persistent_list); ++i) {
            out.push_back(get_line_from_item(persistent_list, i, 2));
        }
        return out;
    }
    void menu(const char *name) {
        std::string pulldown(name, 8);
        gui::fire(XtNameToWidget(gui::must_find(shell_, pulldown.c_str()), name),
                  XmNactivateCallback);
    }
    // Backed-up rows of one directory, fed through the row seam.
    struct Row {
        const char *text, *name, *date_key;
    };
    static void fill(const std::vector<Row> &rows) {
        dual_list_delete_all(right_list, shadow_right_list);
        for (const Row &r : rows) {
            add_right_list(r.text, r.name, r.date_key, " ", 0);
        }
        flush_list_sink();
    }

    ScratchDir dir_;
    const std::string &root_ = dir_.root;
    Widget shell_ = nullptr;
};

TEST_F(FilesysListsTest, StartUpListsTheWorkingDirectoryToTheDepth) {
    build();
    // Depth 2: the root, its subdirectories, and theirs (not read further).
    EXPECT_EQ(gui::list_items(left_list),
              (Items{root_, "   sub1", "     deep", "   sub2", "   user1", "   user2"}));
    EXPECT_EQ(gui::list_items(right_list),
              (Items{"sub1/", "sub2/", "user1/", "user2/", " ", "a.txt", "b.c"}));
    EXPECT_EQ(right_avoidable_pos, 5);
    // Companions: keys with "!", and (empty, name, date key, extra) per row.
    EXPECT_EQ(gui::list_items(shadow_left_list)[0] + gui::list_items(shadow_left_list)[2],
              "!     !");
    struct stat st {};
    ASSERT_EQ(stat((root_ + "/a.txt").c_str(), &st), 0);
    EXPECT_EQ(gui::list_items(shadow_right_list)[5],
              "\na.txt\n" + std::to_string(st.st_mtime) + "\n");
    EXPECT_STREQ(right_dir, root_.c_str());
    // The path of a left line: the working directory until one is chosen,
    // then the indented line's directory.
    char out[XKP_TEXT_SIZE];
    for (const auto &[pos, want] : {std::pair{0, std::string(current_working_directory)},
                                    {3, root_ + "/sub1/deep/"},
                                    {1, root_ + "/"}}) {
        if (pos != 0) {
            XmListSelectPos(left_list, pos, False);
        }
        extract_selection_path(out);
        EXPECT_EQ(std::pair(std::string(out), left_selection_pos), std::pair(want, pos));
    }

    // Depth 1: subdirectory lines, none of them read.
    enter(recursion, "1");
    EXPECT_EQ(gui::list_items(left_list),
              (Items{root_, "   sub1", "   sub2", "   user1", "   user2"}));
}

// What a pattern, the filter and the dates select is for the unit
// FilesysTest cases (WildcardSelectsSubdirectories,
// SeparatorNeedsDirectoryRowsAndAFollowingEntry, DateWindowIsInclusive);
// here each field's Enter must list again with what was typed.
TEST_F(FilesysListsTest, PathFilterAndDateFieldsListAgainOnEnter) {
    build();
    enter(pathname, root_ + "/user*");
    EXPECT_EQ(gui::list_items(left_list), (Items{root_, "   user1", "   user2"}));
    enter(pathname, root_ + "/");
    enter(filename_filter, "*.c");
    EXPECT_EQ(gui::list_items(right_list), (Items{"b.c"}));
    enter(filename_filter, "");
    EXPECT_EQ(get_item_count(right_list), 7);

    // A file a second outside the window is left out, one on its edge kept.
    dir_.add("old", 1000000000);
    dir_.add("edge", 1000000000 + 86400);
    put_text(end_date, datestringl(1000000000 + 86400, tmlctime, 0));
    enter(start_date, datestringl(1000000001, tmlctime, 0));
    Items rows = gui::list_items(right_list);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), "old"), 0);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), "edge"), 1);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), "a.txt"), 0) << "modified today";
}

// The verbose rows' letters and names are for the unit
// FilesysTest.VerboseRowsModesAndLinks; the list adds the two header rows.
TEST_F(FilesysListsTest, VerboseRowsHaveTwoHeaderRows) {
    verbose = 1;
    build();
    Items rows = gui::list_items(right_list);
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[0], "   Mode         Owner      Group       Size       Modified       Filename");
    EXPECT_EQ(rows[1], " ");
    EXPECT_EQ(rows[2].substr(0, 10), "drwxr-xr-x");

    // Neither header row can be selected, nor the separator.
    for (int p : {1, 2, right_avoidable_pos}) {
        click_row(p);
        EXPECT_TRUE(selected_rows().empty()) << p;
    }
}

TEST_F(FilesysListsTest, SelectionsSurviveDirectoryChangesAndComeBackSelected) {
    build();
    click_row(row_of("a.txt"));
    EXPECT_EQ(selected_rows(), (std::vector<int>{row_of("a.txt")}));

    // Into sub1 by a single click on its directory line: a.txt is remembered.
    click_dir("   sub1");
    EXPECT_EQ(std::string(current_working_directory), root_ + "/sub1/");
    EXPECT_EQ(gui::text_of(pathname), root_ + "/sub1/");
    EXPECT_EQ(gui::list_items(right_list), (Items{"deep/", " ", "x.c"}));
    EXPECT_EQ(remembered_paths(), (Items{root_ + "/a.txt"}));
    click_row(row_of("x.c"));
    click_row(row_of("deep/"));

    // Back at the root: a.txt selected again, the sub1 selections remembered.
    gui::select(left_list, 1);
    EXPECT_EQ(selected_rows(), (std::vector<int>{row_of("a.txt")}));
    // In row order of the directory they were selected in.
    EXPECT_EQ(remembered_paths(),
              (Items{root_ + "/a.txt", root_ + "/sub1/deep/", root_ + "/sub1/x.c"}));

    // Preserving twice keeps one entry per selection.
    preserve_right_selections();
    preserve_right_selections();
    EXPECT_EQ(get_item_count(persistent_list), 3);

    // Deselecting forgets it; the other directories' selections stay.
    XmListDeselectPos(right_list, row_of("a.txt"));
    int pos = row_of("a.txt"), none = 0;
    validate_right_selection(pos, 0, &none);
    EXPECT_EQ(remembered_paths(), (Items{root_ + "/sub1/deep/", root_ + "/sub1/x.c"}));

    // Double click on sub1: both lists rooted there, its selections back.
    XmListSelectPos(left_list, gui::position_of(left_list, "   sub1"), False);
    gui::fire(left_list, XmNdefaultActionCallback);
    EXPECT_EQ(gui::list_items(left_list), (Items{root_ + "/sub1", "   deep"}));
    EXPECT_EQ(selected_rows().size(), 2u);

    // The Edit menu: clear for this directory, discard the rest.
    menu("menu1_p2_b1");
    EXPECT_TRUE(selected_rows().empty());
    EXPECT_TRUE(remembered_paths().empty());
}

TEST_F(FilesysListsTest, EditMenuSelectAllAndDiscard) {
    build();
    menu("menu1_p2_b2");
    // Every row but the separator.
    EXPECT_EQ(selected_rows(), (std::vector<int>{1, 2, 3, 4, 6, 7}));
    click_dir("   sub2");
    EXPECT_EQ(get_item_count(persistent_list), 6);
    click_row(row_of("z"));
    menu("menu1_p2_b3");
    EXPECT_EQ(get_item_count(persistent_list), 0) << "discard drops other directories";
    EXPECT_EQ(selected_rows().size(), 1u) << "the current row stays selected";
    // It is remembered again at the next directory change.
    gui::select(left_list, 1);
    EXPECT_EQ(remembered_paths(), (Items{root_ + "/sub2/z"}));
    EXPECT_TRUE(selected_rows().empty());
}

// Backed-up rows (several dates of one name) fed through the row seam: the
// conflict rule and select-all's newest-version rule.
TEST_F(FilesysListsTest, VersionsOfOneFileConflictDirectoriesDoNot) {
    build();
    browsing_filesys = 0;
    right_avoidable_pos = 0;
    T_strlcpy(right_dir, "/home/ann", sizeof right_dir);
    install_list_sink();
    const char *head = "Backup Date  Filename";
    const std::vector<Row> rows = {{head, " ", " "},      {" ", " ", " "},    {"d1", "dir/", "300"},
                                   {"d2", "dir/", "200"}, {" ", " ", " "},    {"f1", "f", "300"},
                                   {"f2", "f", "200"},    {"f3", "f", "100"}, {"g1", "g", "100"}};
    fill(rows);
    ASSERT_EQ(get_item_count(right_list), 9);
    EXPECT_EQ(right_avoidable_pos, 5);

    click_row(3);
    click_row(4);
    EXPECT_EQ(selected_rows(), (std::vector<int>{3, 4})) << "two dates of a directory";
    click_row(7);
    click_row(6);
    click_row(8);
    EXPECT_EQ(selected_rows(), (std::vector<int>{3, 4, 7})) << "the first version clicked stays";
    true_image = 1;
    XmListDeselectAllItems(right_list);
    click_row(3);
    click_row(4);
    EXPECT_EQ(selected_rows(), (std::vector<int>{3})) << "true image: one date per directory";
    true_image = 0;

    select_all_filenames();
    EXPECT_EQ(selected_rows(), (std::vector<int>{3, 4, 6, 9}));

    // Remembered versions come back selected through the batch, and leave
    // persistent_list until the next preserve.
    preserve_right_selections();
    EXPECT_EQ(get_item_count(persistent_list), 4);
    EXPECT_EQ(get_line_from_item(persistent_list, 3, 2), std::string("/home/ann/f"));
    fill(rows);
    EXPECT_EQ(selected_rows(), (std::vector<int>{3, 4, 6, 9}));
    EXPECT_EQ(get_item_count(persistent_list), 0);
}

// The selection commands read the companions the fill added from what it
// kept of them; a companion changed in the list by other means is read from
// the list.
TEST_F(FilesysListsTest, CompanionsAreReadAsTheListHoldsThem) {
    build();
    browsing_filesys = 0;
    right_avoidable_pos = 0;
    T_strlcpy(right_dir, "/d", sizeof right_dir);
    install_list_sink();
    fill({{"head", " ", " "},
          {" ", " ", " "},
          {"f1", "f", "300"},
          {"f2", "f", "200"},
          {"n", "new\nline", "100"}});
    const std::vector<int> all = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(right_companion_lines(all), get_item_lines(shadow_right_list, &all, 4));
    select_all_filenames();
    EXPECT_EQ(selected_rows(), (std::vector<int>{3, 5})) << "older version of f skipped";

    XmString other = make_quadruple_item("", "g", "200", " ");
    XmListReplaceItemsPos(shadow_right_list, &other, 1, 4);
    XmStringFree(other);
    EXPECT_EQ(right_companion_lines({4})[1], "g");
    select_all_filenames();
    EXPECT_EQ(selected_rows(), (std::vector<int>{3, 4, 5}));
}

// Rows spanning several batches, with remembered selections in each: they
// come back selected at their own rows (the list's selection is set once,
// after the last batch, over a table of items that grew in between).
TEST_F(FilesysListsTest, SelectionsComeBackAcrossBatches) {
    build();
    browsing_filesys = 0;
    dual_list_delete_all(right_list, shadow_right_list);
    list_delete_all(persistent_list);
    T_strlcpy(right_dir, "/d", sizeof right_dir);
    install_list_sink();
    const std::vector<int> chosen = {1, 1999, 2000, 2001, 4500};
    for (int i : chosen) {
        std::string path = "/d/f" + std::to_string(i);
        quadruple_add_item(persistent_list, 0, path.c_str(), path.c_str(), "7", "");
    }
    forget_selection_index();
    for (int round = 0; round < 2; ++round) {
        dual_list_delete_all(right_list, shadow_right_list);
        for (int i = 1; i <= 4500; ++i) {
            std::string name = "f" + std::to_string(i);
            add_right_list(name.c_str(), name.c_str(), "7", "", 0);
        }
        flush_list_sink();
        EXPECT_EQ(get_item_count(right_list), 4500);
        EXPECT_EQ(selected_rows(), chosen) << "round " << round;
        EXPECT_EQ(get_item_count(persistent_list), 0) << "taken over by the rows";
        preserve_right_selections();
        EXPECT_EQ(get_item_count(persistent_list), 5);
    }
}

TEST_F(FilesysListsTest, GetRealResolvesLinksOnlyWhenAsked) {
    ASSERT_EQ(symlink(root_.c_str(), (root_ + "/sub2/back").c_str()), 0);
    std::string through = root_ + "/sub2/back/sub1";
    const std::tuple<std::string, int, std::string> cases[] = {
        {through, 1, root_ + "/sub1"},
        {through + "/", 1, root_ + "/sub1"},
        {through, 0, through},
        {root_ + "/sub2/back/us*", 1, root_ + "/us*"},
        {root_ + "/sub2/back/u\\*x", 1, root_ + "/sub2/back/u\\*x"},
        {root_ + "/missing/dir", 1, root_ + "/missing/dir"},
        {"/", 1, "/"},
        {"/u*/", 1, "/u*/"}, // a pattern in the first component: as typed
    };
    for (const auto &[typed, really, want] : cases) {
        really_get_real = really;
        EXPECT_EQ(std::string(get_real(typed.c_str())), want) << typed;
    }
}

TEST_F(FilesysListsTest, ArrowsSlideTheDividerWithinBounds) {
    build();
    Widget separator = UxXkp_mainContext->Uxseparator2;
    Widget form = UxXkp_mainContext->Uxform4;
    Widget right = gui::must_find(shell_, "arrowButton1");
    Widget left = gui::must_find(shell_, "arrowButton2");
    int width = UxrGetProp<Dimension>(form, XmNwidth);
    ASSERT_GT(width, 100);
    int before = UxrGetProp<Position>(separator, XmNx);
    gui::fire(right, XmNactivateCallback);
    int after = UxrGetProp<Position>(separator, XmNx);
    EXPECT_NEAR(after - before, width / 10, 2);
    EXPECT_EQ(UxrGetProp<int>(separator, XmNleftOffset), after);
    // Twelve more presses each way stop at a tenth from either edge.
    for (const auto &[arrow, bound] : {std::pair{right, width * 9 / 10}, {left, width / 10}}) {
        for (int i = 0; i < 12; ++i) {
            gui::fire(arrow, XmNactivateCallback);
        }
        EXPECT_NEAR(UxrGetProp<Position>(separator, XmNx), bound, 2);
    }
}

TEST_F(FilesysListsTest, UnreadableDirectoriesAndOddNames) {
    const std::string odd[] = {"with blank", "new\nline", "quote'\"$`\\", "\xe9t\xe9", "-dash"};
    for (const std::string &n : odd) {
        dir_.add("sub2/" + n);
    }
    ASSERT_EQ(mkdir((root_ + "/sub2/closed").c_str(), 0), 0);
    build();
    click_dir("   sub2");
    for (const std::string &n : odd) {
        EXPECT_GT(row_of(n), 0) << n;
        click_row(row_of(n));
    }
    // The names come back byte for byte from the remembered selections.
    gui::select(left_list, 1);
    Items paths = remembered_paths();
    ASSERT_EQ(paths.size(), 5u);
    for (const std::string &n : odd) {
        EXPECT_NE(std::find(paths.begin(), paths.end(), root_ + "/sub2/" + n), paths.end()) << n;
    }
    // A directory that cannot be opened gets no line of its own (root can
    // open any).
    EXPECT_EQ(gui::position_of(left_list, "     closed") > 0, geteuid() == 0);
    chmod((root_ + "/sub2/closed").c_str(), 0755);
}

} // namespace
