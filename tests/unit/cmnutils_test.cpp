#include <gtest/gtest.h>

#include "cmnutils.h"
#include "xkp_root.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

TEST(Strlcpy, CopiesCutsAndTerminates) {
    char buf[8];
    EXPECT_EQ(T_strlcpy(buf, "abc", sizeof buf), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(T_strlcpy(buf, "abcdefghijk", sizeof buf), 11u);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(T_strlcpy(buf, "x", 0), 0u);
    EXPECT_EQ(T_strlcpy(nullptr, "x", 4), 0u);
    EXPECT_EQ(T_strlcpy(buf, nullptr, 4), 0u);
}

TEST(Strlcat, AppendsWithinSizeAndRefusesWhenFull) {
    char buf[8] = "ab";
    EXPECT_EQ(T_strlcat(buf, "cd", sizeof buf), 4u);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(T_strlcat(buf, "efghij", sizeof buf), 10u);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(T_strlcat(buf, "z", sizeof buf), 0u); // already full
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(T_strlcat(buf, "z", 0), 0u);
}

struct CountCase {
    const char *line;
    int count;
};

TEST(Fields, Count) {
    const CountCase cases[] = {{"  a\tb \n", 2}, {"", 0},          {" \t\n", 0},
                               {"one", 1},       {"a,b 'c d'", 3}, {"x\n\ny", 2}};
    for (const auto &c : cases)
        EXPECT_EQ(field_count(c.line), c.count) << '"' << c.line << '"';
}

TEST(Fields, CopyTakesFieldOrEmpty) {
    char dest[XKP_FIELD_MAX + 1];
    field_copy(dest, "a b", 3);
    EXPECT_STREQ(dest, "");
    field_copy(dest, "  a b", 0);
    EXPECT_STREQ(dest, "a");
    field_copy(dest, "  a\tbee \n", 2);
    EXPECT_STREQ(dest, "bee");
    field_copy_noval(dest, "a b", 7);
    EXPECT_STREQ(dest, "");
    field_copy_noval(dest, "a b", 2);
    EXPECT_STREQ(dest, "b");
}

TEST(Fields, LongFieldIsCutTo2048) {
    std::string big(3000, 'q');
    char dest[XKP_FIELD_MAX + 1];
    field_copy(dest, ("x " + big).c_str(), 2);
    EXPECT_EQ(std::string(dest), big.substr(0, 2048));
}

TEST(Fields, CopyToEndOfLineKeepsSeparators) {
    char dest[XKP_EOL_MAX + 1];
    field_copy_to_eol(dest, "12 my file name\n", 2);
    EXPECT_STREQ(dest, "my file name\n");
    field_copy_to_eol(dest, "12 my file name\n", 5);
    EXPECT_STREQ(dest, "");
    field_copy_eol_noval(dest, "12 my file name\n", 4);
    EXPECT_STREQ(dest, "name\n");
    std::string big(5000, 'r');
    field_copy_eol_noval(dest, ("a " + big).c_str(), 2);
    EXPECT_EQ(std::string(dest).size(), XKP_EOL_MAX);
}

TEST(PathText, TrimAndSlashes) {
    EXPECT_STREQ(trim("abc \t "), "abc");
    EXPECT_STREQ(trim(" a b"), " a b");
    EXPECT_STREQ(trim_slash("/a/b/"), "/a/b");
    EXPECT_STREQ(trim_slash("/a/b//"), "/a/b/");
    EXPECT_STREQ(pad_slash("/a"), "/a/");
    EXPECT_STREQ(pad_slash("/a/"), "/a/");
    char p1[] = "/x/";
    zap_slash(p1);
    EXPECT_STREQ(p1, "/x");
    char root[] = "/";
    zap_slash(root);
    EXPECT_STREQ(root, "/");
    EXPECT_EQ(last("abc"), 'c');
    EXPECT_EQ(last(""), '\0');
    char s[] = "abc";
    shorten(s);
    EXPECT_STREQ(s, "ab");
    zaplast(s, 'z');
    EXPECT_STREQ(s, "az");
    char e[] = "";
    zaplast(e, 'q');
    EXPECT_STREQ(e, "");
    EXPECT_EQ(leading_blanks("  \tx"), 2);
}

TEST(PathText, TrimCutsAtBufferSize) {
    std::string big(4000, 'a');
    EXPECT_EQ(strlen(trim(big.c_str())), XKP_TEXT_SIZE - 1);
    std::string full(XKP_TEXT_SIZE - 1, 'b');
    const char *padded = pad_slash(full.c_str());
    EXPECT_EQ(strlen(padded), XKP_TEXT_SIZE - 1);
    EXPECT_EQ(last(padded), '/');
}

TEST(PathText, Decolonize) {
    char dst[65];
    EXPECT_STREQ(decolonize_by_mode("10:20:30", dst, 0), "10 20 30");
    std::string big(100, ':');
    const char *one = decolonize_by_mode(big.c_str(), nullptr, 1);
    const char *two = decolonize_by_mode("a:b", nullptr, 2);
    EXPECT_EQ(std::string(one), std::string(64, ' '));
    EXPECT_STREQ(two, "a b");
    EXPECT_NE(one, two);
}

TEST(PathText, MkdirpathMakesEveryLevel) {
    char tmpl[] = "/tmp/xkp-mkdir-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string deep = std::string(tmpl) + "/a/b//c/";
    int err = -1;
    EXPECT_EQ(mkdirpath(deep.c_str(), 0700, &err), 0);
    EXPECT_EQ(err, 0);
    struct stat st;
    ASSERT_EQ(stat((std::string(tmpl) + "/a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A file in the way stops the walk with its errno.
    std::string file = std::string(tmpl) + "/f";
    FILE *f = fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(mkdirpath((file + "/sub").c_str(), 0700, &err), -1);
    EXPECT_EQ(err, ENOTDIR);
    std::string cmd = std::string("rm -rf ") + tmpl;
    ASSERT_EQ(system(cmd.c_str()), 0);
}

TEST(Quoting, ApostrophizeRoundTripsThroughTheShell) {
    EXPECT_EQ(apostrophize("").value(), "");
    EXPECT_EQ(apostrophize("a b").value(), "'a b'");
    EXPECT_EQ(apostrophize("it's").value(), "'it'\\''s'");
    EXPECT_EQ(apostrophize("'").value(), "\\'");
    EXPECT_FALSE(apostrophize(nullptr).has_value());
    const char *hostile[] = {"$(touch /tmp/xkp-pwned)",
                             "`id`",
                             "a\"b",
                             "back\\slash",
                             "new\nline",
                             "'';rm -rf x'",
                             "$HOME",
                             "*"};
    for (const char *h : hostile) {
        std::string cmd = "printf %s " + apostrophize(h).value();
        FILE *p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string got;
        char buf[256];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            got.append(buf, n);
        pclose(p);
        EXPECT_EQ(got, h);
    }
    EXPECT_NE(access("/tmp/xkp-pwned", F_OK), 0);
}

TEST(Quoting, TransferEncoding) {
    char out[64];
    ucs1_to_utf8("Ab9/\\:_.-+", out);
    EXPECT_STREQ(out, "Ab9/\\:_.-+");
    ucs1_to_utf8("a b", out);
    EXPECT_STREQ(out, "a\xC0\xA0"
                      "b");
    ucs1_to_utf8("\xE9", out);
    EXPECT_STREQ(out, "\xC3\xA9");
    ucs1_to_utf8("", out);
    EXPECT_STREQ(out, "");
}

TEST(ProductRoot, EnvironmentOverridesDefault) {
    const char *saved = getenv("XKP_ROOT");
    std::string keep = saved ? saved : "";
    unsetenv("XKP_ROOT");
    EXPECT_EQ(product_path("sorvane/bin"), std::string(XKP_DEFAULT_ROOT) + "/sorvane/bin");
    setenv("XKP_ROOT", "/tmp/r//", 1);
    EXPECT_EQ(product_path("/msg"), "/tmp/r/msg");
    char small[8];
    EXPECT_EQ(product_path(small, sizeof small, "msg"), 10u);
    EXPECT_STREQ(small, "/tmp/r/");
    setenv("XKP_MNTTAB", "/tmp/mnt", 1);
    EXPECT_EQ(mount_table_path(), "/tmp/mnt");
    unsetenv("XKP_MNTTAB");
    if (saved)
        setenv("XKP_ROOT", keep.c_str(), 1);
    else
        unsetenv("XKP_ROOT");
}
