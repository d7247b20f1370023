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

ListingLine line_for(const std::string &path, long long size = 5) {
    ListingLine l;
    for (int i = 0; i < 9; ++i)
        l.numbers[i] = i * 11;
    l.numbers[LN_DEVICE] = -1;
    l.mode = path.back() == '/' ? "drwxr-xr-x" : "-rw-r--r--";
    l.owner = "ann";
    l.group = "staff";
    l.size = size;
    l.backup_time = 1700000000;
    l.mtime = 1600000000;
    l.path = path;
    return l;
}

auto fields(const ListingLine &l) {
    return std::tuple(std::vector<long long>(l.numbers, l.numbers + 9), l.mode, l.owner, l.group,
                      l.size, l.backup_time, l.mtime, l.path);
}

TEST(ListingLine, EveryOddPathReadsBackExactly) {
    for (const std::string &p :
         {std::string("/plain"), std::string("/with blank/and  two"), std::string("/new\nline"),
          std::string("/two\n\nnewlines"), std::string("/q'uote\"dbl$"),
          std::string("/bytes\x01\xff\xfe"), std::string("/dir/"), std::string("/"),
          "/a/very/long/" + std::string(300, 'x'), std::string("/trailing blank "),
          std::string("/tab\there")}) {
        ListingLine in = line_for(p, 1234567890123LL);
        std::string text = format_listing_line(in);
        ListingLine out;
        ASSERT_EQ(parse_listing_line(text, 0, out), text.size()) << p;
        EXPECT_EQ(fields(out), fields(in));
    }
}

TEST(ListingLine, ColumnsAreWhereTheClientLooks) {
    ListingLine l = line_for("/x");
    std::string t = format_listing_line(l);
    // R starts after the nine numbers.
    size_t r = 0;
    for (int i = 0; i < 9; ++i)
        r = t.find(' ', r) + 1;
    EXPECT_EQ(t.compare(r, 10, "-rw-r--r--"), 0);
    EXPECT_EQ(t.compare(r + 11, 3, "ann"), 0);
    EXPECT_EQ(t.compare(r + 21, 5, "staff"), 0);
    EXPECT_EQ(t[r + 31], '5');
    EXPECT_EQ(t.compare(r + 69, 2, "/x"), 0);
}

TEST(ModeText, MatchesLs) {
    EXPECT_EQ(mode_text(S_IFDIR | 0755), "drwxr-xr-x");
    EXPECT_EQ(mode_text(S_IFREG | 04755), "-rwsr-xr-x");
    EXPECT_EQ(mode_text(S_IFREG | 02644), "-rw-r-Sr--");
    EXPECT_EQ(mode_text(S_IFDIR | 01777), "drwxrwxrwt");
    EXPECT_EQ(mode_text(S_IFLNK | 0777), "lrwxrwxrwx");
}

class CatalogDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char t[] = "/tmp/kpcat.XXXXXX";
        dir_ = mkdtemp(t);
    }
    void TearDown() override { harness::remove_tree(dir_); }
    std::string dir_;
};

TEST_F(CatalogDir, SubtreeQueriesHonourDepthAndSiblingsWithCommonPrefixes) {
    std::vector<std::string> paths = {"/",         "/d/",        "/d/a",  "/d/b/",  "/d/b/c",
                                      "/d/b/e/",   "/d/b/e/f",   "/d-x/", "/d-x/g", "/d.y",
                                      "/d/b/e/h/", "/d/b/e/h/i", "/dz"};
    std::vector<std::pair<std::string, std::string>> lines;
    for (const auto &p : paths)
        lines.emplace_back(p, format_listing_line(line_for(p)));
    ImageHeader h;
    h.backup_time = 1700000000;
    h.client = "c";
    h.snapshot = "abcd1234";
    std::string err;
    ASSERT_TRUE(write_image(dir_, h, lines, err)) << err;
    ImageListing img;
    ASSERT_TRUE(img.open(dir_, "1700000000", err)) << err;
    ASSERT_EQ(img.size(), paths.size());
    auto query = [&](const std::string &d, int depth) {
        std::vector<std::string> got;
        img.for_each_in(d, depth, [&](size_t i) { got.emplace_back(img.path(i)); });
        return got;
    };
    struct Case {
        std::string dir;
        int depth;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"/d", 1, {"/d/", "/d/a", "/d/b/"}},
        {"/d/", 1, {"/d/", "/d/a", "/d/b/"}},
        {"/d", 2, {"/d/", "/d/a", "/d/b/", "/d/b/c", "/d/b/e/"}},
        {"/d",
         -1,
         {"/d/", "/d/a", "/d/b/", "/d/b/c", "/d/b/e/", "/d/b/e/f", "/d/b/e/h/", "/d/b/e/h/i"}},
        {"/d/b/e", 0, {"/d/b/e/"}},
        {"/d/a", 3, {"/d/a"}},
        {"/nothing", -1, {}},
        {"/", 1, {"/", "/d-x/", "/d.y", "/d/", "/dz"}},
        {"", 0, {"/"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(query(c.dir, c.depth), c.want) << c.dir << " depth " << c.depth;
    EXPECT_LT(img.find("/d/b/"), img.size());
    EXPECT_EQ(img.find("/d/b"), img.size());
}

TEST_F(CatalogDir, HeadersRoundTripAndBadOnesAreSkipped) {
    ImageHeader h;
    h.backup_time = 1700000001;
    h.files = 42;
    h.kb = 7;
    h.schedule = SCHED_USER_ARCHIVE;
    h.policy = "pol";
    h.client = "host one";
    h.keyword = "kw, with=odd%chars\x01";
    h.snapshot = "0123abcd";
    std::vector<std::pair<std::string, std::string>> none;
    std::string err;
    ASSERT_TRUE(write_image(dir_, h, none, err)) << err;
    harness::write_file(dir_ + "/0000000005.hdr", "backup_time=x\n");
    std::vector<std::string> bad;
    auto all = load_image_headers(dir_, &bad);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].keyword, h.keyword);
    EXPECT_EQ(all[0].client, h.client);
    EXPECT_EQ(all[0].schedule, SCHED_USER_ARCHIVE);
    EXPECT_EQ(all[0].files, 42);
    EXPECT_EQ(bad, std::vector<std::string>{"0000000005.hdr"});
}

