// Readers of the request files, the rename file and the transfer encoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmnutils.h"
#include "kpargs.h"
#include "request_file.h"

namespace {

std::string encode(const std::string &s) {
    std::string out(s.size() * 2 + 1, '\0');
    ucs1_to_utf8(s.c_str(), out.data());
    return out.c_str();
}

TEST(TransferDecode, ReversesTheClientEncodingAndLeavesUnpairedLeadBytesAlone) {
    std::string all;
    for (int b = 1; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    for (const std::string &s : {std::string("/tmp/my log"), std::string("/a/\xe9t\xe9"),
                                 std::string("plain/Path_1.2-3+4:\\"), all}) {
        EXPECT_EQ(transfer_decode(encode(s)), s);
    }
    // \xc4 is not a lead byte the encoder makes.
    for (const char *raw : {"a\xc3", "\xc3z", "\xc4\xa0"}) {
        EXPECT_EQ(transfer_decode(raw), raw);
    }
}

TEST(CountedList, ReadsPathsWithBlanksNewlinesAndAnyByte) {
    std::vector<std::string> want = {"/a b/c", "/x\ny", "/q'\"$\xff", "/"};
    std::string text;
    for (const auto &p : want) {
        text += std::to_string(p.size()) + " " + p + "\n";
    }
    std::vector<std::string> got;
    std::string err;
    ASSERT_TRUE(parse_counted_list(text, got, err)) << err;
    EXPECT_EQ(got, want);
    // The last record may lack its newline.
    text.pop_back();
    ASSERT_TRUE(parse_counted_list(text, got, err)) << err;
    EXPECT_EQ(got, want);
}

TEST(CountedList, RejectsDamagedFilesWhole) {
    struct Case {
        const char *name;
        std::string text;
    };
    const Case cases[] = {
        {"truncated path", "6 /a/b/c\n9 /short"},
        {"no number", "/a/b\n"},
        {"no blank", "4/a/b\n"},
        {"path longer than its count", "3 /abc\n"},
        {"zero length", "0 \n"},
        {"negative length", "-4 /abc\n"},
        {"huge length", "99999999999999999999 /a\n"},
        {"garbage after good records", "2 /a\nxx"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> got;
        std::string err;
        EXPECT_FALSE(parse_counted_list(c.text, got, err)) << c.name;
        EXPECT_FALSE(err.empty()) << c.name;
    }
}

TEST(ImageEntries, ReadsTheClientsRecords) {
    std::string text = "1 2 3 4 5 6 7 -1 9 7 /a b/c/ 100 200\n"
                       "0 0 0 0 0 0 0 2049 0 4 /x\ny 5 5\n"
                       "3 /z/ 0 2147483647";
    std::vector<ImageEntry> got;
    std::string err;
    ASSERT_TRUE(parse_image_entries(text, got, err)) << err;
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].path, "/a b/c/");
    EXPECT_EQ(got[0].numbers[7], -1);
    EXPECT_EQ(got[0].start, 100);
    EXPECT_EQ(got[0].end, 200);
    EXPECT_EQ(got[1].path, "/x\ny");
    EXPECT_EQ(got[1].numbers[7], 2049);
    // Fewer than nine numbers: the one before the path is its length.
    EXPECT_EQ(got[2].path, "/z/");
    EXPECT_EQ(got[2].numbers[0], 0);
    EXPECT_EQ(got[2].end, 2147483647);
}

TEST(ImageEntries, RejectsDamagedRecords) {
    const char *cases[] = {
        "0 0 0 0 0 0 0 0 0 6 /a/b 1 2\n",     // length beyond the path
        "0 0 0 0 0 0 0 0 0 4 /a/b 1\n",       // no end time
        "0 0 0 0 0 0 0 0 0 4 /a/b 5 1\n",     // start after end
        "0 0 0 0 0 0 0 0 0 4 a/bc 1 2\n",     // relative path
        "0 0 0 0 0 0 0 0 0 0 0 4 /a/b 1 2\n", // too many numbers
        "0 0 0 0 0 0 0 0 0 4 /a/b 1 2 junk\n",
        "0 0 0 0 0 0 0 0 0 40 /a/b 1 2\n", // truncated
        "x\n",
    };
    for (const char *c : cases) {
        std::vector<ImageEntry> got;
        std::string err;
        EXPECT_FALSE(parse_image_entries(c, got, err)) << c;
    }
}

TEST(RenameFile, OffersEverySplitWithAnAbsoluteDestination) {
    std::vector<RenamePair> c;
    std::string err;
    ASSERT_TRUE(parse_rename_file("change /a b to /c d\n", c, err));
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].from, "/a b");
    EXPECT_EQ(c[0].to, "/c d");
    ASSERT_TRUE(parse_rename_file("change /go to /x to /y\n", c, err));
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].from, "/go");
    EXPECT_EQ(c[0].to, "/x to /y");
    EXPECT_EQ(c[1].from, "/go to /x");
    EXPECT_EQ(c[1].to, "/y");
    for (const char *bad : {"", "modify /a to /b\n", "change /a to b\n", "change /a\n"}) {
        EXPECT_FALSE(parse_rename_file(bad, c, err)) << bad;
    }
}

TEST(PlainList, SkipsEmptyLines) {
    EXPECT_EQ(parse_plain_list("/s1\n\n/s 2\n/s3"),
              (std::vector<std::string>{"/s1", "/s 2", "/s3"}));
}

TEST(Args, AcceptsTheClientsOrderAndRejectsUnknownOptions) {
    std::vector<KpOption> table = {{"-S", true}, {"-k", true}, {"-8", false}, {"-keyword", true}};
    const char *ok[] = {"prog", "-S", "demo", "-k", "-x", "-keyword", "", "-8", "/dir one"};
    KpArgs a;
    std::string err;
    ASSERT_TRUE(kp_parse_args(9, ok, table, a, err)) << err;
    EXPECT_EQ(a.get("-S"), "demo");
    EXPECT_EQ(a.get("-k"), "-x"); // a value may start with a dash
    EXPECT_TRUE(a.has("-keyword"));
    EXPECT_EQ(a.get("-keyword"), "");
    EXPECT_TRUE(a.has("-8"));
    EXPECT_EQ(a.operands, std::vector<std::string>{"/dir one"});
    const char *unknown[] = {"prog", "-Q"};
    EXPECT_FALSE(kp_parse_args(2, unknown, table, a, err));
    EXPECT_NE(err.find("-Q"), std::string::npos);
    const char *missing[] = {"prog", "-S"};
    EXPECT_FALSE(kp_parse_args(2, missing, table, a, err));
    long long t = 0;
    EXPECT_TRUE(kp_parse_time("2147483647", t));
    EXPECT_FALSE(kp_parse_time("2147483648", t));
    EXPECT_FALSE(kp_parse_time("12x", t));
}

} // namespace
