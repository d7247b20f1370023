// The main window built for real: widget names, labels and mnemonics,
// menus, initial states, mode switches, View and Edit actions, sensitivity,
// the fields' latches and update_globals.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "msgdefaults.h"
#include "xkp_icon.h"
#include "xkp_main.h"
#include "xkp_startup.h"

#include <Xm/Separator.h>
#include <Xm/ToggleB.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

namespace {

const char *browse_toggles =
    "menu1_p1_b1 menu1_p1_b2 menu1_p1_b19 menu1_p1_b3 menu1_p1_b4 menu1_p1_b21";
const char *request_items =
    "menu1_p4_b1 menu1_p4_b2 menu1_p4_b3 menu1_p4_b4 menu1_p5_b6 menu1_p5_b1 menu1_p5_b2";
const char *view_toggles = "menu1_p3_b1 menu1_p3_b2 menu1_p3_b4 menu1_p3_b5 menu1_p3_b7 "
                           "menu1_p3_b8 menu1_p3_b10 menu1_p3_b11";

using Words = std::vector<std::string>;

// The blank-separated words of text.
Words words(const char *text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

void add_item(Widget list, const char *text) {
    XmString s = XmStringCreateLocalized(const_cast<char *>(text));
    XmListAddItemUnselected(list, s, 0);
    XmStringFree(s);
}

class MainWindowTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        T_strlcpy(tmlctime, "C", sizeof tmlctime);
        T_strlcpy(current_working_directory, "/tmp/", sizeof current_working_directory);
    }
    void build() { shell_ = gui::open(create_xkp_main()); }
    Widget w(const char *name) { return gui::must_find(shell_, name); }
    // The menus' items live in the pulldowns' own shells: search from them.
    Widget item(const char *name) {
        Widget pulldown = w(std::string(name, 8).c_str()); // "menu1_pN"
        Widget found = pulldown != nullptr ? XtNameToWidget(pulldown, name) : nullptr;
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // One character per menu item: '1' where pred holds.
    std::string bits(bool (*pred)(Widget), const char *names) {
        std::string got;
        for (const std::string &name : words(names)) {
            got += pred(item(name.c_str())) ? '1' : '0';
        }
        return got;
    }
    // What shows the mode, as "BROWSE PANES REQUESTS": the browse toggles
    // set; the image pane, the keyword field and label managed and the View
    // items of the restore modes sensitive; the request items sensitive.
    std::string mode() {
        std::string panes;
        for (const char *name : {"form10", "text4", "label4"}) {
            panes += gui::managed(w(name)) ? '1' : '0';
        }
        return bits(gui::toggle_set, browse_toggles) + " " + panes +
               bits(gui::sensitive, "menu1_p3_b7 menu1_p3_b8") + " " +
               bits(gui::sensitive, request_items);
    }
    Widget shell_ = nullptr;
};

TEST_F(MainWindowTest, EveryWidgetIsThereUnderItsNameWithItsInitialState) {
    build();
    EXPECT_STREQ(XtName(shell_), "xkp_main");
    // Every widget is bound to the window's context; the program state's
    // handles point at the named ones.
    for (const std::string &name :
         words("form1 menu1 label1 text11 label3 text1 text3 label4 text4 frame1 panedWindow2 "
               "form10 label18 scrolledList7 form4 label14 text6 arrowButton2 arrowButton1 label2 "
               "text2 label10 scrolledList1 label11 scrolledList2 separator2 scrolledList4 "
               "scrolledList9 scrolledList10 scrolledList11 menu1_top_b1 menu1_top_b2 "
               "menu1_top_b3 menu1_top_b4 menu1_top_b5 menu1_top_b6")) {
        Widget found = w(name.c_str());
        EXPECT_TRUE(found != nullptr && UxGetContext(found) == UxXkp_mainContext) << name;
    }
    const Widget handles[] = {pathname,           start_date,     end_date,         main_keyword,
                              main_keyword_label, recursion,      filename_filter,  image_list,
                              shadow_image_list,  left_list,      shadow_left_list, right_list,
                              shadow_right_list,  persistent_list};
    Words handle_names = words("text11 text1 text3 text4 label4 text2 text6 scrolledList7 "
                               "scrolledList9 scrolledList1 scrolledList10 scrolledList2 "
                               "scrolledList11 scrolledList4");
    ASSERT_EQ(handle_names.size(), std::size(handles));
    for (size_t i = 0; i < std::size(handles); ++i) {
        EXPECT_EQ(handles[i], w(handle_names[i].c_str())) << handle_names[i];
    }
    EXPECT_EQ(main_screen, shell_);
    EXPECT_EQ(altpath_menu_item, item("menu1_p5_b6"));

    // Selection policies, and the hidden lists managed but never mapped.
    EXPECT_EQ(UxrGetProp<unsigned char>(image_list, XmNselectionPolicy), XmEXTENDED_SELECT);
    EXPECT_EQ(UxrGetProp<unsigned char>(left_list, XmNselectionPolicy), XmBROWSE_SELECT);
    EXPECT_EQ(UxrGetProp<unsigned char>(right_list, XmNselectionPolicy), XmMULTIPLE_SELECT);
    auto viewable = [](Widget list) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(gui::display(), XtWindow(list), &attributes);
        return attributes.map_state == IsViewable;
    };
    for (Widget hidden :
         {persistent_list, shadow_image_list, shadow_left_list, shadow_right_list}) {
        EXPECT_TRUE(XtIsManaged(hidden)) << XtName(hidden);
        EXPECT_FALSE(UxrGetProp<Boolean>(hidden, XmNmappedWhenManaged)) << XtName(hidden);
        EXPECT_FALSE(viewable(hidden)) << XtName(hidden);
    }
    EXPECT_TRUE(viewable(left_list));

