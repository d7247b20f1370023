// The restore browse on the real main window against scripted command
// programs: the image list and its rows, the default, keyword and chosen
// dates, the browse limit, the kplist command lines and the backed-up tree
// in the two lists, and the statuses the programs answer with.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "kpconf_api.h"
#include "timefuncs.h"
#include "unixconf_api.h"
#include "xkp_glue.h"
#include "xkp_main.h"
#include "xkp_rows.h"
#include "xkp_tree.h"

#include <Xm/MessageB.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using Items = std::vector<std::string>;

// The arguments after the first one equal to word.
Items after(const Items &args, const std::string &word) {
    auto it = std::find(args.begin(), args.end(), word);
    return it == args.end() ? Items{} : Items(it + 1, args.end());
}

// One kplist line: nine numbers (device eighth), then the mode at column 0
// of the rest, owner at 11, group at 21, the numbers at 31, the path at 69.
std::string kpline(const std::string &path, int32_t backup, int dev = 7, int stated = -1) {
    char numbers[96];
    snprintf(numbers, sizeof numbers, "%d %d %d %d", 42, backup, 1000000000,
             stated >= 0 ? stated : static_cast<int>(path.size()));
    char r[256];
    snprintf(r, sizeof r, "0 33188 100 200 1 0 8 %d 3 %-10s %-9s %-9s %-37s ", dev, "-rw-r--r--",
             "ann", "staff", numbers);
    return r + path + "\n";
}

// A program that records each run's arguments (a "--" line, then one per
// line) in PROGRAM.args and answers from PROGRAM.out and PROGRAM.status, or
// for "-likelydate" from PROGRAM.likely.out and PROGRAM.likely.status.
const char fake_program[] = R"(#!/bin/sh
echo -- >> "$0.args"
for a in "$@"; do printf '%s\n' "$a" >> "$0.args"; done
case " $* " in *' -likelydate '*) s=.likely;; *) s=;; esac
cat "$0$s.out"
exit $(cat "$0$s.status")
)";

class RestoreBrowseTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        std::filesystem::create_directories(bin_);
        if (!staged_.empty()) {
            // The catalog and the date definitions of the staged product.
            symlink((staged_ + "/msg").c_str(), root_.file("msg").c_str());
        }
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        T_strlcpy(tmlctime, "C", sizeof tmlctime);
        T_strlcpy(current_working_directory, (work_.path() + "/").c_str(),
                  sizeof current_working_directory);
        T_strlcpy(current_browse_client, "ann-pc", sizeof current_browse_client);
        users_config.loaded = 1;
        users_config.INITIAL_BROWSE_SEARCH_LIMIT = 0;
        for (const char *name : {"kpclimagelist", "kplist"}) {
            std::ofstream(bin_ + "/" + name) << fake_program;
            std::filesystem::permissions(bin_ + "/" + name, std::filesystem::perms::owner_all);
        }
        for (const char *name : {"kpclimagelist", "kpclimagelist.likely", "kplist"}) {
            answer(name, "", 227);
        }
        shell_ = gui::open(create_xkp_main());
    }
    void TearDown() override {
        gui::close_message_boxes();
        GuiTest::TearDown();
        users_config.loaded = 0;
        users_config.INITIAL_BROWSE_SEARCH_LIMIT = 0;
    }
    // What program name answers next (name.likely: its likely-date answer).
    void answer(const std::string &name, const std::string &out, int status) {
        std::ofstream(bin_ + "/" + name + ".out", std::ios::binary) << out;
        std::ofstream(bin_ + "/" + name + ".status") << status << "\n";
    }
    // The argument lists of every run of name since the last forget_runs.
    std::vector<Items> runs(const std::string &name) {
        std::vector<Items> out;
        std::istringstream in(gui::read_file(bin_ + "/" + name + ".args"));
        for (std::string line; std::getline(in, line);) {
            if (line == "--") {
                out.emplace_back();
            } else if (!out.empty()) {
                out.back().push_back(line);
            }
        }
        return out;
    }
    void forget_runs(const std::string &name) { unlink((bin_ + "/" + name + ".args").c_str()); }
    static std::string date(int32_t t) { return datestringl(t, "C", 0); }
    static int32_t parse(const std::string &text, int startofday) {
        int32_t t = -1;
        convert2unixdatel(text.c_str(), &t, startofday, "C", 0);
        return t;
    }
    Items boxes() {
        Items out;
        for (const auto &b : gui::message_boxes()) {
            out.push_back(b.text);
        }
        return out;
    }

    const std::string staged_ = getenv("XKP_ROOT") != nullptr ? getenv("XKP_ROOT") : "";
    gui::TempDir root_, work_;
    gui::ScopedEnv root_env_{"XKP_ROOT", root_.path().c_str()};
    const std::string bin_ = root_.file("sorvane/bin");
    Widget shell_ = nullptr;
};

