// Locale names and message formatting: tmgetlocale, tmgetmsg and the two
// mappings between platform locale names and the catalog's common names.

#include "tmmsg_tar.h"

#include "c_owners.h"
#include "cmnutils.h"
#include "tmmsg.h"
#include "tmmsgcache.h"
#include "xkp_root.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

char status_text[TM_STATUS_SIZE];
char r2c_result[TM_STATUS_SIZE];
char c2r_result[TM_ALIAS_PIECE + 1];
char format_buffer[TM_FORMAT_SIZE];
char SystemMsgString[TM_STATUS_SIZE];

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Whether the platform accepts name for the time category; the category is
// left as it was.
bool platform_accepts(const char *name) {
    const char *cur = setlocale(LC_TIME, nullptr);
    std::string saved = cur != nullptr ? cur : "C";
    bool ok = setlocale(LC_TIME, name) != nullptr;
    setlocale(LC_TIME, saved.c_str());
    return ok;
}

// ---- checking that a catalog text takes the arguments of the built-in one ----

enum class Arg { Int, Long, LongLong, Size, IntMax, PtrDiff, Double, LongDouble, Str, WStr, Ptr };

// The argument list a printf format consumes, or false when the format holds
// a conversion this program never uses in messages (%n included) or mixes
// numbered and unnumbered arguments.
bool format_signature(const char *fmt, std::vector<Arg> *sig, bool *numbered_args = nullptr) {
    std::vector<std::pair<int, Arg>> numbered;
    bool any_numbered = false;
    bool any_plain = false;
    auto add = [&](int position, Arg a) {
        if (position > 0) {
            any_numbered = true;
            numbered.emplace_back(position, a);
        } else {
            any_plain = true;
            sig->push_back(a);
        }
    };
    // Reads "N$" at p; returns N (0 when absent) and advances p.
    auto read_position = [](const char *&p) -> int {
        const char *q = p;
        int n = 0;
        while (isdigit(static_cast<unsigned char>(*q)) && n < 10000) {
            n = n * 10 + (*q - '0');
            ++q;
        }
        if (q != p && *q == '$' && n > 0) {
            p = q + 1;
            return n;
        }
        return 0;
    };
    sig->clear();
    for (const char *p = fmt; *p != '\0'; ++p) {
        if (*p != '%') {
            continue;
        }
        ++p;
        if (*p == '%') {
            continue;
        }
        int position = read_position(p);
        while (*p != '\0' && strchr("-+ #0'I", *p) != nullptr) {
            ++p;
        }
        if (*p == '*') {
            ++p;
            add(read_position(p), Arg::Int);
        } else {
            while (isdigit(static_cast<unsigned char>(*p))) {
                ++p;
            }
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                ++p;
                add(read_position(p), Arg::Int);
            } else {
                while (isdigit(static_cast<unsigned char>(*p))) {
                    ++p;
                }
            }
        }
        int longs = 0;
        char size = 0;
        for (;; ++p) {
            if (*p == 'h') {
                size = 'h';
            } else if (*p == 'l') {
                ++longs;
            } else if (*p == 'L' || *p == 'q' || *p == 'j' || *p == 'z' || *p == 'Z' || *p == 't') {
                size = *p;
            } else {
                break;
            }
        }
        Arg a;
        switch (*p) {
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            if (size == 'j') {
                a = Arg::IntMax;
            } else if (size == 'z' || size == 'Z') {
                a = Arg::Size;
            } else if (size == 't') {
                a = Arg::PtrDiff;
            } else if (longs >= 2 || size == 'q' || size == 'L') {
                a = Arg::LongLong;
            } else if (longs == 1) {
                a = Arg::Long;
            } else {
                a = Arg::Int;
            }
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            a = size == 'L' ? Arg::LongDouble : Arg::Double;
            break;
        case 'c':
            a = Arg::Int; // a wint_t is passed as an int as well
            break;
        case 's':
            a = longs > 0 ? Arg::WStr : Arg::Str;
            break;
        case 'p':
            a = Arg::Ptr;
            break;
        case 'm':
            continue; // the error text of errno: no argument
        default:
            return false; // %n, an unknown conversion or a format cut short
        }
        add(position, a);
    }
    if (any_numbered && any_plain) {
        return false;
    }
    if (numbered_args != nullptr) {
        *numbered_args = any_numbered;
    }
    if (any_numbered) {
        size_t count = 0;
        for (const auto &[pos, a] : numbered) {
            count = std::max(count, static_cast<size_t>(pos));
        }
        std::vector<std::optional<Arg>> slots(count);
        for (const auto &[pos, a] : numbered) {
            auto &slot = slots[static_cast<size_t>(pos) - 1];
            if (slot && *slot != a) {
                return false;
            }
            slot = a;
        }
        for (const auto &slot : slots) {
            if (!slot) {
                return false; // an argument no conversion names
            }
            sig->push_back(*slot);
        }
    }
    return true;
}

