// The restore browse on the real main window against scripted command
// programs: the image list and its rows, the default, keyword and chosen
// dates, the browse limit, the kplist command lines and the backed-up tree
// in the two lists, and the statuses the programs answer with.
#include <gtest/gtest.h>

#include "gui_product.h"

#include "kpconf_api.h"
#include "timefuncs.h"
#include "xkp_rows.h"
#include "xkp_tree.h"

#include <Xm/MessageB.h>

#include <algorithm>
#include <ctime>
#include <sstream>

namespace {

// The arguments after the first one equal to word.
Items after(const Items &args, const std::string &word) {
    auto it = std::find(args.begin(), args.end(), word);
    return it == args.end() ? Items{} : Items(it + 1, args.end());
}

class RestoreBrowseTest : public ProductTest {
  protected:
    void SetUp() override {
        ProductTest::SetUp();
        T_strlcpy(current_working_directory, (work_.path() + "/").c_str(),
                  sizeof current_working_directory);
        T_strlcpy(current_browse_client, "ann-pc", sizeof current_browse_client);
        users_config.loaded = 1;
        users_config.INITIAL_BROWSE_SEARCH_LIMIT = 0;
        answer("kpclimagelist", "", 227);
        answer("kplist", "", 227);
        open_main();
    }
    static std::string date(int32_t t) { return datestringl(t, "C", 0); }
    static int32_t parse(const std::string &text, int startofday) {
        int32_t t = -1;
        convert2unixdatel(text.c_str(), &t, startofday, "C", 0);
        return t;
    }
    // What program name answers next; it records each run's arguments.
    void answer(const char *name, const std::string &out, int status) {
        gui::write_fake_program(bin_, name, out, status);
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

    gui::TempDir work_;
};

const std::string three_images = "1700000000 1731536000 120 2048 0 0 1 weekly-full year end\n"
                                 "1700600000 1702000000 30 64 0 7 1 daily\n"
                                 "1701200000\n";

TEST_F(RestoreBrowseTest, ImageListRowsAndCommandLines) {
    answer("kpclimagelist", three_images, 0);
    // The header and the schedule names come from the catalog (the German
    // one has no rule row: it stays English).
    T_strlcpy(tmlcmsg, "de_DE.UTF-8", sizeof tmlcmsg);
    load_image_list("NOT_ARCHIVE");
    gui::drain();
    Items rows = gui::list_items(image_list);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], "Gesichert            Verfällt  Dateien        KB  Zeitplantyp  Richtlinie "
                       "               Stichwort");
    EXPECT_EQ(rows[1].substr(0, 21), "-------------------  ");
    // The expiration is cut to 8 characters.
    EXPECT_EQ(rows[2], date(1700000000) + "  " + date(1731536000).substr(0, 8) +
                           "      120      2048  Vollsicherun weekly-full               year end");
    // The companion keeps the raw lines, row N+2 for item N.
    EXPECT_EQ(gui::list_items(shadow_image_list),
              (Items{"1700000000 1731536000 120 2048 0 0 1 weekly-full year end",
                     "1700600000 1702000000 30 64 0 7 1 daily", "1701200000"}));

    // The traced command line quotes what the user typed; the program gets
    // the client and the keyword exactly as typed.
    debug_enabled = 1;
    true_image = 1;
    T_strlcpy(current_browse_client, "odd client", sizeof current_browse_client);
    put_text(main_keyword, "q\"$x`y\\");
    forget_runs("kpclimagelist");
    gui::StdoutCapture out;
    load_image_list("UARC");
    std::string trace = out.stop();
    const std::string from = std::to_string(let_there_be_light), to = std::to_string(midnight());
    EXPECT_NE(trace.find("debug loading image list:" + bin_ + "/kpclimagelist -TK " +
                         dash_ct_option + " " + dash_server_option + " -t UARC -X -d " + from +
                         " -e " + to + " -client 'odd client' -keyword \"q\\\"\\$x\\`y\\\\\"!\n"),
              std::string::npos)
        << trace;
    EXPECT_EQ(runs("kpclimagelist"),
              (std::vector<Items>{{"-TK", "-t", "UARC", "-X", "-d", from, "-e", to, "-client",
                                   "odd client", "-keyword", "q\"$x`y\\"}}));
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
    EXPECT_NE(boxes().at(0).find("Could not connect to server"), std::string::npos);
    EXPECT_EQ(kprd_missing, 1);
}