    // Fields as the window starts.
    EXPECT_EQ(gui::text_of(pathname), "/tmp/");
    EXPECT_EQ(gui::text_of(filename_filter), "*");
    EXPECT_EQ(gui::text_of(recursion), "2");
    EXPECT_EQ(UxrGetProp<int>(main_keyword, XmNmaxLength), 128);
    EXPECT_FALSE(date1_latch || date2_latch);
    EXPECT_FALSE(gui::text_of(start_date).empty());
    EXPECT_NE(gui::text_of(start_date), gui::text_of(end_date));

    // The shell: title, icon, geometry; the menu bar's accelerator.
    char *title = nullptr;
    XtVaGetValues(shell_, XmNtitle, &title, nullptr);
    EXPECT_STREQ(title, "xkp");
    EXPECT_EQ(UxrGetProp<Pixmap>(shell_, XmNiconPixmap), icon_pixmap);
    EXPECT_NE(icon_pixmap, 0u);
    EXPECT_EQ(UxrGetProp<Dimension>(shell_, XmNwidth), 800);
    EXPECT_EQ(UxrGetProp<Dimension>(shell_, XmNheight), 720);
    char *accelerator = nullptr;
    XtVaGetValues(w("menu1"), XmNmenuAccelerator, &accelerator, nullptr);
    EXPECT_STREQ(accelerator, "<KeyUp>F10");
    XtFree(accelerator); // the menu bar hands out a copy
}

