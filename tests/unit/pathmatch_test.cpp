// Path matching: element records, the three matchers, kppathmatch's depth
// rules, and a randomized comparison of the matchers with plain backtracking
// references (which catches a wrong early abort of the stars). The tables
// hold what the comparison cannot see: ranges, unclosed sets, other escapes,
// unsigned bytes, and DoMatch's 0 against -1.
#include <gtest/gtest.h>

#include "kppathmatch.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> elements_of(const kp_pathelem &pe) {
    std::vector<std::string> out;
    for (int i = 0; pe.elements[i] != nullptr; ++i)
        out.emplace_back(pe.elements[i]);
    return out;
}

TEST(KpBuildPe, DepthAndElements) {
    const struct {
        const char *text;
        char sep;
        int depth;
        std::vector<std::string> elements;
    } cases[] = {
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
    kp_pathelem pe;
    EXPECT_EQ(kpbuildpe(nullptr, &pe, '/'), 0);
    EXPECT_EQ(kpbuildpe("/a", nullptr, '/'), 0);
}

TEST(KpBuildPe, LimitsOfTheRecord) {
    // 300 one-letter elements (600 characters, within the kept text): the
    // last element keeps the rest, the depth counts the whole text.
    std::string path, rest;
    for (int i = 0; i < 300; ++i) {
        const std::string name(1, static_cast<char>('a' + i % 26));
        path += "/" + name;
        if (i >= 254)
            rest += (i > 254 ? "/" : "") + name;
    }
    kp_pathelem pe;
    ASSERT_EQ(kpbuildpe(path.c_str(), &pe, '/'), 1);
    auto els = elements_of(pe);
    ASSERT_EQ(els.size(), static_cast<size_t>(KP_PE_MAX_ELEMENTS));
    EXPECT_EQ(els[253], std::string(1, 'a' + 253 % 26));
    EXPECT_EQ(els[254], rest);
    EXPECT_EQ(pe.depth, 301);
    // A text beyond the record is cut.
    path = "/" + std::string(2000, 'x');
    ASSERT_EQ(kpbuildpe(path.c_str(), &pe, '/'), 1);
    EXPECT_EQ(strlen(pe.copy), 0u); // the leading separator became a terminator
    ASSERT_NE(pe.elements[0], nullptr);
    EXPECT_EQ(strlen(pe.elements[0]), KP_PE_TEXT_MAX - 1);
    EXPECT_EQ(pe.depth, 2);
}

TEST(Matchers, Table) {
    using matcher = int (*)(const char *, const char *);
    const struct {
        matcher match;
        const char *text, *pattern;
        int expected;
    } cases[] = {
        {DoMatch, "main.h", "*.c", -1}, // the star ran through the whole text
        {DoMatch, "zeta", "[!a-m]*", 1},
        {DoMatch, "alpha", "[!a-m]*", 0},
        {DoMatch, "a", "\\*", 0},
        {DoMatch, "**", "\\*", 0},
        {DoMatch, "?", "\\?", 1},
        {DoMatch, "[", "\\[", 1},
        {DoMatch, "]", "\\]", 1},
        {DoMatch, "\\x", "\\x", 1}, // a backslash before another character is a backslash
        {DoMatch, "x", "\\x", 0},
        {DoMatch, "a\\", "a\\", 1},
        {DoMatch, "ac", "a?c", -1}, // the text ran out while the pattern needed more
        {DoMatch, "", "a", -1},
        {DoMatch, "a", "", 0},
        {DoMatch, "b", "[a-c]", 1},
        {DoMatch, "d", "[a-c]", 0},
        {DoMatch, "-", "[a-]", 1},
        {DoMatch, "a", "[abc", 1}, // a set without "]" ends at the end of the pattern
        {DoMatch, "ab", "[abc", 0},
        {DoMatch, "\xe9", "[\xe0-\xef]", 1}, // ranges compare bytes as unsigned
        {DoMatch, "\x7f", "[\xe0-\xef]", 0},
        {DoMatch, "Main.c", "main.c", 0},
        {DoMatch, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*a*a*a*a*a*b", -1},
        {DoMatch, nullptr, "*", 0},
        {DoMatch, "a", nullptr, 0},
        {path_match, "a/b", "a[/]b", 0},
        {path_match, "/u/x.c", "/u/[!a-m]*.c", 1},
        {path_match, "/u/b.c", "/u/[!a-m]*.c", 0},
        {path_match, "/u/x/", "/u/*\\/", 1},
        {path_match, "/u/x/y", "/u/*\\/", 0}, // an escaped final "/" is only a "/"
        {path_match, nullptr, "*", 0},
        {gmatch, "]", "[\\]]", 1},
        {gmatch, "x", "[\\]]", 0},
        {gmatch, "-", "[a\\-z]", 1},
        {gmatch, "m", "[a\\-z]", 0},
        {gmatch, "a\\", "a\\", 1},
        {gmatch, "q", "[!a-m]", 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.match(c.text, c.pattern), c.expected)
            << (c.match == DoMatch  ? "DoMatch "
                : c.match == gmatch ? "gmatch "
                                    : "path_match ")
            << (c.text ? c.text : "(null)") << " ~ " << (c.pattern ? c.pattern : "(null)");
}

TEST(KpPathMatch, ModesAndDepth) {
    const struct {
        const char *path, *pattern;
        int mode, depth, expected;
    } cases[] = {
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
        {nullptr, "*", 0, KP_ANY_DEPTH, 0},
        {"/a", nullptr, 0, KP_ANY_DEPTH, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(kppathmatch(c.path, nullptr, c.pattern, nullptr, '/', c.mode, c.depth),
                  c.expected)
            << (c.path ? c.path : "(null)") << " ~ " << (c.pattern ? c.pattern : "(null)")
            << " mode " << c.mode << " depth " << c.depth;
}

TEST(KpPathMatch, PrebuiltRecords) {
    kp_pathelem pattern;
    ASSERT_EQ(kpbuildpe("/src/*/lib", &pattern, '/'), 1);
    for (const auto &[path, expected] :
         {std::pair{"/src/a/lib", 1}, {"/src/b/lib/x", 1}, {"/src/a/bin", 0}, {"/src/a", 0}}) {
        kp_pathelem pe;
        ASSERT_EQ(kpbuildpe(path, &pe, '/'), 1);
        // The records decide, not the separator argument.
        for (char sep : {'/', ':'})
            EXPECT_EQ(kppathmatch(path, &pe, "/src/*/lib", &pattern, sep, 0, KP_ANY_DEPTH),
                      expected)
                << path << " " << sep;
    }
    // An empty pattern holds only when both records split alike.
    kp_pathelem empty, other;
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
    if (f == Flavor::Path && c == '/' && tok != "/")
        return false; // nothing but a "/" meets a "/" in path_match
    if (tok == "?")
        return true;
    if (tok == "[ab]")
        return c == 'a' || c == 'b';
    if (tok == "[!a]")
        return c != 'a';
    if (tok == "\\*")
        return c == '*';
    return tok.size() == 1 && tok[0] == c;
}

bool reference(const std::string &t, size_t ti, const std::vector<std::string> &p, size_t pi,
               Flavor f) {
    if (pi == p.size())
        return ti == t.size();
    const std::string &tok = p[pi];
    if (tok == "*") {
        for (size_t k = ti; k <= t.size(); ++k) {
            if (reference(t, k, p, pi + 1, f))
                return true;
            if (k < t.size() && f == Flavor::Path && t[k] == '/')
                return false;
        }
        return false;
    }
    if (f == Flavor::Path && tok == "/" && pi + 1 == p.size())
        return ti < t.size() && t[ti] == '/'; // a final "/" takes everything below
    if (ti == t.size() || !token_matches_char(tok, t[ti], f))
        return false;
    return reference(t, ti + 1, p, pi + 1, f);
}

TEST(Matchers, AgreeWithBacktrackingReference) {
    std::mt19937 rng(20240611);
    const char text_chars[] = {'a', 'b', '/', '*'};
    int mismatches = 0;
    for (int iter = 0; iter < 30000 && mismatches < 10; ++iter) {
        std::vector<std::string> tokens(rng() % 7);
        std::string pattern, text;
        for (auto &tok : tokens)
            pattern += tok = kTokens[rng() % kTokens.size()];
        for (size_t n = rng() % 8; n > 0; --n)
            text += text_chars[rng() % 4];
        const std::pair<Flavor, int> runs[] = {
            {Flavor::DoMatch, DoMatch(text.c_str(), pattern.c_str()) == 1},
            {Flavor::Path, path_match(text.c_str(), pattern.c_str())},
            {Flavor::G, gmatch(text.c_str(), pattern.c_str())}};
        for (const auto &[flavor, got] : runs) {
            if ((got == 1) != reference(text, 0, tokens, 0, flavor)) {
                ++mismatches;
                ADD_FAILURE() << "flavor " << static_cast<int>(flavor) << ": \"" << text
                              << "\" ~ \"" << pattern << "\" gave " << got;
            }
        }
    }
}

} // namespace
