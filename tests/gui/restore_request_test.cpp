// Restore requests on the real windows against a recording kprestore: the
// request files (image entries and their order, the directory entry), every
// kprestore command line the start dialog runs, the alternate destination
// dialog and its rename file, and the configuration dialog.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "timefuncs.h"
#include "unixconf_api.h"
#include "xkp_altpath.h"
#include "xkp_config.h"
#include "xkp_glue.h"
#include "xkp_main.h"
#include "xkp_restore.h"

#include <Xm/RowColumn.h>
#include <Xm/ToggleB.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Items = std::vector<std::string>;

// One kplist line: nine numbers (device 7 eighth), then the mode at column 0
// of the rest, owner at 11, group at 21, the numbers at 31, the path at 69.
std::string kpline(const std::string &path, int32_t backup) {
    char numbers[96];
    snprintf(numbers, sizeof numbers, "%d %d %d %zu", 42, backup, 1000000000, path.size());
    char r[256];
    snprintf(r, sizeof r, "0 33188 100 200 1 0 8 7 %d %-10s %-9s %-9s %-37s ", backup % 1000,
             "-rw-r--r--", "ann", "staff", numbers);
    return r + path + "\n";
}

class RestoreRequestTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        std::filesystem::create_directories(bin_ + "/tmp");
        std::filesystem::create_directories(home_);
        if (!staged_.empty()) {
            symlink((staged_ + "/msg").c_str(), root_.file("msg").c_str());
        }
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        T_strlcpy(tmlctime, "C", sizeof tmlctime);
        T_strlcpy(current_working_directory, "/d/", sizeof current_working_directory);
        for (char *name : {orig_client, current_browse_client, current_restore_client}) {
            T_strlcpy(name, "ann-pc", XKP_TEXT_SIZE);
        }
        T_strlcpy(orig_server, "master", sizeof orig_server);
        T_strlcpy(current_server, "master", sizeof current_server);
        users_config.loaded = 1;
        gui::write_fake_program(bin_, "kpclimagelist", "1700000000 0 5 5 0 0 1 p\n", 0);
        gui::write_fake_program(bin_, "kprestore", "", 0);
        listing(kpline("/d/", 1700000000) + kpline("/d/sub/", 1700000000) +
                kpline("/d/a", 1700000100) + kpline("/d/b", 1700000300) +
                kpline("/d/c", 1700000100) + kpline("/d/c", 1700000050));
    }
    void TearDown() override {
        gui::close_message_boxes();
        GuiTest::TearDown();
        users_config.loaded = 0;
    }
    void listing(const std::string &text) { gui::write_fake_program(bin_, "kplist", text, 0); }
    // The main window in restore mode kind, listing /d/.
    void build(int kind = 0) {
        shell_ = gui::open(create_xkp_main());
        enter_restore_mode(kind);
        gui::drain();
        gui::close_message_boxes();
    }
    // The window of the last build gone, so that the next can be built.
    void rebuild_later() {
        XtDestroyWidget(shell_);
        gui::drain();
        shell_ = nullptr;
        reset_resensitize_table(); // the next window registers its own items
    }
    // Selects the file rows whose text ends with each name.
    void select(const Items &suffixes) {
        Items rows = gui::list_items(right_list);
        for (const std::string &s : suffixes) {
            for (size_t i = 2; i < rows.size(); ++i) {
                if (rows[i].size() >= s.size() &&
                    rows[i].compare(rows[i].size() - s.size(), s.size(), s) == 0) {
                    XmListSelectPos(right_list, static_cast<int>(i + 1), False);
                }
            }
        }
    }
    // The start dialog of the selected files, when it opens.
    Widget request_selected(const Items &suffixes) {
        select(suffixes);
        request_restore_selected();
        gui::drain();
        return confirm();
    }
    Widget confirm() { return gui::find(top_, "xkp_confirm"); }
    // OK in the start dialog, with the command traced; returns the command.
    std::string run_confirm() {
        Widget dialog = confirm();
        EXPECT_NE(dialog, nullptr);
        if (dialog == nullptr) {
            return "";
        }
        debug_enabled = 1;
        gui::StdoutCapture out;
        gui::click(gui::must_find(dialog, "pushButton6"));
        gui::drain();
        std::string trace = out.stop();
        debug_enabled = 0;
        const std::string tag = "debug confirm command:";
        size_t at = trace.find(tag);
        size_t end = trace.find("!\n", at);
        return at == std::string::npos ? "" : trace.substr(at + tag.size(), end - at - tag.size());
    }
    // The request file, as the fake program copied it from after -f.
    std::string request_file() { return gui::read_file(bin_ + "/kprestore.file.1"); }

    const std::string staged_ = getenv("XKP_ROOT") != nullptr ? getenv("XKP_ROOT") : "";
    gui::TempDir root_;
    const std::string bin_ = root_.file("sorvane/bin"), home_ = root_.file("home");
    // Request files below the programs' directory, where the recording
    // kprestore copies them from.
    gui::ScopedEnv root_env_{"XKP_ROOT", root_.path().c_str()}, home_env_{"HOME", home_.c_str()},
        tmp_env_{"TMPDIR", (bin_ + "/tmp").c_str()};
    const std::string prog_ = bin_ + "/kprestore", log_ = home_ + "/kplog.rest.001";
    Widget shell_ = nullptr;
};

