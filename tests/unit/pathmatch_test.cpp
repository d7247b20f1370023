// Path matching: element records, the matchers, kppathmatch's depth rules,
// and a randomized comparison with backtracking references (a wrong early
// abort of the stars). The tables hold what the comparison cannot see.
#include <gtest/gtest.h>

#include "kppathmatch.h"

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Strs = std::vector<std::string>;

Strs elements_of(const kp_pathelem &pe) {
    Strs out;
    for (int i = 0; pe.elements[i] != nullptr; ++i) {
        out.emplace_back(pe.elements[i]);
    }
    return out;
}

TEST(KpBuildPe, DepthAndElements) {
    const std::tuple<const char *, char, int, Strs> cases[] = {
        {"a", '/', 2, {"a"}},
        {"/", '/', 1, {}},
        {"", '/', 0, {}},
        {"//a///b//", '/', 3, {"a", "b"}},
        {"usr:lib:x", ':', 4, {"usr", "lib", "x"}},
        {"/usr/lib", ':', 2, {"/usr/lib"}}};
    kp_pathelem pe;
    for (const auto &[text, sep, depth, elements] : cases) {
        ASSERT_EQ(kpbuildpe(text, &pe, sep), 1) << text;
        EXPECT_EQ(std::tuple(pe.depth, pe.separator, elements_of(pe)),
                  std::tuple(depth, sep, elements))
            << text;
    }
    EXPECT_EQ(kpbuildpe(nullptr, &pe, '/') + kpbuildpe("/a", nullptr, '/'), 0);
}

TEST(KpBuildPe, LimitsOfTheRecord) {
    // 300 one-letter elements (600 characters, within the kept text): the
    // last element keeps the rest, the depth counts the whole text.
    std::string path;
    for (int i = 0; i < 300; ++i) {
        path += std::string("/") + static_cast<char>('a' + i % 26);
    }
    kp_pathelem pe;
    ASSERT_EQ(kpbuildpe(path.c_str(), &pe, '/'), 1);
    Strs els = elements_of(pe);
    ASSERT_EQ(els.size(), static_cast<size_t>(KP_PE_MAX_ELEMENTS));
    EXPECT_EQ(std::tuple(els[253], els[254], pe.depth),
              std::tuple(std::string(1, 'a' + 253 % 26), path.substr(2 * 254 + 1), 301));
    // A text beyond the record is cut.
    path = "/" + std::string(2000, 'x');
    ASSERT_EQ(kpbuildpe(path.c_str(), &pe, '/'), 1);
    EXPECT_EQ(strlen(pe.copy), 0u); // the leading separator became a terminator
    EXPECT_EQ(elements_of(pe), Strs{std::string(KP_PE_TEXT_MAX - 1, 'x')});
    EXPECT_EQ(pe.depth, 2);
}

TEST(Matchers, Table) {
    // "text ~ pattern". -1: the star ran through the text, or the text ran out
    // first. Unclosed sets end with the pattern, a backslash before another
    // character is one, ranges are unsigned, an escaped final "/" is a "/".
    using matcher = int (*)(const char *, const char *);
    const std::pair<std::pair<matcher, int>, Strs> groups[] = {
        {{DoMatch, -1},
         {"main.h ~ *.c", "ac ~ a?c", " ~ a",
          std::string(40, 'a') + " ~ *a*a*a*a*a*a*a*a*a*a*a*b"}},
        {{DoMatch, 1},
         {"zeta ~ [!a-m]*", "? ~ \\?", "[ ~ \\[", "] ~ \\]", "\\x ~ \\x", "a\\ ~ a\\", "b ~ [a-c]",
          "- ~ [a-]", "a ~ [abc", "\xe9 ~ [\xe0-\xef]"}},
        {{DoMatch, 0},
         {"alpha ~ [!a-m]*", "a ~ \\*", "** ~ \\*", "x ~ \\x", "a ~ ", "d ~ [a-c]", "ab ~ [abc",
          "\x7f ~ [\xe0-\xef]", "Main.c ~ main.c"}},
        {{path_match, 1}, {"/u/x.c ~ /u/[!a-m]*.c", "/u/x/ ~ /u/*\\/"}},
        {{path_match, 0}, {"a/b ~ a[/]b", "/u/b.c ~ /u/[!a-m]*.c", "/u/x/y ~ /u/*\\/"}},
        {{gmatch, 1}, {"] ~ [\\]]", "- ~ [a\\-z]", "a\\ ~ a\\", "q ~ [!a-m]"}},
        {{gmatch, 0}, {"x ~ [\\]]", "m ~ [a\\-z]"}},
    };
    for (const auto &[key, cases] : groups) {
        for (const std::string &c : cases) {
            const size_t tilde = c.find(" ~ ");
            EXPECT_EQ(key.first(c.substr(0, tilde).c_str(), c.substr(tilde + 3).c_str()),
                      key.second)
                << c;
        }
    }
    for (matcher m : {DoMatch, path_match, gmatch}) {
        EXPECT_EQ(m(nullptr, "*"), 0);
    }
    EXPECT_EQ(DoMatch("a", nullptr), 0);
}