const std::string three_images = "1700000000 1731536000 120 2048 0 0 1 weekly-full year end\n"
                                 "1700600000 1702000000 30 64 0 7 1 daily\n"
                                 "1701200000\n";

TEST_F(RestoreBrowseTest, ImageListRowsAndCommandLines) {
    answer("kpclimagelist", three_images, 0);
    put_text(main_keyword, "year end  ");
    load_image_list("NOT_ARCHIVE");
    gui::drain();
    Items rows = gui::list_items(image_list);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], "Backed Up            Expires     Files        KB  Sched Type   Policy    "
                       "                Keyword");
    EXPECT_EQ(rows[1].substr(0, 21), "-------------------  ");
    // The expiration is cut to 8 characters; schedule 7 is unknown: "?".
    EXPECT_EQ(rows[2], date(1700000000) + "  " + date(1731536000).substr(0, 8) +
                           "      120      2048  Full Backup  weekly-full               year end");
    EXPECT_EQ(rows[3], date(1700600000) + "  " + date(1702000000).substr(0, 8) +
                           "       30        64  ?            daily                     ");
    // A line of one field: everything else empty or 0, and no crash.
    EXPECT_EQ(rows[4].substr(0, date(1701200000).size()), date(1701200000));
    EXPECT_NE(rows[4].find("?"), std::string::npos);
    // The companion keeps the raw lines, row N+2 for item N.
    EXPECT_EQ(gui::list_items(shadow_image_list),
              (Items{"1700000000 1731536000 120 2048 0 0 1 weekly-full year end",
                     "1700600000 1702000000 30 64 0 7 1 daily", "1701200000"}));
    std::vector<Items> r = runs("kpclimagelist");
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.back(), (Items{"-K", "-t", "NOT_ARCHIVE", "-X", "-d",
                               std::to_string(let_there_be_light), "-e", std::to_string(midnight()),
                               "-client", "ann-pc", "-keyword", "year end"}));

    // The traced command line follows the mode and quotes what the user
    // typed; the program gets the client and the keyword exactly as typed.
    debug_enabled = 1;
    struct Case {
        int true_image;
        const char *type, *keyword, *client, *want_tail;
    } cases[] = {
        {0, "NOT_ARCHIVE", "", "ann-pc", "-client ann-pc -keyword \"\""},
        {1, "UARC", "q\"$x`y\\", "odd client",
         "-client 'odd client' -keyword \"q\\\"\\$x\\`y\\\\\""},
    };
    for (const Case &c : cases) {
        true_image = c.true_image;
        T_strlcpy(current_browse_client, c.client, sizeof current_browse_client);
        put_text(main_keyword, c.keyword);
        forget_runs("kpclimagelist");
        gui::StdoutCapture out;
        load_image_list(c.type);
        std::string trace = out.stop();
        std::string want = "debug loading image list:" + bin_ + "/kpclimagelist " +
                           (c.true_image ? "-TK" : "-K") + " " + dash_ct_option + " " +
                           dash_server_option + " -t " + c.type + " -X -d " +
                           std::to_string(let_there_be_light) + " -e " +
                           std::to_string(midnight()) + " " + c.want_tail + "!\n";
        EXPECT_NE(trace.find(want), std::string::npos) << trace;
        r = runs("kpclimagelist");
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].back(), c.keyword);
        EXPECT_EQ(r[0][r[0].size() - 3], c.client);
    }
}

TEST_F(RestoreBrowseTest, ImageListStatuses) {
    // Not finding images is no error here (it is for a file listing); the
    // runner's own tests cover the other statuses.
    for (auto [status, open] : {std::pair{227, 0u}, {25, 1u}}) {
        answer("kpclimagelist", "1700000000 1 2 3 0 0 1 p k\n", status);
        load_image_list("NOT_ARCHIVE");
        gui::drain();
        EXPECT_EQ(gui::message_boxes().size(), open) << "status " << status;
        // Whatever was listed is shown, with the two header rows.
        EXPECT_EQ(get_item_count(image_list), 3) << status;
    }
    Items texts = boxes();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("Could not connect to server"), std::string::npos) << texts[0];
    EXPECT_EQ(kprd_missing, 1);
}

