// The call sites and the catalog agree: every message or label key written
// in the client's sources is a known key of the C catalog, and the built-in
// text of every key the sources use appears in them as a string literal, so
// a call site whose default drifted from the catalog is caught.

#include <gtest/gtest.h>

#include "msgdefaults.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Decodes the escapes of a C string literal's body.
std::string unescape(const std::string &body) {
    static const std::map<char, char> named = {{'n', '\n'}, {'t', '\t'}, {'r', '\r'}, {'0', '\0'}};
    std::string out;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\' || i + 1 >= body.size()) {
            out += body[i];
            continue;
        }
        const char c = body[++i];
        const auto it = named.find(c);
        out += it != named.end() ? it->second : c; // \\ \" \' and the rest stand for themselves
    }
    return out;
}

// The string literals of a C++ source, adjacent literals joined as the
// compiler joins them; comments and character literals skipped.
std::vector<std::string> literals(const std::string &src) {
    std::vector<std::string> out;
    bool joinable = false; // the last token was a string literal
    auto add = [&](const std::string &body) {
        if (joinable) {
            out.back() += body;
        } else {
            out.push_back(body);
        }
        joinable = true;
    };
    size_t i = 0;
    const size_t n = src.size();
    while (i < n) {
        const char c = src[i];
        const char next = i + 1 < n ? src[i + 1] : '\0';
        if (c == '/' && next == '/') {
            i = std::min(src.find('\n', i), n);
        } else if (c == '/' && next == '*') {
            const size_t end = src.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
        } else if (isspace(static_cast<unsigned char>(c)) || (c == '\\' && next == '\n')) {
            ++i;
        } else if (c == '\'') {
            for (++i; i < n && src[i] != '\''; i += src[i] == '\\' ? 2 : 1) {
            }
            ++i;
            joinable = false;
        } else if (c == 'R' && next == '"') {
            const size_t open = src.find('(', i);
            const std::string delim = ")" + src.substr(i + 2, open - i - 2) + "\"";
            const size_t end = src.find(delim, open);
            add(src.substr(open + 1, end - open - 1));
            i = end == std::string::npos ? n : end + delim.size();
        } else if (c == '"') {
            size_t j = i + 1;
            while (j < n && src[j] != '"') {
                j += src[j] == '\\' ? 2 : 1;
            }
            add(unescape(src.substr(i + 1, j - i - 1)));
            i = j + 1;
        } else {
            joinable = false;
            ++i;
        }
    }
    return out;
}

// "Cer" or "Gui", three letters, four digits, "N": a key of the client's catalog.
bool is_key(const std::string &s) {
    if (s.size() != 11 || (s.compare(0, 3, "Cer") != 0 && s.compare(0, 3, "Gui") != 0) ||
        s[10] != 'N') {
        return false;
    }
    for (size_t i = 3; i < 10; ++i) {
        if (!(i < 6 ? isalpha(static_cast<unsigned char>(s[i]))
                    : isdigit(static_cast<unsigned char>(s[i])))) {
            return false;
        }
    }
    return true;
}

struct Sources {
    std::set<std::string> texts;                            // every literal
    std::map<std::string, std::set<std::string>> key_files; // key -> files using it
};

Sources scan_sources() {
    Sources s;
    const char *root = getenv("XKP_SOURCE_DIR");
    if (root == nullptr) {
        return s;
    }
    for (const char *dir : {"clientx", "libui", "libclient", "sorvane"}) {
        fs::path base = fs::path(root) / dir;
        if (!fs::exists(base)) {
            continue;
        }
        for (const auto &entry : fs::recursive_directory_iterator(base)) {
            std::string ext = entry.path().extension();
            // The defaults table itself is what the call sites are compared with.
            if ((ext != ".cpp" && ext != ".h") || entry.path().filename() == "msgdefaults.cpp") {
                continue;
            }
            std::ifstream in(entry.path());
            std::stringstream buf;
            buf << in.rdbuf();
            for (std::string &lit : literals(buf.str())) {
                if (is_key(lit)) {
                    s.key_files[lit].insert(entry.path().lexically_relative(root).string());
                }
                s.texts.insert(std::move(lit));
            }
        }
    }
    return s;
}

} // namespace

TEST(SourceLiterals, Lexer) {
    std::string src = "f(\"a\" \"b\\n\", 'x', \"\\\"q\\\\\"); // \"comment\"\n"
                      "/* \"block\" */ #define T \"one \" \\\n  \"two\"\n"
                      "auto r = R\"(raw \"x\")\";";
    std::vector<std::string> want = {"ab\n", "\"q\\", "one two", "raw \"x\""};
    EXPECT_EQ(literals(src), want);
}

TEST(CatalogCallSites, KeysInTheSourcesAreKnownAndTheirTextsMatch) {
    ASSERT_NE(getenv("XKP_SOURCE_DIR"), nullptr);
    Sources s = scan_sources();
    EXPECT_GE(s.key_files.size(), 4u) << "the scan found no keys in the sources";
    for (const auto &[key, files] : s.key_files) {
        const char *text = default_message(key.c_str());
        const LabelDefault *label = default_label(key.c_str());
        if (text == nullptr && label == nullptr) {
            ADD_FAILURE() << key << " (used in " << *files.begin() << ") is not a catalog key";
            continue;
        }
        std::string want = text != nullptr ? text : label->label;
        EXPECT_TRUE(s.texts.count(want))
            << key << " is used in " << *files.begin()
            << " but its built-in text appears nowhere in the sources: \"" << want << "\"";
    }
}