TEST_F(MainWindowTest, MenusHoldTheirItemsInOrderWithCatalogLabelsAndMnemonics) {
    build();
    // Menu N is cascade menu1_top_bN over pulldown menu1_pN, labelled by
    // GuiXkp(0046+N)N. Its items in order as B:K, item menu1_pN_bB labelled
    // by GuiXkp%04dN of K; B:- is a separator.
    const char *menus[] = {
        "1:1 2:2 19:3 3:4 4:5 21:6 20:- 11:7 12:8 13:9 14:10 15:11 16:12 17:13 18:14 22:60 23:61 "
        "24:62 25:63 5:- 7:15 8:- 6:16",
        "1:17 2:18 3:19 6:20 7:- 5:21",
        "1:22 2:23 3:- 4:24 5:25 6:- 7:26 8:27 9:- 10:28 11:29",
        "1:30 2:31 8:32 3:33 4:34 5:- 6:35 7:36",
        "6:37 5:- 1:38 2:39 7:40 3:- 4:41",
        "5:42 4:43 3:44 1:45 2:46",
    };
    // w shows the label (and for menus the mnemonic) of GuiXkp%04dN of key.
    auto expect_label = [](Widget w, int key, bool mnemonic = true) {
        char name[16];
        snprintf(name, sizeof name, "GuiXkp%04dN", key);
        const LabelDefault *def = default_label(name);
        ASSERT_TRUE(w != nullptr && def != nullptr) << name;
        EXPECT_EQ(gui::label_of(w), def->label) << name;
        if (mnemonic) {
            EXPECT_EQ(UxrGetProp<KeySym>(w, XmNmnemonic), static_cast<KeySym>(def->mnemonic[0]))
                << name;
        }
    };
    for (int m = 1; m <= 6; ++m) {
        char name[32];
        snprintf(name, sizeof name, "menu1_top_b%d", m);
        Widget cascade = w(name);
        expect_label(cascade, 46 + m);
        Widget pulldown = UxrGetProp<Widget>(cascade, XmNsubMenuId);
        ASSERT_NE(pulldown, nullptr);
        snprintf(name, sizeof name, "menu1_p%d", m);
        EXPECT_STREQ(XtName(pulldown), name);
        WidgetList children = nullptr;
        Cardinal count = 0;
        XtVaGetValues(pulldown, XmNchildren, &children, XmNnumChildren, &count, nullptr);
        Words item_list = words(menus[m - 1]);
        ASSERT_EQ(count, item_list.size()) << name;
        for (Cardinal i = 0; i < count; ++i) {
            int b = 0, key = 0;
            sscanf(item_list[i].c_str(), "%d:%d", &b, &key);
            snprintf(name, sizeof name, "menu1_p%d_b%d", m, b);
            SCOPED_TRACE(name);
            EXPECT_STREQ(XtName(children[i]), name);
            if (key == 0) {
                EXPECT_TRUE(XmIsSeparator(children[i]));
                continue;
            }
            expect_label(children[i], key);
            // Browse and View items are one-of-many toggles; Inspect and Quit
            // in the first menu are buttons.
            bool is_toggle = XmIsToggleButton(children[i]);
            EXPECT_EQ(is_toggle, m == 3 || (m == 1 && b != 7 && b != 6));
            if (is_toggle) {
                EXPECT_EQ(UxrGetProp<unsigned char>(children[i], XmNindicatorType), XmONE_OF_MANY);
            }
        }
    }
    const std::pair<const char *, int> labels[] = {
        {"label1", 53},  {"label3", 54},  {"label18", 55}, {"label2", 56},
        {"label10", 57}, {"label11", 58}, {"label14", 59}, {"label4", 64}};
    for (const auto &[name, key] : labels) {
        expect_label(w(name), key, false);
    }
}

TEST_F(MainWindowTest, InitialStatesFollowTheCommandLine) {
    const char *cases[][3] = {
        // The options, mode(), the view_toggles set.
        {"", "100000 00000 0101000", "10101010"},      {"-r", "010000 11111 0000101", "10101010"},
        {"-ra", "000100 11111 0000101", "10101010"},   {"-rr", "010000 11111 0000101", "10101010"},
        {"-nl x", "100000 00000 0101000", "10101001"}, // links not resolved
    };
    for (const auto &[options, want_mode, view] : cases) {
        SCOPED_TRACE(options);
        reset_program_state();
        reset_resensitize_table();
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        T_strlcpy(tmlctime, "C", sizeof tmlctime);
        Words args = words(options);
        std::vector<char *> argv = {const_cast<char *>("xkp")};
        for (std::string &a : args) {
            argv.push_back(a.data());
        }
        parse_own_options(static_cast<int>(argv.size()), argv.data());
        build();
        EXPECT_EQ(mode(), want_mode);
        EXPECT_EQ(bits(gui::toggle_set, view_toggles), view);
        XtDestroyWidget(shell_);
        gui::drain();
    }
}

