// The main window built for real: widget names, labels and mnemonics,
// menus, initial states, mode switches, View and Edit actions, sensitivity,
// the fields' latches and update_globals.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "UxXt.h"
#include "msgdefaults.h"
#include "uimx_helper.h"
#include "xkp_errmsg.h"
#include "xkp_icon.h"
#include "xkp_main.h"
#include "xkp_progress.h"
#include "xkp_startup.h"
#include "xkp_state.h"

#include <Xm/List.h>
#include <Xm/RowColumn.h>
#include <Xm/Separator.h>
#include <Xm/ToggleB.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

class MainWindowTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        T_strlcpy(tmlctime, "C", sizeof tmlctime);
        T_strlcpy(current_working_directory, "/tmp/", sizeof current_working_directory);
    }
    void build() {
        shell_ = create_xkp_main();
        ASSERT_NE(shell_, nullptr);
        popup_interface(shell_, XtGrabNone);
        gui::drain();
    }
    Widget w(const char *name) {
        Widget found = gui::find(shell_, name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The menus' items live in the pulldowns' own shells: search from them.
    Widget item(const char *name) {
        std::string menu(name, 8); // "menu1_pN"
        Widget pulldown = gui::find(shell_, menu.c_str());
        EXPECT_NE(pulldown, nullptr) << menu;
        Widget found = pulldown ? XtNameToWidget(pulldown, name) : nullptr;
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    std::string set_toggles(const std::vector<const char *> &names) {
        std::string got;
        for (const char *name : names) {
            got += gui::toggle_set(item(name)) ? '1' : '0';
        }
        return got;
    }
    std::string sensitivity(const std::vector<const char *> &names) {
        std::string got;
        for (const char *name : names) {
            got += gui::sensitive(item(name)) ? '1' : '0';
        }
        return got;
    }
    Widget shell_ = nullptr;
};

const std::vector<const char *> browse_toggles = {"menu1_p1_b1", "menu1_p1_b2", "menu1_p1_b19",
                                                  "menu1_p1_b3", "menu1_p1_b4", "menu1_p1_b21"};
const std::vector<const char *> request_items = {"menu1_p4_b1", "menu1_p4_b2", "menu1_p4_b3",
                                                 "menu1_p4_b4", "menu1_p5_b6", "menu1_p5_b1",
                                                 "menu1_p5_b2"};

TEST_F(MainWindowTest, EveryWidgetIsThereUnderItsName) {
    build();
    EXPECT_STREQ(XtName(shell_), "xkp_main");
    const char *names[] = {"form1",          "menu1",          "label1",        "text11",
                           "label3",         "text1",          "text3",         "label4",
                           "text4",          "frame1",         "panedWindow2",  "form10",
                           "label18",        "scrolledList7",  "form4",         "label14",
                           "text6",          "arrowButton2",   "arrowButton1",  "label2",
                           "text2",          "label10",        "scrolledList1", "label11",
                           "scrolledList2",  "separator2",     "scrolledList4", "scrolledList9",
                           "scrolledList10", "scrolledList11", "menu1_top_b1",  "menu1_top_b2",
                           "menu1_top_b3",   "menu1_top_b4",   "menu1_top_b5",  "menu1_top_b6"};
    for (const char *name : names) {
        Widget found = w(name);
        if (found != nullptr) {
            EXPECT_EQ(UxGetContext(found), UxXkp_mainContext) << name << " is bound";
        }
    }
    // Handles of the program state point at the named widgets.
    EXPECT_EQ(pathname, w("text11"));
    EXPECT_EQ(start_date, w("text1"));
    EXPECT_EQ(end_date, w("text3"));
    EXPECT_EQ(main_keyword, w("text4"));
    EXPECT_EQ(main_keyword_label, w("label4"));
    EXPECT_EQ(recursion, w("text2"));
    EXPECT_EQ(filename_filter, w("text6"));
    EXPECT_EQ(image_list, w("scrolledList7"));
    EXPECT_EQ(shadow_image_list, w("scrolledList9"));
    EXPECT_EQ(left_list, w("scrolledList1"));
    EXPECT_EQ(shadow_left_list, w("scrolledList10"));
    EXPECT_EQ(right_list, w("scrolledList2"));
    EXPECT_EQ(shadow_right_list, w("scrolledList11"));
    EXPECT_EQ(persistent_list, w("scrolledList4"));
    EXPECT_EQ(main_screen, shell_);
    EXPECT_EQ(altpath_menu_item, item("menu1_p5_b6"));

    // Selection policies and the hidden lists.
    EXPECT_EQ(UxrGetProp<unsigned char>(image_list, XmNselectionPolicy), XmEXTENDED_SELECT);
    EXPECT_EQ(UxrGetProp<unsigned char>(left_list, XmNselectionPolicy), XmBROWSE_SELECT);
    EXPECT_EQ(UxrGetProp<unsigned char>(right_list, XmNselectionPolicy), XmMULTIPLE_SELECT);
    for (Widget hidden :
         {persistent_list, shadow_image_list, shadow_left_list, shadow_right_list}) {
        EXPECT_TRUE(XtIsManaged(hidden)) << XtName(hidden);
        EXPECT_FALSE(UxrGetProp<Boolean>(hidden, XmNmappedWhenManaged)) << XtName(hidden);
        XWindowAttributes attributes{};
        XGetWindowAttributes(gui::display(), XtWindow(hidden), &attributes);
        EXPECT_NE(attributes.map_state, IsViewable) << XtName(hidden);
    }
    XWindowAttributes attributes{};
    XGetWindowAttributes(gui::display(), XtWindow(left_list), &attributes);
    EXPECT_EQ(attributes.map_state, IsViewable);

    // Fields as the window starts.
    EXPECT_EQ(gui::text_of(pathname), "/tmp/");
    EXPECT_EQ(gui::text_of(filename_filter), "*");
    EXPECT_EQ(gui::text_of(recursion), "2");
    EXPECT_EQ(UxrGetProp<int>(main_keyword, XmNmaxLength), 128);
    EXPECT_EQ(date1_latch, 0);
    EXPECT_EQ(date2_latch, 0);
    EXPECT_FALSE(gui::text_of(start_date).empty());
    EXPECT_NE(gui::text_of(start_date), gui::text_of(end_date));

    // The shell: title, icon, geometry.
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
    struct Menu {
        const char *cascade, *pulldown, *key;
        std::vector<const char *> items;
    } menus[] = {
        {"menu1_top_b1",
         "menu1_p1",
         "GuiXkp0047N",
         {"menu1_p1_b1",  "menu1_p1_b2",  "menu1_p1_b19", "menu1_p1_b3",  "menu1_p1_b4",
          "menu1_p1_b21", "menu1_p1_b20", "menu1_p1_b11", "menu1_p1_b12", "menu1_p1_b13",
          "menu1_p1_b14", "menu1_p1_b15", "menu1_p1_b16", "menu1_p1_b17", "menu1_p1_b18",
          "menu1_p1_b22", "menu1_p1_b23", "menu1_p1_b24", "menu1_p1_b25", "menu1_p1_b5",
          "menu1_p1_b7",  "menu1_p1_b8",  "menu1_p1_b6"}},
        {"menu1_top_b2",
         "menu1_p2",
         "GuiXkp0048N",
         {"menu1_p2_b1", "menu1_p2_b2", "menu1_p2_b3", "menu1_p2_b6", "menu1_p2_b7",
          "menu1_p2_b5"}},
        {"menu1_top_b3",
         "menu1_p3",
         "GuiXkp0049N",
         {"menu1_p3_b1", "menu1_p3_b2", "menu1_p3_b3", "menu1_p3_b4", "menu1_p3_b5", "menu1_p3_b6",
          "menu1_p3_b7", "menu1_p3_b8", "menu1_p3_b9", "menu1_p3_b10", "menu1_p3_b11"}},
        {"menu1_top_b4",
         "menu1_p4",
         "GuiXkp0050N",
         {"menu1_p4_b1", "menu1_p4_b2", "menu1_p4_b8", "menu1_p4_b3", "menu1_p4_b4", "menu1_p4_b5",
          "menu1_p4_b6", "menu1_p4_b7"}},
        {"menu1_top_b5",
         "menu1_p5",
         "GuiXkp0051N",
         {"menu1_p5_b6", "menu1_p5_b5", "menu1_p5_b1", "menu1_p5_b2", "menu1_p5_b7", "menu1_p5_b3",
          "menu1_p5_b4"}},
        {"menu1_top_b6",
         "menu1_p6",
         "GuiXkp0052N",
         {"menu1_p6_b5", "menu1_p6_b4", "menu1_p6_b3", "menu1_p6_b1", "menu1_p6_b2"}},
    };
    // Keys of the items, in the menus' order (separators have none).
    const char *item_keys[] = {
        "GuiXkp0001N", "GuiXkp0002N", "GuiXkp0003N", "GuiXkp0004N", "GuiXkp0005N", "GuiXkp0006N",
        nullptr,       "GuiXkp0007N", "GuiXkp0008N", "GuiXkp0009N", "GuiXkp0010N", "GuiXkp0011N",
        "GuiXkp0012N", "GuiXkp0013N", "GuiXkp0014N", "GuiXkp0060N", "GuiXkp0061N", "GuiXkp0062N",
        "GuiXkp0063N", nullptr,       "GuiXkp0015N", nullptr,       "GuiXkp0016N", "GuiXkp0017N",
        "GuiXkp0018N", "GuiXkp0019N", "GuiXkp0020N", nullptr,       "GuiXkp0021N", "GuiXkp0022N",
        "GuiXkp0023N", nullptr,       "GuiXkp0024N", "GuiXkp0025N", nullptr,       "GuiXkp0026N",
        "GuiXkp0027N", nullptr,       "GuiXkp0028N", "GuiXkp0029N", "GuiXkp0030N", "GuiXkp0031N",
        "GuiXkp0032N", "GuiXkp0033N", "GuiXkp0034N", nullptr,       "GuiXkp0035N", "GuiXkp0036N",
        "GuiXkp0037N", nullptr,       "GuiXkp0038N", "GuiXkp0039N", "GuiXkp0040N", nullptr,
        "GuiXkp0041N", "GuiXkp0042N", "GuiXkp0043N", "GuiXkp0044N", "GuiXkp0045N", "GuiXkp0046N"};
    size_t k = 0;
    for (const Menu &menu : menus) {
        Widget cascade = w(menu.cascade);
        ASSERT_NE(cascade, nullptr);
        const LabelDefault *def = default_label(menu.key);
        ASSERT_NE(def, nullptr) << menu.key;
        EXPECT_EQ(gui::label_of(cascade), def->label);
        EXPECT_EQ(UxrGetProp<KeySym>(cascade, XmNmnemonic), static_cast<KeySym>(def->mnemonic[0]));
        Widget pulldown = UxrGetProp<Widget>(cascade, XmNsubMenuId);
        ASSERT_NE(pulldown, nullptr);
        EXPECT_STREQ(XtName(pulldown), menu.pulldown);
        WidgetList children = nullptr;
        Cardinal count = 0;
        XtVaGetValues(pulldown, XmNchildren, &children, XmNnumChildren, &count, nullptr);
        ASSERT_EQ(count, menu.items.size()) << menu.pulldown;
        for (Cardinal i = 0; i < count; ++i, ++k) {
            EXPECT_STREQ(XtName(children[i]), menu.items[i]);
            const char *key = item_keys[k];
            if (key == nullptr) {
                EXPECT_TRUE(XmIsSeparator(children[i])) << menu.items[i];
                continue;
            }
            const LabelDefault *item_def = default_label(key);
            ASSERT_NE(item_def, nullptr) << key;
            EXPECT_EQ(gui::label_of(children[i]), item_def->label) << menu.items[i];
            KeySym want = item_def->mnemonic[0] ? static_cast<KeySym>(item_def->mnemonic[0]) : 0;
            EXPECT_EQ(UxrGetProp<KeySym>(children[i], XmNmnemonic), want) << menu.items[i];
            bool is_toggle = XmIsToggleButton(children[i]);
            EXPECT_EQ(is_toggle, strcmp(menu.pulldown, "menu1_p1") == 0
                                     ? strcmp(menu.items[i], "menu1_p1_b7") != 0 &&
                                           strcmp(menu.items[i], "menu1_p1_b6") != 0
                                     : strcmp(menu.pulldown, "menu1_p3") == 0)
                << menu.items[i];
            if (is_toggle) {
                EXPECT_EQ(UxrGetProp<unsigned char>(children[i], XmNindicatorType), XmONE_OF_MANY);
            }
        }
    }
    EXPECT_EQ(k, sizeof item_keys / sizeof item_keys[0]);

    // Field labels.
    struct Label {
        const char *name, *key;
    } labels[] = {{"label1", "GuiXkp0053N"},  {"label3", "GuiXkp0054N"},
                  {"label18", "GuiXkp0055N"}, {"label2", "GuiXkp0056N"},
                  {"label10", "GuiXkp0057N"}, {"label11", "GuiXkp0058N"},
                  {"label14", "GuiXkp0059N"}, {"label4", "GuiXkp0064N"}};
    for (const Label &l : labels) {
        const LabelDefault *def = default_label(l.key);
        ASSERT_NE(def, nullptr) << l.key;
        EXPECT_EQ(gui::label_of(w(l.name)), def->label) << l.name;
    }
}

TEST_F(MainWindowTest, InitialStatesFollowTheCommandLine) {
    struct Case {
        const char *what;
        std::vector<const char *> args;
        const char *browse; // the six browse toggles
        bool restore_panes;
        const char *requests; // sensitivity of request_items
        const char *links;    // resolve / do not resolve
    } cases[] = {
        {"no options", {}, "100000", false, "0101000", "10"},
        {"-r", {"-r"}, "010000", true, "0000101", "10"},
        {"-ra", {"-ra"}, "000100", true, "0000101", "10"},
        {"-rr shows no browse toggle set", {"-rr"}, "010000", true, "0000101", "10"},
        {"-nl", {"-nl", "x"}, "100000", false, "0101000", "01"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        reset_program_state();
        reset_resensitize_table();
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        T_strlcpy(tmlctime, "C", sizeof tmlctime);
        std::vector<char *> argv = {const_cast<char *>("xkp")};
        for (const char *a : c.args) {
            argv.push_back(const_cast<char *>(a));
        }
        parse_own_options(static_cast<int>(argv.size()), argv.data());
        build();
        EXPECT_EQ(set_toggles(browse_toggles), c.browse);
        for (const char *name : {"form10", "text4", "label4"}) {
            EXPECT_EQ(gui::managed(w(name)), c.restore_panes) << name;
        }
        EXPECT_EQ(sensitivity(request_items), c.requests);
        EXPECT_EQ(set_toggles({"menu1_p3_b1", "menu1_p3_b2", "menu1_p3_b4", "menu1_p3_b5",
                               "menu1_p3_b7", "menu1_p3_b8"}),
                  "101010");
        EXPECT_EQ(set_toggles({"menu1_p3_b10", "menu1_p3_b11"}), c.links);
        EXPECT_EQ(sensitivity({"menu1_p3_b7", "menu1_p3_b8"}), c.restore_panes ? "11" : "00");
        XtDestroyWidget(shell_);
        gui::drain();
    }
}

TEST_F(MainWindowTest, ModeSwitchesSetStateTogglesPanesAndSensitivity) {
    build();
    struct Step {
        const char *item;
        int filesys, archives, raw, auspex, true_image, database;
        const char *rdbms;
        const char *browse;
        bool panes;
        const char *requests;
        const char *wbak_fragment; // dash_t_option after the switch
    } steps[] = {
        {"menu1_p1_b2", 0, 0, 0, 0, 0, 0, "", "010000", true, "0000101", "-t 0"},
        {"menu1_p1_b19", 0, 0, 0, 0, 1, 0, "", "001000", true, "0000100", "-t 0"},
        {"menu1_p1_b3", 0, 1, 0, 0, 0, 0, "", "000100", true, "0000101", "-t 0"},
        {"menu1_p1_b4", 0, 0, 1, 0, 0, 0, "", "000010", true, "0000101", "-t 0"},
        {"menu1_p1_b21", 0, 0, 1, 1, 0, 0, "", "000001", true, "0000101", "-t 12"},
        {"menu1_p1_b13", 1, 0, 0, 0, 0, 5, "informix", "000000", false, "0000000", "-t 0"},
        {"menu1_p1_b24", 1, 0, 0, 0, 0, 13, "sap", "000000", false, "0000000", "-t 0"},
        {"menu1_p1_b1", 1, 0, 0, 0, 0, 0, "sap", "100000", false, "0101000", "-t 0"},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.item);
        gui::toggle(item(s.item), true);
        EXPECT_EQ(browsing_filesys, s.filesys);
        EXPECT_EQ(restore_from_archives, s.archives);
        EXPECT_EQ(browsing_raw_partitions, s.raw);
        EXPECT_EQ(browsing_auspex, s.auspex);
        EXPECT_EQ(true_image, s.true_image);
        EXPECT_EQ(browsing_database, s.database);
        if (s.rdbms[0] != '\0') {
            EXPECT_STREQ(rdbms_argv, s.rdbms);
        }
        EXPECT_STREQ(dash_t_option, s.wbak_fragment);
        EXPECT_EQ(set_toggles(browse_toggles), s.browse);
        for (const char *name : {"form10", "text4", "label4"}) {
            EXPECT_EQ(gui::managed(w(name)), s.panes) << name;
        }
        EXPECT_EQ(sensitivity(request_items), s.requests);
        EXPECT_EQ(sensitivity({"menu1_p3_b7", "menu1_p3_b8"}), s.panes ? "11" : "00");
        if (s.database != 0) {
            std::string db =
                set_toggles({"menu1_p1_b11", "menu1_p1_b12", "menu1_p1_b13", "menu1_p1_b14",
                             "menu1_p1_b15", "menu1_p1_b16", "menu1_p1_b17", "menu1_p1_b18",
                             "menu1_p1_b22", "menu1_p1_b23", "menu1_p1_b24", "menu1_p1_b25"});
            EXPECT_EQ(db.find('1'), static_cast<size_t>(s.database - 3));
            EXPECT_EQ(std::count(db.begin(), db.end(), '1'), 1);
        }
    }
}

TEST_F(MainWindowTest, SwitchingModesResetsDatesSelectionsAndTheDestination) {
    build();
    gui::toggle(item("menu1_p1_b2"), true);
    quadruple_add_item(persistent_list, 0, "a", "/tmp/a", "1", "");
    put_text(start_date, "01/02/2003 00:00:00");
    EXPECT_EQ(date1_latch, 1);
    use_alternate_path = alternate_path_defined = 1;
    root_filesys_only_possible = filesystem_only_restore_possible = 1;
    std::string default_start;

    gui::toggle(item("menu1_p1_b1"), true);
    EXPECT_EQ(get_item_count(persistent_list), 0);
    EXPECT_EQ(use_alternate_path, 0);
    EXPECT_EQ(alternate_path_defined, 0);
    EXPECT_EQ(root_filesys_only_possible, 0);
    EXPECT_EQ(filesystem_only_restore_possible, 0);
    EXPECT_NE(gui::text_of(start_date), "01/02/2003 00:00:00");
    EXPECT_EQ(date1_latch, 0);
    EXPECT_EQ(date2_latch, 0);
}

TEST_F(MainWindowTest, ClickingTheSetBrowseToggleEntersTheModeAgain) {
    build();
    gui::toggle(item("menu1_p1_b3"), true);
    ASSERT_EQ(restore_from_archives, 1);
    // The user clicks the set toggle: it switches off, the mode is entered
    // again and the toggle shows set.
    gui::toggle(item("menu1_p1_b3"), false);
    EXPECT_EQ(restore_from_archives, 1);
    EXPECT_EQ(browsing_filesys, 0);
    EXPECT_EQ(set_toggles(browse_toggles), "000100");
    gui::toggle(item("menu1_p1_b1"), false);
    EXPECT_EQ(browsing_filesys, 1);
    EXPECT_EQ(set_toggles(browse_toggles), "100000");
}

TEST_F(MainWindowTest, ViewItemsSetTheirFlagsAndPartners) {
    build();
    struct Step {
        const char *item;
        int verbose, graphic, all_dates, get_real;
        const char *toggles; // b1 b2 b4 b5 b7 b8 b10 b11
    } steps[] = {
        {"menu1_p3_b2", 1, 0, 1, 1, "01101010"},  {"menu1_p3_b5", 1, 3, 1, 1, "01011010"},
        {"menu1_p3_b1", 0, 3, 1, 1, "10011010"},  {"menu1_p3_b4", 0, 0, 1, 1, "10101010"},
        {"menu1_p3_b8", 0, 0, 0, 1, "10100110"},  {"menu1_p3_b7", 0, 0, 1, 1, "10101010"},
        {"menu1_p3_b11", 0, 0, 1, 0, "10101001"}, {"menu1_p3_b10", 0, 0, 1, 1, "10101010"},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.item);
        gui::toggle(item(s.item), true);
        EXPECT_EQ(verbose, s.verbose);
        EXPECT_EQ(graphic_mode, s.graphic);
        EXPECT_EQ(show_all_dates, s.all_dates);
        EXPECT_EQ(really_get_real, s.get_real);
        EXPECT_EQ(set_toggles({"menu1_p3_b1", "menu1_p3_b2", "menu1_p3_b4", "menu1_p3_b5",
                               "menu1_p3_b7", "menu1_p3_b8", "menu1_p3_b10", "menu1_p3_b11"}),
                  s.toggles);
    }
}

TEST_F(MainWindowTest, SelectionsMakeRequestItemsSensitive) {
    build();
    EXPECT_EQ(sensitivity({"menu1_p4_b1", "menu1_p4_b3"}), "00");
    quadruple_add_item(persistent_list, 0, "a", "/tmp/a", "1", "");
    resensitize_menus(0);
    EXPECT_EQ(sensitivity({"menu1_p4_b1", "menu1_p4_b3"}), "11");
    // "Discard selections for previous directories" empties the remembered
    // selections and takes the items away again.
    gui::fire(item("menu1_p2_b3"), XmNactivateCallback);
    EXPECT_EQ(get_item_count(persistent_list), 0);
    EXPECT_EQ(sensitivity({"menu1_p4_b1", "menu1_p4_b3"}), "00");

    // A selected file counts too; "Clear selections" deselects it.
    XmString s = XmStringCreateLocalized(const_cast<char *>("file"));
    XmListAddItemUnselected(right_list, s, 0);
    XmStringFree(s);
    XmListSelectPos(right_list, 1, False);
    resensitize_menus(0);
    EXPECT_EQ(sensitivity({"menu1_p4_b1"}), "1");
    gui::fire(item("menu1_p2_b1"), XmNactivateCallback);
    EXPECT_EQ(get_selection_count(right_list), 0);
    EXPECT_EQ(sensitivity({"menu1_p4_b1"}), "0");
}

TEST_F(MainWindowTest, ProgressItemsAllowOneProgressWindow) {
    build();
    gui::fire(item("menu1_p4_b7"), XmNactivateCallback);
    EXPECT_STREQ(report_name_fragment, "arch");
    EXPECT_TRUE(gui::message_boxes().empty());

    progress_filename_widget = item("menu1_p4_b7"); // a progress window is open
    gui::fire(item("menu1_p5_b4"), XmNactivateCallback);
    progress_filename_widget = nullptr;
    EXPECT_STREQ(report_name_fragment, "arch") << "unchanged";
    auto boxes = gui::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You can only show one progress display at one time.");
    gui::close_message_boxes();
}

TEST_F(MainWindowTest, InspectWritesASelectionFileOfItsOwn) {
    build();
    gui::TempDir dir;
    setenv("TMPDIR", dir.path().c_str(), 1);
    gui::fire(item("menu1_p2_b6"), XmNactivateCallback);
    unsetenv("TMPDIR");
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
    unsetenv("TMPDIR");
    EXPECT_STREQ(temp_filename, "");
    auto boxes = gui::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "System error creating temporary file");
    gui::close_message_boxes();
}

