// Backup, archive and database-script requests through the real main window
// and start dialog, against recording programs: command lines, request
// files, hostile names, log names, the dialog's parts, OK and Cancel.
#include <gtest/gtest.h>

#include "gui_product.h"

#include "timefuncs.h"
#include "tmmsg.h"
#include "xkp_confirm.h"
#include "xkp_jobwatch.h"
#include "xkp_request.h"

#include <algorithm>
#include <set>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Names that a shell, a glob or a line-based reader would get wrong.
const std::string hostile[] = {"plain",           "two  blanks", "quote'single",
                               "$HOME and $(id)", "`id`",        "back\\slash",
                               "new\nline",       "-k",          "*?["};

class BackupRequestTest : public ProductTest {
  protected:
    void SetUp() override {
        ProductTest::SetUp();
        ASSERT_TRUE(std::filesystem::create_directories(tree_));
        for (const char *p : {"kpbackup", "kparchive", "kphdb"}) {
            fake(p, 0);
        }
        for (const std::string &n : hostile) {
            write_file(tree_ + "/" + n, "");
        }
        T_strlcpy(current_working_directory, (tree_ + "/").c_str(),
                  sizeof current_working_directory);
        open_main();
    }
    // Run N records its arguments NUL-separated in NAME.args.N, a copy of the
    // -f file in NAME.request.N and whether the -L file exists in NAME.log.N;
    // it writes log_line to the -L file, as a job that ended would.
    void fake(const std::string &name, int status, const std::string &log_line = "") {
        write_file(bin_ + "/" + name, R"(#!/bin/sh
n=1; while [ -e "$0.args.$n" ]; do n=$((n+1)); done
printf '%s\0' "$@" > "$0.args.$n"
while [ $# -gt 1 ]; do
  case $1 in -f) cp "$2" "$0.request.$n";;
    -L) [ -f "$2" ] && echo exists > "$0.log.$n"; printf '%s' ')" +
                                          log_line + R"(' >> "$2";;
  esac
  shift
done
exit )" + std::to_string(status) + "\n");
        chmod((bin_ + "/" + name).c_str(), 0755);
    }
    // What run N of program name recorded: args, request or log.
    std::string record(const std::string &name, const char *what, int run = 1) {
        return gui::read_file(bin_ + "/" + name + "." + what + "." + std::to_string(run));
    }
    // The arguments of run N: the NUL-separated record split.
    Items args(const std::string &name, int run = 1) {
        Items out;
        std::istringstream in(record(name, "args", run));
        for (std::string a; std::getline(in, a, '\0');) {
            out.push_back(a);
        }
        return out;
    }
    // One character per part of the start dialog: '1' where pred holds.
    std::string bits(bool (*pred)(Widget), std::initializer_list<const char *> names) {
        std::string got;
        for (const char *name : names) {
            got += pred(part(name)) ? '1' : '0';
        }
        return got;
    }
    // The keyword field and the toggles that only some requests show.
    std::string shown() {
        return bits(gui::managed, {"text5", "toggleButton3", "toggleButton7", "toggleButton15",
                                   "toggleButtonDummy"});
    }
    // Selects the rows of names, then chooses the request item: the dialog.
    Widget request(const Items &names, const char *item) {
        for (int i = 1; i <= get_item_count(shadow_right_list); ++i) {
            if (std::ranges::count(names, get_line_from_item(shadow_right_list, i, 2)) > 0) {
                XmListSelectPos(right_list, i, True);
            }
        }
        gui::drain();
        gui::fire(XtNameToWidget(gui::must_find(shell_, std::string(item, 8).c_str()), item),
                  XmNactivateCallback);
        gui::drain();
        return confirm();
    }

    const std::string tree_ = root_.file("tree");
};