TEST_F(RestoreBrowseTest, ChosenImagesAndKeywordsSetTheDateRange) {
    answer("kpclimagelist", three_images, 0);
    load_image_list("NOT_ARCHIVE");
    struct Case {
        std::vector<int> positions;
        std::string start, end;
    } cases[] = {
        {{3, 4}, date(1700000000), date(1700600000)},
        {{5}, date(1701200000), date(1701200000)},
        {{1, 2}, date(let_there_be_light), date(midnight())},
        {{2, 4, 5}, date(1700600000), date(1701200000)},
    };
    for (const Case &c : cases) {
        // Several positions are chosen as in a multiple list.
        XmListDeselectAllItems(image_list);
        XtVaSetValues(image_list, XmNselectionPolicy, XmMULTIPLE_SELECT, nullptr);
        for (int p : c.positions) {
            XmListSelectPos(image_list, p, False);
        }
        XtVaSetValues(image_list, XmNselectionPolicy, XmEXTENDED_SELECT, nullptr);
        ASSERT_EQ(get_selection_count(image_list), static_cast<int>(c.positions.size()));
        set_dates_from_images();
        EXPECT_EQ(gui::text_of(start_date), c.start);
        EXPECT_EQ(gui::text_of(end_date), c.end);
    }
    // Selecting is wired to the list's extended-selection callback, and it
    // does not reload anything.
    forget_runs("kplist");
    XmListDeselectAllItems(image_list);
    XmListSelectPos(image_list, 3, False);
    XmListCallbackStruct cb{};
    cb.reason = XmCR_EXTENDED_SELECT;
    cb.item_position = 3;
    XtCallCallbacks(image_list, XmNextendedSelectionCallback, &cb);
    EXPECT_EQ(gui::text_of(start_date), date(1700000000));
    EXPECT_TRUE(runs("kplist").empty());

    // A keyword's dates span the images found, bounded by the range in the
    // fields; with none found both fields show the current time.
    const std::string none;
    const std::string fields[][4] = {
        {none, none, date(1700000000), date(1701200000)},
        {date(1700500000), date(1700700000), date(1700500000), date(1700700000)},
    };
    for (const auto &[start, end, want_start, want_end] : fields) {
        put_text(start_date, start.c_str());
        put_text(end_date, end.c_str());
        set_keyword_dates();
        EXPECT_EQ(gui::text_of(start_date), want_start);
        EXPECT_EQ(gui::text_of(end_date), want_end);
    }
    answer("kpclimagelist", "", 227);
    load_image_list("NOT_ARCHIVE");
    int32_t before = static_cast<int32_t>(time(nullptr));
    set_keyword_dates();
    int32_t after = static_cast<int32_t>(time(nullptr));
    for (Widget field : {start_date, end_date}) {
        int32_t t = parse(gui::text_of(field), 1);
        EXPECT_GE(t, before);
        EXPECT_LE(t, after);
    }
}

TEST_F(RestoreBrowseTest, KeywordEnterReloadsImagesNarrowsDatesAndLists) {
    enter_restore_mode(0);
    answer("kpclimagelist", "1700000000 0 3 3 0 0 1 p monthly\n", 0);
    forget_runs("kplist");
    put_text(main_keyword, "monthly");
    gui::fire(main_keyword, XmNactivateCallback);
    gui::drain();
    EXPECT_EQ(gui::text_of(start_date), date(1700000000));
    EXPECT_EQ(gui::text_of(end_date), date(1700000000));
    std::vector<Items> r = runs("kplist");
    ASSERT_EQ(r.size(), 1u);
    // The range and the keyword, then the directory.
    Items tail = after(r[0], "-X");
    ASSERT_FALSE(tail.empty());
    tail.pop_back();
    EXPECT_EQ(tail, (Items{"-s", std::to_string(parse(date(1700000000), 1)), "-e",
                           std::to_string(parse(date(1700000000), 0)), "-keyword", "monthly"}));
}

