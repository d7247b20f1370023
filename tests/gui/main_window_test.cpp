// The main window built for real: widget names, labels and mnemonics,
// menus, initial states, mode switches, View and Edit actions, sensitivity,
// the fields' latches and update_globals.
#include <gtest/gtest.h>

#include "gui_product.h"

#include "msgdefaults.h"
#include "tmmsg.h"
#include "xkp_confirm.h"
#include "xkp_icon.h"
#include "xkp_progress.h"
#include "xkp_startup.h"

#include <Xm/Separator.h>
#include <Xm/ToggleB.h>

#include <algorithm>
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

class MainWindowTest : public ProductTest {
  protected:
    void SetUp() override {
        ProductTest::SetUp();
        T_strlcpy(current_working_directory, "/tmp/", sizeof current_working_directory);
        open_main();
    }
    Widget w(const char *name) { return gui::must_find(shell_, name); }
    // The menus' items live in the pulldowns' own shells: search from them.
    Widget item(const char *name) {
        Widget found = XtNameToWidget(w(std::string(name, 8).c_str()), name); // in "menu1_pN"
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
        return bits(gui::toggle_set, browse_toggles) + " " +
               std::to_string(gui::managed(w("form10"))) +
               std::to_string(gui::managed(w("text4"))) +
               std::to_string(gui::managed(w("label4"))) +
               bits(gui::sensitive, "menu1_p3_b7 menu1_p3_b8") + " " +
               bits(gui::sensitive, request_items);
    }
};

TEST_F(MainWindowTest, EveryWidgetIsThereUnderItsNameWithItsInitialState) {
    EXPECT_STREQ(XtName(shell_), "xkp_main");
    // The program state's handles point at the named widgets; those and the
    // containers are bound to the window's context.
    const Widget handles[] = {pathname,           start_date,     end_date,         main_keyword,
                              main_keyword_label, recursion,      filename_filter,  image_list,
                              shadow_image_list,  left_list,      shadow_left_list, right_list,
                              shadow_right_list,  persistent_list};
    Words names =
        words("text11 text1 text3 text4 label4 text2 text6 scrolledList7 scrolledList9 "
              "scrolledList1 scrolledList10 scrolledList2 scrolledList11 scrolledList4 "
              "form1 frame1 panedWindow2 form10 form4 arrowButton1 arrowButton2 separator2");
    for (size_t i = 0; i < names.size(); ++i) {
        Widget found = w(names[i].c_str());
        EXPECT_TRUE(found != nullptr && UxGetContext(found) == UxXkp_mainContext) << names[i];
        EXPECT_TRUE(i >= std::size(handles) || handles[i] == found) << names[i];
    }
    EXPECT_EQ(main_screen, shell_);
    EXPECT_EQ(altpath_menu_item, item("menu1_p5_b6"));

    // Selection policies, and the hidden lists managed but never mapped.
    EXPECT_EQ(UxrGetProp<unsigned char>(image_list, XmNselectionPolicy), XmEXTENDED_SELECT);
    EXPECT_EQ(UxrGetProp<unsigned char>(left_list, XmNselectionPolicy), XmBROWSE_SELECT);
    EXPECT_EQ(UxrGetProp<unsigned char>(right_list, XmNselectionPolicy), XmMULTIPLE_SELECT);
    for (Widget hidden :
         {persistent_list, shadow_image_list, shadow_left_list, shadow_right_list}) {
        EXPECT_TRUE(XtIsManaged(hidden) && !UxrGetProp<Boolean>(hidden, XmNmappedWhenManaged))
            << XtName(hidden);
    }

    // Fields as the window starts.
    EXPECT_EQ(gui::text_of(pathname), "/tmp/");
    EXPECT_EQ(gui::text_of(filename_filter), "*");
    EXPECT_EQ(gui::text_of(recursion), "2");
    EXPECT_EQ(UxrGetProp<int>(main_keyword, XmNmaxLength), 128);
    EXPECT_FALSE(date1_latch || date2_latch);
    EXPECT_FALSE(gui::text_of(start_date).empty());
    EXPECT_NE(gui::text_of(start_date), gui::text_of(end_date));

    // The shell: title, icon, geometry; the menu bar's accelerator.
    EXPECT_EQ(gui::title_of(shell_), "xkp");
    EXPECT_TRUE(icon_pixmap != 0 && UxrGetProp<Pixmap>(shell_, XmNiconPixmap) == icon_pixmap);
    EXPECT_EQ(gui::geometry(shell_).substr(0, 8), "800x720+");
    char *accelerator = nullptr;
    XtVaGetValues(w("menu1"), XmNmenuAccelerator, &accelerator, nullptr);
    EXPECT_STREQ(accelerator, "<KeyUp>F10");
    XtFree(accelerator); // the menu bar hands out a copy
}