TEST_F(RestoreBrowseTest, ChosenImagesAndKeywordsSetTheDateRange) {
    answer("kpclimagelist", three_images, 0);
    load_image_list("NOT_ARCHIVE");
    // Positions chosen (as in a multiple list); the range they give. The
    // header rows count for nothing.
    const std::tuple<std::vector<int>, std::string, std::string> cases[] = {
        {{1, 2}, date(let_there_be_light), date(midnight())},
        {{2, 4, 5}, date(1700600000), date(1701200000)},
    };
    for (const auto &[positions, start, end] : cases) {
        XmListDeselectAllItems(image_list);
        XtVaSetValues(image_list, XmNselectionPolicy, XmMULTIPLE_SELECT, nullptr);
        for (int p : positions) {
            XmListSelectPos(image_list, p, False);
        }
        XtVaSetValues(image_list, XmNselectionPolicy, XmEXTENDED_SELECT, nullptr);
        set_dates_from_images();
        EXPECT_EQ(gui::text_of(start_date), start);
        EXPECT_EQ(gui::text_of(end_date), end);
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
    const std::string fields[][4] = {
        {"", "", date(1700000000), date(1701200000)},
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
        EXPECT_TRUE(t >= before && t <= after) << t;
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
    EXPECT_EQ(after(r[0], "-X"), (Items{"-s", std::to_string(parse(date(1700000000), 1)), "-e",
                                        std::to_string(parse(date(1700000000), 0)), "-keyword",
                                        "monthly", r[0].back()}));
}

TEST_F(RestoreBrowseTest, DefaultStartDateComesFromTheLikelyDateAndTheSearchLimit) {
    const int32_t now = static_cast<int32_t>(time(nullptr));
    // How the answer, its status and the configured limit decide is for the
    // unit tests of the rule; here they must reach it. Rows: the likely
    // date's answer, its status, the search limit in days, the start wanted
    // (-1: the beginning of time).
    const std::tuple<std::string, int, int, int32_t> cases[] = {
        {std::to_string(now - 90 * 86400) + "\n", 0, 30, now - 30 * 86400},
        {std::to_string(now - 10 * 86400) + " extra words\n", 0, 30, now - 10 * 86400},
        {std::to_string(now - 90 * 86400) + "\n", 5, 0, -1},
    };
    for (const auto &[likely, status, limit_days, want] : cases) {
        answer("kpclimagelist", likely, status);
        users_config.INITIAL_BROWSE_SEARCH_LIMIT = limit_days;
        wisely_choose_dates(12);
        std::string start = gui::text_of(start_date);
        if (want < 0) {
            // The beginning of time, which has no date text when it is not
            // after the epoch (the time zone decides).
            EXPECT_EQ(start, let_there_be_light >= 1 ? date(let_there_be_light) : "") << likely;
        } else {
            // The limit is taken from the clock: allow the seconds the test took.
            EXPECT_NEAR(static_cast<double>(parse(start, 1)), static_cast<double>(want), 5.0)
                << likely;
        }
        EXPECT_EQ(gui::text_of(end_date), date(midnight()));
        EXPECT_FALSE(date1_latch || date2_latch);
    }
    gui::close_message_boxes();

    // A date the user typed survives one choice; the latch is then cleared.
    answer("kpclimagelist", std::to_string(now - 86400) + "\n", 0);
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
    EXPECT_EQ(get_item_count(left_list) + get_item_count(right_list), 0);
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
}

TEST_F(RestoreBrowseTest, ListingCommandLinesWithAndWithoutADateRange) {
    enter_restore_mode(0);
    debug_enabled = 1;
    recursion_limit = 2;
    T_strlcpy(dash_S_option, "-S srv", sizeof dash_S_option);
    const std::string head = bin_ + "/kplist " + dash_t_option + " -S srv   -B -l -b -U -W -R 2";
    const std::string cases[][4] = {
        // start, end, directory, the rest of the command
        {date(1700000000), date(1700600000), "/home/ann/",
         " -X -s " + std::to_string(parse(date(1700000000), 1)) + " -e " +
             std::to_string(parse(date(1700600000), 0)) + " -keyword \"\" '/home/ann/'"},
        {"not a date", date(1700600000), "/it's/", " -keyword \"\" '/it'\\''s/'"},
    };
    for (const auto &[start, end, dir, rest] : cases) {
        put_text(start_date, start.c_str());
        put_text(end_date, end.c_str());
        forget_runs("kplist");
        gui::StdoutCapture out;
        load_both_sides(dir.c_str());
        std::string trace = out.stop();
        EXPECT_NE(trace.find("debug listing image contents:" + head + rest + "!\n"),
                  std::string::npos)
            << trace;
        std::vector<Items> r = runs("kplist");
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].back(), dir); // the directory arrives intact
        EXPECT_FALSE(date1_latch || date2_latch);
    }
}