TEST_F(RestoreBrowseTest, DefaultStartDateComesFromTheLikelyDateAndTheSearchLimit) {
    const int32_t now = static_cast<int32_t>(time(nullptr));
    // How the answer, its status and the configured limit decide is for the
    // unit tests of the rule; here they must reach it.
    struct Case { // the likely date's answer, the search limit, the start wanted
        std::string likely;
        int32_t status, limit_days, want; // want -1: the beginning of time
    } cases[] = {
        {std::to_string(now - 90 * 86400) + "\n", 0, 30, now - 30 * 86400},
        {std::to_string(now - 10 * 86400) + " extra words\n", 0, 30, now - 10 * 86400},
        {std::to_string(now - 90 * 86400) + "\n", 5, 0, -1},
        {"", 227, 7, now - 7 * 86400},
    };
    for (const Case &c : cases) {
        answer("kpclimagelist.likely", c.likely, c.status);
        users_config.INITIAL_BROWSE_SEARCH_LIMIT = c.limit_days;
        wisely_choose_dates(12);
        std::string start = gui::text_of(start_date);
        if (c.want < 0) {
            // The beginning of time, which has no date text when it is not
            // after the epoch (the time zone decides).
            EXPECT_EQ(start, let_there_be_light >= 1 ? date(let_there_be_light) : "") << c.likely;
        } else {
            // The limit is taken from the clock: allow the seconds the test took.
            int32_t got = parse(start, 1);
            EXPECT_NEAR(static_cast<double>(got), static_cast<double>(c.want), 5.0) << c.likely;
        }
        EXPECT_EQ(gui::text_of(end_date), date(midnight()));
        EXPECT_FALSE(date1_latch || date2_latch);
    }
    gui::close_message_boxes();

    // The likely-date request names the image kind and the browsed client.
    forget_runs("kpclimagelist");
    wisely_choose_dates(3);
    std::vector<Items> r = runs("kpclimagelist");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(after(r[0], "-likelydate"), (Items{"-t", "UARC", "-client", "ann-pc"}));

    // A date the user typed survives one choice; the latch is then cleared.
    answer("kpclimagelist.likely", std::to_string(now - 86400) + "\n", 0);
    put_text(start_date, "1/2/23");
    EXPECT_EQ(date1_latch, 1);
    wisely_choose_dates(12);
    EXPECT_EQ(gui::text_of(start_date), "1/2/23");
    wisely_choose_dates(12);
    EXPECT_EQ(gui::text_of(start_date), date(now - 86400));
}

TEST_F(RestoreBrowseTest, TooManyFilesPostponeTheListingUntilUpdateDisplay) {
    answer("kpclimagelist",
           "1700000000 0 3000 1 0 0 1 p\n1700600000 0 2000 1 0 1 1 p\n1700700000 0 -9 1 0 1 1 p\n",
           0);
    answer("kplist", kpline("/data/a", 1700000000), 0);
    browse_limit = 1000;
    forget_runs("kplist");
    enter_restore_mode(0);
    gui::drain();
    auto b = gui::message_boxes();
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].type, XmDIALOG_WARNING);
    EXPECT_NE(b[0].text.find("large\nnumber of files (5000)"), std::string::npos) << b[0].text;
    EXPECT_TRUE(runs("kplist").empty());
    EXPECT_EQ(get_item_count(left_list), 0);
    EXPECT_EQ(get_item_count(right_list), 0);
    gui::close_message_boxes();

    // Update Display lists them.
    gui::fire(XtNameToWidget(gui::must_find(shell_, "menu1_p2"), "menu1_p2_b5"),
              XmNactivateCallback);
    gui::drain();
    EXPECT_EQ(runs("kplist").size(), 1u);
    EXPECT_GT(get_item_count(right_list), 0);

    // The count only takes images within the range, negative counts not.
    EXPECT_EQ(total_image_files(date(1700000000).c_str(), date(1700000000).c_str()), 3000);
    EXPECT_EQ(total_image_files("", ""), 5000);
    EXPECT_EQ(total_image_files(date(1700600001).c_str(), "garbage"), 0);
}

