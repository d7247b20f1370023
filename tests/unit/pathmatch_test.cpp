// Path matching: element records, the three matchers, kppathmatch's depth
// rules, and a randomized comparison of the matchers with plain backtracking
// references (which catches a wrong early abort of the stars).
#include <gtest/gtest.h>

#include "kppathmatch.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> elements_of(const kp_pathelem &pe) {
    std::vector<std::string> out;
    for (int i = 0; pe.elements[i] != nullptr; ++i) {
        out.emplace_back(pe.elements[i]);
    }
    return out;
}

struct SplitCase {
    const char *text;
    char sep;
    int depth;
    std::vector<std::string> elements;
};

TEST(KpBuildPe, DepthAndElements) {
    const SplitCase cases[] = {
        {"/a/b", '/', 3, {"a", "b"}},
        {"a/b", '/', 3, {"a", "b"}},
        {"/a/", '/', 2, {"a"}},
        {"a", '/', 2, {"a"}},
        {"/", '/', 1, {}},
        {"", '/', 0, {}},
        {"//a///b//", '/', 3, {"a", "b"}},
        {"usr:lib:x", ':', 4, {"usr", "lib", "x"}},
        {"/usr/lib", ':', 2, {"/usr/lib"}},
    };
    for (const auto &c : cases) {
        kp_pathelem pe;
        ASSERT_EQ(kpbuildpe(c.text, &pe, c.sep), 1) << c.text;
        EXPECT_EQ(pe.depth, c.depth) << c.text;
        EXPECT_EQ(pe.separator, c.sep) << c.text;
        EXPECT_EQ(elements_of(pe), c.elements) << c.text;
    }
}

TEST(KpBuildPe, AbsentArguments) {
    kp_pathelem pe;
    EXPECT_EQ(kpbuildpe(nullptr, &pe, '/'), 0);
    EXPECT_EQ(kpbuildpe("/a", nullptr, '/'), 0);
}

TEST(KpBuildPe, ElementBeyondTheLastKeepsTheRest) {
    // 300 one-letter elements: 600 characters, within the kept text.
    auto name = [](int i) { return std::string(1, static_cast<char>('a' + i % 26)); };
    std::string path;
    for (int i = 0; i < 300; ++i) {
        path += "/" + name(i);
    }
    kp_pathelem pe;
    ASSERT_EQ(kpbuildpe(path.c_str(), &pe, '/'), 1);
    auto els = elements_of(pe);
    ASSERT_EQ(els.size(), static_cast<size_t>(KP_PE_MAX_ELEMENTS));
    EXPECT_EQ(els[253], name(253));
    std::string rest = name(254);
    for (int i = 255; i < 300; ++i) {
        rest += "/" + name(i);
    }
    EXPECT_EQ(els[254], rest);
    EXPECT_EQ(pe.depth, 301); // counted over the whole text, not only the split part
}

TEST(KpBuildPe, LongTextIsCut) {
    std::string path = "/" + std::string(2000, 'x');
    kp_pathelem pe;
    ASSERT_EQ(kpbuildpe(path.c_str(), &pe, '/'), 1);
    EXPECT_EQ(strlen(pe.copy), 0u); // the leading separator became a terminator
    ASSERT_NE(pe.elements[0], nullptr);
    EXPECT_EQ(strlen(pe.elements[0]), KP_PE_TEXT_MAX - 1);
    EXPECT_EQ(pe.depth, 2);
}

struct MatchCase {
    const char *text;
    const char *pattern;
    int expected;
};