TEST_F(MainWindowTest, MenusHoldTheirItemsInOrderWithCatalogLabelsAndMnemonics) {
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
        Widget cascade = w(("menu1_top_b" + std::to_string(m)).c_str());
        expect_label(cascade, 46 + m);
        Widget pulldown = UxrGetProp<Widget>(cascade, XmNsubMenuId);
        char name[32];
        snprintf(name, sizeof name, "menu1_p%d", m);
        ASSERT_TRUE(pulldown != nullptr && std::string(XtName(pulldown)) == name) << name;
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
            EXPECT_EQ(key == 0, XmIsSeparator(children[i]) != 0);
            if (key == 0) {
                continue;
            }
            expect_label(children[i], key);
            // Browse and View items are one-of-many toggles; Inspect and Quit
            // in the first menu are buttons.
            EXPECT_EQ(XmIsToggleButton(children[i]) != 0, m == 3 || (m == 1 && b != 7 && b != 6));
            EXPECT_TRUE(!XmIsToggleButton(children[i]) ||
                        UxrGetProp<unsigned char>(children[i], XmNindicatorType) == XmONE_OF_MANY);
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
    // The default window is the set-up's; how the options set the state is
    // for the start-up tests. The options, mode(), the view_toggles set.
    EXPECT_EQ(mode() + " " + bits(gui::toggle_set, view_toggles), "100000 00000 0101000 10101010");
    const char *cases[][2] = {
        {"-ra", "000100 11111 0000101 10101010"},
        {"-rr", "010000 11111 0000101 10101010"}, // raw partitions: the restore toggle
        {"-nl", "100000 00000 0101000 10101001"}, // links not resolved
    };
    for (const auto &[option, want] : cases) {
        SCOPED_TRACE(option);
        reset_program_state();
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        std::string a0 = "xkp", a1 = option, a2 = "x";
        char *argv[] = {a0.data(), a1.data(), a2.data()};
        parse_own_options(3, argv);
        open_main();
        EXPECT_EQ(mode() + " " + bits(gui::toggle_set, view_toggles), want);
    }
}

TEST_F(MainWindowTest, ModeSwitchesSetStateTogglesPanesAndSensitivity) {
    // The browse item chosen; the state (filesys, archives, raw, auspex, true
    // image, database) and "mode()|-t option|database program|database
    // toggles set" that follow.
    const std::tuple<const char *, std::vector<int>, const char *> steps[] = {
        {"menu1_p1_b2", {0, 0, 0, 0, 0, 0}, "010000 11111 0000101|-t 0||000000000000"},
        {"menu1_p1_b19", {0, 0, 0, 0, 1, 0}, "001000 11111 0000100|-t 0||000000000000"},
        {"menu1_p1_b3", {0, 1, 0, 0, 0, 0}, "000100 11111 0000101|-t 0||000000000000"},
        {"menu1_p1_b4", {0, 0, 1, 0, 0, 0}, "000010 11111 0000101|-t 0||000000000000"},
        {"menu1_p1_b21", {0, 0, 1, 1, 0, 0}, "000001 11111 0000101|-t 12||000000000000"},
        {"menu1_p1_b24", {1, 0, 0, 0, 0, 13}, "000000 00000 0000000|-t 0|sap|000000000010"},
        {"menu1_p1_b1", {1, 0, 0, 0, 0, 0}, "100000 00000 0101000|-t 0|sap|000000000000"},
    };
    for (const auto &[name, state, want] : steps) {
        SCOPED_TRACE(name);
        gui::toggle(item(name), true);
        EXPECT_EQ(
            (std::vector<int>{browsing_filesys, restore_from_archives, browsing_raw_partitions,
                              browsing_auspex, true_image, browsing_database}),
            state);
        EXPECT_EQ(mode() + "|" + dash_t_option + "|" + rdbms_argv + "|" +
                      bits(gui::toggle_set, "menu1_p1_b11 menu1_p1_b12 menu1_p1_b13 menu1_p1_b14 "
                                            "menu1_p1_b15 menu1_p1_b16 menu1_p1_b17 menu1_p1_b18 "
                                            "menu1_p1_b22 menu1_p1_b23 menu1_p1_b24 menu1_p1_b25"),
                  want);
    }
}

