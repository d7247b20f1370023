// Command lines and image rows of the restore road, without X: what the
// shell makes of the quoted words, the fixed shapes of the kplist,
// kpclimagelist and kprestore pieces, the default start date and the rows
// of hostile image lines.
#include <gtest/gtest.h>

#include "cmnutils.h"
#include "timefuncs.h"
#include "xkp_restorecmd.h"
#include "xkp_root.h"
#include "xkp_state.h"

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

// What /bin/sh prints for `printf '[%s]' WORDS` with WORDS pasted in as a
// command line piece: one bracketed text per word the shell made.
std::string shell_words(const std::string &words) {
    std::string command = "printf '[%s]' " + words;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return "popen failed";
    }
    std::string out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    pclose(p);
    return out;
}

const char *const hostile[] = {"plain",
                               "with blank",
                               "it's",
                               "double\"quote",
                               "$HOME and $(id) and `id`",
                               "back\\slash\\",
                               "semi;colon|pipe&amp>redir<in",
                               "glob*?[x]",
                               "tab\there",
                               "new\nline",
                               "-dash",
                               "\xc3\xa9t\xc3\xa9 latin1:\xe9",
                               "'",
                               "\"\"\"",
                               "!bang #hash ~tilde"};

TEST(RestoreCommandTest, EveryHostileTextReachesTheProgramAsOneWordUnchanged) {
    for (const char *text : hostile) {
        EXPECT_EQ(shell_words(shell_word(text)), "[" + std::string(text) + "]") << text;
        // The keyword: -keyword, then the text as typed (trailing blanks
        // and tabs dropped).
        EXPECT_EQ(shell_words(keyword_option(text)), "[-keyword][" + std::string(text) + "]")
            << text;
    }
    EXPECT_EQ(shell_words(keyword_option("spaced out \t ")), "[-keyword][spaced out]");
    EXPECT_EQ(shell_words(keyword_option(nullptr)), "[-keyword][]");
    EXPECT_EQ(shell_words(shell_word("")), "[]");
}

TEST(RestoreCommandTest, PlainNamesKeepTheirBareForm) {
    for (const char *text : {"server1", "/home/ann/", "ann-pc.example.com", "a_b+c:d,e@f%g=h"}) {
        EXPECT_EQ(shell_word(text), text);
    }
    EXPECT_EQ(keyword_option("monthly full"), "-keyword \"monthly full\"");
    EXPECT_EQ(keyword_option(""), "-keyword \"\"");
}

TEST(RestoreCommandTest, DefaultStartDate) {
    const int64_t now = 1750000000;
    const int32_t light = let_there_be_light;
    struct Case {
        int32_t likely;
        int status;
        int32_t limit_days;
        int32_t want;
    } cases[] = {
        {1740000000, 0, 0, 1740000000},                              // no limit: the likely date
        {1740000000, 0, 30, static_cast<int32_t>(now - 30 * 86400)}, // the limit is later
        {1749000000, 0, 30, 1749000000},                             // the likely date is later
        {1740000000, 227, 0, light},                                 // nothing found
        {1740000000, 25, 0, light},                                  // no server
        {0, 0, 0, light},                                            // no number in the answer
        {-5, 0, 0, light},
        {0, 227, 7, static_cast<int32_t>(now - 7 * 86400)}, // a failure still gets the window
        {1740000000, 0, -3, 1740000000},                    // a negative limit is none
        {1740000000, 0, 100000, 1740000000},                // a window beyond the epoch
    };
    for (const Case &c : cases) {
        EXPECT_EQ(choose_start_date(c.likely, c.status, c.limit_days, now), c.want)
            << c.likely << " " << c.status << " " << c.limit_days;
    }
}

TEST(RestoreCommandTest, LeadingTimesAreBoundedToThirtyTwoBits) {
    struct Case {
        const char *text;
        int32_t want;
    } cases[] = {{"1700000000 rest", 1700000000},
                 {"  42", 42},
                 {"", 0},
                 {"x12", 0},
                 {"99999999999999999999", INT32_MAX},
                 {"-99999999999999999999", INT32_MIN},
                 {"-7", -7}};
    for (const Case &c : cases) {
        EXPECT_EQ(leading_time(c.text), c.want) << c.text;
    }
    // Field 1 decides, as it does for the row's date: a leading vertical
    // tab belongs to the field, and the number after it is read.
    EXPECT_EQ(image_time("\v12 34"), 12);
    EXPECT_EQ(image_time("x1700000000 5"), 0);
    EXPECT_EQ(image_time("  \t1700000000 1 2"), 1700000000);
    EXPECT_EQ(image_time(nullptr), 0);
}