TEST_F(RestoreRequestTest, SelectedFilesAreWrittenAsImageEntriesInTimeThenPathOrder) {
    build();
    // Every version of c (all dates are shown), a and b.
    ASSERT_NE(request_selected({"  b", "  c", "  a"}), nullptr);
    EXPECT_STREQ(confirmation_msg, "OK to restore these files?");
    EXPECT_EQ(std::string(log_filename), log_);
    std::string tmp = temp_filename;
    EXPECT_EQ(tmp.rfind(bin_ + "/tmp/", 0), 0u) << tmp;
    // The root's lines agree on one device: the no-crossing toggle starts set.
    EXPECT_EQ(run_confirm(), prog_ + " -t 0     -K  -O  -L " + log_ + " -W   -f " + tmp);
    EXPECT_EQ(request_file(), "0 33188 100 200 1 0 8 7 50 4 /d/c 1700000050 1700000050\n"
                              "0 33188 100 200 1 0 8 7 100 4 /d/a 1700000100 1700000100\n"
                              "0 33188 100 200 1 0 8 7 100 4 /d/c 1700000100 1700000100\n"
                              "0 33188 100 200 1 0 8 7 300 4 /d/b 1700000300 1700000300\n");
    // The selections are gone once the request ran.
    EXPECT_EQ(get_item_count(persistent_list), 0);
}