TEST_F(MainWindowTest, FieldEditsSetLatchesThatModeSwitchesReset) {
    gui::toggle(item("menu1_p1_b2"), true);
    root_filesys_only_possible = 1;
    put_text(pathname, "/usr/");
    EXPECT_TRUE(pathzap_latch == 1 && root_filesys_only_possible == 0);
    put_text(end_date, "12/31/2030 23:59:59");
    EXPECT_TRUE(date2_latch == 1 && date1_latch == 0);
    put_text(start_date, "01/02/2003 00:00:00");
    EXPECT_EQ(date1_latch, 1);

    // A switch drops the dates, the selections and the destination.
    quadruple_add_item(persistent_list, 0, "a", "/tmp/a", "1", "");
    use_alternate_path = alternate_path_defined = 1;
    root_filesys_only_possible = filesystem_only_restore_possible = 1;
    gui::toggle(item("menu1_p1_b1"), true);
    EXPECT_EQ(get_item_count(persistent_list), 0);
    EXPECT_FALSE(use_alternate_path || alternate_path_defined || root_filesys_only_possible ||
                 filesystem_only_restore_possible);
    EXPECT_NE(gui::text_of(start_date), "01/02/2003 00:00:00");
    EXPECT_FALSE(date1_latch || date2_latch);

    // Clicking the set browse toggle switches it off: the mode is entered
    // again and the toggle shows set.
    gui::toggle(item("menu1_p1_b3"), true);
    gui::toggle(item("menu1_p1_b3"), false);
    EXPECT_TRUE(restore_from_archives == 1 && browsing_filesys == 0);
    EXPECT_EQ(bits(gui::toggle_set, browse_toggles), "000100");
}

TEST_F(MainWindowTest, ViewItemsSetTheirFlagsAndPartners) {
    // The item chosen; verbose, graphic_mode, show_all_dates, really_get_real
    // and the view_toggles set after. The dates pair is driven by the
    // restore browse tests.
    const std::tuple<const char *, std::vector<int>, const char *> steps[] = {
        {"menu1_p3_b2", {1, 0, 1, 1}, "01101010"},  {"menu1_p3_b5", {1, 3, 1, 1}, "01011010"},
        {"menu1_p3_b1", {0, 3, 1, 1}, "10011010"},  {"menu1_p3_b4", {0, 0, 1, 1}, "10101010"},
        {"menu1_p3_b11", {0, 0, 1, 0}, "10101001"}, {"menu1_p3_b10", {0, 0, 1, 1}, "10101010"},
    };
    for (const auto &[name, flags, toggles] : steps) {
        SCOPED_TRACE(name);
        gui::toggle(item(name), true);
        EXPECT_EQ((std::vector<int>{verbose, graphic_mode, show_all_dates, really_get_real}),
                  flags);
        EXPECT_EQ(bits(gui::toggle_set, view_toggles), toggles);
    }
}

TEST_F(MainWindowTest, ActionsThatOpenWindowsOrFollowListsShowTheBusyCursor) {
    XmListCallbackStruct list_cb{};
    XEvent event{};
    list_cb.event = &event;
    const std::pair<Widget, const char *> actions[] = {
        {item("menu1_p1_b7"), XmNactivateCallback}, {item("menu1_p4_b6"), XmNactivateCallback},
        {item("menu1_p5_b6"), XmNactivateCallback}, {item("menu1_p6_b5"), XmNactivateCallback},
        {right_list, XmNmultipleSelectionCallback}, {image_list, XmNextendedSelectionCallback},
    };
    for (const auto &[widget, callback] : actions) {
        const int before = busy_cursor_count;
        gui::fire(widget, callback, XmIsList(widget) ? &list_cb : nullptr);
        EXPECT_GT(busy_cursor_count, before) << XtName(widget);
    }
}

TEST_F(MainWindowTest, LabelColumnsHoldTheirGermanLabelsInANarrowWindow) {
    T_strlcpy(tmlcmsg, "de_DE.UTF-8", sizeof tmlcmsg);
    tmlbl_forget(); // the labels are read once per run: read the German ones
    open_main();
    report_name_fragment = "bkup";
    using Rows = std::vector<std::pair<const char *, const char *>>;
    const std::pair<Widget, Rows> windows[] = {
        {shell_, {{"label1", "text11"}, {"label3", "text1"}, {"label4", "text4"}}},
        {gui::open(create_xkp_confirm()), {{"label17", "text7"}}},
        {gui::open(create_xkp_progress()), {{"label33", "text8"}}},
    };
    for (const auto &[shell, rows] : windows) {
        XtVaSetValues(shell, XmNwidth, 420, nullptr);
        gui::drain();
        for (const auto &[label_name, field_name] : rows) {
            Widget label = gui::must_find(shell, label_name);
            Dimension width = 0, margin = 0, highlight = 0, shadow = 0, left = 0, right = 0;
            Position x = 0;
            XmRenderTable table = nullptr;
            XtVaGetValues(label, XmNwidth, &width, XmNx, &x, XmNmarginWidth, &margin,
                          XmNhighlightThickness, &highlight, XmNshadowThickness, &shadow,
                          XmNmarginLeft, &left, XmNmarginRight, &right, XmNrenderTable, &table,
                          nullptr);
            XmString text = UxrGetProp<XmString>(label, XmNlabelString);
            const int extent =
                XmStringWidth(table, text) + left + right + 2 * (margin + highlight + shadow);
            XmStringFree(text);
            EXPECT_GE(x, 0) << label_name;
            EXPECT_GE(width, extent) << label_name << " is cut";
            Widget field = gui::must_find(shell, field_name);
            EXPECT_TRUE(!gui::managed(field) || UxrGetProp<Position>(field, XmNx) >= x + width)
                << field_name << " covers " << label_name;
        }
    }
    EXPECT_EQ(gui::label_of(w("label1")), "Zu durchsuchendes Verzeichnis");
    T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
    tmlbl_forget();
}