// A catalog text may replace the built-in format only when it consumes the
// same arguments in the same order: a translated text that asks for other
// arguments would read the stack wrongly.
bool same_arguments(const char *catalog, const char *builtin) {
    std::vector<Arg> a;
    std::vector<Arg> b;
    return format_signature(catalog, &a) && format_signature(builtin, &b) && a == b;
}

// Steps ap over the arguments a format with signature sig consumes.
void skip_args(va_list *ap, const std::vector<Arg> &sig) {
    for (Arg a : sig) {
        switch (a) {
        case Arg::Int:
            (void)va_arg(*ap, int);
            break;
        case Arg::Long:
            (void)va_arg(*ap, long);
            break;
        case Arg::LongLong:
            (void)va_arg(*ap, long long);
            break;
        case Arg::Size:
            (void)va_arg(*ap, size_t);
            break;
        case Arg::IntMax:
            (void)va_arg(*ap, intmax_t);
            break;
        case Arg::PtrDiff:
            (void)va_arg(*ap, ptrdiff_t);
            break;
        case Arg::Double:
            (void)va_arg(*ap, double);
            break;
        case Arg::LongDouble:
            (void)va_arg(*ap, long double);
            break;
        case Arg::Str:
        case Arg::WStr:
        case Arg::Ptr:
            (void)va_arg(*ap, const void *);
            break;
        }
    }
}

// Position of the "%%s" that stands for the system error text in a format,
// walking it conversion by conversion so that "%%%s" is not mistaken for it.
const char *find_error_mark(const char *fmt) {
    for (const char *p = fmt; *p != '\0'; ++p) {
        if (p[0] != '%') {
            continue;
        }
        if (p[1] == '%') {
            if (p[2] == 's') {
                return p;
            }
            ++p;
        }
    }
    return nullptr;
}

