// The selection viewer: what it lists from the remembered selections, and
// its two buttons.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_main.h"
#include "xkp_state.h"
#include "xkp_viewselect.h"

#include <X11/IntrinsicP.h>
#include <Xm/Form.h>
#include <Xm/List.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class ViewselectTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, top_, nullptr);
        persistent_list = XmCreateScrolledList(form, ux_str("scrolledList4"), nullptr, 0);
        XtManageChild(persistent_list);
    }
    void TearDown() override {
        persistent_list = nullptr;
        GuiTest::TearDown();
    }
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
    static Widget open_viewer() {
        Widget shell = create_xkp_viewselect();
        EXPECT_NE(shell, nullptr);
        popup_interface(shell, XtGrabNone);
        gui::drain();
        return shell;
    }
};

using Items = std::vector<std::string>;

TEST_F(ViewselectTest, ListsTheDisplayTextOfEverySelectionInOrder) {
    quadruple_add_item(persistent_list, 0, "/home/ann/b.txt 03/01/2024 10:00:00", "/home/ann/b.txt",
                       "1709287200", "1 2 3 4 5 6 7 8 9");
    quadruple_add_item(persistent_list, 0, "/home/ann/dir/", "/home/ann/dir/", "1700000000", "");
    quadruple_add_item(persistent_list, 0, "/tmp/with blank", "/tmp/with blank", "5", "");
    quadruple_add_item(persistent_list, 0, "", "/empty/display", "6", "");
    Widget shell = open_viewer();
    Widget list = gui::must_find(shell, "scrolledList8");
    EXPECT_EQ(gui::list_items(list), (Items{"/home/ann/b.txt 03/01/2024 10:00:00", "/home/ann/dir/",
                                            "/tmp/with blank", ""}));
    EXPECT_EQ(get_selection_count(list), 0);
    // The remembered selections themselves are untouched.
    EXPECT_EQ(get_item_count(persistent_list), 4);
}

TEST_F(ViewselectTest, NoSelectionsGiveAnEmptyViewer) {
    EXPECT_TRUE(gui::list_items(gui::must_find(open_viewer(), "scrolledList8")).empty());
    persistent_list = nullptr;
    EXPECT_TRUE(gui::list_items(gui::must_find(open_viewer(), "scrolledList8")).empty());
}

TEST_F(ViewselectTest, ManySelections) {
    for (int i = 1; i <= 5000; ++i) {
        std::string p = "/data/f" + std::to_string(i);
        quadruple_add_item(persistent_list, 0, p.c_str(), p.c_str(), "1", "");
    }
    Items items = gui::list_items(gui::must_find(open_viewer(), "scrolledList8"));
    ASSERT_EQ(items.size(), 5000u);
    EXPECT_EQ(items.front(), "/data/f1");
    EXPECT_EQ(items.back(), "/data/f5000");
}

TEST_F(ViewselectTest, LayoutLabelsAndButtons) {
    gui::TempDir root;
    const char *r = getenv("XKP_ROOT");
    std::string saved = r != nullptr ? r : "";
    setenv("XKP_ROOT", root.path().c_str(), 1);
    std::filesystem::create_directories(root.path() + "/sorvane/help/xkp");
    std::ofstream(root.path() + "/sorvane/help/xkp/Viewselect") << "viewer help\n";

    Widget shell = open_viewer();
    char *title = nullptr;
    Dimension w = 0, h = 0;
    Position x = 0, y = 0;
    XtVaGetValues(shell, XmNtitle, &title, XmNwidth, &w, XmNheight, &h, XmNx, &x, XmNy, &y,
                  nullptr);
    EXPECT_STREQ(title, "xkp_viewselect");
    EXPECT_EQ(w, 730);
    EXPECT_EQ(h, 600);
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 30);
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "label22")),
              "The following files are currently selected:");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "pushButton3")), "Close");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "pushButton13")), "Help...");

    gui::click(gui::must_find(shell, "pushButton13"));
    std::vector<Widget> helps = shells("xkp_help");
    ASSERT_EQ(helps.size(), 1u);
    EXPECT_STREQ(help_topic, (root.path() + "/sorvane/help/xkp/Viewselect").c_str());
    EXPECT_EQ(gui::text_of(gui::must_find(helps[0], "scrolledText2")), "viewer help\n");

    gui::click(gui::must_find(shell, "pushButton3"));
    EXPECT_TRUE(shells("xkp_viewselect").empty());
    EXPECT_EQ(shells("xkp_help").size(), 1u);
    if (r != nullptr) {
        setenv("XKP_ROOT", saved.c_str(), 1);
    } else {
        unsetenv("XKP_ROOT");
    }
}

TEST_F(ViewselectTest, SeveralViewersCloseIndependently) {
    quadruple_add_item(persistent_list, 0, "/a", "/a", "1", "");
    Widget first = open_viewer();
    quadruple_add_item(persistent_list, 0, "/b", "/b", "1", "");
    Widget second = open_viewer();
    // Each shows the selections of the moment it was opened.
    EXPECT_EQ(gui::list_items(gui::must_find(first, "scrolledList8")), (Items{"/a"}));
    EXPECT_EQ(gui::list_items(gui::must_find(second, "scrolledList8")), (Items{"/a", "/b"}));
    gui::click(gui::must_find(first, "pushButton3"));
    ASSERT_EQ(shells("xkp_viewselect").size(), 1u);
    EXPECT_EQ(shells("xkp_viewselect")[0], second);
}

} // namespace
