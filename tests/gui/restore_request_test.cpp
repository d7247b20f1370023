// Restore requests on the real windows against a recording kprestore: the
// request files (image entries and their order, the directory entry), every
// kprestore command line the start dialog runs, the alternate destination
// dialog and its rename file, and the configuration dialog.
#include <gtest/gtest.h>

#include "gui_product.h"

#include "timefuncs.h"
#include "xkp_altpath.h"
#include "xkp_config.h"
#include "xkp_restore.h"

#include <Xm/RowColumn.h>
#include <sys/stat.h>

namespace {

class RestoreRequestTest : public ProductTest {
  protected:
    void SetUp() override {
        ProductTest::SetUp();
        T_strlcpy(current_working_directory, "/d/", sizeof current_working_directory);
        for (char *name : {orig_client, current_browse_client, current_restore_client}) {
            T_strlcpy(name, "ann-pc", XKP_TEXT_SIZE);
        }
        T_strlcpy(orig_server, "master", sizeof orig_server);
        T_strlcpy(current_server, "master", sizeof current_server);
        users_config.loaded = 1;
        gui::write_fake_program(bin_, "kpclimagelist", "1700000000 0 5 5 0 0 1 p\n", 0);
        gui::write_fake_program(bin_, "kprestore", "", 0);
        gui::write_fake_program(bin_, "kplist",
                                kpline("/d/", 1700000000) + kpline("/d/sub/", 1700000000) +
                                    kpline("/d/a", 1700000100) + kpline("/d/b", 1700000300) +
                                    kpline("/d/c", 1700000100) + kpline("/d/c", 1700000050),
                                0);
    }
    // A new main window in restore mode kind, listing /d/.
    void build(int kind = 0) {
        open_main();
        enter_restore_mode(kind);
        gui::drain();
        gui::close_message_boxes();
    }
    // Selects the file rows ending with each suffix; the start dialog if it opens.
    Widget request_selected(const Items &suffixes) {
        Items rows = gui::list_items(right_list);
        for (const std::string &s : suffixes) {
            for (size_t i = 2; i < rows.size(); ++i) {
                if (rows[i].ends_with(s)) {
                    XmListSelectPos(right_list, static_cast<int>(i + 1), False);
                }
            }
        }
        request_restore_selected();
        gui::drain();
        return confirm();
    }
    // The request file, as the fake program copied it from after -f.
    std::string request_file() { return gui::read_file(bin_ + "/kprestore.file.1"); }
    const std::string prog_ = bin_ + "/kprestore", log_ = home_ + "/kplog.rest.001";
};

TEST_F(RestoreRequestTest, SelectedFilesAreWrittenAsImageEntriesInTimeThenPathOrder) {
    build();
    // Every version of c (all dates are shown), a and b.
    T_strlcpy(tmlcmsg, "de_DE.UTF-8", sizeof tmlcmsg); // the question follows the catalog
    ASSERT_NE(request_selected({"  b", "  c", "  a"}), nullptr);
    EXPECT_STREQ(confirmation_msg, "Diese Dateien wiederherstellen?");
    std::string tmp = temp_filename;
    EXPECT_EQ(tmp.rfind(bin_ + "/tmp/", 0), 0u) << tmp;
    // The root's lines agree on one device: the no-crossing toggle starts set.
    EXPECT_EQ(run_confirm(), prog_ + " -t 0     -K  -O  -L " + log_ + " -W   -f " + tmp);
    EXPECT_EQ(request_file(), "0 33188 100 200 1 0 8 7 50 4 /d/c 1700000050 1700000050\n"
                              "0 33188 100 200 1 0 8 7 100 4 /d/a 1700000100 1700000100\n"
                              "0 33188 100 200 1 0 8 7 100 4 /d/c 1700000100 1700000100\n"
                              "0 33188 100 200 1 0 8 7 300 4 /d/b 1700000300 1700000300\n");
    EXPECT_EQ(get_item_count(persistent_list), 0); // the selections go once it ran
}

TEST_F(RestoreRequestTest, CommandLinesFollowModeOptionsAndDestination) {
    // The pieces' shapes (-D, -A, the link flags) are for the unit tests of
    // the command; here the dialog's toggles, the forced overwrite and the
    // destination must reach it. Rows: mode, overwrite, redirect (0 none,
    // else the link flags + 1), the part before -f (ALT: -R FILE).
    const std::tuple<int, bool, int, std::string> cases[] = {
        {0, false, 0, " -K  -O  -W  "},
        {3, false, 0, " -O  -W  -r "}, // raw partitions: overwrite forced
        {0, true, 2, " -O ALT-H  -W  "},
        {0, true, 1, " -O ALT -W  "},
    };
    for (const auto &[kind, overwrite, redirect, middle_] : cases) {
        SCOPED_TRACE(middle_);
        build(kind);
        int flags = redirect - 1;
        if (redirect > 0) {
            ASSERT_EQ(define_alternate_path("/d", "/elsewhere", flags & 1, flags >> 1 & 1), 1);
        }
        ASSERT_NE(request_selected({"  a"}), nullptr);
        if (kind == 3) {
            EXPECT_FALSE(gui::sensitive(part("toggleButton3")));
        } else {
            gui::toggle(part("toggleButton3"), overwrite);
        }
        gui::toggle(part("toggleButton1"), false); // no log file
        EXPECT_EQ(gui::toggle_set(part("toggleButton7")), redirect > 0);
        std::string tmp = temp_filename, middle = middle_;
        if (size_t alt = middle.find("ALT"); alt != std::string::npos) {
            middle.replace(alt, 3, " -R " + std::string(altpath_cmdfile) + " ");
        }
        EXPECT_EQ(without_private_log(run_confirm()), prog_ + " -t 0    " + middle + " -f " + tmp);
        if (redirect > 0) {
            EXPECT_EQ(gui::read_file(altpath_cmdfile), "change /d to /elsewhere\n");
        }
        use_alternate_path = alternate_path_defined = 0;
    }
}

TEST_F(RestoreRequestTest, TrueImageAndSearchDirectoryEntriesStartAtTheStartDate) {
    // True image: the directory itself is an entry from the start date.
    int32_t start = 0;
    ASSERT_EQ(convert2unixdatel("11/01/2023 00:00:00", &start, 1, "C", 0), 1);
    const std::string s = std::to_string(start);
    build(1);
    put_text(start_date, "11/01/2023 00:00:00");
    ASSERT_NE(request_selected({"  .", "  a"}), nullptr);
    std::string tmp = temp_filename;
    EXPECT_EQ(run_confirm(), prog_ + " -t 0     -K  -O  -L " + log_ + " -T -W   -f " + tmp);
    EXPECT_EQ(request_file(), "0 33188 100 200 1 0 8 7 0 3 /d/ " + s + " 1700000000\n" +
                                  "0 33188 100 200 1 0 8 7 100 4 /d/a " + s + " 1700000100\n");

    // The search directory is one directory entry up to the end of today.
    build();
    put_text(start_date, "11/01/2023 00:00:00");
    put_text(end_date, "not a date");
    T_strlcpy(tmlcmsg, "de_DE.UTF-8", sizeof tmlcmsg);
    request_restore_directory();
    gui::drain();
    ASSERT_NE(confirm(), nullptr);
    EXPECT_STREQ(confirmation_msg, "Verzeichnis wiederherstellen?");
    EXPECT_STREQ(confirmation_directory, "/d/");
    // The whole file system toggle starts set: the root's lines agree on one device.
    EXPECT_TRUE(gui::toggle_set(part("toggleButton15")));
    tmp = temp_filename;
    EXPECT_EQ(run_confirm(),
              prog_ + " -t 0     -K  -O  -L " + home_ + "/kplog.rest.002 -W   -f " + tmp);
    EXPECT_EQ(request_file(),
              "0 0 0 0 0 0 0 7 0 3 /d/ " + s + " " + std::to_string(midnight()) + "\n");
}

TEST_F(RestoreRequestTest, RequestsThatCannotStart) {
    build();
    // Nothing selected; then no temporary directory. The selection is kept.
    EXPECT_EQ(request_selected({}), nullptr);
    EXPECT_EQ(boxes(), (Items{"You have not made any selections"}));
    gui::close_message_boxes();
    setenv("TMPDIR", root_.file("missing").c_str(), 1);
    EXPECT_EQ(request_selected({"  a"}), nullptr);
    EXPECT_EQ(boxes(), (Items{"System error creating temporary file"}));
    EXPECT_GT(get_item_count(persistent_list), 0);
}

TEST_F(RestoreRequestTest, HostOptions) {
    // The names typed and the type; then -C, -D, -S, -server and -t, and the
    // current browse, restore and server names kept.
    const std::tuple<const char *, const char *, const char *, int, Items, Items> cases[] = {
        {"other",
         "other",
         "backup2",
         4,
         {"-C other", "-D other", "-S backup2", "-server backup2", "-t 4"},
         {"other", "other", "backup2"}},
        // Names equal to this client and the master: current, but no option.
        {"ann-pc", "ann-pc", "master", 0, {"", "", "", "", "-t 0"}, {"ann-pc", "ann-pc", "master"}},
        // Blank fields keep the current names and drop the options.
        {"  ", "", "\t", 0, {"", "", "", "", "-t 0"}, {"ann-pc", "ann-pc", "master"}},
        // A name the shell would split reaches the program as one word.
        {"a b",
         "x;rm",
         "s$1",
         0,
         {"-C 'a b'", "-D 'x;rm'", "-S 's$1'", "-server 's$1'", "-t 0"},
         {"a b", "x;rm", "s$1"}},
    };
    for (const auto &[browse, restore, server, type, options, names] : cases) {
        SCOPED_TRACE(browse);
        set_special_options(browse, restore, server, type);
        EXPECT_EQ(
            (Items{dash_C_option, dash_D_option, dash_S_option, dash_server_option, dash_t_option}),
            options);
        EXPECT_EQ((Items{current_browse_client, current_restore_client, current_server}), names);
        EXPECT_EQ(standard_or_wbak, type);
        set_special_options("ann-pc", "ann-pc", "master", 0);
    }
}

TEST_F(RestoreRequestTest, AltpathDialogShowsThePairWritesTheRenameFileAndCancels) {
    build();
    // No temporary directory: the dialog stays open, nothing is defined.
    setenv("TMPDIR", root_.file("missing").c_str(), 1);
    Widget d = gui::open(create_xkp_altpath());
    auto in = [&d](const char *name) { return gui::must_find(d, name); };
    gui::click(in("pushButton10"));
    gui::drain();
    EXPECT_NE(gui::find(top_, "xkp_desttpath"), nullptr);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_NE(boxes()[0].find("A temporary file is needed"), std::string::npos);
    EXPECT_EQ(alternate_path_defined, 0);
    gui::close_message_boxes();
    gui::click(in("pushButton14"));
    gui::drain();
    setenv("TMPDIR", (bin_ + "/tmp").c_str(), 1);

    d = gui::open(create_xkp_altpath());
    EXPECT_EQ(gui::text_of(in("text4")) + gui::text_of(in("text13")), "/d//d/");
    EXPECT_TRUE(gui::toggle_set(in("toggleButton9")) && gui::toggle_set(in("toggleButton11")));
    put_text(in("text4"), "/a b");
    put_text(in("text13"), "/c d");
    gui::toggle(in("toggleButton9"), false);
    gui::click(in("pushButton10"));
    gui::drain();
    EXPECT_EQ(gui::find(top_, "xkp_desttpath"), nullptr);
    EXPECT_EQ(gui::read_file(altpath_cmdfile), "change /a b to /c d\n");
    struct stat st {};
    EXPECT_TRUE(stat(altpath_cmdfile, &st) == 0 && (st.st_mode & 0077) == 0); // private
    EXPECT_EQ((std::vector<int>{alternate_path_defined, use_alternate_path, rename_altpath_hard,
                                rename_altpath_soft}),
              (std::vector<int>{1, 1, 0, 1}));

    // Opened again: the confirmed pair, both toggles set again; Current
    // Directory changes only the fields.
    d = gui::open(create_xkp_altpath());
    EXPECT_EQ(gui::text_of(in("text4")), "/a b");
    EXPECT_TRUE(gui::toggle_set(in("toggleButton9")));
    gui::click(in("pushButton16"));
    EXPECT_EQ(gui::text_of(in("text13")), "/d/");
    EXPECT_STREQ(to_alternate_path, "/c d");
    // Cancel turns the redirection off; the start dialog then offers none.
    gui::click(in("pushButton14"));
    gui::drain();
    EXPECT_FALSE(alternate_path_defined || use_alternate_path);
    ASSERT_NE(request_selected({"  a"}), nullptr);
    EXPECT_FALSE(gui::sensitive(part("toggleButton7")));
}

class ConfigTest : public RestoreRequestTest {
  protected:
    // Opens the dialog, types the server, chooses the policy type item, OK.
    void apply(const char *server, const char *item) {
        Widget d = gui::open(create_xkp_config());
        put_text(gui::must_find(d, "text10"), server);
        XtVaSetValues(gui::must_find(d, "menu2"), XmNmenuHistory,
                      XtNameToWidget(gui::must_find(d, "menu2_p1"), item), nullptr);
        gui::click(gui::must_find(d, "pushButton17"));
        gui::drain();
        EXPECT_EQ(gui::find(top_, "xkp_config"), nullptr);
    }
};

TEST_F(ConfigTest, OpensOnTheCurrentChoices) {
    build();
    for (auto [type, privileged_, item] :
         {std::tuple{4, 0, "menu2_p1_b4"}, {22, 1, "menu2_p1_b12"}}) {
        standard_or_wbak = type;
        privileged = privileged_;
        Widget d = gui::open(create_xkp_config());
        auto in = [d](const char *name) { return gui::must_find(d, name); };
        EXPECT_STREQ(XtName(d), "xkp_config");
        EXPECT_EQ(gui::text_of(in("text10")), "master");
        EXPECT_EQ(gui::text_of(in("text9")), "ann-pc");
        EXPECT_EQ(gui::text_of(in("text5")), "ann-pc");
        Widget chosen = UxrGetProp<Widget>(in("menu2"), XmNmenuHistory);
        EXPECT_STREQ(chosen != nullptr ? XtName(chosen) : "", item) << type;
        EXPECT_EQ(gui::sensitive(in("text5")), privileged_ != 0);
        EXPECT_EQ(gui::sensitive(XtNameToWidget(in("menu2_p1"), "menu2_p1_b12")), privileged_ != 0);
        gui::click(gui::must_find(d, "pushButton18")); // Cancel changes nothing
        gui::drain();
        EXPECT_EQ(standard_or_wbak, type);
    }
    // The items in display order with their labels.
    Widget pulldown = gui::must_find(gui::open(create_xkp_config()), "menu2_p1");
    WidgetList children = nullptr;
    Cardinal count = 0;
    XtVaGetValues(pulldown, XmNchildren, &children, XmNnumChildren, &count, nullptr);
    ASSERT_EQ(static_cast<int>(count), policy_type_item_count);
    EXPECT_EQ(gui::label_of(children[0]), "AFS");
    EXPECT_EQ(gui::label_of(children[count - 1]), "Sybase");
}

TEST_F(ConfigTest, OkAppliesTheChoicesAndEmptiesWhatTheyInvalidate) {
    // The server and policy type chosen; whether the image and file lists
    // are emptied, and -S. Type 3 (Apollo-wbak) takes the destination path
    // item away at once.
    for (auto [server, item, emptied, S] : {std::tuple{"master", "menu2_p1_b2", false, ""},
                                            {"master", "menu2_p1_b3", true, ""},
                                            {"backup2", "menu2_p1_b2", true, "-S backup2"}}) {
        SCOPED_TRACE(std::string(server) + item);
        build();
        ASSERT_TRUE(get_item_count(image_list) > 2 && get_item_count(right_list) > 2);
        ASSERT_TRUE(gui::sensitive(altpath_menu_item));
        apply(server, item);
        EXPECT_EQ(gui::sensitive(altpath_menu_item), standard_or_wbak != 3);
        EXPECT_EQ(get_item_count(image_list) == 0, emptied);
        EXPECT_EQ(get_item_count(right_list) == 0, emptied);
        EXPECT_EQ(get_item_count(shadow_right_list), get_item_count(right_list));
        EXPECT_STREQ(dash_S_option, S);
        set_special_options("ann-pc", "ann-pc", "master", 0);
        force_client_type = 0;
    }
    // AFS moves the browse to the AFS name space.
    build();
    privileged = 1;
    apply("master", "menu2_p1_b12");
    EXPECT_EQ(standard_or_wbak, 22);
    EXPECT_STREQ(dash_t_option, "-t 22");
    EXPECT_STREQ(current_working_directory, "/AFS/");
    EXPECT_EQ(gui::text_of(pathname), "/AFS/");
    EXPECT_EQ(gui::text_of(recursion), "3");
    EXPECT_EQ(recursion_limit, 3);
    EXPECT_EQ(get_item_count(image_list) + get_item_count(left_list) + get_item_count(right_list),
              0);
}

} // namespace