TEST_F(BackupRequestTest, BackupOfSelectedFilesRunsTheExactCommandWithHostileNamesAndKeyword) {
    ASSERT_NE(request({hostile, hostile + std::size(hostile)}, "menu1_p4_b1"), nullptr);
    EXPECT_EQ(gui::label_of(part("label5")), "OK to backup these files?");
    EXPECT_EQ(gui::text_of(part("text7")), home_ + "/kplog.bkup.001");
    EXPECT_EQ(shown(), "10000");
    EXPECT_EQ(gui::list_items(part("scrolledList5")).size(), std::size(hostile));
    std::string tmpfile = temp_filename;

    const std::string keyword = "k'\"$`\\ \tx$(id) -f /etc";
    put_text(part("text5"), (keyword + "   ").c_str());
    // The request file of the selections: counted lines in the file list's
    // byte order.
    std::string want_request;
    for (const std::string &n : std::set<std::string>(std::begin(hostile), std::end(hostile))) {
        want_request += std::to_string(tree_.size() + 1 + n.size()) + " " + tree_ + "/" + n + "\n";
    }
    EXPECT_EQ(gui::read_file(tmpfile), want_request);
    std::string log = home_ + "/kplog.bkup.001";
    EXPECT_EQ(run_confirm(), bin_ + "/kpbackup  " + " -k " + apostrophize(keyword.c_str()).value() +
                                 "  -L " + log + " -f " + tmpfile);
    EXPECT_EQ(args("kpbackup"), (Items{"-k", keyword, "-L", log, "-f", tmpfile}));
    EXPECT_EQ(record("kpbackup", "request"), want_request);
    EXPECT_EQ(record("kpbackup", "log"), "exists\n");
    // After OK: no dialog, no selections, the state cleared.
    EXPECT_EQ(confirm(), nullptr);
    EXPECT_FALSE(get_item_count(persistent_list) || get_selection_count(right_list));
    EXPECT_EQ(std::string(temp_filename) + confirmed_cmd, "");
    EXPECT_TRUE(boxes().empty());

    // The keyword is offered again; the next log gets the next number.
    ASSERT_NE(request({"plain"}, "menu1_p4_b1"), nullptr);
    EXPECT_EQ(gui::text_of(part("text5")), keyword);
    EXPECT_EQ(gui::text_of(part("text7")), home_ + "/kplog.bkup.002");
}

TEST_F(BackupRequestTest, ArchiveOfADirectoryNothingSelectedAndCancel) {
    const std::string dir = tree_ + "/dir 'q' \"d\" $x `y` \\z\nend/",
                      log = home_ + "/kplog.arch.001";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    put_text(pathname, dir.c_str());
    ASSERT_NE(request({}, "menu1_p4_b4"), nullptr);
    EXPECT_EQ(gui::label_of(part("label5")), "OK to archive directory?");
    EXPECT_EQ(gui::list_items(part("scrolledList5")), (Items{dir}));
    EXPECT_EQ(gui::text_of(part("text7")), log);
    EXPECT_EQ(run_confirm(),
              bin_ + "/kparchive   -L " + log + " " + apostrophize(dir.c_str()).value());
    EXPECT_EQ(args("kparchive"), (Items{"-L", log, dir}));

    // Nothing selected: a message and no dialog.
    EXPECT_EQ(request({}, "menu1_p4_b1"), nullptr);
    EXPECT_EQ(boxes(), (Items{"You have not selected any files"}));
    gui::close_message_boxes();
    // Cancel keeps the selections and the request file, and runs nothing.
    ASSERT_NE(request({"plain", "`id`"}, "menu1_p4_b3"), nullptr);
    EXPECT_EQ(gui::label_of(part("label5")), "OK to archive these files?");
    std::string tmpfile = temp_filename;
    gui::click(part("pushButton7"));
    gui::drain();
    EXPECT_EQ(confirm(), nullptr);
    EXPECT_EQ(std::string(temp_filename) + confirmation_msg, "");
    EXPECT_EQ(get_item_count(persistent_list), 2);
    EXPECT_EQ(get_selection_count(right_list), 2);
    EXPECT_FALSE(gui::read_file(tmpfile).empty());
    EXPECT_TRUE(args("kparchive", 2).empty()) << "nothing ran";
}

