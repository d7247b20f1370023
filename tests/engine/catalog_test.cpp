// Listing lines as the client reads them, image choice, the catalog
// rebuilt from restic's listings, and restic failure texts.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

#include "catalog.h"
#include "engine_harness.h"
#include "fsentry.h"
#include "image_select.h"
#include "rebuild.h"
#include "restic.h"

namespace {

using namespace std::string_literals;

// A listing line of ann:staff with every number distinct (no device).
ListingLine line_for(const std::string &p, long long n = 5) {
    const char *mode = p.back() == '/' ? "drwxr-xr-x" : "-rw-r--r--";
    return {
        {0, 11, 22, 33, 44, 55, 66, -1, 88}, mode, "ann", "staff", n, 1700000000, 1600000000, p};
}

// A header of a backup at t of client with keyword.
ImageHeader header(long long t, const char *client, const char *keyword,
                   int schedule = SCHED_USER_BACKUP) {
    ImageHeader h;
    h.backup_time = t;
    h.schedule = schedule;
    h.client = client;
    h.keyword = keyword;
    return h;
}

TEST(ListingLine, EveryOddPathReadsBackExactlyInTheClientsColumns) {
    for (const std::string &p :
         {"/with blank/and  two"s, "/two\n\nnewlines"s, "/bytes\x01\xff\xfe"s, "/dir/"s, "/"s,
          "/trailing blank "s, "/tab\there"s, "/a/very/long/" + std::string(300, 'x')}) {
        // Every field is in the text: read back, it writes the same text.
        const std::string text = format_listing_line(line_for(p, 1234567890123LL));
        ListingLine out;
        ASSERT_EQ(parse_listing_line(text, 0, out), text.size()) << p;
        EXPECT_EQ(format_listing_line(out), text);
    }
    // The columns where the client looks (after the numbers, the path at 69).
    EXPECT_EQ(format_listing_line(line_for("/x")),
              "0 11 22 33 44 55 66 -1 88 -rw-r--r-- ann       "
              "staff     5 1700000000 1600000000 2             /x\n");
    // Modes read as ls shows them.
    std::string modes;
    for (mode_t m :
         {S_IFDIR | 0755, S_IFREG | 04755, S_IFREG | 02644, S_IFDIR | 01777, S_IFLNK | 0777}) {
        modes += mode_text(m) + " ";
    }
    EXPECT_EQ(modes, "drwxr-xr-x -rwsr-xr-x -rw-r-Sr-- drwxrwxrwt lrwxrwxrwx ");
}

TEST(ImageChoice, FiltersAndTheLikelyStartDate) {
    // Image choice by filter, and the likely start date.
    std::vector<ImageHeader> images = {header(100, "a", "Monday run"),
                                       header(200, "a", "old stuff", SCHED_USER_ARCHIVE),
                                       header(300, "b", ""), header(400, "a", "monday again")};
    // client, archives only, policy type, start, end, keyword: images chosen
    const std::pair<ImageFilter, size_t> filters[] = {
        {{"a", false, -1, 0, KP_INFINITY, ""}, 2},
        {{"a", false, -1, 0, KP_INFINITY, "MONDAY"}, 2},
        {{"a", false, -1, 0, KP_INFINITY, "Mon*run"}, 1},
        {{"a", false, -1, 150, KP_INFINITY, ""}, 1},
        {{"", true, -1, 0, KP_INFINITY, ""}, 1},
    };
    for (const auto &[f, want] : filters) {
        EXPECT_EQ(select_images(images, f).size(), want)
            << f.client << " " << f.keyword << " " << f.start;
    }
    EXPECT_EQ(likely_start_date({images[0], images[3]}), 100);
    EXPECT_EQ(likely_start_date({images[0], header(250, "a", "", SCHED_FULL), images[3]}), 250);
    EXPECT_EQ(likely_start_date({}), -1);
}

TEST(ResticOutput, RebuildTakesRawNamesAndTimesBytesAndFailureTextsDecode) {
    std::string json =
        "{\"time\":\"2024-01-02T03:04:05Z\",\"paths\":[\"/d\"],\"struct_type\":\"snapshot\"}\n"
        "{\"name\":\"d\",\"type\":\"dir\",\"path\":\"/d\",\"mode\":2147484141,"
        "\"mtime\":\"2024-01-02T03:04:05Z\",\"struct_type\":\"node\"}\n"
        "{\"name\":\"b\\ufffd\",\"type\":\"file\",\"path\":\"/d/b\\ufffd\",\"size\":2048,"
        "\"mode\":420,\"mtime\":\"2024-01-02T04:04:05+01:00\",\"struct_type\":\"node\"}\n"
        "{\"name\":\"x\\ny\",\"type\":\"file\",\"path\":\"/d/x\\ny\",\"size\":1,\"mode\":420,"
        "\"mtime\":\"2024-01-02T03:04:05Z\",\"struct_type\":\"node\"}\n";
    std::string plain = "snapshot 1234 of [/d]:\n/d\n/d/b\xff\n/d/x\ny\n";
    NameCache names;
    RebuiltImage img;
    std::string err;
    ASSERT_TRUE(rebuild_listing(json, plain, {"/d"}, names, img, err)) << err;
    ASSERT_EQ(img.nodes.size(), 3u);
    EXPECT_EQ(img.nodes[1].first + "|" + img.nodes[2].first + "|" + std::to_string(img.files) +
                  " files " + std::to_string(img.kb) + " kB",
              "/d/b\xff|/d/x\ny|3 files 3 kB");
    const FileState &b = img.nodes[1].second;
    EXPECT_EQ(std::tuple(b.name, b.mtime_ns, mode_text(b.mode)),
              std::tuple("b\xff"s, 1704164645000000000LL, "-rw-r--r--"s));
    // A plain listing that does not match the JSON one is refused.
    EXPECT_FALSE(
        rebuild_listing(json, "snapshot:\n/d\n/d/other\n/d/x\ny\n", {"/d"}, names, img, err));
    EXPECT_FALSE(rebuild_listing(json, "snapshot:\n/d\n/d/b\xff\n", {"/d"}, names, img, err));
    // Valid, overlong, surrogate, stray and cut-short bytes as restic shows them.
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(lossy_utf8("\xf0\x9f\x98\x80\xe0\x80\x80\xed\xa0\x80n\x01\xffq\xc3\xa9t\xc3"),
              "\xf0\x9f\x98\x80" + r + r + r + r + r + r + "n\x01" + r + "q\xc3\xa9t" + r);
    // Times with offsets and fractions.
    std::string times;
    long long t = -1;
    for (const char *text : {"1970-01-01T00:00:10Z", "1970-01-01T01:00:10.123456+01:00",
                             "1969-12-31T23:00:00-01:00", "", "1970-01-01", "1970-01-01T00:00:10",
                             "1970-13-01T00:00:00Z", "1970-01-01T00:00:10Zjunk"}) {
        times += (parse_rfc3339(text, t) ? std::to_string(t) : "refused") + ",";
    }
    EXPECT_EQ(times, "10,10,0,refused,refused,refused,refused,refused,");
    long long ns = 0;
    ASSERT_TRUE(parse_rfc3339_ns("1970-01-01T00:00:10.123456789123Z", ns));
    EXPECT_EQ(ns, 10123456789LL);
    // Recorded failure texts are classified.
    ASSERT_NE(getenv("XKP_SOURCE_DIR"), nullptr);
    const std::string dir = getenv("XKP_SOURCE_DIR") + "/tests/engine/fixtures/restic-0.14/"s;
    using F = ResticFailure;
    std::vector<F> got; // an unreadable file reads as no failure
    for (const char *file :
         {"missing_repository", "wrong_password", "lock_held", "connection_refused", "unknown_host",
          "http_500", "sftp_session", "http_401"}) {
        got.push_back(classify_restic_error(harness::read_file(dir + file + ".txt")));
    }
    EXPECT_EQ(got,
              (std::vector<F>{F::RepositoryMissing, F::WrongPassword, F::Locked, F::Unreachable,
                              F::Unreachable, F::Unreachable, F::Unreachable, F::Unauthorized}));
    EXPECT_EQ(classify_restic_error("Fatal: something new\n"), F::Other);
    // An unreachable repository is "no server", anything else the program's own.
    EXPECT_EQ(restic_failure_status(F::RepositoryMissing, 6), 25);
    EXPECT_EQ(restic_failure_status(F::Unreachable, 6), 25);
    EXPECT_EQ(restic_failure_status(F::Locked, 6), 6);
}

} // namespace