TEST_F(RestoreRequestTest, CommandLinesFollowModeOptionsAndDestination) {
    // The pieces' shapes (-D, -A, the link flags) are for the unit tests of
    // the command; here the dialog's toggles, the forced overwrite and the
    // destination must reach it.
    struct Case {
        const char *name;
        int kind;
        bool overwrite, logging; // "Overwrite existing files", "Use log file"
        int redirect;            // 0 none, else the link flags + 1 (1: neither, 2: hard)
        std::string middle;      // between the header and the trailer; ALT: -R FILE
        const char *trailer_head;
    } cases[] = {
        {"plain", 0, false, false, 0, " -K  -O ", " -W  "},
        {"overwrite", 0, true, false, 0, " -O ", " -W  "},
        {"raw partitions overwrite forced", 3, false, false, 0, " -O ", " -W  -r "},
        {"redirect hard link", 0, true, false, 2, " -O ALT-H ", " -W  "},
        {"redirect no links", 0, true, false, 1, " -O ALT", " -W  "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        build(c.kind);
        if (c.redirect > 0) {
            int flags = c.redirect - 1;
            ASSERT_EQ(define_alternate_path("/d", "/elsewhere", flags & 1, flags >> 1 & 1), 1);
        }
        Widget dialog = request_selected({"  a"});
        ASSERT_NE(dialog, nullptr);
        Widget overwrite = gui::must_find(dialog, "toggleButton3");
        if (c.kind == 3) {
            EXPECT_FALSE(gui::sensitive(overwrite));
        } else {
            gui::toggle(overwrite, c.overwrite);
        }
        gui::toggle(gui::must_find(dialog, "toggleButton1"), c.logging);
        EXPECT_EQ(gui::toggle_set(gui::must_find(dialog, "toggleButton7")), c.redirect > 0);
        std::string tmp = temp_filename;
        std::string middle = c.middle;
        size_t alt = middle.find("ALT");
        if (alt != std::string::npos) {
            middle.replace(alt, 3, " -R " + std::string(altpath_cmdfile) + " ");
        }
        EXPECT_EQ(run_confirm(), prog_ + " -t 0    " + middle + c.trailer_head + " -f " + tmp);
        if (c.redirect > 0) {
            EXPECT_EQ(gui::read_file(altpath_cmdfile), "change /d to /elsewhere\n");
        }
        rebuild_later();
        use_alternate_path = alternate_path_defined = 0;
        unlink((bin_ + "/kprestore.args").c_str());
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
    rebuild_later();
    true_image = 0;
    unlink((bin_ + "/kprestore.file.1").c_str());

    // The search directory is one directory entry up to the end of today.
    build();
    EXPECT_EQ(root_filesys_only_possible, 1);
    put_text(start_date, "11/01/2023 00:00:00");
    put_text(end_date, "not a date");
    request_restore_directory();
    gui::drain();
    ASSERT_NE(confirm(), nullptr);
    EXPECT_STREQ(confirmation_msg, "OK to restore directory?");
    EXPECT_STREQ(confirmation_directory, "/d/");
    // The whole file system toggle starts set: the root's lines agree on one device.
    EXPECT_TRUE(gui::toggle_set(gui::must_find(confirm(), "toggleButton15")));
    tmp = temp_filename;
    EXPECT_EQ(run_confirm(),
              prog_ + " -t 0     -K  -O  -L " + home_ + "/kplog.rest.002 -W   -f " + tmp);
    EXPECT_EQ(request_file(),
              "0 0 0 0 0 0 0 7 0 3 /d/ " + s + " " + std::to_string(midnight()) + "\n");
}

TEST_F(RestoreRequestTest, RequestsThatCannotStart) {
    build();
    // Nothing selected; then no temporary directory.
    const std::pair<Items, const char *> cases[] = {
        {{}, "You have not made any selections"},
        {{"  a"}, "System error creating temporary file"},
    };
    for (const auto &[selection, text] : cases) {
        if (!selection.empty()) {
            setenv("TMPDIR", root_.file("missing").c_str(), 1);
        }
        EXPECT_EQ(request_selected(selection), nullptr);
        auto boxes = gui::message_boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].text.find(text), std::string::npos) << boxes[0].text;
        gui::close_message_boxes();
    }
    // The selection is still held for a later try.
    EXPECT_GT(get_item_count(persistent_list), 0);
}