TEST_F(MainWindowTest, EditMenuSelectionsSensitivityAndInspect) {
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
    // Directory clicks and "Inspect all selections..." recompute the
    // sensitivity, made stale here.
    quadruple_add_item(persistent_list, 0, "a", "/tmp/a", "1", "");
    const char *const actions[] = {XmNbrowseSelectionCallback, XmNdefaultActionCallback, "inspect"};
    for (const char *action : actions) {
        resensitize_menus_with(0, 0);
        XmListSelectPos(left_list, 1, False);
        gui::fire(action[0] == 'i' ? item("menu1_p2_b6") : left_list,
                  action[0] == 'i' ? XmNactivateCallback : action);
        EXPECT_EQ(bits(gui::sensitive, requests), "11") << action;
    }
    list_delete_all(persistent_list);

    // Inspect writes a selection file of its own.
    gui::fire(item("menu1_p2_b6"), XmNactivateCallback);
    EXPECT_EQ(use_persistent_list, 1);
    std::string name = temp_filename;
    ASSERT_EQ(name.rfind(bin_ + "/tmp/xkp", 0), 0u) << name;
    struct stat st {};
    ASSERT_EQ(lstat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & (S_IFMT | 0777), S_IFREG | 0600u); // a private regular file
    // No temporary directory: the error box and nothing else.
    temp_filename[0] = '\0';
    setenv("TMPDIR", "/nonexistent/dir", 1);
    gui::fire(item("menu1_p2_b6"), XmNactivateCallback);
    EXPECT_STREQ(temp_filename, "");
    EXPECT_EQ(boxes(), (Items{"System error creating temporary file"}));
}

TEST_F(MainWindowTest, UpdateGlobalsReadsTheFieldsAndTheFirstSelectedFile) {
    const std::string d = home_;
    // Typed path and depth, latch and really_get_real before; the directory,
    // the depth field and limit, the latch after. Depth 0, below 0 or
    // empty means no limit.
    struct Case {
        std::string path, want_cwd;
        const char *depth, *want_depth_field;
        int edited, real, want_limit, want_latch;
    } cases[] = {
        {"/usr/lib \t ", "/usr/lib", "0", "0", 0, 1, 999, 0}, // trailing blanks go
        {d, d + "/", "-4", "0", 1, 1, 999, 0},                // an existing directory gains "/"
        {d + "/", d + "/", "", "0", 1, 0, 999, 1},            // links kept: the latch stays
        {"/no/such", "/no/such", "3", "3", 1, 1, 3, 0},       // a missing path stays as typed
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        put_text(pathname, c.path.c_str());
        pathzap_latch = c.edited ? 1 : 0;
        really_get_real = c.real;
        put_text(recursion, c.depth);
        root_filesys_only_possible = 1;
        EXPECT_EQ(std::string(update_globals()), c.want_cwd);
        EXPECT_EQ(current_working_directory, c.want_cwd);
        EXPECT_EQ(gui::text_of(recursion), c.want_depth_field);
        EXPECT_EQ(recursion_limit, c.want_limit);
        EXPECT_EQ(pathzap_latch, c.want_latch);
        // An edited field is written back; the flag survives that write.
        EXPECT_TRUE(!c.edited ||
                    (gui::text_of(pathname) == c.want_cwd && root_filesys_only_possible == 1));
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
    EXPECT_FALSE(gui::managed(item("menu1_p4_b8")) || gui::managed(item("menu1_p5_b7")));
    gui::write_fake_program(bin_, "kphdb", "", 0);
    open_main();
    EXPECT_TRUE(gui::managed(item("menu1_p4_b8")) && gui::managed(item("menu1_p5_b7")));
}

TEST_F(MainWindowTest, QuitEndsTheProcessWithStatusZero) {
    EXPECT_EXIT(XtCallCallbacks(item("menu1_p1_b6"), XmNactivateCallback, nullptr),
                ::testing::ExitedWithCode(0), "");
}

} // namespace