TEST_F(RestoreBrowseTest, BackedUpTreeFillsBothListsWithEveryVersion) {
    enter_restore_mode(0);
    // How lines are read, ordered and stored is for the unit tests of the
    // tree; here the lists must show it.
    answer("kplist",
           kpline("/data/", 1700000000) + kpline("/data/b.txt", 1700000000) +
               kpline("/data/b.txt", 1700600000) + kpline("/data/sub/", 1700600000) +
               kpline("/data/sub/c", 1700600000),
           0);
    show_all_dates = 1;
    T_strlcpy(tmlcmsg, "de_DE.UTF-8", sizeof tmlcmsg); // the header follows the catalog
    load_both_sides("/data/");
    gui::drain();
    EXPECT_EQ(gui::list_items(left_list), (Items{"/data", "  sub"}));
    std::string d0 = date(1700000000), d1 = date(1700600000);
    const std::string head = "Sicherungsdatum      Dateiname";
    Items want = {head, " ", d1 + "  sub/", " ", d1 + "  b.txt", d0 + "  b.txt"};
    EXPECT_EQ(gui::list_items(right_list), want);
    EXPECT_EQ(right_avoidable_pos, 4);
    // Each row's companion carries the name, the backup time and the numbers.
    auto line = [](int n) { return std::string(get_line_from_item(shadow_right_list, 5, n)); };
    EXPECT_EQ(line(2), "b.txt");
    EXPECT_EQ(line(3), "1700600000");
    EXPECT_EQ(line(4), "0 33188 100 200 1 0 8 7 0");

    // View, "Only most recent backup date": the newest date of each file
    // and directory; "All backup dates for each file" brings them back.
    T_strlcpy(current_working_directory, "/data/", sizeof current_working_directory);
    put_text(pathname, "/data/");
    Widget view = gui::must_find(shell_, "menu1_p3");
    gui::toggle(XtNameToWidget(view, "menu1_p3_b8"), true);
    gui::drain();
    EXPECT_EQ(show_all_dates, 0);
    EXPECT_EQ(gui::list_items(right_list), (Items(want.begin(), want.end() - 1)));
    gui::toggle(XtNameToWidget(view, "menu1_p3_b7"), true);
    gui::drain();
    EXPECT_EQ(gui::list_items(right_list), want);

    // The file list of a subdirectory from the same tree, kplist not run.
    forget_runs("kplist");
    load_right_side("/data/sub/");
    EXPECT_EQ(gui::list_items(right_list), (Items{head, " ", d1 + "  c"}));
    load_right_side("/data/missing/");
    EXPECT_EQ(gui::list_items(right_list), (Items{head, " "}));
    EXPECT_TRUE(runs("kplist").empty());
}

TEST_F(RestoreBrowseTest, ListingStatuses) {
    enter_restore_mode(0);
    gui::close_message_boxes();
    // The answer, its status; the boxes open, the newest's text, file rows.
    const std::tuple<std::string, int, size_t, const char *, int> cases[] = {
        {"", 227, 1, "Could not find any files that match the date range", 2},
        // A partial listing before a failure is shown, the failure reported.
        {kpline("/d/x", 1700000000), 25, 2, "Could not connect to server", 3},
    };
    for (const auto &[out, status, open, text, rows] : cases) {
        answer("kplist", out, status);
        load_both_sides("/d/");
        gui::drain();
        Items texts = boxes();
        EXPECT_EQ(texts.size(), open) << status;
        EXPECT_NE(texts.at(texts.size() - 1).find(text), std::string::npos) << texts.back();
        EXPECT_EQ(get_item_count(right_list), rows) << status;
        EXPECT_EQ(get_item_count(right_list), get_item_count(shadow_right_list));
        EXPECT_EQ(get_item_count(left_list), get_item_count(shadow_left_list));
    }
}

} // namespace