TEST_F(RestoreRequestTest, HostOptions) {
    struct Case { // the three names typed and the type; the options and names that follow
        const char *browse, *restore, *server;
        int type;
        const char *C, *D, *S, *server_opt, *t, *cur_browse, *cur_restore, *cur_server;
    } cases[] = {
        {"other", "other", "backup2", 4, "-C other", "-D other", "-S backup2", "-server backup2",
         "-t 4", "other", "other", "backup2"},
        // Names equal to this client and the master: current, but no option.
        {"ann-pc", "ann-pc", "master", 0, "", "", "", "", "-t 0", "ann-pc", "ann-pc", "master"},
        // Blank fields keep the current names and drop the options.
        {"  ", "", "\t", 0, "", "", "", "", "-t 0", "ann-pc", "ann-pc", "master"},
        // A name the shell would split reaches the program as one word.
        {"a b", "x;rm", "s$1", 0, "-C 'a b'", "-D 'x;rm'", "-S 's$1'", "-server 's$1'", "-t 0",
         "a b", "x;rm", "s$1"},
    };
    for (const Case &c : cases) {
        set_special_options(c.browse, c.restore, c.server, c.type);
        EXPECT_EQ(
            (Items{dash_C_option, dash_D_option, dash_S_option, dash_server_option, dash_t_option,
                   current_browse_client, current_restore_client, current_server}),
            (Items{c.C, c.D, c.S, c.server_opt, c.t, c.cur_browse, c.cur_restore, c.cur_server}));
        EXPECT_EQ(standard_or_wbak, c.type);
        set_special_options("ann-pc", "ann-pc", "master", 0);
    }
}

TEST_F(RestoreRequestTest, AltpathDialogShowsThePairWritesTheRenameFileAndCancels) {
    build();
    // No temporary directory: the dialog stays open, nothing is defined.
    setenv("TMPDIR", root_.file("missing").c_str(), 1);
    Widget d = gui::open(create_xkp_altpath());
    gui::click(gui::must_find(d, "pushButton10"));
    gui::drain();
    EXPECT_NE(gui::find(top_, "xkp_desttpath"), nullptr);
    auto boxes = gui::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("A temporary file is needed"), std::string::npos);
    EXPECT_EQ(alternate_path_defined, 0);
    gui::close_message_boxes();
    gui::click(gui::must_find(d, "pushButton14"));
    gui::drain();
    setenv("TMPDIR", (bin_ + "/tmp").c_str(), 1);

    d = gui::open(create_xkp_altpath());
    EXPECT_STREQ(XtName(d), "xkp_desttpath");
    EXPECT_EQ(gui::text_of(gui::must_find(d, "text4")), "/d/");
    EXPECT_EQ(gui::text_of(gui::must_find(d, "text13")), "/d/");
    EXPECT_TRUE(gui::toggle_set(gui::must_find(d, "toggleButton9")));
    EXPECT_TRUE(gui::toggle_set(gui::must_find(d, "toggleButton11")));
    EXPECT_EQ(gui::label_of(gui::must_find(d, "pushButton16")), "Current Directory");
    put_text(gui::must_find(d, "text4"), "/a b");
    put_text(gui::must_find(d, "text13"), "/c d");
    gui::toggle(gui::must_find(d, "toggleButton9"), false);
    gui::click(gui::must_find(d, "pushButton10"));
    gui::drain();
    EXPECT_EQ(gui::find(top_, "xkp_desttpath"), nullptr);
    EXPECT_EQ(gui::read_file(altpath_cmdfile), "change /a b to /c d\n");
    struct stat st {};
    ASSERT_EQ(stat(altpath_cmdfile, &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u); // nobody else may change the pair
    EXPECT_EQ((std::vector<int>{alternate_path_defined, use_alternate_path, rename_altpath_hard,
                                rename_altpath_soft}),
              (std::vector<int>{1, 1, 0, 1}));

    // Opened again: the confirmed pair, both toggles set again; Current
    // Directory changes only the fields.
    d = gui::open(create_xkp_altpath());
    EXPECT_EQ(gui::text_of(gui::must_find(d, "text4")), "/a b");
    EXPECT_TRUE(gui::toggle_set(gui::must_find(d, "toggleButton9")));
    gui::click(gui::must_find(d, "pushButton16"));
    EXPECT_EQ(gui::text_of(gui::must_find(d, "text13")), "/d/");
    EXPECT_STREQ(to_alternate_path, "/c d");
    // Cancel turns the redirection off; the start dialog then offers none.
    gui::click(gui::must_find(d, "pushButton14"));
    gui::drain();
    EXPECT_FALSE(alternate_path_defined || use_alternate_path);
    ASSERT_NE(request_selected({"  a"}), nullptr);
    EXPECT_FALSE(gui::sensitive(gui::must_find(confirm(), "toggleButton7")));
}