TEST_F(MainWindowTest, FieldEditsSetTheirLatches) {
    build();
    root_filesys_only_possible = 1;
    put_text(pathname, "/usr/");
    EXPECT_EQ(pathzap_latch, 1);
    EXPECT_EQ(root_filesys_only_possible, 0);
    put_text(end_date, "12/31/2030 23:59:59");
    EXPECT_EQ(date2_latch, 1);
    EXPECT_EQ(date1_latch, 0);
}

TEST_F(MainWindowTest, UpdateGlobalsReadsTheFields) {
    build();
    gui::TempDir dir;
    struct Case {
        const char *what;
        std::string path;
        bool edited;
        std::string depth;
        int real;
        std::string want_cwd, want_depth_field;
        int want_limit, want_latch;
    } cases[] = {
        {"trailing blanks go", "/usr/lib \t ", false, "3", 1, "/usr/lib", "3", 3, 0},
        {"edited existing directory gains a slash", dir.path(), true, "2", 1, dir.path() + "/", "2",
         2, 0},
        {"edited, links kept: latch stays", dir.path() + "/", true, "2", 0, dir.path() + "/", "2",
         2, 1},
        {"edited missing path stays as typed", "/no/such/dir", true, "2", 1, "/no/such/dir", "2", 2,
         0},
        {"depth 0 means no limit", "/usr/", false, "0", 1, "/usr/", "0", 999, 0},
        {"negative depth", "/usr/", false, "-4", 1, "/usr/", "0", 999, 0},
        {"empty depth", "/usr/", false, "", 1, "/usr/", "0", 999, 0},
        {"depth not a number", "/usr/", false, "abc", 1, "/usr/", "0", 999, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        put_text(pathname, c.path.c_str());
        pathzap_latch = c.edited ? 1 : 0;
        really_get_real = c.real;
        put_text(recursion, c.depth.c_str());
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
}

TEST_F(MainWindowTest, UpdateGlobalsAppendsTheFirstSelectedFile) {
    build();
    struct Case {
        std::string path, item, want;
    } cases[] = {
        {"/home/ann/", "notes.txt  ", "/home/ann/notes.txt"},
        {"/home/ann//", "/sub/", "/home/ann/sub"},
        {"/", "etc", "/etc"},
    };
    for (const Case &c : cases) {
        put_text(pathname, c.path.c_str());
        pathzap_latch = 0;
        list_delete_all(right_list);
        XmString s = XmStringCreateLocalized(const_cast<char *>(c.item.c_str()));
        XmListAddItemUnselected(right_list, s, 0);
        XmStringFree(s);
        XmListSelectPos(right_list, 1, False);
        EXPECT_EQ(std::string(update_globals()), c.want) << c.path << " + " << c.item;
    }
}

TEST_F(MainWindowTest, DatabaseRequestItemsNeedTheDatabaseProgram) {
    gui::TempDir root;
    std::string saved = getenv("XKP_ROOT") ? getenv("XKP_ROOT") : "";
    setenv("XKP_ROOT", root.path().c_str(), 1);
    build();
    EXPECT_FALSE(gui::managed(item("menu1_p4_b8")));
    EXPECT_FALSE(gui::managed(item("menu1_p5_b7")));
    XtDestroyWidget(shell_);
    gui::drain();
    reset_resensitize_table();

    std::string bin = root.path() + "/sorvane/bin";
    ASSERT_EQ(system(("mkdir -p " + bin).c_str()), 0);
    gui::write_fake_program(bin, "kphdb", "", 0);
    build();
    EXPECT_TRUE(gui::managed(item("menu1_p4_b8")));
    EXPECT_TRUE(gui::managed(item("menu1_p5_b7")));
    setenv("XKP_ROOT", saved.c_str(), 1);
}

TEST_F(MainWindowTest, QuitEndsTheProcessWithStatusZero) {
    build();
    Widget quit = item("menu1_p1_b6");
    EXPECT_EXIT(XtCallCallbacks(quit, XmNactivateCallback, nullptr), ::testing::ExitedWithCode(0),
                "");
}

} // namespace
