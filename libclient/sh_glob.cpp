// Wildcard expansion of file-name words (Glob) and the wildcard test
// has_wildcards.
//
// The expander keeps one process-wide state, reset by each Glob call: the
// name being built (a path buffer of GLOB_PATH_MAX characters), the names
// found so far with their byte total, where the current sort group starts,
// whether the current word has passed through pattern matching, and whether
// the current word has been abandoned.
//
// A word is expanded like this: the characters up to the first wildcard go to
// the path buffer; the buffer is cut back to the last "/" before the wildcard,
// which leaves the directory to search, and the rest is the pattern. A
// pattern starting with "{" is expanded as text (each alternative in turn is
// expanded as a word of its own); otherwise the directory is read and every
// entry matching the pattern's first element is added, or, when the element
// ends with "/" and the entry is a directory, the rest of the pattern is
// expanded inside it. Once a word has gone through matching, a rest without
// wildcards is added only when such a file exists.
//
// Besides the documented limits (name length, name count, byte total) the
// expander bounds its own work, so that no word can make it run for long or
// blow the stack: a word may hold at most GLOB_WORD_MAX characters and nest
// braces GLOB_BRACE_DEPTH deep, matching one entry against one element may
// take GLOB_MATCH_STEPS steps, and one word may read GLOB_MAX_DIRS directories
// and expand GLOB_MAX_NAMES brace alternatives. Real requests stay far below
// these (the client expands one log-name prefix followed by "*", one directory
// read); breaking one is reported like a name list that grew too long. The
// directory budget is what stops a pattern from walking a tree that links
// back to itself, where every level doubles the work.

#include "sh_glob.h"

#include "logging.h"
#include "tmmsg.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <dirent.h>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

__attribute__((weak)) void Exit() {}