TEST_F(RestoreBrowseTest, EnteringEachRestoreModeUsesItsImageKind) {
    struct Case {
        int kind;
        const char *type, *list_flag;
    } cases[] = {
        {0, "NOT_ARCHIVE", "-B"}, {1, "NOT_ARCHIVE", "-B"}, {2, "UARC", "-A"},
        {3, "NOT_ARCHIVE", "-B"}, {4, "NOT_ARCHIVE", "-B"},
    };
    answer("kplist", kpline("/x", 1700000000), 0);
    for (const Case &c : cases) {
        forget_runs("kpclimagelist");
        forget_runs("kplist");
        enter_restore_mode(c.kind);
        std::vector<Items> r = runs("kpclimagelist");
        ASSERT_EQ(r.size(), 2u) << c.kind; // the likely date, then the list
        EXPECT_EQ(after(r[0], "-likelydate"), (Items{"-t", c.type, "-client", "ann-pc"}));
        EXPECT_EQ(r[1][0], c.kind == 1 ? "-TK" : "-K");
        EXPECT_EQ(after(r[1], "-t").at(0), c.type);
        std::vector<Items> l = runs("kplist");
        ASSERT_EQ(l.size(), 1u);
        Items &a = l[0];
        EXPECT_EQ(std::count(a.begin(), a.end(), c.list_flag), 1) << c.kind;
        EXPECT_EQ(std::count(a.begin(), a.end(), "-r"), c.kind >= 3 ? 1 : 0) << c.kind;
        EXPECT_EQ(std::count(a.begin(), a.end(), "-T"), c.kind == 1 ? 1 : 0) << c.kind;
    }
}

TEST_F(RestoreBrowseTest, ListingCommandLinesWithAndWithoutADateRange) {
    enter_restore_mode(0);
    debug_enabled = 1;
    recursion_limit = 2;
    T_strlcpy(dash_S_option, "-S srv", sizeof dash_S_option);
    std::string program = bin_ + "/kplist";
    struct Case {
        std::string start, end, dir, want;
    } cases[] = {
        {date(1700000000), date(1700600000), "/home/ann/",
         program + " " + dash_t_option + " -S srv   -B -l -b -U -W -R 2 -X -s " +
             std::to_string(parse(date(1700000000), 1)) + " -e " +
             std::to_string(parse(date(1700600000), 0)) + " -keyword \"\" '/home/ann/'"},
        {"not a date", date(1700600000), "/it's/",
         program + " " + dash_t_option +
             " -S srv   -B -l -b -U -W -R 2 -keyword \"\" '/it'\\''s/'"},
    };
    for (const Case &c : cases) {
        put_text(start_date, c.start.c_str());
        put_text(end_date, c.end.c_str());
        forget_runs("kplist");
        gui::StdoutCapture out;
        load_both_sides(c.dir.c_str());
        std::string trace = out.stop();
        EXPECT_NE(trace.find("debug listing image contents:" + c.want + "!\n"), std::string::npos)
            << trace;
        std::vector<Items> r = runs("kplist");
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].back(), c.dir); // the directory arrives intact
        EXPECT_EQ(date1_latch + date2_latch, 0);
    }
}