TEST(RestoreCommandTest, ImageRowsOfShortAndOversizedLines) {
    T_strlcpy(tmlctime, "C", sizeof tmlctime);
    T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
    std::string d = datestringl(1700000000, "C", 0);
    std::string zero = datestringl(0, "C", 0);
    struct Case {
        std::string raw;
        std::string want_prefix;
    } cases[] = {
        {"1700000000 0 5 6 0 1 1 pol kw",
         d + "  " + zero.substr(0, 8) + "        5         6  Incr Backup  pol"},
        {"1700000000 0 5 6 0 4", d + "  " + zero.substr(0, 8) + "        5         6  Cinc Backup"},
        {"1700000000 0 5 6 0 -1", d + "  " + zero.substr(0, 8) + "        5         6  ?"},
        {"", zero + "  " + zero.substr(0, 8) + "        0         0  ?"},
    };
    for (const Case &c : cases) {
        std::string row = format_image_row(c.raw.c_str());
        EXPECT_EQ(row.substr(0, c.want_prefix.size()), c.want_prefix) << c.raw;
    }
    // A policy and keyword far beyond a row: the row is cut to 1535.
    std::string big =
        "1700000000 0 1 1 0 0 1 " + std::string(3000, 'p') + " " + std::string(3000, 'k');
    EXPECT_EQ(format_image_row(big.c_str()).size(), XKP_TEXT_SIZE - 1);
    EXPECT_EQ(format_image_row(nullptr).substr(0, zero.size()), zero);
}

TEST(RestoreCommandTest, RestorePiecesKeepTheirBlanks) {
    reset_program_state();
    std::string prog = product_path("sorvane/bin/kprestore");
    T_strlcpy(dash_t_option, "-t 4", sizeof dash_t_option);
    T_strlcpy(dash_D_option, "-D other", sizeof dash_D_option);
    EXPECT_EQ(restore_header(), prog + " -t 4  -D other  ");
    struct Case {
        int true_image, raw, archives;
        std::string want;
    } cases[] = {{0, 0, 0, " -W   -f /tmp/r"},
                 {1, 0, 0, " -T -W   -f /tmp/r"},
                 {0, 1, 0, " -W  -r  -f /tmp/r"},
                 {0, 0, 1, " -W  -A -f /tmp/r"},
                 {1, 1, 1, " -T -W  -r -A -f /tmp/r"}};
    for (const Case &c : cases) {
        true_image = c.true_image;
        browsing_raw_partitions = c.raw;
        restore_from_archives = c.archives;
        EXPECT_EQ(restore_trailer("/tmp/r"), c.want);
    }
    EXPECT_EQ(restore_trailer("/tmp/a b"), " -T -W  -r -A -f '/tmp/a b'");
    struct Flags {
        int hard, soft;
        const char *want;
    } flags[] = {{1, 1, "-l "}, {1, 0, "-H "}, {0, 1, "-y "}, {0, 0, ""}};
    for (const Flags &f : flags) {
        rename_altpath_hard = f.hard;
        rename_altpath_soft = f.soft;
        EXPECT_STREQ(rename_link_flag(), f.want);
    }
    EXPECT_EQ(rename_file_text("/a b", "/c d"), "change /a b to /c d\n");
    reset_program_state();
}

TEST(RestoreCommandTest, ListingCommandShapes) {
    reset_program_state();
    std::string prog = product_path("sorvane/bin/kplist");
    recursion_limit = 3;
    EXPECT_EQ(kplist_command("/home/ann/", true, 100, 200, "kw"),
              prog + "     -B -l -b -U -W -R 3 -X -s 100 -e 200 -keyword \"kw\" '/home/ann/'");
    true_image = 1;
    browsing_raw_partitions = 1;
    restore_from_archives = 1;
    T_strlcpy(dash_C_option, "-C x", sizeof dash_C_option);
    EXPECT_EQ(kplist_command("/", false, 0, 0, nullptr),
              prog + "   -C x  -r -A -l -b -U -T -W -R 3 -keyword \"\" '/'");
    std::string images = product_path("sorvane/bin/kpclimagelist");
    T_strlcpy(current_browse_client, "c1", sizeof current_browse_client);
    EXPECT_EQ(likelydate_command(3), images + "   -likelydate -t UARC -client c1");
    EXPECT_EQ(likelydate_command(12), images + "   -likelydate -t NOT_ARCHIVE -client c1");
    reset_program_state();
}

} // namespace