TEST(KpPathMatch, ModesAndDepth) {
    // The paths a pattern matches in a mode and to a depth, and those it
    // does not; a pattern deeper than the path never holds.
    const struct {
        const char *pattern;
        int mode, depth;
        Strs yes, no;
    } cases[] = {
        {"/usr/*", 0, KP_ANY_DEPTH, {"/usr/lib/x"}, {"/usr"}},
        {"/home/*/src", 0, KP_ANY_DEPTH, {"/home/ann/src"}, {"/home/ann"}},
        {"/a/*", 0, 0, {"/a/b"}, {"/a/b/c"}},
        {"/a/*", 0, 1, {"/a/b/c"}, {"/a/b/c/d"}},
        {"/a/*", 3, 1, {"/a/b/c"}, {}},
        {"/", 0, KP_ANY_DEPTH, {"/usr/lib/x"}, {}},
        {"", 0, KP_ANY_DEPTH, {"/usr/lib/x"}, {}},
        {"", 0, 0, {}, {"x"}},
        {"/home/*/src", 1, KP_ANY_DEPTH, {}, {"/home/ann/src/lib"}},
        {"/home/*/src", 1, 0, {"/home/ann/src"}, {}},
        {"/a/*.c", 2, KP_ANY_DEPTH, {"/a/b.c", "/a/b.c/d"}, {}},
        {"/a/*.c", 4, KP_ANY_DEPTH, {}, {"/a/b.c"}},
        {"/a/*.c", -1, KP_ANY_DEPTH, {}, {"/a/b.c"}},
        {"/a/\\*", 0, KP_ANY_DEPTH, {"/a/*"}, {"/a/b"}},
    };
    for (const auto &[pattern, mode, depth, yes, no] : cases) {
        for (const auto &[paths, expected] : {std::pair{&yes, 1}, {&no, 0}}) {
            for (const std::string &path : *paths) {
                EXPECT_EQ(kppathmatch(path.c_str(), nullptr, pattern, nullptr, '/', mode, depth),
                          expected)
                    << path << " ~ " << pattern << " mode " << mode << " depth " << depth;
            }
        }
    }
    EXPECT_EQ(kppathmatch(nullptr, nullptr, "*", nullptr, '/', 0, KP_ANY_DEPTH), 0);
    EXPECT_EQ(kppathmatch("/a", nullptr, nullptr, nullptr, '/', 0, KP_ANY_DEPTH), 0);
}

TEST(KpPathMatch, PrebuiltRecords) {
    kp_pathelem pattern, pe, empty;
    ASSERT_EQ(kpbuildpe("/src/*/lib", &pattern, '/'), 1);
    for (const auto &[path, expected] :
         {std::pair{"/src/a/lib", 1}, {"/src/b/lib/x", 1}, {"/src/a/bin", 0}, {"/src/a", 0}}) {
        ASSERT_EQ(kpbuildpe(path, &pe, '/'), 1);
        // The records decide, not the separator argument.
        for (char sep : {'/', ':'}) {
            EXPECT_EQ(kppathmatch(path, &pe, "/src/*/lib", &pattern, sep, 0, KP_ANY_DEPTH),
                      expected)
                << path << " " << sep;
        }
    }
    // An empty pattern holds only when both records split alike.
    ASSERT_EQ(kpbuildpe("/a", &pe, '/'), 1);
    for (const auto &[sep, expected] : {std::pair{':', 0}, {'/', 1}}) {
        ASSERT_EQ(kpbuildpe("", &empty, sep), 1);
        EXPECT_EQ(kppathmatch("/a", &pe, "", &empty, '/', 0, KP_ANY_DEPTH), expected) << sep;
    }
}

// Randomized patterns of tokens that mean the same in all three matchers, each
// with the text characters it meets ("*" apart), except that in path_match only
// a "/" meets a "/", a star stops at one and a final "/" takes all below it.
const std::pair<std::string, std::string> kTokens[] = {
    {"a", "a"},    {"b", "b"},     {"/", "/"},      {"*", ""},
    {"?", "ab/*"}, {"[ab]", "ab"}, {"[!a]", "b/*"}, {"\\*", "*"}};

bool reference(const std::string &t, size_t ti, const std::vector<int> &p, size_t pi, bool path) {
    if (pi == p.size()) {
        return ti == t.size();
    }
    const auto &[tok, meets] = kTokens[p[pi]];
    if (tok == "*") {
        for (size_t k = ti; k <= t.size(); ++k) {
            if (const bool ok = reference(t, k, p, pi + 1, path); ok || (path && t[k] == '/')) {
                return ok;
            }
        }
        return false;
    }
    if (path && tok == "/" && pi + 1 == p.size()) {
        return ti < t.size() && t[ti] == '/';
    }
    return ti < t.size() && meets.find(t[ti]) != std::string::npos &&
           !(path && t[ti] == '/' && tok != "/") && reference(t, ti + 1, p, pi + 1, path);
}

TEST(Matchers, AgreeWithBacktrackingReference) {
    std::mt19937 rng(20240611);
    for (int iter = 0; iter < 30000; ++iter) {
        std::vector<int> tokens(rng() % 7);
        std::string pattern, text;
        for (auto &tok : tokens) {
            pattern += kTokens[tok = static_cast<int>(rng() % 8)].first;
        }
        for (size_t n = rng() % 8; n > 0; --n) {
            text += "ab/*"[rng() % 4];
        }
        const std::tuple<const char *, int, bool> runs[] = {
            {"DoMatch", DoMatch(text.c_str(), pattern.c_str()) == 1, false},
            {"path_match", path_match(text.c_str(), pattern.c_str()), true},
            {"gmatch", gmatch(text.c_str(), pattern.c_str()), false}};
        for (const auto &[name, got, path] : runs) {
            ASSERT_EQ(got == 1, reference(text, 0, tokens, 0, path))
                << name << ": \"" << text << "\" ~ \"" << pattern << "\" gave " << got;
        }
    }
}

} // namespace