TEST_F(RestoreBrowseTest, BackedUpTreeFillsBothListsWithEveryVersion) {
    enter_restore_mode(0);
    std::string listing = kpline("/data/", 1700000000) + kpline("/data/", 1700600000) +
                          kpline("/data/b.txt", 1700000000) + kpline("/data/b.txt", 1700600000) +
                          kpline("/data/b.txt", 1700600000) + // the same line twice
                          kpline("/data/a\nb", 1700000000, 7, 9).substr(0) +
                          kpline("/data/sub/", 1700600000) + kpline("/data/sub/c", 1700600000) +
                          kpline("/data/.", 1700600000) + kpline("/data/..", 1700600000);
    answer("kplist", listing, 0);
    show_all_dates = 1;
    load_both_sides("/data/");
    gui::drain();
    EXPECT_EQ(gui::list_items(left_list), (Items{"/data", "  sub"}));
    Items rows = gui::list_items(right_list);
    std::string d0 = date(1700000000), d1 = date(1700600000);
    Items want = {
        "Backup Date          Filename",
        " ",
        d1 + "  sub/",
        " ",
        d0 + "  a\nb",
        d1 + "  b.txt",
        d0 + "  b.txt",
    };
    EXPECT_EQ(rows, want);
    EXPECT_EQ(right_avoidable_pos, 4);
    // Each row's companion carries the name, the backup time and the numbers.
    EXPECT_EQ(std::string(get_line_from_item(shadow_right_list, 6, 2)), "b.txt");
    EXPECT_EQ(std::string(get_line_from_item(shadow_right_list, 6, 3)), "1700600000");
    EXPECT_EQ(std::string(get_line_from_item(shadow_right_list, 6, 4)),
              "0 33188 100 200 1 0 8 7 3");

    // View, "Only most recent backup date": the newest date of each file
    // and directory; "All backup dates for each file" brings them back.
    T_strlcpy(current_working_directory, "/data/", sizeof current_working_directory);
    put_text(pathname, "/data/");
    Widget view = gui::must_find(shell_, "menu1_p3");
    gui::toggle(XtNameToWidget(view, "menu1_p3_b8"), true);
    gui::drain();
    EXPECT_EQ(show_all_dates, 0);
    EXPECT_EQ(gui::list_items(right_list),
              (Items{want[0], " ", d1 + "  sub/", " ", d0 + "  a\nb", d1 + "  b.txt"}));
    gui::toggle(XtNameToWidget(view, "menu1_p3_b7"), true);
    gui::drain();
    EXPECT_EQ(gui::list_items(right_list), want);

    // The file list of a subdirectory from the same tree, kplist not run.
    forget_runs("kplist");
    load_right_side("/data/sub/");
    EXPECT_EQ(gui::list_items(right_list), (Items{want[0], " ", d1 + "  c"}));
    load_right_side("/data/missing/");
    EXPECT_EQ(gui::list_items(right_list), (Items{want[0], " "}));
    EXPECT_TRUE(runs("kplist").empty());
}

TEST_F(RestoreBrowseTest, RootDeviceDecidesWholeFileSystemRestore) {
    // Set when the directory's own lines agree on one device (the file's
    // device has no say); the unit tests of the tree cover the other shapes.
    enter_restore_mode(0);
    for (auto [second_device, want] : {std::pair{7, 1}, {8, 0}}) {
        answer("kplist",
               kpline("/data/", 1700000000, 7) + kpline("/data/", 1700000001, second_device) +
                   kpline("/data/f", 1700000000, 9),
               0);
        load_both_sides("/data/");
        EXPECT_EQ(root_filesys_only_possible, want) << second_device;
    }
}

TEST_F(RestoreBrowseTest, ListingStatusesAndBadLines) {
    enter_restore_mode(0);
    gui::close_message_boxes();
    struct Case { // the answer, its status; the boxes open, the newest's text, file rows
        std::string out;
        int status;
        size_t boxes;
        const char *text;
        int rows;
    } cases[] = {
        {"", 227, 1, "Could not find any files that match the date range", 2},
        // A partial listing before a failure is shown, the failure reported.
        {kpline("/d/x", 1700000000), 25, 2, "Could not connect to server", 3},
        // Short, garbled lines, an impossible length, no final newline.
        {"1 2 3\n\n garbage line\n" + kpline("/d/y", 1700000000, 7, 99999) + "9 9 9 9 9 9 9 9 9 " +
             std::string(200, 'x'),
         0, 2, nullptr, -1},
    };
    for (const Case &c : cases) {
        answer("kplist", c.out, c.status);
        load_both_sides("/d/");
        gui::drain();
        Items texts = boxes();
        EXPECT_EQ(texts.size(), c.boxes) << c.status;
        if (c.text != nullptr && !texts.empty()) {
            EXPECT_NE(texts.back().find(c.text), std::string::npos) << texts.back();
        }
        if (c.rows >= 0) {
            EXPECT_EQ(get_item_count(right_list), c.rows) << c.status;
        }
        EXPECT_EQ(get_item_count(right_list), get_item_count(shadow_right_list));
        EXPECT_EQ(get_item_count(left_list), get_item_count(shadow_left_list));
    }
}

TEST_F(RestoreBrowseTest, LeftDirectoryWithDotDotStartsTheTreeHigher) {
    enter_restore_mode(0);
    answer("kplist",
           kpline("/home/", 1700000000) + kpline("/home/ann/", 1700000000) +
               kpline("/home/ann/f", 1700000000),
           0);
    load_both_sides("/home/ann/../");
    EXPECT_EQ(minimum_depth, 2);
    Items left = gui::list_items(left_list);
    ASSERT_FALSE(left.empty());
    EXPECT_EQ(left[0], "/home");
}

} // namespace