TEST_F(MainWindowTest, ModeSwitchesSetStateTogglesPanesAndSensitivity) {
    build();
    struct Step {
        const char *item;
        std::vector<int> state; // filesys, archives, raw, auspex, true image, database
        const char *rdbms, *mode, *dash_t;
    } steps[] = {
        {"menu1_p1_b2", {0, 0, 0, 0, 0, 0}, "", "010000 11111 0000101", "-t 0"},
        {"menu1_p1_b19", {0, 0, 0, 0, 1, 0}, "", "001000 11111 0000100", "-t 0"},
        {"menu1_p1_b3", {0, 1, 0, 0, 0, 0}, "", "000100 11111 0000101", "-t 0"},
        {"menu1_p1_b4", {0, 0, 1, 0, 0, 0}, "", "000010 11111 0000101", "-t 0"},
        {"menu1_p1_b21", {0, 0, 1, 1, 0, 0}, "", "000001 11111 0000101", "-t 12"},
        {"menu1_p1_b13", {1, 0, 0, 0, 0, 5}, "informix", "000000 00000 0000000", "-t 0"},
        {"menu1_p1_b24", {1, 0, 0, 0, 0, 13}, "sap", "000000 00000 0000000", "-t 0"},
        {"menu1_p1_b1", {1, 0, 0, 0, 0, 0}, "sap", "100000 00000 0101000", "-t 0"},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.item);
        gui::toggle(item(s.item), true);
        EXPECT_EQ(
            (std::vector<int>{browsing_filesys, restore_from_archives, browsing_raw_partitions,
                              browsing_auspex, true_image, browsing_database}),
            s.state);
        if (s.rdbms[0] != '\0') {
            EXPECT_STREQ(rdbms_argv, s.rdbms);
        }
        EXPECT_STREQ(dash_t_option, s.dash_t);
        EXPECT_EQ(mode(), s.mode);
        if (s.state[5] != 0) { // exactly the database's own toggle is set
            std::string db = bits(gui::toggle_set, "menu1_p1_b11 menu1_p1_b12 menu1_p1_b13 "
                                                   "menu1_p1_b14 menu1_p1_b15 menu1_p1_b16 "
                                                   "menu1_p1_b17 menu1_p1_b18 menu1_p1_b22 "
                                                   "menu1_p1_b23 menu1_p1_b24 menu1_p1_b25");
            EXPECT_EQ(db.find('1'), static_cast<size_t>(s.state[5] - 3));
            EXPECT_EQ(std::count(db.begin(), db.end(), '1'), 1);
        }
    }
}

TEST_F(MainWindowTest, FieldEditsSetLatchesThatModeSwitchesReset) {
    build();
    gui::toggle(item("menu1_p1_b2"), true);
    root_filesys_only_possible = 1;
    put_text(pathname, "/usr/");
    EXPECT_EQ(pathzap_latch, 1);
    EXPECT_EQ(root_filesys_only_possible, 0);
    put_text(end_date, "12/31/2030 23:59:59");
    EXPECT_EQ(date2_latch, 1);
    EXPECT_EQ(date1_latch, 0);
    put_text(start_date, "01/02/2003 00:00:00");
    EXPECT_EQ(date1_latch, 1);

    // A switch drops the dates, the selections and the destination.
    quadruple_add_item(persistent_list, 0, "a", "/tmp/a", "1", "");
    use_alternate_path = alternate_path_defined = 1;
    root_filesys_only_possible = filesystem_only_restore_possible = 1;
    gui::toggle(item("menu1_p1_b1"), true);
    EXPECT_EQ(get_item_count(persistent_list), 0);
    EXPECT_FALSE(use_alternate_path || alternate_path_defined);
    EXPECT_FALSE(root_filesys_only_possible || filesystem_only_restore_possible);
    EXPECT_NE(gui::text_of(start_date), "01/02/2003 00:00:00");
    EXPECT_FALSE(date1_latch || date2_latch);

    // Clicking the set browse toggle switches it off: the mode is entered
    // again and the toggle shows set.
    gui::toggle(item("menu1_p1_b3"), true);
    gui::toggle(item("menu1_p1_b3"), false);
    EXPECT_EQ(restore_from_archives, 1);
    EXPECT_EQ(browsing_filesys, 0);
    EXPECT_EQ(bits(gui::toggle_set, browse_toggles), "000100");
    gui::toggle(item("menu1_p1_b1"), false);
    EXPECT_EQ(browsing_filesys, 1);
    EXPECT_EQ(bits(gui::toggle_set, browse_toggles), "100000");
}

