// The image catalog: listing lines as the client reads them, the index and
// its subtree queries, headers, image choice, and restic failure texts.
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
         {S_IFDIR | 0755, S_IFREG | 04755, S_IFREG | 02644, S_IFDIR | 01777, S_IFLNK | 0777})
        modes += mode_text(m) + " ";
    EXPECT_EQ(modes, "drwxr-xr-x -rwsr-xr-x -rw-r-Sr-- drwxrwxrwt lrwxrwxrwx ");
    std::string lst = format_listing_line(line_for("/a"));
    const unsigned n = static_cast<unsigned>(lst.size());
    // An index of one record (bad: five bytes past the listing) reads as empty.
    auto index = [&](unsigned len) {
        const struct {
            unsigned long long count, off;
            unsigned len, path_off, path_len, depth;
        } rec{1, 0, len, n - 3, 2, 1};
        return std::string("KPIDX1\n\0", 8) +
               std::string(reinterpret_cast<const char *>(&rec), sizeof rec);
    };
    const std::string good = index(n), bad = index(n + 5);
    ImageListing img;
    std::string err;
    ASSERT_TRUE(img.open_memory(lst, good, err)) << err;
    EXPECT_EQ(img.path(0), "/a");
    EXPECT_EQ(img.find("/a"), 0u);
    ASSERT_TRUE(img.open_memory(lst, bad, err)) << err;
    EXPECT_TRUE(img.line(0).empty());
    EXPECT_EQ(img.find("/a"), img.size());
    img.for_each_in("/", -1, [](size_t i) { ADD_FAILURE() << "record " << i << " visited"; });
    // An index whose size does not match its count is refused.
    for (const std::string &idx : {good.substr(0, 20), good + "x", ""s})
        EXPECT_FALSE(img.open_memory(lst, idx, err)) << idx.size();
}

class CatalogDir : public ::testing::Test {
  protected:
    ~CatalogDir() override { harness::remove_tree(dir_); }
    char tmpl_[18] = "/tmp/kpcat.XXXXXX";
    const std::string dir_ = mkdtemp(tmpl_);
};

TEST_F(CatalogDir, SubtreeQueriesHeadersAndImageChoice) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (const char *p : {"/", "/d/", "/d/a", "/d/b/", "/d/b/c", "/d/b/e/", "/d/b/e/f", "/d-x/",
                          "/d-x/g", "/d.y", "/d/b/e/h/", "/d/b/e/h/i", "/dz"})
        lines.emplace_back(p, format_listing_line(line_for(p)));
    std::string err;
    ASSERT_TRUE(write_image(dir_, header(1700000000, "c", ""), lines, err)) << err;
    ImageListing img;
    ASSERT_TRUE(img.open(dir_, "1700000000", err)) << err;
    ASSERT_EQ(img.size(), 13u);
    // directory, depth, the paths in it as one blank-separated string
    const std::tuple<const char *, int, const char *> cases[] = {
        {"/d", 1, "/d/ /d/a /d/b/ "},
        {"/d/", 1, "/d/ /d/a /d/b/ "},
        {"/d", 2, "/d/ /d/a /d/b/ /d/b/c /d/b/e/ "},
        {"/d", -1, "/d/ /d/a /d/b/ /d/b/c /d/b/e/ /d/b/e/f /d/b/e/h/ /d/b/e/h/i "},
        {"/d/b/e", 0, "/d/b/e/ "},
        {"/d/a", 3, "/d/a "},
        {"/nothing", -1, ""},
        {"/", 1, "/ /d-x/ /d.y /d/ /dz "},
        {"", 0, "/ "},
    };
    for (const auto &[dir, depth, want] : cases) {
        std::string got;
        img.for_each_in(dir, depth, [&](size_t i) { got += std::string(img.path(i)) + " "; });
        EXPECT_EQ(got, want) << dir << " depth " << depth;
    }
    EXPECT_LT(img.find("/d/b/"), img.size());
    EXPECT_EQ(img.find("/d/b"), img.size());
    // Headers read back whole; an unreadable one is skipped and named.
    ImageHeader h2 = header(1700000001, "host one", "kw, with=odd%chars\x01", SCHED_USER_ARCHIVE);
    h2.files = 42;
    h2.kb = 7;
    h2.policy = "pol";
    h2.snapshot = "0123abcd";
    std::vector<std::pair<std::string, std::string>> none;
    ASSERT_TRUE(write_image(dir_, h2, none, err)) << err;
    harness::write_file(dir_ + "/0000000005.hdr", "backup_time=x\n");
    std::vector<std::string> bad;
    auto all = load_image_headers(dir_, &bad);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(format_image_header(all[1]), format_image_header(h2));
    EXPECT_EQ(bad, std::vector<std::string>{"0000000005.hdr"});
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
    for (const auto &[f, want] : filters)
        EXPECT_EQ(select_images(images, f).size(), want)
            << f.client << " " << f.keyword << " " << f.start;
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
    ASSERT_TRUE(rebuild_listing(json, plain, {"/d"}, 1704164645, 2, names, img, err)) << err;
    ASSERT_EQ(img.lines.size(), 3u);
    EXPECT_EQ(img.lines[1].first + "|" + img.lines[2].first + "|" + std::to_string(img.files) +
                  " files " + std::to_string(img.kb) + " kB",
              "/d/b\xff|/d/x\ny|3 files 3 kB");
    ListingLine l;
    ASSERT_GT(parse_listing_line(img.lines[1].second, 0, l), 0u);
    EXPECT_EQ(std::pair(l.mtime, l.mode), std::pair(1704164645LL, "-rw-r--r--"s));
    // A plain listing that does not match the JSON one is refused.
    EXPECT_FALSE(
        rebuild_listing(json, "snapshot:\n/d\n/d/other\n/d/x\ny\n", {"/d"}, 1, 2, names, img, err));
    EXPECT_FALSE(rebuild_listing(json, "snapshot:\n/d\n/d/b\xff\n", {"/d"}, 1, 2, names, img, err));
    // Valid, overlong, surrogate, stray and cut-short bytes as restic shows them.
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(lossy_utf8("\xf0\x9f\x98\x80\xe0\x80\x80\xed\xa0\x80n\x01\xffq\xc3\xa9t\xc3"),
              "\xf0\x9f\x98\x80" + r + r + r + r + r + r + "n\x01" + r + "q\xc3\xa9t" + r);
    // Times with offsets and fractions.
    std::string times;
    long long t = -1;
    for (const char *text : {"1970-01-01T00:00:10Z", "1970-01-01T01:00:10.123456+01:00",
                             "1969-12-31T23:00:00-01:00", "", "1970-01-01", "1970-01-01T00:00:10",
                             "1970-13-01T00:00:00Z", "1970-01-01T00:00:10Zjunk"})
        times += (parse_rfc3339(text, t) ? std::to_string(t) : "refused") + ",";
    EXPECT_EQ(times, "10,10,0,refused,refused,refused,refused,refused,");
    // Recorded failure texts are classified.
    ASSERT_NE(getenv("XKP_SOURCE_DIR"), nullptr);
    const std::string dir = getenv("XKP_SOURCE_DIR") + "/tests/engine/fixtures/restic-0.14/"s;
    using F = ResticFailure;
    std::vector<F> got; // an unreadable file reads as no failure
    for (const char *file :
         {"missing_repository", "wrong_password", "lock_held", "connection_refused", "unknown_host",
          "http_500", "sftp_session", "http_401"})
        got.push_back(classify_restic_error(harness::read_file(dir + file + ".txt")));
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