namespace {

constexpr size_t GLOB_WORD_MAX = 4096;
constexpr int GLOB_BRACE_DEPTH = 64;
constexpr unsigned long GLOB_MATCH_STEPS = 1UL << 16;
constexpr unsigned long GLOB_MAX_DIRS = 8192;

constexpr const char *GLOB_TAG = "glob";
constexpr const char *MSG_NO_SPACE = "out of space for name expansion";
constexpr const char *MSG_TOO_LONG = "filelist name expansion too long";
constexpr const char *MSG_NO_BRACKET = "Missing ']' in filelist name";
constexpr const char *MSG_NO_BRACE = "Missing '}' in filelist name";
constexpr const char *MSG_MULTIBYTE =
    "backup filelist has unsupported wildcards with multi-byte characters";

// Result of matching one directory entry against a pattern element.
constexpr int NO_MATCH = 0;
constexpr int MATCHED = 1;      // the entry's name is a result
constexpr int DESCENDED = 2;    // the entry was a directory and the rest was expanded in it
constexpr int MATCH_ABORT = -1; // no later start of the name can match either

struct DirCloser {
    void operator()(DIR *d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

struct GlobState {
    char path[GLOB_PATH_MAX + 1] = {};
    size_t path_len = 0;
    std::vector<char *> names;
    size_t bytes = 0;
    size_t sort_base = 0;
    bool globbed = false;
    bool dotfiles = false; // dot files are matched only by patterns starting with "."
    bool failed = false;   // the current word has been abandoned
    unsigned long dirs_opened = 0;
    unsigned long alternatives = 0;
    unsigned long steps = 0;
};

GlobState gs;

bool is_glob_char(char c) {
    return c == '*' || c == '?' || c == '[' || c == '{';
}

// Reports an expansion error, calls the exit hook and abandons the word.
void fail(const char *message) {
    logmsg(GLOB_LOG_ERROR, message, GLOB_TAG);
    Exit();
    gs.failed = true;
}

void truncate_path(size_t len) {
    gs.path_len = len;
    gs.path[len] = '\0';
}

bool add_to_path(std::string_view s) {
    if (gs.path_len + s.size() > GLOB_PATH_MAX) {
        fail(MSG_TOO_LONG);
        return false;
    }
    memcpy(gs.path + gs.path_len, s.data(), s.size());
    truncate_path(gs.path_len + s.size());
    return true;
}

// Adds the path buffer as a result name.
void add_name() {
    size_t size = gs.path_len + 1;
    if (gs.names.size() + 1 > GLOB_MAX_NAMES || gs.bytes + size > GLOB_MAX_BYTES) {
        fail(MSG_TOO_LONG);
        return;
    }
    gs.names.push_back(nullptr); // may throw; nothing is owned yet
    char *name = static_cast<char *>(malloc(size));
    if (name == nullptr) {
        gs.names.pop_back();
        fail(MSG_NO_SPACE);
        return;
    }
    memcpy(name, gs.path, size);
    gs.names.back() = name;
    gs.bytes += size;
}

void sort_group() {
    if (gs.sort_base < gs.names.size()) {
        std::sort(gs.names.begin() + static_cast<std::ptrdiff_t>(gs.sort_base), gs.names.end(),
                  [](const char *a, const char *b) { return strcmp(a, b) < 0; });
    }
    gs.sort_base = gs.names.size();
}

// Index just past the "]" of the set whose "[" is at open, or npos when the
// set is not closed. A backslash inside a set quotes the next character.
size_t set_end(std::string_view s, size_t open) {
    for (size_t i = open + 1; i < s.size(); ++i) {
        if (s[i] == '\\') {
            ++i;
        } else if (s[i] == ']') {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

// Index of the "}" closing the brace at open, and the positions of the commas
// that separate its alternatives; npos when it is not closed.
size_t brace_end(std::string_view s, size_t open, std::vector<size_t> *commas) {
    int depth = 0;
    for (size_t i = open; i < s.size(); ++i) {
        char c = s[i];
        if (c == '[') {
            size_t e = set_end(s, i);
            if (e == std::string_view::npos) {
                return e;
            }
            i = e - 1;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0) {
                return i;
            }
        } else if (c == ',' && depth == 1 && commas != nullptr) {
            commas->push_back(i);
        }
    }
    return std::string_view::npos;
}

// Checks a whole word before anything is expanded: every set and brace closed,
// braces not nested too deep. Reports the first problem.
bool word_is_well_formed(std::string_view w) {
    int depth = 0;
    for (size_t i = 0; i < w.size(); ++i) {
        char c = w[i];
        if (c == '[') {
            size_t e = set_end(w, i);
            if (e == std::string_view::npos) {
                fail(MSG_NO_BRACKET);
                return false;
            }
            i = e - 1;
        } else if (c == '{') {
            if (++depth > GLOB_BRACE_DEPTH) {
                fail(MSG_TOO_LONG);
                return false;
            }
        } else if (c == '}' && depth > 0) {
            --depth;
        }
    }
    if (depth > 0) {
        fail(MSG_NO_BRACE);
        return false;
    }
    return true;
}

// The alternatives of the brace at the start of s, each joined with the text
// after the closing brace; false (nothing reported) when the brace is not
// closed, which a checked word never has.
bool brace_alternatives(std::string_view s, std::vector<std::string> *out) {
    std::vector<size_t> commas;
    size_t close = brace_end(s, 0, &commas);
    if (close == std::string_view::npos) {
        return false;
    }
    std::string_view rest = s.substr(close + 1);
    size_t start = 1;
    commas.push_back(close);
    for (size_t end : commas) {
        std::string alt(s.substr(start, end - start));
        alt.append(rest);
        out->push_back(std::move(alt));
        start = end + 1;
    }
    return true;
}

void expand(std::string_view s);

bool count_alternative() {
    if (++gs.alternatives > GLOB_MAX_NAMES) {
        fail(MSG_TOO_LONG);
        return false;
    }
    return true;
}

// A pattern element starting with "{": each alternative is expanded as a word
// of its own, in brace order. Outside matching each alternative is its own
// sort group; below a matched directory the names join the word's group.
void expand_braces(std::string_view pattern) {
    std::vector<std::string> alts;
    if (!brace_alternatives(pattern, &alts)) {
        fail(MSG_NO_BRACE);
        return;
    }
    bool globbed = gs.globbed;
    size_t dir_len = gs.path_len;
    if (globbed) {
        // Below a matched element only existing files are results: a
        // directory that does not exist cannot hold any.
        struct stat st;
        if (dir_len > 0 && stat(gs.path, &st) != 0) {
            return;
        }
    }
    for (const std::string &alt : alts) {
        if (gs.failed || !count_alternative()) {
            return;
        }
        gs.globbed = globbed;
        if (!globbed) {
            gs.sort_base = gs.names.size();
        }
        expand(alt);
        truncate_path(dir_len);
        if (!globbed) {
            sort_group();
        }
    }
}

int match_name(const char *name, const char *s, std::string_view p);

// An "{" met while matching an entry: the entry matches when the name from s
// on matches some alternative followed by the rest.
int match_braces(const char *name, const char *s, std::string_view p) {
    std::vector<std::string> alts;
    if (!brace_alternatives(p, &alts)) {
        fail(MSG_NO_BRACE);
        return NO_MATCH;
    }
    bool all_aborted = true;
    for (const std::string &alt : alts) {
        int r = match_name(name, s, alt);
        if (gs.failed) {
            return NO_MATCH;
        }
        if (r > 0) {
            return r;
        }
        if (r == NO_MATCH) {
            all_aborted = false;
        }
    }
    return all_aborted ? MATCH_ABORT : NO_MATCH;
}

// A "/" of the pattern reached at the end of the name: when the entry is a
// directory, the rest of the pattern is expanded inside it (or, with nothing
// after the "/", the directory itself is a result, with its "/").
int descend(const char *name, std::string_view rest) {
    size_t dir_len = gs.path_len;
    struct stat st;
    if (!add_to_path(name)) {
        return NO_MATCH;
    }
    bool is_dir = stat(gs.path, &st) == 0 && S_ISDIR(st.st_mode);
    if (is_dir && add_to_path("/")) {
        if (rest.empty()) {
            add_name();
        } else {
            unsigned long steps = gs.steps;
            expand(rest);
            gs.steps = steps;
        }
    }
    truncate_path(dir_len);
    return is_dir ? DESCENDED : NO_MATCH;
}

// Matches the rest s of the entry name against the rest p of the pattern.
int match_name(const char *name, const char *s, std::string_view p) {
    if (++gs.steps > GLOB_MATCH_STEPS) {
        fail(MSG_TOO_LONG);
        return NO_MATCH;
    }
    size_t i = 0;
    while (i < p.size()) {
        char c = p[i];
        if (*s == '\0' && c != '*' && c != '{' && c != '/') {
            return MATCH_ABORT;
        }
        switch (c) {
        case '{':
            return match_braces(name, s, p.substr(i));
        case '/':
            if (*s != '\0') {
                return NO_MATCH;
            }
            return descend(name, p.substr(i + 1));
        case '*':
            while (i < p.size() && p[i] == '*') {
                ++i;
            }
            if (i == p.size()) {
                return MATCHED; // names hold no "/": the star takes the rest
            }
            for (;;) {
                int r = match_name(name, s, p.substr(i));
                if (r != NO_MATCH || gs.failed) {
                    return gs.failed ? NO_MATCH : r;
                }
                if (*s == '\0') {
                    return MATCH_ABORT;
                }
                ++s;
            }
        case '?':
            ++s;
            ++i;
            break;
        case '[': {
            size_t end = set_end(p, i);
            if (end == std::string_view::npos) {
                fail(MSG_NO_BRACKET);
                return NO_MATCH;
            }
            auto ch = static_cast<unsigned char>(*s);
            size_t j = i + 1;
            bool negate = j < end - 1 && p[j] == '!';
            if (negate) {
                ++j;
            }
            bool matched = false;
            auto member = [&](size_t &k) {
                if (p[k] == '\\' && k + 1 < end - 1) {
                    ++k;
                }
                return static_cast<unsigned char>(p[k++]);
            };
            while (j < end - 1) {
                unsigned char lo = member(j);
                if (j + 1 < end - 1 && p[j] == '-') {
                    ++j;
                    unsigned char hi = member(j);
                    matched = matched || (lo <= ch && ch <= hi);
                } else {
                    matched = matched || ch == lo;
                }
            }
            if (matched == negate) {
                return NO_MATCH;
            }
            ++s;
            i = end;
            break;
        }
        default:
            if (*s != c) {
                return NO_MATCH;
            }
            ++s;
            ++i;
            break;
        }
    }
    return *s == '\0' ? MATCHED : NO_MATCH;
}

// Reads the directory in the path buffer and adds (or descends into) every
// entry matching the pattern's first element.
void match_dir(std::string_view pattern) {
    bool below_match = gs.globbed;
    if (++gs.dirs_opened > GLOB_MAX_DIRS) {
        fail(MSG_TOO_LONG);
        return;
    }
    DirPtr dir(opendir(gs.path));
    if (!dir) {
        if (!below_match) {
            int err = errno;
            char line[GLOB_PATH_MAX + 128];
            snprintf(line, sizeof line, "opendir of %s failed - errno = %d: %s", gs.path, err,
                     strerror(err));
            logmsg(GLOB_LOG_OPENDIR, line, GLOB_TAG);
        }
        return;
    }
    gs.globbed = true;
    size_t dir_len = gs.path_len;
    bool dot_pattern = !pattern.empty() && pattern[0] == '.';
    while (!gs.failed) {
        const struct dirent *ent = readdir(dir.get());
        if (ent == nullptr) {
            break;
        }
        const char *name = ent->d_name;
        if (name[0] == '.' && !dot_pattern && !gs.dotfiles) {
            continue;
        }
        gs.steps = 0;
        if (match_name(name, name, pattern) == MATCHED && !gs.failed) {
            if (add_to_path(name)) {
                add_name();
            }
            truncate_path(dir_len);
        }
    }
}

// Expands s below the directory held in the path buffer.
void expand(std::string_view s) {
    size_t saved = gs.path_len;
    size_t i = 0;
    while (i < s.size() && !is_glob_char(s[i])) {
        ++i;
    }
    if (!add_to_path(s.substr(0, i))) {
        return;
    }
    if (i == s.size()) {
        struct stat st;
        if (!gs.globbed || lstat(gs.path, &st) == 0) {
            add_name();
        }
        truncate_path(saved);
        return;
    }
    size_t cut = i;
    while (cut > 0 && s[cut - 1] != '/') {
        --cut;
    }
    truncate_path(gs.path_len - (i - cut));
    std::string_view pattern = s.substr(cut);
    if (pattern[0] == '{') {
        expand_braces(pattern);
    } else {
        match_dir(pattern);
    }
    truncate_path(saved);
}

// Whether the word holds multibyte characters under the message locale (the
// character-type category is switched to it for the count and restored).
bool holds_multibyte(const char *word, std::string *msg_locale) {
    const char *msg = setlocale(LC_MESSAGES, nullptr);
    *msg_locale = msg != nullptr ? msg : "C";
    const char *cur = setlocale(LC_CTYPE, nullptr);
    std::string saved = cur != nullptr ? cur : "C";
    if (setlocale(LC_CTYPE, msg_locale->c_str()) == nullptr) {
        return false;
    }
    size_t bytes = strlen(word);
    size_t chars = 0;
    mbstate_t state{};
    for (size_t at = 0; at < bytes; ++chars) {
        size_t n = mbrtowc(nullptr, word + at, bytes - at, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
            state = mbstate_t{};
            n = 1; // an invalid byte counts as one character
        }
        at += n;
    }
    setlocale(LC_CTYPE, saved.c_str());
    return chars < bytes;
}

void expand_word(const char *word) {
    std::string_view w(word);
    if (w == "{" || w == "{}") {
        if (add_to_path(w)) {
            add_name();
        }
        return;
    }
    if (w.size() > GLOB_WORD_MAX) {
        fail(MSG_TOO_LONG);
        return;
    }
    std::string msg_locale;
    if (holds_multibyte(word, &msg_locale)) {
        if (has_wildcards(word, msg_locale.c_str()) == 1) {
            logmsg(GLOB_LOG_ERROR, MSG_MULTIBYTE, GLOB_TAG);
            Exit();
        }
        if (add_to_path(w)) {
            add_name();
        }
        return;
    }
    if (!word_is_well_formed(w)) {
        return;
    }
    expand(w);
}

void free_names(std::vector<char *> &names) {
    for (char *n : names) {
        free(n);
    }
    names.clear();
}

} // namespace

char **Glob(const char *const *words) {
    free_names(gs.names);
    gs.bytes = 0;
    gs.sort_base = 0;
    gs.dotfiles = false;
    if (words != nullptr) {
        for (const char *const *w = words; *w != nullptr; ++w) {
            truncate_path(0);
            gs.globbed = false;
            gs.failed = false;
            gs.dirs_opened = 0;
            gs.alternatives = 0;
            gs.sort_base = gs.names.size();
            try {
                expand_word(*w);
            } catch (const std::bad_alloc &) {
                fail(MSG_NO_SPACE);
            }
            sort_group();
        }
    }
    truncate_path(0);
    auto *list = static_cast<char **>(malloc((gs.names.size() + 1) * sizeof(char *)));
    if (list == nullptr) {
        fail(MSG_NO_SPACE);
        free_names(gs.names);
        return nullptr;
    }
    std::copy(gs.names.begin(), gs.names.end(), list);
    list[gs.names.size()] = nullptr;
    gs.names.clear();
    gs.bytes = 0;
    return list;
}

void Globfree(char **names) {
    if (names == nullptr) {
        return;
    }
    for (char **n = names; *n != nullptr; ++n) {
        free(*n);
    }
    free(names);
}

int has_wildcards(const char *word, const char *locale) {
    if (word == nullptr) {
        return -1;
    }
    auto wild = [](wchar_t c) { return c == L'*' || c == L'?' || c == L'[' || c == L'\\'; };
    bool bytewise = locale == nullptr || *locale == '\0' || strcmp(locale, "C") == 0 ||
                    strcmp(locale, "POSIX") == 0;
    std::string saved;
    if (!bytewise) {
        const char *cur = setlocale(LC_CTYPE, nullptr);
        saved = cur != nullptr ? cur : "C";
        if (setlocale(LC_CTYPE, locale) == nullptr) {
            std::string real = common2reallocale(locale);
            bytewise = setlocale(LC_CTYPE, real.c_str()) == nullptr;
        }
    }
    if (bytewise) {
        for (const char *c = word; *c != '\0'; ++c) {
            if (wild(static_cast<unsigned char>(*c))) {
                return 1;
            }
        }
        return -1;
    }
    bool found = false;
    bool convertible = true;
    mbstate_t state{};
    size_t left = strlen(word);
    const char *at = word;
    while (left > 0) {
        wchar_t wc;
        size_t n = mbrtowc(&wc, at, left, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            convertible = false;
            break;
        }
        found = found || wild(wc);
        at += n;
        left -= n;
    }
    setlocale(LC_CTYPE, saved.c_str());
    return convertible && found ? 1 : -1;
}
