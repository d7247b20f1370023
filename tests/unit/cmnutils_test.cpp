#include <gtest/gtest.h>

#include "cmnutils.h"
#include "temp_root.h"
#include "xkp_root.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

TEST(BoundedCopy, StrlcpyCutsStrlcatRefusesWhenFull) {
    char buf[8];
    EXPECT_EQ(T_strlcpy(buf, "abc", sizeof buf), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(T_strlcpy(buf, "abcdefghijk", sizeof buf), 11u);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(T_strlcpy(buf, "x", 0), 0u);
    EXPECT_EQ(T_strlcpy(nullptr, "x", 4), 0u);
    EXPECT_EQ(T_strlcpy(buf, nullptr, 4), 0u);
    T_strlcpy(buf, "ab", sizeof buf);
    EXPECT_EQ(T_strlcat(buf, "cd", sizeof buf), 4u);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(T_strlcat(buf, "efghij", sizeof buf), 10u);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(T_strlcat(buf, "z", sizeof buf), 0u); // already full
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(T_strlcat(buf, "z", 0), 0u);
}

TEST(Fields, CountAndCopies) {
    for (const auto &[line, count] : {std::pair{"  a\tb \n", 2},
                                      {"", 0},
                                      {" \t\n", 0},
                                      {"one", 1},
                                      {"a,b 'c d'", 3},
                                      {"x\n\ny", 2}}) {
        EXPECT_EQ(field_count(line), count) << '"' << line << '"';
    }
    const std::string big(5000, 'q');
    const struct {
        void (*copy)(char *, const char *, int);
        std::string line;
        int n;
        std::string want;
    } cases[] = {
        {field_copy, "a b", 3, ""},
        {field_copy, "  a b", 0, "a"},
        {field_copy, "  a\tbee \n", 2, "bee"},
        {field_copy, "x " + big, 2, big.substr(0, XKP_FIELD_MAX)},
        {field_copy_noval, "a b", 7, ""},
        {field_copy_noval, "a b", 2, "b"},
        {field_copy_to_eol, "12 my file name\n", 2, "my file name\n"},
        {field_copy_to_eol, "12 my file name\n", 5, ""},
        {field_copy_eol_noval, "12 my file name\n", 4, "name\n"},
        {field_copy_eol_noval, "a " + big, 2, big.substr(0, XKP_EOL_MAX)},
    };
    for (const auto &c : cases) {
        // Exactly the documented room, so that an overrun shows under ASan.
        const bool eol = c.copy == field_copy_to_eol || c.copy == field_copy_eol_noval;
        std::vector<char> dest(eol ? XKP_EOL_MAX + 1 : XKP_FIELD_MAX + 1);
        c.copy(dest.data(), c.line.c_str(), c.n);
        EXPECT_EQ(std::string(dest.data()), c.want) << c.line.substr(0, 20) << " field " << c.n;
    }
}

TEST(PathText, TrimAndSlashes) {
    const struct {
        char *(*edit)(const char *);
        const char *in, *out;
    } cases[] = {
        {trim, "abc \t ", "abc"},        {trim, " a b", " a b"},   {trim_slash, "/a/b/", "/a/b"},
        {trim_slash, "/a/b//", "/a/b/"}, {pad_slash, "/a", "/a/"}, {pad_slash, "/a/", "/a/"},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(c.edit(c.in), c.out) << c.in;
    }
    char p1[] = "/x/", root[] = "/", s[] = "abc", e[] = "";
    zap_slash(p1);
    zap_slash(root);
    EXPECT_STREQ(p1, "/x");
    EXPECT_STREQ(root, "/");
    EXPECT_EQ(last("abc"), 'c');
    EXPECT_EQ(last(""), '\0');
    shorten(s);
    EXPECT_STREQ(s, "ab");
    zaplast(s, 'z');
    EXPECT_STREQ(s, "az");
    zaplast(e, 'q');
    EXPECT_STREQ(e, "");
    EXPECT_EQ(leading_blanks("  \tx"), 2);
    // The static results are cut at their buffer's size.
    EXPECT_EQ(strlen(trim(std::string(4000, 'a').c_str())), XKP_TEXT_SIZE - 1);
    const char *padded = pad_slash(std::string(XKP_TEXT_SIZE - 1, 'b').c_str());
    EXPECT_EQ(strlen(padded), XKP_TEXT_SIZE - 1);
    EXPECT_EQ(last(padded), '/');
}

TEST(PathText, Decolonize) {
    char dst[65];
    EXPECT_STREQ(decolonize_by_mode("10:20:30", dst, 0), "10 20 30");
    const char *one = decolonize_by_mode(std::string(100, ':').c_str(), nullptr, 1);
    const char *two = decolonize_by_mode("a:b", nullptr, 2);
    EXPECT_EQ(std::string(one), std::string(64, ' '));
    EXPECT_STREQ(two, "a b");
    EXPECT_NE(one, two);
}

TEST(PathText, MkdirpathMakesEveryLevel) {
    char tmpl[] = "/tmp/xkp-mkdir-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    int err = -1;
    EXPECT_EQ(mkdirpath((dir + "/a/b//c/").c_str(), 0700, &err), 0);
    EXPECT_EQ(err, 0);
    struct stat st;
    ASSERT_EQ(stat((dir + "/a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A file in the way stops the walk with its errno.
    FILE *f = fopen((dir + "/f").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(mkdirpath((dir + "/f/sub").c_str(), 0700, &err), -1);
    EXPECT_EQ(err, ENOTDIR);
    ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

// What the shell makes of the quoted words is for the unit
// RestoreCommandTest.ShellWordsAndTheKeyword, through shell_word.
TEST(Quoting, ApostrophizeForms) {
    for (const auto &[text, quoted] :
         {std::pair{"", ""}, {"a b", "'a b'"}, {"it's", "'it'\\''s'"}, {"'", "\\'"}}) {
        EXPECT_EQ(apostrophize(text).value(), quoted) << text;
    }
    EXPECT_FALSE(apostrophize(nullptr).has_value());
}

TEST(Quoting, TransferEncoding) {
    char out[64];
    for (const auto &[in, want] : {std::pair{"Ab9/\\:_.-+", "Ab9/\\:_.-+"},
                                   {"a b", "a\xC0\xA0"
                                           "b"},
                                   {"\xE9", "\xC3\xA9"},
                                   {"", ""}}) {
        ucs1_to_utf8(in, out);
        EXPECT_STREQ(out, want) << in;
    }
}

TEST(ProductRoot, EnvironmentOverridesDefault) {
    ScopedEnv root("XKP_ROOT", nullptr), mnttab("XKP_MNTTAB", nullptr);
    EXPECT_EQ(product_path("sorvane/bin"), std::string(XKP_DEFAULT_ROOT) + "/sorvane/bin");
    setenv("XKP_ROOT", "/tmp/r//", 1);
    EXPECT_EQ(product_path("/msg"), "/tmp/r/msg");
    char small[8];
    EXPECT_EQ(product_path(small, sizeof small, "msg"), 10u);
    EXPECT_STREQ(small, "/tmp/r/");
    setenv("XKP_MNTTAB", "/tmp/mnt", 1);
    EXPECT_EQ(mount_table_path(), "/tmp/mnt");
}