std::string vformat(const char *fmt, va_list args) {
    va_list ap;
    va_copy(ap, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = vsnprintf(format_buffer, sizeof format_buffer, fmt, ap);
#pragma GCC diagnostic pop
    va_end(ap);
    return n < 0 ? std::string() : std::string(format_buffer);
}

// Formats a message of the "%%s" mode: the text before the "%%s" and the text
// after it are formatted apart (the arguments of the first part skipped for
// the second), and the system error text goes between them. Formatting the
// whole message and then using the result as a format once more would let a
// "%" arriving through an argument (a file name) be read as a conversion.
std::string format_with_error(const char *fmt, va_list args, const char *errtext) {
    const char *mark = find_error_mark(fmt);
    std::string prefix = mark != nullptr ? std::string(fmt, static_cast<size_t>(mark - fmt)) : "";
    std::vector<Arg> prefix_sig;
    bool numbered = false;
    if (mark != nullptr && format_signature(prefix.c_str(), &prefix_sig, &numbered) && !numbered) {
        std::string result = vformat(prefix.c_str(), args);
        va_list rest;
        va_copy(rest, args);
        skip_args(&rest, prefix_sig);
        result += errtext;
        result += vformat(mark + 3, rest);
        va_end(rest);
        return result;
    }
    // Numbered arguments cannot be split; a format without the mark shows no
    // error text. Only "%%" and "%s" count in the second pass.
    std::string formatted = vformat(fmt, args);
    std::string result;
    bool used = false;
    for (size_t i = 0; i < formatted.size(); ++i) {
        if (formatted[i] == '%' && i + 1 < formatted.size() && formatted[i + 1] == '%') {
            result += '%';
            ++i;
        } else if (formatted[i] == '%' && i + 1 < formatted.size() && formatted[i + 1] == 's' &&
                   !used) {
            result += errtext;
            used = true;
            ++i;
        } else {
            result += formatted[i];
        }
    }
    return result;
}

void format_one(const char *key, const char *locale, size_t size, char *buf, const char *deffmt,
                va_list args) {
    if (size == 0) {
        return;
    }
    const char *fmt = deffmt;
    const char *catalog = getLocalMsgFmt(locale, key);
    if (catalog != nullptr && same_arguments(catalog, deffmt)) {
        fmt = catalog;
    }
    va_list ap;
    va_copy(ap, args);
    if (strstr(deffmt, "%%s") != nullptr) {
        // The first argument is a system error number.
        int err = va_arg(ap, int);
        T_strlcpy(SystemMsgString, strerror(err), sizeof SystemMsgString);
        std::string text = format_with_error(fmt, ap, SystemMsgString);
        T_strlcpy(buf, text.c_str(), size);
    } else {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        if (vsnprintf(buf, size, fmt, ap) < 0) {
            buf[0] = '\0';
        }
#pragma GCC diagnostic pop
    }
    va_end(ap);
}

// Reads the alias file piece by piece; fn returns true to stop.
template <typename Fn> bool each_alias_line(FILE *in, Fn fn) {
    char piece[TM_ALIAS_PIECE + 1];
    while (fgets(piece, sizeof piece, in) != nullptr) {
        TmAliasLine line;
        if (tm_parse_alias(piece, &line) && fn(line)) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string tm_alias_path() {
    return product_path("msg/.conf");
}

bool tm_parse_alias(std::string_view piece, TmAliasLine *out) {
    if (piece.size() > TM_ALIAS_PIECE) {
        piece = piece.substr(0, TM_ALIAS_PIECE);
    }
    if (piece.size() < 4 || piece[0] != 'T' || (piece[1] != 'M' && piece[1] != 'L')) {
        return false;
    }
    const size_t len = piece.size();
    size_t p = 3;
    // Reads "<length> <name>" from p: blanks, a decimal length, the rest of
    // that word, blanks, then exactly length characters.
    auto read_name = [&](std::string_view *name) -> bool {
        while (p < len && is_blank(piece[p])) {
            ++p;
        }
        if (p >= len || !isdigit(static_cast<unsigned char>(piece[p]))) {
            return false;
        }
        size_t n = 0;
        while (p < len && isdigit(static_cast<unsigned char>(piece[p]))) {
            n = n * 10 + static_cast<size_t>(piece[p] - '0');
            if (n > TM_ALIAS_PIECE) {
                return false;
            }
            ++p;
        }
        while (p < len && !is_blank(piece[p])) {
            ++p;
        }
        while (p < len && is_blank(piece[p])) {
            ++p;
        }
        if (n == 0 || p + n > len) {
            return false;
        }
        *name = piece.substr(p, n);
        p += n;
        return true;
    };
    TmAliasLine line;
    line.kind = piece[1];
    if (!read_name(&line.name1)) {
        return false;
    }
    if (line.kind == 'M') {
        ++p; // one character after the first name
        if (!read_name(&line.name2)) {
            return false;
        }
    }
    line.rest = p;
    *out = line;
    return true;
}

int real2commonlocale(const char *real, const char **result) {
    static const char *const failure_format =
        "**WARNING** Locale definition file <%s> not found.  Using defaults";
    const std::string path = tm_alias_path();
    const char *name = real != nullptr ? real : "";
    snprintf(r2c_result, sizeof r2c_result, failure_format, path.c_str());

    FilePtr in(fopen(path.c_str(), "r"));
    if (!in) {
        if (strcmp(name, "C") == 0) {
            T_strlcpy(r2c_result, "C", sizeof r2c_result);
            if (result != nullptr) {
                *result = r2c_result;
            }
            return 0;
        }
        if (result != nullptr) {
            *result = r2c_result;
        }
        return -1;
    }

    std::string wanted;
    if (name[0] == '/') {
        // A composite name ("/C/C/C/C/C/C"): from its first letter, cut off
        // trailing characters that are not letters.
        size_t i = 0;
        while (i < 100 && name[i] != '\0' && !isalpha(static_cast<unsigned char>(name[i]))) {
            ++i;
        }
        if (i < 100 && name[i] != '\0') {
            wanted.assign(name + i, strnlen(name + i, TM_ALIAS_PIECE));
        }
        while (!wanted.empty() && !isalpha(static_cast<unsigned char>(wanted.back()))) {
            wanted.pop_back();
        }
        if (wanted == "C") {
            T_strlcpy(r2c_result, "C", sizeof r2c_result);
            if (result != nullptr) {
                *result = r2c_result;
            }
            return 0;
        }
    } else {
        wanted.assign(name, strnlen(name, TM_ALIAS_PIECE));
    }

    bool found = each_alias_line(in.get(), [&](const TmAliasLine &line) {
        if (line.name1 != wanted) {
            return false;
        }
        std::string_view common = line.kind == 'M' ? line.name2 : line.name1;
        T_strlcpy(r2c_result, std::string(common).c_str(), sizeof r2c_result);
        return true;
    });
    if (!found) {
        snprintf(r2c_result, sizeof r2c_result,
                 "**LOCALE ERROR** locale <%s> not found in file <%s>", name, path.c_str());
    }
    if (result != nullptr) {
        *result = r2c_result;
    }
    return found ? 0 : -1;
}

const char *common2reallocale(const char *common) {
    // An absent or empty name is no locale name at all: the portable default.
    if (common == nullptr || *common == '\0') {
        T_strlcpy(c2r_result, "C", sizeof c2r_result);
        return c2r_result;
    }
    T_strlcpy(c2r_result, common, sizeof c2r_result);
    if (platform_accepts(common)) {
        return c2r_result;
    }
    FilePtr in(fopen(tm_alias_path().c_str(), "r"));
    if (!in) {
        return c2r_result;
    }
    std::string_view wanted(common);
    bool found = each_alias_line(in.get(), [&](const TmAliasLine &line) {
        if (line.kind != 'M' || line.name2 != wanted) {
            return false;
        }
        std::string candidate(line.name1);
        if (!platform_accepts(candidate.c_str())) {
            return false;
        }
        T_strlcpy(c2r_result, candidate.c_str(), sizeof c2r_result);
        return true;
    });
    if (!found) {
        T_strlcpy(c2r_result, "C", sizeof c2r_result);
    }
    return c2r_result;
}

int tmgetlocale(char *lcmsg, char *lctype, char *lctime, char *lccol, char *lcnum,
                const char **status) {
    T_strlcpy(status_text, "tm getlocale Completed Successfully", sizeof status_text);
    char *outputs[] = {lcmsg, lctype, lctime, lccol, lcnum};
    for (char *o : outputs) {
        T_strlcpy(o, "C", TM_NAME_SIZE);
    }
    // An empty value counts as unset, as it does for the platform itself.
    auto env = [](const char *var) -> const char * {
        const char *v = getenv(var);
        return v != nullptr && *v != '\0' ? v : nullptr;
    };

    struct Category {
        int category;
        const char *variable;
        char *output;
    } categories[] = {
        {LC_TIME, "LC_TIME", lctime},
        {LC_COLLATE, "LC_COLLATE", lccol},
        {LC_NUMERIC, "LC_NUMERIC", lcnum},
        {LC_MESSAGES, "LC_MESSAGES", lcmsg},
    };
    for (const Category &c : categories) {
        const char *name = setlocale(c.category, "");
        if (name != nullptr) {
            T_strlcpy(c.output, name, TM_NAME_SIZE);
            continue;
        }
        // The platform refused the environment's name (not installed): keep
        // the name the environment gives, so that the catalog still follows it.
        if (const char *v = env("LC_ALL")) {
            T_strlcpy(c.output, v, TM_NAME_SIZE);
        } else if (const char *w = env(c.variable)) {
            T_strlcpy(c.output, w, TM_NAME_SIZE);
        }
    }
    if (const char *v = env("LC_ALL")) {
        T_strlcpy(lctype, v, TM_NAME_SIZE);
    } else if (const char *w = env("LC_CTYPE")) {
        T_strlcpy(lctype, w, TM_NAME_SIZE);
    }

    int rc = 0;
    char *in_order[] = {lctype, lctime, lccol, lcnum, lcmsg};
    for (char *o : in_order) {
        const char *mapped = nullptr;
        if (real2commonlocale(o, &mapped) == 0) {
            T_strlcpy(o, mapped, TM_NAME_SIZE);
        } else {
            T_strlcpy(status_text, mapped, sizeof status_text);
            T_strlcpy(o, "C", TM_NAME_SIZE);
            rc = -1;
        }
    }
    errno = 0;
    if (status != nullptr) {
        *status = status_text;
    }
    return rc;
}

int tmgetmsg(const char *key, const char *locale, size_t size, char *buf, const char *locale2,
             size_t size2, char *buf2, const char *deffmt, ...) {
    if (locale == nullptr || buf == nullptr) {
        return -1;
    }
    const int saved_errno = errno;
    const char *fmt = deffmt != nullptr ? deffmt : "";
    va_list args;
    va_start(args, deffmt);
    format_one(key, locale, size, buf, fmt, args);
    if (locale2 != nullptr && buf2 != nullptr) {
        format_one(key, locale2, size2, buf2, fmt, args);
    }
    va_end(args);
    errno = saved_errno;
    return 0;
}
