// Wildcard expansion over a temporary tree: order, braces, sets, dot files,
// descent, errors (logged, the exit hook called, the word dropped), limits.
#include <gtest/gtest.h>

#include "listing_helpers.h"
#include "log_capture.h"
#include "sh_glob.h"

#include <algorithm>
#include <clocale>
#include <iterator>
#include <numeric>
#include <sstream>
#include <tuple>
#include <sys/stat.h>

// Replaces the library's weak exit hook, to see where the expander gives up.
static int exit_calls = 0;
void Exit() {
    ++exit_calls;
}

namespace {

class GlobTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char *f : {"log.1", "log.10", "log.2", ".hidden", "a.c", "b.c", "c.h", "sub/x.c",
                              "sub/y.h", "sub2/x.c", "sub2/deep/z.c", "\xe9t\xe9"}) {
            dir.add(f);
        }
        exit_calls = 0;
    }
    Strs glob(const Strs &words) {
        std::vector<const char *> argv;
        for (const auto &w : words) {
            argv.push_back(w.c_str());
        }
        argv.push_back(nullptr);
        char **list = Glob(argv.data());
        EXPECT_NE(list, nullptr);
        Strs out;
        for (char **n = list; n != nullptr && *n != nullptr; ++n) {
            out.emplace_back(*n);
        }
        Globfree(list);
        return out;
    }
    // The blank-separated words of text, each "@" replaced by the tree root.
    Strs at_root(const std::string &text) {
        std::string words;
        for (char c : text) {
            words += c == '@' ? dir.root : std::string(1, c);
        }
        std::istringstream in(words);
        return {std::istream_iterator<std::string>(in), {}};
    }
    // Whether a logged line begins with message.
    bool logged(const std::string &m) {
        const Strs l = log.lines();
        return std::any_of(l.begin(), l.end(), [&](auto &x) { return x.rfind(m, 0) == 0; });
    }

    ScratchDir dir;
    LogCapture log;
};

TEST_F(GlobTest, ExpansionsAndErrors) {
    // Blank-separated words, the names they expand to and, for a word that
    // is abandoned with a call of the exit hook, the logged error.
    const struct {
        const char *words, *expected, *error = nullptr;
    } cases[] = {
        {"@/log.[0-1]*", "@/log.1 @/log.10"},
        {"@/[\\]a].c", "@/a.c"}, // quoted bracket in a set
        {"@/*", "@/a.c @/b.c @/c.h @/log.1 @/log.10 @/log.2 @/sub @/sub2 @/\xe9t\xe9"},
        {"@/.h*", "@/.hidden"},
        {"@/sub/* @/*.c", "@/sub/x.c @/sub/y.h @/a.c @/b.c"}, // groups keep word order
        {"@/no-such-file", "@/no-such-file"},
        {"@/{q,p}z", "@/qz @/pz"},
        {"@/{log,[ab]}.*", "@/log.1 @/log.10 @/log.2 @/a.c @/b.c"},
        {"@/log.{2,1,7}", "@/log.1 @/log.2"}, // braces in an element need existing names
        {"@/{[,a].c,b.c}", "@/a.c @/b.c"},
        {"@/{a.{c,h},c.{c,h}}", "@/a.c @/c.h"},
        {"@/*/y.h", "@/sub/y.h"}, // a rest below a match must exist
        {"@/sub*/", "@/sub/ @/sub2/"},
        {"@/a\\*", ""}, // backslash outside a set is a plain character
        {"{ {}", "{ {}"},
        {"@/a.c{}", "@/a.c"},
        {"@/[ab @/a.c", "@/a.c", "<32> glob: Missing ']' in filelist name"},
        {"@/{a,b @/a.c", "@/a.c", "<32> glob: Missing '}' in filelist name"},
        {"@/{a,[}] @/a.c", "@/a.c", "<32> glob: Missing '}' in filelist name"},
    };
    for (const auto &c : cases) {
        exit_calls = 0;
        log.clear();
        EXPECT_EQ(glob(at_root(c.words)), at_root(c.expected)) << c.words;
        EXPECT_EQ(exit_calls, c.error != nullptr) << c.words;
        EXPECT_TRUE(c.error == nullptr || logged(c.error)) << c.words;
    }
    char **list = Glob(nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);
    Globfree(list);
}

TEST_F(GlobTest, UnreadableDirectoriesAreLoggedAtTheTopOnly) {
    EXPECT_EQ(glob(at_root("@/nodir/* @/a.c/* relative*")), Strs{});
    for (const std::string &m :
         {"<16> glob: opendir of " + dir.root +
              "/nodir/ failed - errno = 2: No such file or directory",
          "<16> glob: opendir of " + dir.root + "/a.c/ failed - errno = 20: Not a directory",
          std::string("<16> glob: opendir of  failed - errno = 2")}) {
        EXPECT_TRUE(logged(m)) << m;
    }
    EXPECT_EQ(exit_calls, 0);

    // Below a matched element a directory that cannot be read is skipped
    // silently. As root, reading is denied by running as nobody for a moment.
    dir.add("locked/q1");
    const std::string locked = dir.path("locked"), pattern = dir.path("lock*/q*");
    ASSERT_EQ(chmod(dir.root.c_str(), 0755) | chmod(locked.c_str(), 0700), 0);
    const bool dropped = geteuid() == 0 && seteuid(65534) == 0;
    ASSERT_TRUE(dropped || chmod(locked.c_str(), 0) == 0);
    log.clear();
    const Strs got_locked = glob({pattern});
    ASSERT_TRUE(!dropped || seteuid(0) == 0);
    ASSERT_EQ(chmod(locked.c_str(), 0755), 0);
    EXPECT_EQ(got_locked, Strs{});
    EXPECT_EQ(log.lines(), Strs{});
    EXPECT_EQ(glob({pattern}), Strs{locked + "/q1"});
}

