// The selection viewer: what it lists from the remembered selections, and
// its two buttons.
#include <gtest/gtest.h>

#include "support/gui_harness.h"
#include "temp_root.h"

#include "xkp_main.h"
#include "xkp_viewselect.h"

#include <Xm/Form.h>

#include <filesystem>
#include <fstream>

namespace {

using Items = std::vector<std::string>;

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
    static void remember(const char *display, const char *path, const char *extra = "") {
        quadruple_add_item(persistent_list, 0, display, path, "1", extra);
    }
    static Items viewer_items(Widget shell) {
        return gui::list_items(gui::must_find(shell, "scrolledList8"));
    }
};

TEST_F(ViewselectTest, ListsTheDisplayTextOfEverySelectionInOrder) {
    EXPECT_TRUE(viewer_items(gui::open(create_xkp_viewselect())).empty());
    remember("/home/ann/b.txt 03/01/2024 10:00:00", "/home/ann/b.txt", "1 2 3 4 5 6 7 8 9");
    remember("/home/ann/dir/", "/home/ann/dir/");
    remember("/tmp/with blank", "/tmp/with blank");
    remember("", "/empty/display");
    Widget shell = gui::open(create_xkp_viewselect());
    EXPECT_EQ(viewer_items(shell), (Items{"/home/ann/b.txt 03/01/2024 10:00:00", "/home/ann/dir/",
                                          "/tmp/with blank", ""}));
    EXPECT_EQ(get_selection_count(gui::must_find(shell, "scrolledList8")), 0);
    // The remembered selections themselves are untouched.
    EXPECT_EQ(get_item_count(persistent_list), 4);
    for (int i = 5; i <= 5000; ++i) {
        std::string p = "/data/f" + std::to_string(i);
        remember(p.c_str(), p.c_str());
    }
    Items many = viewer_items(gui::open(create_xkp_viewselect()));
    ASSERT_EQ(many.size(), 5000u);
    EXPECT_EQ(many.back(), "/data/f5000");
    // Without the list of remembered selections the viewer is empty.
    persistent_list = nullptr;
    EXPECT_TRUE(viewer_items(gui::open(create_xkp_viewselect())).empty());
}

TEST_F(ViewselectTest, LayoutLabelsAndButtons) {
    gui::TempDir root;
    ScopedEnv env("XKP_ROOT", root.path().c_str());
    std::filesystem::create_directories(root.path() + "/sorvane/help/xkp");
    std::ofstream(root.path() + "/sorvane/help/xkp/Viewselect") << "viewer help\n";

    remember("/a", "/a");
    Widget shell = gui::open(create_xkp_viewselect());
    remember("/b", "/b");
    Widget second = gui::open(create_xkp_viewselect());
    // Each shows the selections of the moment it was opened.
    EXPECT_EQ(viewer_items(shell), (Items{"/a"}));
    EXPECT_EQ(viewer_items(second), (Items{"/a", "/b"}));
    EXPECT_EQ(gui::title_of(shell), "xkp_viewselect");
    EXPECT_EQ(gui::geometry(shell), "730x600+30+30");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "label22")),
              "The following files are currently selected:");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "pushButton3")), "Close");
    EXPECT_EQ(gui::label_of(gui::must_find(shell, "pushButton13")), "Help...");

    gui::click(gui::must_find(shell, "pushButton13"));
    ASSERT_EQ(gui::shells("xkp_help").size(), 1u);
    EXPECT_STREQ(help_topic, (root.path() + "/sorvane/help/xkp/Viewselect").c_str());
    EXPECT_EQ(gui::text_of(gui::must_find(gui::shells("xkp_help")[0], "scrolledText2")),
              "viewer help\n");
    // Close shuts its own viewer only, and leaves the help open.
    gui::click(gui::must_find(shell, "pushButton3"));
    EXPECT_EQ(gui::shells("xkp_viewselect"), std::vector<Widget>{second});
    EXPECT_EQ(gui::shells("xkp_help").size(), 1u);
}

} // namespace
