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

namespace {

// What /bin/sh prints for `printf '[%s]' WORDS` with WORDS pasted in as a
// command line piece: one bracketed text per word the shell made.
std::string shell_words(const std::string &words) {
    FILE *p = popen(("printf '[%s]' " + words).c_str(), "r");
    if (p == nullptr) {
        return "popen failed";
    }
    std::string out;
    char buf[512];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) {
        out.append(buf, n);
    }
    pclose(p);
    return out;
}

TEST(RestoreCommandTest, ShellWordsAndTheKeyword) {
    // Every hostile text reaches the program as one word, unchanged; the
    // keyword as -keyword and the text as typed.
    for (const char *text :
         {"plain", "with blank", "it's", "double\"quote", "$HOME and $(id) and `id`",
          "back\\slash\\", "semi;colon|pipe&amp>redir<in", "glob*?[x]", "tab\there", "new\nline",
          "-dash", "\xc3\xa9t\xc3\xa9 latin1:\xe9", "'", "\"\"\"", "!bang #hash ~tilde"}) {
        EXPECT_EQ(shell_words(shell_word(text)), "[" + std::string(text) + "]") << text;
        EXPECT_EQ(shell_words(keyword_option(text)), "[-keyword][" + std::string(text) + "]")
            << text;
    }
    // Trailing blanks and tabs of the keyword are dropped.
    EXPECT_EQ(shell_words(keyword_option("spaced out \t ")), "[-keyword][spaced out]");
    EXPECT_EQ(shell_words(keyword_option(nullptr)), "[-keyword][]");
    EXPECT_EQ(shell_words(shell_word("")), "[]");
    // Plain names keep their bare form.
    for (const char *text : {"server1", "/home/ann/", "ann-pc.example.com", "a_b+c:d,e@f%g=h"}) {
        EXPECT_EQ(shell_word(text), text);
    }
    EXPECT_EQ(keyword_option("monthly full"), "-keyword \"monthly full\"");
    EXPECT_EQ(keyword_option(""), "-keyword \"\"");
}

TEST(RestoreCommandTest, DefaultStartDate) {
    const int64_t now = 1750000000;
    const int32_t light = let_there_be_light, day = 86400;
    const struct {
        int32_t likely;
        int status;
        int32_t limit_days, want;
    } cases[] = {
        {1740000000, 0, 0, 1740000000},                            // no limit: the likely date
        {1740000000, 0, 30, static_cast<int32_t>(now - 30 * day)}, // the limit is later
        {1749000000, 0, 30, 1749000000},                           // the likely date is later
        {1740000000, 227, 0, light}, // nothing found (any failure status)
        {0, 0, 0, light},            // no number in the answer
        {-5, 0, 0, light},
        {0, 227, 7, static_cast<int32_t>(now - 7 * day)}, // a failure still gets the window
        {1740000000, 0, -3, 1740000000},                  // a negative limit is none
        {1740000000, 0, 100000, 1740000000},              // a window beyond the epoch
    };
    for (const auto &c : cases) {
        EXPECT_EQ(choose_start_date(c.likely, c.status, c.limit_days, now), c.want)
            << c.likely << " " << c.status << " " << c.limit_days;
    }
}

TEST(RestoreCommandTest, LeadingTimesAreBoundedToThirtyTwoBits) {
    const std::pair<const char *, int32_t> cases[] = {{"1700000000 rest", 1700000000},
                                                      {"  42", 42},
                                                      {"", 0},
                                                      {"x12", 0},
                                                      {"99999999999999999999", INT32_MAX},
                                                      {"-99999999999999999999", INT32_MIN},
                                                      {"-7", -7}};
    for (const auto &[text, want] : cases) {
        EXPECT_EQ(leading_time(text), want) << text;
    }
    // Field 1 decides, as it does for the row's date: a leading vertical
    // tab belongs to the field, and the number after it is read.
    const std::pair<const char *, int32_t> lines[] = {
        {"\v12 34", 12}, {"x1700000000 5", 0}, {"  \t1700000000 1 2", 1700000000}, {nullptr, 0}};
    for (const auto &[raw, want] : lines) {
        EXPECT_EQ(image_time(raw), want) << (raw ? raw : "(null)");
    }
}