TEST_F(GlobTest, Limits) {
    // A name longer than the path buffer, as a literal and as a pattern; a
    // name of exactly the buffer's size is fine.
    const std::string long_name = dir.path(std::string(GLOB_PATH_MAX, 'n'));
    const std::string fits = "/" + std::string(GLOB_PATH_MAX - 1, 'f');
    EXPECT_EQ(glob({long_name, long_name + "*", fits}), Strs{fits});
    EXPECT_EQ(exit_calls, 2);
    EXPECT_TRUE(logged("<32> glob: filelist name expansion too long"));

    // Seven words of 10^4 literal names of 8 characters (the byte budget is
    // no matter): the seventh breaks the name count after 5535, which stay.
    const std::string digits = "/{0,1,2,3,4,5,6,7,8,9}";
    const std::string four = digits + digits + digits + digits;
    Strs got = glob(Strs(7, four));
    EXPECT_EQ(got.size(), GLOB_MAX_NAMES);
    EXPECT_EQ(exit_calls, 3);
    EXPECT_EQ(Strs({got.front(), got[10000], got.back()}),
              (Strs{"/0/0/0/0", "/0/0/0/0", "/5/5/3/4"}));

    // About 1000-byte names: the byte budget ends the word after roughly a
    // thousand of them, keeping all that fit.
    got = glob({dir.path(std::string(990, 'p') + four)});
    const size_t bytes =
        std::accumulate(got.begin(), got.end(), size_t{0},
                        [](size_t b, const std::string &n) { return b + n.size() + 1; });
    EXPECT_LE(bytes, GLOB_MAX_BYTES);
    EXPECT_GT(bytes + got.front().size() + 1, GLOB_MAX_BYTES);
    EXPECT_EQ(exit_calls, 4);
}

TEST_F(GlobTest, RunawayPatternsEndWithAnError) {
    // Two links back to their own directory make every level branch; the
    // expansion gives up instead of walking 2^14 directories.
    const std::string loops = dir.path("loops");
    ASSERT_EQ(mkdir(loops.c_str(), 0755), 0);
    ASSERT_EQ(symlink(".", (loops + "/l1").c_str()) | symlink(".", (loops + "/l2").c_str()), 0);
    EXPECT_EQ(glob({loops + "/*/*/*/*/*/*/*/*/*/*/*/*/*/*/x", dir.path("a.c")}),
              Strs{dir.path("a.c")});
    // Braces nested deeper than the expander allows.
    EXPECT_EQ(glob({dir.path(std::string(100, '{') + "a.c" + std::string(100, '}'))}), Strs{});
    // Stars that would backtrack exponentially over a long name: no error.
    dir.add(std::string(200, 'a'));
    EXPECT_EQ(glob({dir.path("*a*a*a*a*a*a*a*a*a*a*a*a*a*b")}), Strs{});
    EXPECT_EQ(glob({dir.path("*a*a*a*a*a*a*a*a*a*a*a*a*a")}),
              Strs{dir.path(std::string(200, 'a'))});
    EXPECT_EQ(exit_calls, 2);
}

TEST_F(GlobTest, MultibyteWordsAreTakenLiterally) {
    const std::string keep = setlocale(LC_MESSAGES, nullptr);
    // In the C message locale the bytes are single characters: the word is a
    // pattern and finds the Latin-1 named file.
    ASSERT_NE(setlocale(LC_MESSAGES, "C"), nullptr);
    EXPECT_EQ(glob({dir.path("\xe9*")}), Strs{dir.path("\xe9t\xe9")});
    // Under UTF-8 the word holds a multibyte character: literal, and the
    // wildcard in it is reported; a multibyte word without one is not.
    ASSERT_NE(setlocale(LC_MESSAGES, "C.UTF-8"), nullptr);
    for (const std::string &word : {dir.path("\xc3\xa9*"), dir.path("\xc3\xa9t\xc3\xa9")}) {
        EXPECT_EQ(glob({word}), Strs{word});
    }
    EXPECT_EQ(exit_calls, 1);
    EXPECT_TRUE(logged("<32> glob: backup filelist has unsupported wildcards with "
                       "multi-byte characters"));
    setlocale(LC_MESSAGES, keep.c_str());
}

TEST(HasWildcards, BytesAndWideCharacters) {
    // Braces are not wildcards here; a word that is not valid UTF-8 cannot be
    // converted and counts as none; an unknown locale is examined byte-wise.
    const std::tuple<const char *, int, std::vector<const char *>> cases[] = {
        {"C", 1, {"a*", "a?", "[a]", "a\\b", "\xe9*"}},
        {"C", -1, {"abc", "a{b,c}", "", nullptr}},
        {nullptr, 1, {"a*"}},
        {"POSIX", -1, {"abc"}},
        {"no_such_locale", 1, {"a*"}},
        {"C.UTF-8", 1, {"\xc3\xa9*"}},
        {"C.UTF-8", -1, {"\xc3\xa9t\xc3\xa9", "\xe9*"}},
    };
    const std::string keep = setlocale(LC_CTYPE, nullptr);
    for (const auto &[locale, expected, words] : cases) {
        for (const char *word : words) {
            EXPECT_EQ(has_wildcards(word, locale), expected)
                << (word ? word : "(null)") << " in " << (locale ? locale : "(null)");
            EXPECT_EQ(keep, setlocale(LC_CTYPE, nullptr)) << "character type left changed";
        }
    }
}

} // namespace