TEST(DoMatch, Table) {
    const MatchCase cases[] = {
        {"main.c", "*.c", 1},
        {"main.h", "*.c", -1}, // the star ran through the whole text
        {"zeta", "[!a-m]*", 1},
        {"alpha", "[!a-m]*", 0},
        {"*", "\\*", 1},
        {"a", "\\*", 0},
        {"**", "\\*", 0},
        {"?", "\\?", 1},
        {"[", "\\[", 1},
        {"]", "\\]", 1},
        {"\\x", "\\x", 1}, // a backslash before another character is a backslash
        {"x", "\\x", 0},
        {"a\\", "a\\", 1},
        {"abc", "a?c", 1},
        {"ac", "a?c", -1}, // the text ran out while the pattern needed more
        {"", "a", -1},
        {"", "*", 1},
        {"", "***", 1},
        {"", "", 1},
        {"a", "", 0},
        {"abc", "a**c", 1},
        {"b", "[a-c]", 1},
        {"d", "[a-c]", 0},
        {"-", "[a-]", 1},
        {"a", "[abc", 1}, // a set without "]" ends at the end of the pattern
        {"ab", "[abc", 0},
        {"\xe9", "[\xe0-\xef]", 1}, // ranges compare bytes as unsigned
        {"\x7f", "[\xe0-\xef]", 0},
        {"Main.c", "main.c", 0},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*a*a*a*a*a*b", -1},
        {"abab", "*ab", 1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(DoMatch(c.text, c.pattern), c.expected) << c.text << " ~ " << c.pattern;
    }
    EXPECT_EQ(DoMatch(nullptr, "*"), 0);
    EXPECT_EQ(DoMatch("a", nullptr), 0);
}

TEST(PathMatch, Table) {
    const MatchCase cases[] = {
        {"/usr/lib", "/usr/*", 1},
        {"/usr/lib/x", "/usr/*", 0}, // a star stays inside one element
        {"/usr/lib/x", "/usr/", 1},  // a trailing "/" takes everything below
        {"/usr/", "/usr/", 1},
        {"/usr", "/usr/", 0},
        {"/a/b", "/a?b", 0},
        {"a/b", "a[/]b", 0},
        {"a*b", "a\\*b", 1},
        {"axb", "a\\*b", 0},
        {"/home/ann/src", "/home/*/src", 1},
        {"/home/ann/src/x", "/home/*/src", 0},
        {"/home/ann/bob/src", "/home/*/src", 0},
        {"/u/x.c", "/u/[!a-m]*.c", 1},
        {"/u/b.c", "/u/[!a-m]*.c", 0},
        {"/u/x/", "/u/*\\/", 1},
        {"/u/x/y", "/u/*\\/", 0}, // an escaped final "/" is only a "/"
        {"", "", 1},
        {"/", "*", 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(path_match(c.text, c.pattern), c.expected) << c.text << " ~ " << c.pattern;
    }
    EXPECT_EQ(path_match(nullptr, "*"), 0);
}

TEST(Gmatch, Table) {
    const MatchCase cases[] = {
        {"a/b/c", "a*c", 1},
        {"a/b", "a?b", 1},
        {"]", "[\\]]", 1},
        {"x", "[\\]]", 0},
        {"-", "[a\\-z]", 1},
        {"m", "[a\\-z]", 0},
        {"a*", "a\\*", 1},
        {"ab", "a\\*", 0},
        {"a\\", "a\\", 1},
        {"q", "[!a-m]", 1},
        {"/usr/lib/libc.so", "/usr/*/*.so", 1},
        {"/usr/lib/libc.so.6", "/usr/*/*.so", 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(gmatch(c.text, c.pattern), c.expected) << c.text << " ~ " << c.pattern;
    }
}

struct PathCase {
    const char *path;
    const char *pattern;
    int mode;
    int depth;
    int expected;
};

TEST(KpPathMatch, ModesAndDepth) {
    const PathCase cases[] = {
        {"/usr", "/usr/*", 0, KP_ANY_DEPTH, 0}, // pattern deeper than the path
        {"/usr/lib/x", "/usr/*", 0, KP_ANY_DEPTH, 1},
        {"/home/ann/src", "/home/*/src", 0, KP_ANY_DEPTH, 1},
        {"/home/ann/src/lib/x.c", "/home/*/src", 0, KP_ANY_DEPTH, 1},
        {"/home/ann", "/home/*/src", 0, KP_ANY_DEPTH, 0},
        {"/home/ann/lib", "/home/*/src", 0, KP_ANY_DEPTH, 0},
        {"/a/b", "/a/*", 0, 0, 1},
        {"/a/b/c", "/a/*", 0, 0, 0},
        {"/a/b/c", "/a/*", 0, 1, 1},
        {"/a/b/c/d", "/a/*", 0, 1, 0},
        {"/a/b/c/d", "/a/*", 0, 2, 1},
        {"/a/b/c", "/a/*", 3, 1, 1},
        {"/usr/lib/x", "/", 0, KP_ANY_DEPTH, 1},
        {"/usr/lib/x", "", 0, KP_ANY_DEPTH, 1},
        {"x", "", 0, 0, 0},
        {"/home/ann/src/lib", "/home/*/src", 1, KP_ANY_DEPTH, 0},
        {"/home/ann/src", "/home/*/src", 1, 0, 1},
        {"/a/b.c", "/a/*.c", 2, KP_ANY_DEPTH, 1},
        {"/a/b.c/d", "/a/*.c", 2, KP_ANY_DEPTH, 1},
        {"/a/b.c", "/a/*.c", 4, KP_ANY_DEPTH, 0},
        {"/a/b.c", "/a/*.c", -1, KP_ANY_DEPTH, 0},
        {"/a/*", "/a/\\*", 0, KP_ANY_DEPTH, 1},
        {"/a/b", "/a/\\*", 0, KP_ANY_DEPTH, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(kppathmatch(c.path, nullptr, c.pattern, nullptr, '/', c.mode, c.depth),
                  c.expected)
            << c.path << " ~ " << c.pattern << " mode " << c.mode << " depth " << c.depth;
    }
    EXPECT_EQ(kppathmatch(nullptr, nullptr, "*", nullptr, '/', 0, KP_ANY_DEPTH), 0);
    EXPECT_EQ(kppathmatch("/a", nullptr, nullptr, nullptr, '/', 0, KP_ANY_DEPTH), 0);
}

TEST(KpPathMatch, PrebuiltRecords) {
    kp_pathelem pattern;
    ASSERT_EQ(kpbuildpe("/src/*/lib", &pattern, '/'), 1);
    const char *paths[] = {"/src/a/lib", "/src/b/lib/x", "/src/a/bin", "/src/a"};
    const int expected[] = {1, 1, 0, 0};
    for (size_t i = 0; i < 4; ++i) {
        kp_pathelem path;
        ASSERT_EQ(kpbuildpe(paths[i], &path, '/'), 1);
        EXPECT_EQ(kppathmatch(paths[i], &path, "/src/*/lib", &pattern, '/', 0, KP_ANY_DEPTH),
                  expected[i])
            << paths[i];
        // The records decide, not the separator argument.
        EXPECT_EQ(kppathmatch(paths[i], &path, "/src/*/lib", &pattern, ':', 0, KP_ANY_DEPTH),
                  expected[i])
            << paths[i];
    }
    // An empty pattern holds only when both records split alike.
    kp_pathelem empty;
    kp_pathelem other;
    ASSERT_EQ(kpbuildpe("", &empty, ':'), 1);
    ASSERT_EQ(kpbuildpe("/a", &other, '/'), 1);
    EXPECT_EQ(kppathmatch("/a", &other, "", &empty, '/', 0, KP_ANY_DEPTH), 0);
    ASSERT_EQ(kpbuildpe("", &empty, '/'), 1);
    EXPECT_EQ(kppathmatch("/a", &other, "", &empty, '/', 0, KP_ANY_DEPTH), 1);
}

// ---- randomized comparison with backtracking references ----
//
// Patterns are built from tokens whose meaning is the same in all three
// matchers except where noted, so a reference can be written per token.

enum class Flavor { DoMatch, Path, G };

const std::vector<std::string> kTokens = {"a", "b", "/", "*", "?", "[ab]", "[!a]", "\\*"};

bool token_matches_char(const std::string &tok, char c, Flavor f) {
    if (f == Flavor::Path && c == '/' && tok != "/") {
        return false; // nothing but a "/" meets a "/" in path_match
    }
    if (tok == "?") {
        return true;
    }
    if (tok == "[ab]") {
        return c == 'a' || c == 'b';
    }
    if (tok == "[!a]") {
        return c != 'a';
    }
    if (tok == "\\*") {
        return c == '*';
    }
    return tok.size() == 1 && tok[0] == c;
}

bool reference(const std::string &t, size_t ti, const std::vector<std::string> &p, size_t pi,
               Flavor f) {
    if (pi == p.size()) {
        return ti == t.size();
    }
    const std::string &tok = p[pi];
    if (tok == "*") {
        for (size_t k = ti; k <= t.size(); ++k) {
            if (reference(t, k, p, pi + 1, f)) {
                return true;
            }
            if (k < t.size() && f == Flavor::Path && t[k] == '/') {
                return false;
            }
        }
        return false;
    }
    if (f == Flavor::Path && tok == "/" && pi + 1 == p.size()) {
        return ti < t.size() && t[ti] == '/';
    }
    if (ti == t.size() || !token_matches_char(tok, t[ti], f)) {
        return false;
    }
    return reference(t, ti + 1, p, pi + 1, f);
}

TEST(Matchers, AgreeWithBacktrackingReference) {
    std::mt19937 rng(20240611);
    const char text_chars[] = {'a', 'b', '/', '*'};
    int mismatches = 0;
    for (int iter = 0; iter < 30000 && mismatches < 10; ++iter) {
        std::vector<std::string> tokens(rng() % 7);
        std::string pattern;
        for (auto &tok : tokens) {
            tok = kTokens[rng() % kTokens.size()];
            pattern += tok;
        }
        std::string text;
        for (size_t n = rng() % 8; n > 0; --n) {
            text += text_chars[rng() % 4];
        }
        struct {
            Flavor f;
            int got;
        } runs[] = {{Flavor::DoMatch, DoMatch(text.c_str(), pattern.c_str()) == 1},
                    {Flavor::Path, path_match(text.c_str(), pattern.c_str())},
                    {Flavor::G, gmatch(text.c_str(), pattern.c_str())}};
        for (const auto &r : runs) {
            bool want = reference(text, 0, tokens, 0, r.f);
            if ((r.got == 1) != want) {
                ++mismatches;
                ADD_FAILURE() << "flavor " << static_cast<int>(r.f) << ": \"" << text << "\" ~ \""
                              << pattern << "\" gave " << r.got;
            }
        }
    }
}

} // namespace