TEST(RestoreCommandTest, ImageRowsOfShortAndOversizedLines) {
    T_strlcpy(tmlctime, "C", sizeof tmlctime);
    T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
    const std::string d = datestringl(1700000000, "C", 0), zero = datestringl(0, "C", 0);
    const std::string head = d + "  " + zero.substr(0, 8) + "        5         6  ";
    const std::pair<const char *, std::string> cases[] = {
        {"1700000000 0 5 6 0 1 1 pol kw", head + "Incr Backup  pol"},
        {"1700000000 0 5 6 0 4", head + "Cinc Backup"},
        {"1700000000 0 5 6 0 -1", head + "?"},
        {"", zero + "  " + zero.substr(0, 8) + "        0         0  ?"},
        {nullptr, zero},
    };
    for (const auto &[raw, want] : cases) {
        EXPECT_EQ(format_image_row(raw).substr(0, want.size()), want) << (raw ? raw : "(null)");
    }
    // A policy and keyword far beyond a row: the row is cut to 1535.
    std::string big =
        "1700000000 0 1 1 0 0 1 " + std::string(3000, 'p') + " " + std::string(3000, 'k');
    EXPECT_EQ(format_image_row(big.c_str()).size(), XKP_TEXT_SIZE - 1);
}

TEST(RestoreCommandTest, RestorePiecesKeepTheirBlanks) {
    reset_program_state();
    T_strlcpy(dash_t_option, "-t 4", sizeof dash_t_option);
    T_strlcpy(dash_D_option, "-D other", sizeof dash_D_option);
    EXPECT_EQ(restore_header(), product_path("sorvane/bin/kprestore") + " -t 4  -D other  ");
    const struct {
        int true_image, raw, archives;
        const char *file, *want;
    } cases[] = {{0, 0, 0, "/tmp/r", " -W   -f /tmp/r"},
                 {1, 0, 0, "/tmp/r", " -T -W   -f /tmp/r"},
                 {0, 1, 0, "/tmp/r", " -W  -r  -f /tmp/r"},
                 {0, 0, 1, "/tmp/r", " -W  -A -f /tmp/r"},
                 {1, 1, 1, "/tmp/r", " -T -W  -r -A -f /tmp/r"},
                 {1, 1, 1, "/tmp/a b", " -T -W  -r -A -f '/tmp/a b'"}};
    for (const auto &c : cases) {
        true_image = c.true_image;
        browsing_raw_partitions = c.raw;
        restore_from_archives = c.archives;
        EXPECT_EQ(restore_trailer(c.file), c.want);
    }
    const struct {
        int hard, soft;
        const char *want;
    } flags[] = {{1, 1, "-l "}, {1, 0, "-H "}, {0, 1, "-y "}, {0, 0, ""}};
    for (const auto &f : flags) {
        rename_altpath_hard = f.hard;
        rename_altpath_soft = f.soft;
        EXPECT_STREQ(rename_link_flag(), f.want);
    }
    EXPECT_EQ(rename_file_text("/a b", "/c d"), "change /a b to /c d\n");
    reset_program_state();
}

TEST(RestoreCommandTest, ListingCommandShapes) {
    reset_program_state();
    const std::string prog = product_path("sorvane/bin/kplist");
    const std::string images = product_path("sorvane/bin/kpclimagelist");
    recursion_limit = 3;
    EXPECT_EQ(kplist_command("/home/ann/", true, 100, 200, "kw"),
              prog + "     -B -l -b -U -W -R 3 -X -s 100 -e 200 -keyword \"kw\" '/home/ann/'");
    true_image = 1;
    browsing_raw_partitions = 1;
    restore_from_archives = 1;
    T_strlcpy(dash_C_option, "-C x", sizeof dash_C_option);
    EXPECT_EQ(kplist_command("/", false, 0, 0, nullptr),
              prog + "   -C x  -r -A -l -b -U -T -W -R 3 -keyword \"\" '/'");
    T_strlcpy(current_browse_client, "c1", sizeof current_browse_client);
    EXPECT_EQ(likelydate_command(3), images + "   -likelydate -t UARC -client c1");
    EXPECT_EQ(likelydate_command(12), images + "   -likelydate -t NOT_ARCHIVE -client c1");
    reset_program_state();
}

} // namespace