TEST(ImageListingMemory, RecordsPointingOutsideReadAsEmpty) {
    std::string lst = format_listing_line(line_for("/a"));
    auto index = [&](unsigned len) {
        std::string idx = "KPIDX1\n";
        idx.push_back('\0');
        unsigned long long count = 1;
        idx.append(reinterpret_cast<const char *>(&count), 8);
        struct {
            unsigned long long off;
            unsigned len, path_off, path_len, depth;
        } rec{0, len, static_cast<unsigned>(lst.size()) - 3, 2, 1};
        idx.append(reinterpret_cast<const char *>(&rec), sizeof rec);
        return idx;
    };
    std::string good = index(static_cast<unsigned>(lst.size()));
    std::string bad = index(static_cast<unsigned>(lst.size()) + 5);
    ImageListing img;
    std::string err;
    ASSERT_TRUE(img.open_memory(lst, good, err)) << err;
    EXPECT_EQ(img.path(0), "/a");
    EXPECT_EQ(img.find("/a"), 0u);
    ASSERT_TRUE(img.open_memory(lst, bad, err)) << err;
    EXPECT_TRUE(img.line(0).empty());
    EXPECT_EQ(img.find("/a"), img.size());
    int calls = 0;
    img.for_each_in("/", -1, [&](size_t) { ++calls; });
    EXPECT_EQ(calls, 0);
    // An index whose size does not match its count is refused.
    EXPECT_FALSE(img.open_memory(lst, good.substr(0, 20), err));
    EXPECT_FALSE(img.open_memory(lst, good + "x", err));
    EXPECT_FALSE(img.open_memory(lst, "", err));
}

TEST(ImageChoice, FiltersAndLikelyDate) {
    auto mk = [](long long t, int sched, const char *client, const char *kw) {
        ImageHeader h;
        h.backup_time = t;
        h.schedule = sched;
        h.client = client;
        h.keyword = kw;
        return h;
    };
    std::vector<ImageHeader> all = {mk(100, 2, "a", "Monday run"), mk(200, 3, "a", "old stuff"),
                                    mk(300, 2, "b", ""), mk(400, 2, "a", "monday again")};
    ImageFilter f;
    f.client = "a";
    EXPECT_EQ(select_images(all, f).size(), 2u);
    f.keyword = "MONDAY";
    EXPECT_EQ(select_images(all, f).size(), 2u);
    f.keyword = "Mon*run";
    EXPECT_EQ(select_images(all, f).size(), 1u);
    f.keyword.clear();
    f.start = 150;
    EXPECT_EQ(select_images(all, f).size(), 1u);
    f = ImageFilter{};
    f.archives = true;
    EXPECT_EQ(select_images(all, f).size(), 1u);
    EXPECT_EQ(likely_start_date({all[0], all[3]}), 100);
    ImageHeader full = mk(250, SCHED_FULL, "a", "");
    EXPECT_EQ(likely_start_date({all[0], full, all[3]}), 250);
    EXPECT_EQ(likely_start_date({}), -1);
}