TEST_F(MainWindowTest, ViewItemsSetTheirFlagsAndPartners) {
    build();
    struct Step {
        const char *item;
        std::vector<int> flags; // verbose, graphic_mode, show_all_dates, really_get_real
        const char *toggles;    // view_toggles
    } steps[] = {
        {"menu1_p3_b2", {1, 0, 1, 1}, "01101010"},  {"menu1_p3_b5", {1, 3, 1, 1}, "01011010"},
        {"menu1_p3_b1", {0, 3, 1, 1}, "10011010"},  {"menu1_p3_b4", {0, 0, 1, 1}, "10101010"},
        {"menu1_p3_b8", {0, 0, 0, 1}, "10100110"},  {"menu1_p3_b7", {0, 0, 1, 1}, "10101010"},
        {"menu1_p3_b11", {0, 0, 1, 0}, "10101001"}, {"menu1_p3_b10", {0, 0, 1, 1}, "10101010"},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.item);
        gui::toggle(item(s.item), true);
        EXPECT_EQ((std::vector<int>{verbose, graphic_mode, show_all_dates, really_get_real}),
                  s.flags);
        EXPECT_EQ(bits(gui::toggle_set, view_toggles), s.toggles);
    }
}

TEST_F(MainWindowTest, SelectionsMakeRequestItemsSensitive) {
    build();
    const char *requests = "menu1_p4_b1 menu1_p4_b3";
    EXPECT_EQ(bits(gui::sensitive, requests), "00");
    quadruple_add_item(persistent_list, 0, "a", "/tmp/a", "1", "");
    resensitize_menus(0);
    EXPECT_EQ(bits(gui::sensitive, requests), "11");
    // "Discard selections for previous directories" empties the remembered
    // selections and takes the items away again.
    gui::fire(item("menu1_p2_b3"), XmNactivateCallback);
    EXPECT_EQ(get_item_count(persistent_list), 0);
    EXPECT_EQ(bits(gui::sensitive, requests), "00");
    // A selected file counts too; "Clear selections" deselects it.
    add_item(right_list, "file");
    XmListSelectPos(right_list, 1, False);
    resensitize_menus(0);
    EXPECT_EQ(bits(gui::sensitive, requests), "11");
    gui::fire(item("menu1_p2_b1"), XmNactivateCallback);
    EXPECT_EQ(get_selection_count(right_list), 0);
    EXPECT_EQ(bits(gui::sensitive, requests), "00");
}