TEST_F(BackupRequestTest, LoggingToggleAndLogsThatCannotBeCreated) {
    T_strlcpy(dash_eight_option, " -8 ", sizeof dash_eight_option);
    // Logging on, the name typed, the permission message shown; the part
    // between the header's keyword and the trailer. Without a log of the
    // user's the job still gets one, private, to be watched (PRIVATE).
    const std::tuple<bool, std::string, bool, std::string> cases[] = {
        {false, "", false, " -8  -L PRIVATE"},
        {true, home_ + "/planted", true, " -8  -L PRIVATE"}, // a link is not written through
        {true, home_ + "/my log", false, " -8  -L '" + home_ + "/my\xc0\xa0log'"},
        {true, home_ + "/a\\b", false, " -8  -L '" + home_ + "/a\\b'"},
    };
    write_file(root_.path() + "/victim", "keep me");
    ASSERT_EQ(symlink((root_.path() + "/victim").c_str(), (home_ + "/planted").c_str()), 0);
    for (const auto &[logging, log, message, middle] : cases) {
        SCOPED_TRACE(log);
        ASSERT_NE(request({"plain"}, "menu1_p4_b1"), nullptr);
        gui::toggle(part("toggleButton1"), logging);
        EXPECT_EQ(bits(gui::sensitive, {"text7", "label17"}), logging ? "11" : "00");
        put_text(part("text7"), log.c_str());
        std::string tmpfile = temp_filename;
        std::string cmd = run_confirm();
        if (size_t at = cmd.find(bin_ + "/tmp/xkplog"); at != std::string::npos) {
            std::string priv = cmd.substr(at, bin_.size() + 17);
            struct stat st {};
            EXPECT_EQ(lstat(priv.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode, S_IFREG | 0600);
            cmd.replace(at, priv.size(), "PRIVATE");
        }
        EXPECT_EQ(cmd, bin_ + "/kpbackup  " + middle + " -f " + tmpfile);
        EXPECT_EQ(boxes(), message ? Items{"Insufficient permission to create log file.\n"
                                           "Operation will proceed without logging."}
                                   : Items{});
        gui::close_message_boxes();
    }
    EXPECT_FALSE(args("kpbackup", std::size(cases)).empty()) << "each request ran either way";
    EXPECT_EQ(gui::read_file(root_.path() + "/victim"), "keep me");
}

TEST_F(BackupRequestTest, ExitStatusesAreReportedAndTheSelectionsDropped) {
    // Which status shows what is for the runner's tests; here the program's
    // status (-1: the program missing) must reach it, and the selections go
    // whatever it is.
    for (int status : {0, 25, -1}) {
        SCOPED_TRACE(status);
        status >= 0 ? fake("kpbackup", status) : void(unlink((bin_ + "/kpbackup").c_str()));
        ASSERT_NE(request({"plain"}, "menu1_p4_b1"), nullptr);
        run_confirm();
        ASSERT_EQ(boxes().size(), status == 0 ? 0u : 1u);
        EXPECT_TRUE(status >= 0 || boxes()[0].find("cannot be executed") != std::string::npos);
        EXPECT_EQ(get_item_count(persistent_list), 0);
        // Only a request accepted (0) goes on running, watched by its log.
        EXPECT_EQ(watched_request_logs(), status == 0 ? 1 : 0);
        forget_request_logs();
        gui::close_message_boxes();
    }
    // A job that fails after its request was accepted: its box comes once
    // its log closes, and the watching stops; without a log of the user's the
    // same goes for the private one, which then goes.
    for (bool logging : {true, false}) {
        SCOPED_TRACE(logging);
        forget_request_logs();
        fake("kpbackup", 0, "12:00:00 EXIT STATUS 6: failed\n");
        ASSERT_NE(request({"plain"}, "menu1_p4_b1"), nullptr);
        gui::toggle(part("toggleButton1"), logging);
        run_confirm();
        EXPECT_TRUE(boxes().empty());
        EXPECT_EQ(watched_request_logs(), 1);
        check_request_logs();
        EXPECT_EQ(boxes(), Items{getECmsgl(6, nullptr)});
        EXPECT_FALSE(request_watch_armed());
        gui::close_message_boxes();
    }
    for (const auto &e : std::filesystem::directory_iterator(bin_ + "/tmp")) {
        EXPECT_NE(e.path().filename().string().substr(0, 6), "xkplog") << "left behind";
    }
    // A command too long to run is not run; the user is told so and keeps
    // the dialog and the selections to shorten it.
    fake("kpbackup", 0);
    ASSERT_NE(request({"plain"}, "menu1_p4_b1"), nullptr);
    put_text(part("text5"), std::string(1600, 'k').c_str());
    EXPECT_EQ(run_confirm(), "");
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_NE(boxes()[0].find("at most 1535"), std::string::npos) << boxes()[0];
    gui::close_message_boxes();
    EXPECT_GT(get_item_count(persistent_list), 0);
    ASSERT_NE(confirm(), nullptr);
    put_text(part("text5"), "short");
    EXPECT_NE(run_confirm(), "");
}

TEST_F(BackupRequestTest, DatabaseScriptRequests) {
    // The configuration not read yet (nothing else needed it): the request
    // reads it, the host file here as for the superuser.
    users_config.loaded = 0;
    write_file(root_.file("sorvane/kp.conf"),
               "SERVER = srv\nKPBACKUP_POLICY = pol;icy\nKPBACKUP_SCHED = any\n");
    T_strlcpy(current_server, "srv", sizeof current_server);
    T_strlcpy(backupKeyword, "kept", sizeof backupKeyword);
    enter_filesys_mode(3); // Oracle backup scripts
    ASSERT_NE(request({"plain", "two  blanks"}, "menu1_p4_b8"), nullptr);
    EXPECT_EQ(gui::label_of(part("label5")), "OK to backup database using these scripts?");
    EXPECT_EQ(shown(), "00000") << "no keyword field for scripts";
    std::string tmpfile = temp_filename;
    EXPECT_EQ(gui::read_file(tmpfile), tree_ + "/plain\n" + tree_ + "/two  blanks\n");
    EXPECT_EQ(run_confirm(),
              bin_ + "/kphdb -ub -fork -rdbms oracle -S srv -c 'pol;icy'  -k 'kept'  -L " + home_ +
                  "/kplog.bkup.001 -f " + tmpfile);

    users_config.KPBACKUP_SCHED = "daily";
    enter_filesys_mode(4); // Oracle restore scripts
    ASSERT_NE(request({"plain"}, "menu1_p5_b7"), nullptr);
    EXPECT_EQ(gui::text_of(part("text7")), home_ + "/kplog.rest.001");
    tmpfile = temp_filename;
    EXPECT_EQ(run_confirm(), bin_ + "/kphdb -r -fork -rdbms oracle -S srv -c 'pol;icy' -s daily " +
                                 "-k 'kept'  -L " + home_ + "/kplog.rest.001 -f " + tmpfile);
    users_config.KPBACKUP_POLICY.reset();
    users_config.KPBACKUP_SCHED.reset();
}

TEST_F(BackupRequestTest, StartDialogHidingRulesInRestoreModes) {
    browsing_filesys = 0;
    use_persistent_list = 1;
    quadruple_add_item(persistent_list, 0, "/a/b/. 01/02/24", "/a/b/.", "100", "1 2 3 4 5 6 7 8 9");
    // Raw partitions, client type, destination defined and used, whole file
    // system possible, true image; the overwrite, redirect and whole file
    // system toggles: which are sensitive, then which are set.
    int *const state[] = {&browsing_raw_partitions,    &standard_or_wbak,
                          &alternate_path_defined,     &use_alternate_path,
                          &root_filesys_only_possible, &true_image};
    const std::pair<std::vector<int>, const char *> cases[] = {
        {{0, 0, 0, 0, 0, 0}, "100 000"},
        {{1, 0, 0, 0, 1, 0}, "001 101"},
        {{0, 19, 1, 1, 0, 0}, "010 110"}, // NDMP
        {{0, 16, 1, 0, 0, 1}, "110 000"}, // exchange: logs deleted instead
    };
    for (const auto &[values, want] : cases) {
        SCOPED_TRACE(values[1]);
        for (size_t i = 0; i < values.size(); ++i) {
            *state[i] = values[i];
        }
        gui::open(create_xkp_confirm());
        EXPECT_EQ(shown(), "01110");
        auto toggles = {"toggleButton3", "toggleButton7", "toggleButton15"};
        EXPECT_EQ(bits(gui::sensitive, toggles) + " " + bits(gui::toggle_set, toggles), want);
        EXPECT_EQ(gui::label_of(part("toggleButton3")),
                  true_image ? "Delete existing transaction logs prior to restore"
                             : "Overwrite existing files");
        // A true image restores the directory itself.
        EXPECT_EQ(gui::list_items(part("scrolledList5")).at(0),
                  true_image ? "/a/b/  01/02/24" : "/a/b/. 01/02/24");
        gui::click(part("pushButton7"));
        gui::drain();
    }
}

TEST_F(BackupRequestTest, ProgressLogNames) {
    // The highest number of this word's logs plus one, from three digits.
    const std::pair<Items, std::string> cases[] = {
        {{"kplog.bkup.017", "kplog.bkup.003"}, "kplog.bkup.018"},
        {{"kplog.bkup.x"}, "kplog.bkup.001"},
        {{"kplog.bkup.999"}, "kplog.bkup.1000"},
        {{"kplog.arch.500", "kplog.bkupx.9"}, "kplog.bkup.001"},
    };
    for (const auto &[existing, want] : cases) {
        gui::TempDir home;
        for (const std::string &n : existing) {
            write_file(home.file(n), "");
        }
        setenv("HOME", (home.path() + "/").c_str(), 1);
        EXPECT_EQ(std::string(generate_home_filename("log.bkup")), home.file(want)) << want;
    }
    // A home holding wildcard characters is taken literally.
    std::string home = root_.file("h[1]*");
    ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
    write_file(home + "/kplog.rest.041", "");
    setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(std::string(generate_home_filename("log.rest")), home + "/kplog.rest.042");
    // At most eight characters of the word.
    EXPECT_EQ(std::string(generate_home_filename("log.bkup.extra")), home + "/kplog.bkup.001");
    unsetenv("HOME");
    EXPECT_EQ(std::string(generate_home_filename("log.zzzz")), "/kplog.zzzz.001");
}

TEST_F(BackupRequestTest, TransferEncoding) {
    const std::string cases[][3] = {
        // text, encoded, " -8 " when the encoding is on
        {"/home/a_b-c.d+e:f\\g", "/home/a_b-c.d+e:f\\g", ""},
        {"\xe9", "\xc3\xa9", " -8 "},
        {"a'b", "a\xc0\xa7\x62", " -8 "},
        {"", "", ""},
    };
    for (const auto &[in, out, eight] : cases) {
        dash_eight_option[0] = '\0';
        EXPECT_EQ(std::string(utf8_conversion(in.c_str())), out) << in;
        EXPECT_EQ(std::string(dash_eight_option), eight) << in;
    }
    // Once on, it stays on.
    utf8_conversion("x y");
    utf8_conversion("plain");
    EXPECT_STREQ(dash_eight_option, " -8 ");
    // A text that would overflow the buffer is cut, never overrun.
    std::string long_text(1500, ' ');
    EXPECT_EQ(std::string(utf8_conversion(long_text.c_str())).size(), 1534u);
}

TEST_F(BackupRequestTest, RequestFileKinds) {
    browsing_filesys = 0;
    // Image entries in time then path order, and the backup list; true
    // image and directory entries are left to the restore request tests.
    ASSERT_TRUE(create_temp_file(temp_filename, sizeof temp_filename));
    quadruple_add_item(persistent_list, 0, "/x/late 01/01/70 00:05:00", "/x/late", "300",
                       "9 9 9 9 9 9 9 9 9");
    quadruple_add_item(persistent_list, 0, "/x/b c 01/01/70 00:01:40", "/x/b c", "100",
                       "1 1 1 1 1 1 1 1 1");
    quadruple_add_item(persistent_list, 0, "/x/a/. 01/01/70 00:01:40", "/x/a/.", "100",
                       "2 2 2 2 2 2 2 2 2");
    fill_temp_file(3, "", "", "");
    EXPECT_EQ(gui::read_file(temp_filename), "2 2 2 2 2 2 2 2 2 6 /x/a/. 100 100\n"
                                             "1 1 1 1 1 1 1 1 1 6 /x/b c 100 100\n"
                                             "9 9 9 9 9 9 9 9 9 7 /x/late 300 300\n");
    fill_temp_file(2, "", "", "");
    EXPECT_EQ(gui::read_file(temp_filename), "25 /x/late 01/01/70 00:05:00\n"
                                             "24 /x/b c 01/01/70 00:01:40\n"
                                             "24 /x/a/. 01/01/70 00:01:40\n");
    // A link put in place of the request file is not written through.
    std::string victim = root_.path() + "/victim";
    write_file(victim, "keep");
    unlink(temp_filename);
    ASSERT_EQ(symlink(victim.c_str(), temp_filename), 0);
    fill_temp_file(2, "", "", "");
    EXPECT_EQ(gui::read_file(victim), "keep");
}

} // namespace