class ConfigTest : public RestoreRequestTest {
  protected:
    void choose(Widget d, const char *item) {
        Widget pulldown = gui::must_find(d, "menu2_p1");
        XtVaSetValues(gui::must_find(d, "menu2"), XmNmenuHistory, XtNameToWidget(pulldown, item),
                      nullptr);
    }
};

TEST_F(ConfigTest, OpensOnTheCurrentChoices) {
    build();
    struct Case {
        int type, privileged;
        const char *item;
    } cases[] = {{4, 0, "menu2_p1_b4"}, {5, 0, "menu2_p1_b2"}, {22, 1, "menu2_p1_b12"}};
    for (const Case &c : cases) {
        standard_or_wbak = c.type;
        privileged = c.privileged;
        Widget d = gui::open(create_xkp_config());
        EXPECT_STREQ(XtName(d), "xkp_config");
        EXPECT_EQ(gui::text_of(gui::must_find(d, "text10")), "master");
        EXPECT_EQ(gui::text_of(gui::must_find(d, "text9")), "ann-pc");
        EXPECT_EQ(gui::text_of(gui::must_find(d, "text5")), "ann-pc");
        Widget chosen = UxrGetProp<Widget>(gui::must_find(d, "menu2"), XmNmenuHistory);
        EXPECT_STREQ(chosen != nullptr ? XtName(chosen) : "", c.item) << c.type;
        EXPECT_EQ(gui::sensitive(gui::must_find(d, "text5")), c.privileged != 0);
        Widget pulldown = gui::must_find(d, "menu2_p1");
        EXPECT_EQ(gui::sensitive(XtNameToWidget(pulldown, "menu2_p1_b12")), c.privileged != 0);
        gui::click(gui::must_find(d, "pushButton18")); // Cancel changes nothing
        gui::drain();
        EXPECT_EQ(standard_or_wbak, c.type);
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
    struct Case {
        const char *name, *server, *item;
        bool images_emptied, lists_emptied;
        const char *S;
    } cases[] = {
        {"no change", "master", "menu2_p1_b2", false, false, ""},
        {"policy type", "master", "menu2_p1_b4", true, true, ""},
        {"server", "backup2", "menu2_p1_b2", true, true, "-S backup2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        build();
        ASSERT_GT(get_item_count(image_list), 2);
        ASSERT_GT(get_item_count(right_list), 2);
        Widget d = gui::open(create_xkp_config());
        put_text(gui::must_find(d, "text10"), c.server);
        choose(d, c.item);
        gui::click(gui::must_find(d, "pushButton17"));
        gui::drain();
        EXPECT_EQ(gui::find(top_, "xkp_config"), nullptr);
        EXPECT_EQ(get_item_count(image_list) == 0, c.images_emptied);
        EXPECT_EQ(get_item_count(right_list) == 0, c.lists_emptied);
        EXPECT_EQ(get_item_count(shadow_right_list), get_item_count(right_list));
        EXPECT_STREQ(dash_S_option, c.S);
        rebuild_later();
        set_special_options("ann-pc", "ann-pc", "master", 0);
        force_client_type = 0;
    }
}

TEST_F(ConfigTest, AfsMovesTheBrowseToTheAfsNameSpace) {
    build();
    privileged = 1;
    Widget d = gui::open(create_xkp_config());
    choose(d, "menu2_p1_b12");
    gui::click(gui::must_find(d, "pushButton17"));
    gui::drain();
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