TEST_F(MainWindowTest, InspectWritesASelectionFileOfItsOwn) {
    build();
    gui::TempDir dir;
    gui::ScopedEnv tmp_env("TMPDIR", dir.path().c_str());
    gui::fire(item("menu1_p2_b6"), XmNactivateCallback);
    EXPECT_EQ(use_persistent_list, 1);
    std::string name = temp_filename;
    ASSERT_EQ(name.rfind(dir.path() + "/xkp", 0), 0u) << name;
    struct stat st {};
    ASSERT_EQ(lstat(name.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No temporary directory: the error box and nothing else.
    temp_filename[0] = '\0';
    setenv("TMPDIR", "/nonexistent/dir", 1);
    gui::fire(item("menu1_p2_b6"), XmNactivateCallback);
    EXPECT_STREQ(temp_filename, "");
    auto boxes = gui::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "System error creating temporary file");
    gui::close_message_boxes();
}

TEST_F(MainWindowTest, UpdateGlobalsReadsTheFieldsAndTheFirstSelectedFile) {
    build();
    gui::TempDir dir;
    const std::string d = dir.path();
    struct Case { // typed path and depth, latch and really_get_real before; what follows
        const char *what;
        std::string path, want_cwd;
        const char *depth, *want_depth_field;
        int edited, real, want_limit, want_latch;
    } cases[] = {
        {"trailing blanks go", "/usr/lib \t ", "/usr/lib", "3", "3", 0, 1, 3, 0},
        {"edited existing directory gains a slash", d, d + "/", "2", "2", 1, 1, 2, 0},
        {"edited, links kept: latch stays", d + "/", d + "/", "2", "2", 1, 0, 2, 1},
        {"edited missing path stays as typed", "/no/such", "/no/such", "2", "2", 1, 1, 2, 0},
        {"depth 0 means no limit", "/usr/", "/usr/", "0", "0", 0, 1, 999, 0},
        {"negative depth", "/usr/", "/usr/", "-4", "0", 0, 1, 999, 0},
        {"empty depth", "/usr/", "/usr/", "", "0", 0, 1, 999, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        put_text(pathname, c.path.c_str());
        pathzap_latch = c.edited ? 1 : 0;
        really_get_real = c.real;
        put_text(recursion, c.depth);
        root_filesys_only_possible = 1;
        std::string result = update_globals();
        EXPECT_EQ(std::string(current_working_directory), c.want_cwd);
        EXPECT_EQ(result, c.want_cwd);
        EXPECT_EQ(gui::text_of(recursion), c.want_depth_field);
        EXPECT_EQ(recursion_limit, c.want_limit);
        EXPECT_EQ(pathzap_latch, c.want_latch);
        if (c.edited) {
            EXPECT_EQ(gui::text_of(pathname), c.want_cwd);
            EXPECT_EQ(root_filesys_only_possible, 1) << "kept across the field's write";
        }
    }
    // The first selected file is appended to the result, one slash between.
    const char *appended[][3] = {{"/home/ann/", "notes.txt  ", "/home/ann/notes.txt"},
                                 {"/home/ann//", "/sub/", "/home/ann/sub"},
                                 {"/", "etc", "/etc"}};
    for (const auto &[path, file, want] : appended) {
        put_text(pathname, path);
        pathzap_latch = 0;
        list_delete_all(right_list);
        add_item(right_list, file);
        XmListSelectPos(right_list, 1, False);
        EXPECT_EQ(std::string(update_globals()), want) << path << " + " << file;
    }
}

TEST_F(MainWindowTest, DatabaseRequestItemsNeedTheDatabaseProgram) {
    gui::TempDir root;
    gui::ScopedEnv root_env("XKP_ROOT", root.path().c_str());
    for (bool installed : {false, true}) {
        if (installed) {
            XtDestroyWidget(shell_);
            gui::drain();
            reset_resensitize_table();
            std::string bin = root.path() + "/sorvane/bin";
            ASSERT_EQ(system(("mkdir -p " + bin).c_str()), 0);
            gui::write_fake_program(bin, "kphdb", "", 0);
        }
        build();
        EXPECT_EQ(gui::managed(item("menu1_p4_b8")), installed);
        EXPECT_EQ(gui::managed(item("menu1_p5_b7")), installed);
    }
}

TEST_F(MainWindowTest, QuitEndsTheProcessWithStatusZero) {
    build();
    EXPECT_EXIT(XtCallCallbacks(item("menu1_p1_b6"), XmNactivateCallback, nullptr),
                ::testing::ExitedWithCode(0), "");
}

} // namespace