TEST(LossyUtf8, ReplacesEachInvalidByteAsResticShowsIt) {
    EXPECT_EQ(lossy_utf8("n\x01\xffq"), "n\x01\xEF\xBF\xBDq");
    EXPECT_EQ(lossy_utf8("\xc3\xa9t\xc3"), "\xc3\xa9t\xEF\xBF\xBD");
    EXPECT_EQ(lossy_utf8("\xe0\x80\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // overlong
    EXPECT_EQ(lossy_utf8("\xed\xa0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // surrogate
    EXPECT_EQ(lossy_utf8("\xf0\x9f\x98\x80"), "\xf0\x9f\x98\x80");
}

TEST(ResticFailures, RecordedTextsAreClassified) {
    const char *src = getenv("XKP_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    std::string dir = std::string(src) + "/tests/engine/fixtures/restic-0.14/";
    struct Case {
        const char *file;
        ResticFailure kind;
        bool unreachable;
    };
    const Case cases[] = {
        {"missing_repository.txt", ResticFailure::RepositoryMissing, true},
        {"wrong_password.txt", ResticFailure::WrongPassword, false},
        {"lock_held.txt", ResticFailure::Locked, false},
        {"connection_refused.txt", ResticFailure::Unreachable, true},
        {"unknown_host.txt", ResticFailure::Unreachable, true},
        {"http_500.txt", ResticFailure::Unreachable, true},
        {"sftp_session.txt", ResticFailure::Unreachable, true},
        {"http_401.txt", ResticFailure::Unauthorized, false},
    };
    for (const auto &c : cases) {
        std::string text = harness::read_file(dir + c.file);
        ASSERT_FALSE(text.empty()) << c.file;
        EXPECT_EQ(classify_restic_error(text), c.kind) << c.file;
        EXPECT_EQ(restic_failure_status(classify_restic_error(text), 6) == 25, c.unreachable)
            << c.file;
    }
    EXPECT_EQ(classify_restic_error("Fatal: something new\n"), ResticFailure::Other);
}

TEST(Rebuild, TakesRawNamesFromThePlainListing) {
    std::string json =
        "{\"time\":\"2024-01-02T03:04:05Z\",\"paths\":[\"/d\"],\"struct_type\":\"snapshot\"}\n"
        "{\"name\":\"d\",\"type\":\"dir\",\"path\":\"/d\",\"uid\":0,\"gid\":0,\"mode\":2147484141,"
        "\"mtime\":\"2024-01-02T03:04:05Z\",\"struct_type\":\"node\"}\n"
        "{\"name\":\"b\\ufffd\",\"type\":\"file\",\"path\":\"/d/b\\ufffd\",\"uid\":0,\"gid\":0,"
        "\"size\":2048,\"mode\":420,\"mtime\":\"2024-01-02T04:04:05+01:00\",\"struct_type\":"
        "\"node\"}\n"
        "{\"name\":\"x\\ny\",\"type\":\"file\",\"path\":\"/d/x\\ny\",\"uid\":0,\"gid\":0,"
        "\"size\":1,\"mode\":420,\"mtime\":\"2024-01-02T03:04:05Z\",\"struct_type\":\"node\"}\n";
    std::string plain = "snapshot 1234 of [/d]:\n/d\n/d/b\xff\n/d/x\ny\n";
    NameCache names;
    RebuiltImage img;
    std::string err;
    ASSERT_TRUE(rebuild_listing(json, plain, {"/d"}, 1704164645, 2, names, img, err)) << err;
    ASSERT_EQ(img.lines.size(), 3u);
    EXPECT_EQ(img.lines[1].first, "/d/b\xff");
    EXPECT_EQ(img.lines[2].first, "/d/x\ny");
    EXPECT_EQ(img.files, 3);
    EXPECT_EQ(img.kb, 3);
    ListingLine l;
    ASSERT_GT(parse_listing_line(img.lines[1].second, 0, l), 0u);
    EXPECT_EQ(l.mtime, 1704164645);
    EXPECT_EQ(l.mode, "-rw-r--r--");
    // A plain listing that does not match the JSON one is refused.
    EXPECT_FALSE(
        rebuild_listing(json, "snapshot:\n/d\n/d/other\n/d/x\ny\n", {"/d"}, 1, 2, names, img, err));
    EXPECT_FALSE(rebuild_listing(json, "snapshot:\n/d\n/d/b\xff\n", {"/d"}, 1, 2, names, img, err));
}

TEST(Rfc3339, ParsesOffsetsAndFractions) {
    long long t = 0;
    ASSERT_TRUE(parse_rfc3339("1970-01-01T00:00:10Z", t));
    EXPECT_EQ(t, 10);
    ASSERT_TRUE(parse_rfc3339("1970-01-01T01:00:10.123456+01:00", t));
    EXPECT_EQ(t, 10);
    ASSERT_TRUE(parse_rfc3339("1969-12-31T23:00:00-01:00", t));
    EXPECT_EQ(t, 0);
    for (const char *bad : {"", "1970-01-01", "1970-01-01T00:00:10", "1970-13-01T00:00:00Z",
                            "1970-01-01T00:00:10Zjunk"})
        EXPECT_FALSE(parse_rfc3339(bad, t)) << bad;
}

} // namespace
