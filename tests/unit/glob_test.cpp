// Wildcard expansion over a temporary directory tree: ordering and grouping,
// braces, sets, dot files, descent into matched directories, the error table
// (each error logged and followed by a call of the exit hook, the word
// abandoned) and the limits.
#include <gtest/gtest.h>

#include "logging.h"
#include "sh_glob.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The test program's exit hook replaces the library's weak one, so the tests
// can see where the expander gives up.
static int exit_calls = 0;
void Exit() {
    ++exit_calls;
}

namespace {

using Names = std::vector<std::string>;

class GlobTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/globtest.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        for (const char *f : {"log.1", "log.10", "log.2", ".hidden", "a.c", "b.c", "c.h", "sub/x.c",
                              "sub/y.h", "sub2/x.c", "sub2/deep/z.c", "\xe9t\xe9"})
            make_file(f);
        char logtmpl[] = "/tmp/globtest-log.XXXXXX";
        log_fd = mkstemp(logtmpl);
        ASSERT_GE(log_fd, 0);
        unlink(logtmpl);
        debugFD = log_fd;
        exit_calls = 0;
    }
    void TearDown() override {
        debugFD = -1;
        close(log_fd);
        ASSERT_EQ(system(("rm -rf '" + root + "'").c_str()), 0);
    }

    void make_file(const std::string &rel) {
        std::string full = root + "/" + rel;
        for (size_t slash = full.find('/', root.size() + 1); slash != std::string::npos;
             slash = full.find('/', slash + 1))
            mkdir(full.substr(0, slash).c_str(), 0755);
        int fd = open(full.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0) << full;
        close(fd);
    }
    Names glob(const Names &words) {
        std::vector<const char *> argv;
        for (const auto &w : words)
            argv.push_back(w.c_str());
        argv.push_back(nullptr);
        char **list = Glob(argv.data());
        Names out;
        for (char **n = list; n != nullptr && *n != nullptr; ++n)
            out.emplace_back(*n);
        EXPECT_NE(list, nullptr);
        Globfree(list);
        return out;
    }
    // The blank-separated words of text, each "@" replaced by the tree root.
    Names at_root(const std::string &text) {
        Names out;
        std::istringstream in(text);
        for (std::string w; in >> w;) {
            for (size_t at = w.find('@'); at != std::string::npos; at = w.find('@', at))
                w.replace(at, 1, root);
            out.push_back(w);
        }
        return out;
    }
    std::string log_text() {
        std::string text(static_cast<size_t>(lseek(log_fd, 0, SEEK_END)), '\0');
        EXPECT_EQ(pread(log_fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
        return text;
    }
    bool logged(const std::string &message) {
        return log_text().find(message) != std::string::npos;
    }

    std::string root;
    int log_fd = -1;
};

TEST_F(GlobTest, Expansions) {
    const struct {
        const char *name, *words, *expected; // blank-separated
    } cases[] = {
        {"byte order within a word", "@/log.*", "@/log.1 @/log.10 @/log.2"},
        {"question mark", "@/log.?", "@/log.1 @/log.2"},
        {"negated set", "@/log.[!1]", "@/log.2"},
        {"range then star", "@/log.[0-1]*", "@/log.1 @/log.10"},
        {"set of letters", "@/[ab].c", "@/a.c @/b.c"},
        {"quoted bracket in a set", "@/[\\]a].c", "@/a.c"},
        {"star skips dot files", "@/*",
         "@/a.c @/b.c @/c.h @/log.1 @/log.10 @/log.2 @/sub @/sub2 @/\xe9t\xe9"},
        {"dot pattern finds dot files", "@/.h*", "@/.hidden"},
        {"groups keep word order", "@/sub/* @/*.c", "@/sub/x.c @/sub/y.h @/a.c @/b.c"},
        {"literal word kept even when missing", "@/no-such-file", "@/no-such-file"},
        {"brace alternatives in brace order", "@/{q,p}z", "@/qz @/pz"},
        {"each brace alternative sorted by itself", "@/{log,[ab]}.*",
         "@/log.1 @/log.10 @/log.2 @/a.c @/b.c"},
        {"braces inside an element match existing names", "@/log.{2,1,7}", "@/log.1 @/log.2"},
        {"comma inside a set does not split", "@/{[,a].c,b.c}", "@/a.c @/b.c"},
        {"nested braces", "@/{a.{c,h},c.{c,h}}", "@/a.c @/c.h"},
        {"descent into matched directories", "@/*/x.c", "@/sub/x.c @/sub2/x.c"},
        {"trailing slash lists directories", "@/sub*/", "@/sub/ @/sub2/"},
        {"a rest below a match must exist", "@/*/y.h", "@/sub/y.h"},
        {"patterns at two levels", "@/sub*/*.c", "@/sub/x.c @/sub2/x.c"},
        {"three levels", "@/*/*/*", "@/sub2/deep/z.c"},
        {"braces below a match need existing names", "@/*/{x,y,w}.c", "@/sub/x.c @/sub2/x.c"},
        {"backslash outside a set is a plain character", "@/a\\*", ""},
        {"nothing found contributes nothing", "@/*.zzz @/a.c", "@/a.c"},
        {"a lone brace is literal", "{ {}", "{ {}"},
        {"empty braces are one empty alternative", "@/a.c{}", "@/a.c"},
        {"no words", "", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(glob(at_root(c.words)), at_root(c.expected)) << c.name;
    EXPECT_EQ(exit_calls, 0);
    char **list = Glob(nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);
    Globfree(list);
}

TEST_F(GlobTest, ErrorsAbandonTheWordAndCallTheExitHook) {
    const std::pair<const char *, char> cases[] = {
        {"@/[ab", ']'}, {"@/*.[c", ']'}, {"@/{a,b", '}'}, {"@/{a,{b}.c", '}'}, {"@/{a,[}]", '}'},
    };
    for (const auto &[word, missing] : cases) {
        exit_calls = 0;
        ASSERT_EQ(ftruncate(log_fd, 0), 0);
        EXPECT_EQ(glob(at_root(std::string(word) + " @/a.c")), at_root("@/a.c")) << word;
        EXPECT_EQ(exit_calls, 1) << word;
        EXPECT_TRUE(logged(std::string("<32> glob: Missing '") + missing + "' in filelist name"))
            << word << ": " << log_text();
    }
}

TEST_F(GlobTest, UnreadableDirectoriesAreLoggedAtTheTopOnly) {
    EXPECT_EQ(glob(at_root("@/nodir/* @/a.c/* relative*")), Names{});
    for (const std::string &m :
         {"<16> glob: opendir of " + root + "/nodir/ failed - errno = 2: No such file or directory",
          "<16> glob: opendir of " + root + "/a.c/ failed - errno = 20: Not a directory",
          std::string("<16> glob: opendir of  failed - errno = 2")})
        EXPECT_TRUE(logged(m)) << m << "\n" << log_text();
    EXPECT_EQ(exit_calls, 0);

    // Below a matched element a directory that cannot be read is skipped
    // silently. As root, reading is denied by running as nobody for a moment.
    make_file("locked/q1");
    std::string locked = root + "/locked";
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0700), 0);
    bool dropped = geteuid() == 0 && seteuid(65534) == 0;
    if (!dropped) {
        ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    }
    ASSERT_EQ(ftruncate(log_fd, 0), 0);
    Names got_locked = glob({root + "/lock*/q*"});
    if (dropped) {
        ASSERT_EQ(seteuid(0), 0);
    }
    ASSERT_EQ(chmod(locked.c_str(), 0755), 0);
    EXPECT_EQ(got_locked, Names{});
    EXPECT_EQ(log_text(), "");
    EXPECT_EQ(glob({root + "/lock*/q*"}), Names{root + "/locked/q1"});
}

TEST_F(GlobTest, Limits) {
    // A name longer than the path buffer, as a literal and as a pattern; a
    // name of exactly the buffer's size is fine.
    const std::string long_name = root + "/" + std::string(GLOB_PATH_MAX, 'n');
    EXPECT_EQ(glob({long_name, long_name + "*", root + "/b.c"}), Names{root + "/b.c"});
    EXPECT_EQ(exit_calls, 2);
    EXPECT_TRUE(logged("<32> glob: filelist name expansion too long"));
    const std::string fits = "/" + std::string(GLOB_PATH_MAX - 1, 'f');
    EXPECT_EQ(glob({fits}), Names{fits});

    // Seven words of 10^4 literal names each: the seventh breaks the name
    // count after 5535 names, which are kept. Names of 8 characters, so that
    // the byte budget is not what ends it.
    const std::string digits = "/{0,1,2,3,4,5,6,7,8,9}";
    const std::string four = digits + digits + digits + digits;
    exit_calls = 0;
    Names got = glob(Names(7, four));
    EXPECT_EQ(got.size(), GLOB_MAX_NAMES);
    EXPECT_EQ(exit_calls, 1);
    EXPECT_EQ(got.front(), "/0/0/0/0");
    EXPECT_EQ(got[10000], "/0/0/0/0");
    EXPECT_EQ(got.back(), "/5/5/3/4");

    // About 1000-byte names: the byte budget ends the word after roughly a
    // thousand of them, keeping all that fit.
    exit_calls = 0;
    got = glob({root + "/" + std::string(990, 'p') + four});
    size_t bytes = 0;
    for (const auto &n : got)
        bytes += n.size() + 1;
    EXPECT_LE(bytes, GLOB_MAX_BYTES);
    EXPECT_GT(bytes + got.front().size() + 1, GLOB_MAX_BYTES);
    EXPECT_EQ(exit_calls, 1);
}

TEST_F(GlobTest, RunawayPatternsEndWithAnError) {
    // Two links back to their own directory make every level branch; the
    // expansion gives up instead of walking 2^14 directories.
    std::string loops = root + "/loops";
    ASSERT_EQ(mkdir(loops.c_str(), 0755), 0);
    ASSERT_EQ(symlink(".", (loops + "/l1").c_str()), 0);
    ASSERT_EQ(symlink(".", (loops + "/l2").c_str()), 0);
    std::string deep = loops;
    for (int i = 0; i < 14; ++i)
        deep += "/*";
    EXPECT_EQ(glob({deep + "/x", root + "/a.c"}), Names{root + "/a.c"});
    EXPECT_EQ(exit_calls, 1);
    // Braces nested deeper than the expander allows.
    exit_calls = 0;
    EXPECT_EQ(glob({root + "/" + std::string(100, '{') + "a.c" + std::string(100, '}')}), Names{});
    EXPECT_EQ(exit_calls, 1);
    // Stars that would backtrack exponentially over a long name.
    make_file(std::string(200, 'a'));
    exit_calls = 0;
    EXPECT_EQ(glob({root + "/*a*a*a*a*a*a*a*a*a*a*a*a*a*b"}), Names{});
    EXPECT_EQ(glob({root + "/*a*a*a*a*a*a*a*a*a*a*a*a*a"}),
              Names{root + "/" + std::string(200, 'a')});
    EXPECT_EQ(exit_calls, 0);
}

TEST_F(GlobTest, MultibyteWordsAreTakenLiterally) {
    const char *saved = setlocale(LC_MESSAGES, nullptr);
    std::string keep = saved != nullptr ? saved : "C";
    // In the C message locale the bytes are single characters: the word is a
    // pattern and finds the Latin-1 named file.
    ASSERT_NE(setlocale(LC_MESSAGES, "C"), nullptr);
    EXPECT_EQ(glob({root + "/\xe9*"}), Names{root + "/\xe9t\xe9"});
    EXPECT_EQ(exit_calls, 0);
    // Under UTF-8 the word holds a multibyte character: literal, and the
    // wildcard in it is reported; a multibyte word without one is not.
    ASSERT_NE(setlocale(LC_MESSAGES, "C.UTF-8"), nullptr);
    for (const std::string &word : {root + "/\xc3\xa9*", root + "/\xc3\xa9t\xc3\xa9"})
        EXPECT_EQ(glob({word}), Names{word});
    EXPECT_EQ(exit_calls, 1);
    EXPECT_TRUE(logged("<32> glob: backup filelist has unsupported wildcards with "
                       "multi-byte characters"));
    setlocale(LC_MESSAGES, keep.c_str());
}

TEST(HasWildcards, BytesAndWideCharacters) {
    const struct {
        const char *word, *locale;
        int expected;
    } cases[] = {
        {"a*", "C", 1},
        {"a?", "C", 1},
        {"[a]", "C", 1},
        {"a\\b", "C", 1},
        {"abc", "C", -1},
        {"a{b,c}", "C", -1}, // braces are not wildcards here
        {"", "C", -1},
        {nullptr, "C", -1},
        {"a*", nullptr, 1},
        {"abc", "POSIX", -1},
        {"\xc3\xa9*", "C.UTF-8", 1},
        {"\xc3\xa9t\xc3\xa9", "C.UTF-8", -1},
        {"\xe9*", "C.UTF-8", -1}, // not valid UTF-8: cannot be converted, counts as none
        {"\xe9*", "C", 1},
        {"a*", "no_such_locale", 1}, // an unknown locale is examined byte-wise
    };
    const char *before = setlocale(LC_CTYPE, nullptr);
    std::string keep = before != nullptr ? before : "C";
    for (const auto &c : cases) {
        EXPECT_EQ(has_wildcards(c.word, c.locale), c.expected)
            << (c.word ? c.word : "(null)") << " in " << (c.locale ? c.locale : "(null)");
        EXPECT_EQ(keep, setlocale(LC_CTYPE, nullptr)) << "character type left changed";
    }
}

} // namespace
