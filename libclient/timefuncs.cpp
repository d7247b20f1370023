// Date and time conversion by the locale's date definition: formatting a time
// value into the text the lists show, parsing what the user types back into a
// time value, and the local-time search behind both.

#include "timefuncs.h"

#include "c_owners.h"
#include "cmnutils.h"
#include "tmmsg.h"
#include "tmmsg_tar.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>

char amstr[TF_AMPM_SIZE] = "AM";
char pmstr[TF_AMPM_SIZE] = "PM";

namespace {

constexpr size_t FORMAT_SIZE = 50; // a time or date format (49 characters)
constexpr size_t HALF_SIZE = 31;   // a formatted half (30 characters)
constexpr size_t CATALOG_WORD_SIZE = 31;
constexpr int MAX_PIECES = 11;

// The definition cache: the last locale looked up and its definition.
bool def_cached = false;
char cached_def[TF_DEF_SIZE];
char cached_locale[TF_LOCALE_MAX + 1];
char *def_save = nullptr; // tokenizer position of getdef/getdef_next

// The locale whose AM/PM words are loaded.
bool ampm_loaded = false;
char ampm_locale[TF_LOCALE_MAX + 1];

// The field cursor of getdef_sep: the format, the position of the next field
// and the length of the code found there (0: not yet searched). The length
// is remembered because cutting the previous field may have overwritten the
// character before the code that validdef would look at.
char *fs_format = nullptr;
size_t fs_pos = 0;
int fs_next_len = 0;

char date_result[TF_DATE_SIZE];

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool fits_cache(const char *locale) {
    return strnlen(locale, TF_LOCALE_MAX + 1) <= TF_LOCALE_MAX;
}

// Builds the definition of locale from the alias file into out (TF_DEF_SIZE
// bytes), or leaves the built-in one there.
void load_definition(const char *locale, char *out) {
    T_strlcpy(out, TF_BUILTIN_DEF, TF_DEF_SIZE);
    if (*locale == '\0') {
        return;
    }
    FilePtr in(fopen(tm_alias_path().c_str(), "r"));
    if (!in) {
        return;
    }
    std::string target = locale;
    bool redirected = false;
    char piece[TM_ALIAS_PIECE + 1];
    while (fgets(piece, sizeof piece, in.get()) != nullptr) {
        TmAliasLine line;
        if (!tm_parse_alias(piece, &line) || line.name1 != target) {
            continue;
        }
        if (line.kind == 'M') {
            // A locale may borrow another's definition, but only once: a
            // second redirection (a chain or a loop) gives the built-in one.
            if (redirected) {
                return;
            }
            redirected = true;
            target = std::string(line.name2);
            rewind(in.get());
            continue;
        }
        char rest[TM_ALIAS_PIECE + 1];
        T_strlcpy(rest, piece + line.rest, sizeof rest);
        char *datefmt = nullptr;
        char *timefmt = eodf(rest, &datefmt);
        if (timefmt == nullptr) {
            // A "TL" line that only names the locale (or whose formats are
            // incomplete) gives the locale no definition of its own.
            return;
        }
        T_strlcpy(out, target.c_str(), TF_DEF_SIZE);
        T_strlcat(out, " ", TF_DEF_SIZE);
        T_strlcat(out, timefmt, TF_DEF_SIZE);
        T_strlcat(out, " ^ ", TF_DEF_SIZE);
        T_strlcat(out, datefmt, TF_DEF_SIZE);
        T_strlcat(out, " ^\n", TF_DEF_SIZE);
        return;
    }
}

// The time and date formats of locale, each cut to 49 characters.
void load_formats(const char *locale, char *timefmt, char *datefmt) {
    char def[TF_DEF_SIZE];
    getdef(def, locale);
    const char *t = getdef_next();
    const char *d = getdef_next();
    T_strlcpy(timefmt, t != nullptr ? t : "", FORMAT_SIZE);
    T_strlcpy(datefmt, d != nullptr ? d : "", FORMAT_SIZE);
}

// Appends value zero-padded to width digits ("%02d", "%04d"), bounded to a
// half. Written out by hand: every row of a file list formats a date, and
// snprintf was most of that cost.
void append_number(char *out, int width, int value) {
    char num[16];
    char *p = num + sizeof num;
    *--p = '\0';
    const bool negative = value < 0;
    unsigned v = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    int digits = 0;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
        ++digits;
    } while (v != 0);
    while (digits < width - (negative ? 1 : 0)) {
        *--p = '0';
        ++digits;
    }
    if (negative) {
        *--p = '-';
    }
    T_strlcat(out, p, HALF_SIZE);
}

// ---- parsing ----

// The broken-down date being parsed.
struct Fields {
    long year = 0;
    bool have_year = false;
    long month = 0;
    long day = 0;
    long hour = 0;
    long minute = 0;
    long second = 0;
    bool twelve = false; // an "HH" field was read
};

// A strtok-like walk over the parser's own copy of the text: pieces are runs
// of characters outside the delimiter set; the delimiter ending a piece is
// overwritten with a terminator.
struct Scanner {
    char *text;
    size_t len;
    size_t pos = 0;

    // The next piece, or null when only delimiters are left. *end is the
    // delimiter that closed the piece ('\0' for the end of the text); the
    // text after that delimiter starts at pos.
    char *next(const char *delims, char *end) {
        while (pos < len && strchr(delims, text[pos]) != nullptr) {
            ++pos;
        }
        *end = '\0';
        if (pos >= len) {
            return nullptr;
        }
        char *piece = text + pos;
        while (pos < len && strchr(delims, text[pos]) == nullptr) {
            ++pos;
        }
        if (pos < len) {
            *end = text[pos];
            text[pos++] = '\0';
        }
        return piece;
    }

    bool rest_is_blank() const {
        for (size_t i = pos; i < len; ++i) {
            if (!is_blank(text[i])) {
                return false;
            }
        }
        return true;
    }
};

// The next piece of a field whose format separator is sep: the piece ends at
// a character of the separator only, so a blank typed inside a date
// ("12 /01/2026") is part of its piece. The last field of a half has no
// separator; its piece ends at a blank, the one between the date and the
// time, and *half_over is set when such a blank ended it.
char *next_piece(Scanner *sc, const char *sep, char *end, bool *half_over) {
    char delims[TF_SEP_SIZE + 2];
    T_strlcpy(delims, *sep != '\0' ? sep : " \t", sizeof delims);
    char *piece = sc->next(delims, end);
    *half_over = piece != nullptr && *end != '\0' && strchr(sep, *end) == nullptr;
    return piece;
}

// A separator of two or more characters must be typed whole: the text after
// the separator character that ended the piece must repeat the rest of the separator
// (without a final blank when strip_blank is set).
bool separator_follows(const Scanner &sc, char end, const char *sep, bool strip_blank) {
    if (end == '\0' || strchr(sep, end) == nullptr || strlen(sep) < 2) {
        return true;
    }
    std::string rest(sep + 1);
    if (strip_blank && !rest.empty() && rest.back() == ' ') {
        rest.pop_back();
    }
    if (sc.pos + rest.size() > sc.len) {
        return false;
    }
    return memcmp(sc.text + sc.pos, rest.data(), rest.size()) == 0;
}

bool word_equals(const char *word, size_t n, const char *ampm) {
    return *ampm != '\0' && strlen(ampm) == n && strncasecmp(word, ampm, n) == 0;
}

// Applies an AM/PM word (n characters at word). Returns 0 when it is not
// one, 1 when it was applied, -1 when the text is invalid (a word without an
// "HH" field). Only hours 0-11 move to the afternoon and only 12 to
// midnight; anything else is left for the range check to reject.
int apply_ampm(const char *word, size_t n, Fields *f) {
    if (n == 0) {
        return 0;
    }
    const bool pm = word_equals(word, n, pmstr);
    const bool am = !pm && word_equals(word, n, amstr);
    if (!pm && !am) {
        return 0;
    }
    if (!f->twelve) {
        return -1;
    }
    if (pm && f->hour >= 0 && f->hour < 12) {
        f->hour += 12;
    } else if (am && f->hour == 12) {
        f->hour = 0;
    }
    return 1;
}

// apply_ampm on text with surrounding blanks ignored.
int apply_ampm_trimmed(const char *text, Fields *f) {
    while (is_blank(*text)) {
        ++text;
    }
    size_t n = strlen(text);
    while (n > 0 && is_blank(text[n - 1])) {
        --n;
    }
    return apply_ampm(text, n, f);
}

// Reads the leading decimal number of a piece as strtol does (0 when there
// is none), clamped to the int range; *tail is set after the number.
long leading_number(const char *piece, const char **tail) {
    char *end = nullptr;
    errno = 0;
    long v = strtol(piece, &end, 10);
    *tail = end;
    if (v > INT_MAX) {
        v = INT_MAX;
    } else if (v < INT_MIN) {
        v = INT_MIN;
    }
    return v;
}

void assign(const char *code, long v, Fields *f) {
    if (strcmp(code, "dd") == 0) {
        f->day = v;
    } else if (strcmp(code, "mm") == 0) {
        f->month = v;
    } else if (strcmp(code, "yy") == 0 || strcmp(code, "yyyy") == 0) {
        f->year = v;
        f->have_year = true;
    } else if (strcmp(code, "hh") == 0) {
        f->hour = v;
    } else if (strcmp(code, "HH") == 0) {
        f->hour = v;
        f->twelve = true;
    } else if (strcmp(code, "mn") == 0) {
        f->minute = v;
    } else if (strcmp(code, "ss") == 0) {
        f->second = v;
    }
}

// Reads one half (the fields of fmt) from the scanner. Returns false when
// the text is invalid.
bool parse_half(char *fmt, bool first_half, Scanner *sc, Fields *f, int *pieces) {
    char sep[TF_SEP_SIZE];
    char *field = getdef_sep(fmt, sep);
    if (field == nullptr) {
        return true;
    }
    char end = '\0';
    bool half_over = false;
    char *piece = next_piece(sc, sep, &end, &half_over);
    // The very first separator of the text is checked in full; later ones
    // may drop a final blank.
    if (piece != nullptr && !separator_follows(*sc, end, sep, !first_half)) {
        return false;
    }
    for (int i = 0; i < 3 && field != nullptr && piece != nullptr; ++i) {
        ++*pieces;
        const char *tail = nullptr;
        assign(field, leading_number(piece, &tail), f);
        // An AM/PM word typed right after the number ("2:30PM") belongs to
        // the same piece.
        const int inside = apply_ampm_trimmed(tail, f);
        if (inside < 0) {
            return false;
        }
        *pieces += inside;
        if (i == 2 || half_over) {
            break;
        }
        field = getdef_sep(nullptr, sep);
        if (field == nullptr) {
            break;
        }
        piece = next_piece(sc, sep, &end, &half_over);
        if (piece != nullptr && !separator_follows(*sc, end, sep, true)) {
            return false;
        }
        if (piece != nullptr) {
            const int word = apply_ampm_trimmed(piece, f);
            if (word < 0) {
                return false;
            }
            if (word > 0) {
                ++*pieces;
                if (half_over) {
                    break;
                }
                piece = next_piece(sc, sep, &end, &half_over);
            }
        }
    }
    // A word may also follow the last field of the half ("02:30:00 PM").
    size_t p = sc->pos;
    while (p < sc->len && is_blank(sc->text[p])) {
        ++p;
    }
    size_t e = p;
    while (e < sc->len && !is_blank(sc->text[e]) && sc->text[e] != '\0') {
        ++e;
    }
    const int word = apply_ampm(sc->text + p, e - p, f);
    if (word < 0) {
        return false;
    }
    if (word > 0) {
        ++*pieces;
        sc->pos = e;
    }
    return true;
}

int current_local_year() {
    time_t now = time(nullptr);
    struct tm lt;
    if (localtime_r(&now, &lt) == nullptr) {
        return 70;
    }
    return lt.tm_year + 1900;
}

// The time value of a checked date, capped.
int32_t value_of(int year, int month, int day, int hour, int minute, int second) {
    struct tm want = {};
    want.tm_year = year - 1900;
    want.tm_mon = month - 1;
    want.tm_mday = day;
    want.tm_hour = hour;
    want.tm_min = minute;
    want.tm_sec = second;
    const int32_t v = unctime(&want);
    return (v < 0 || v > TF_CAP) ? TF_CAP : v;
}

} // namespace

// ---- the definition ----

int validdef(const char *fmt, size_t pos) {
    if (fmt == nullptr) {
        return 0;
    }
    const char *p = fmt + pos;
    if (p[0] == '\0' || p[1] == '\0') {
        return 0;
    }
    static const char *const two[] = {"HH", "dd", "hh", "mm", "mn", "ss"};
    for (const char *code : two) {
        if (p[0] == code[0] && p[1] == code[1]) {
            return 2;
        }
    }
    if (p[0] != 'y' || p[1] != 'y' || (pos > 0 && fmt[pos - 1] == 'y')) {
        return 0;
    }
    if (p[2] != 'y') {
        return 2;
    }
    // Exactly four: "yyy" and "yyyyy" are no codes.
    return (p[3] == 'y' && p[4] != 'y') ? 4 : 0;
}

char *eodf(char *rest, char **datefmt) {
    if (rest == nullptr || datefmt == nullptr) {
        return nullptr;
    }
    const size_t len = strlen(rest);
    // Finds three field codes from *p; returns the start of the first and
    // sets *last and *last_len to the third.
    auto three_codes = [&](size_t *p, size_t *last, int *last_len) -> long {
        long first = -1;
        int count = 0;
        while (*p < len && count < 3) {
            const int n = validdef(rest, *p);
            if (n == 0) {
                ++*p;
                continue;
            }
            if (first < 0) {
                first = static_cast<long>(*p);
            }
            *last = *p;
            *last_len = n;
            *p += static_cast<size_t>(n);
            ++count;
        }
        return count == 3 ? first : -1;
    };
    size_t p = 0;
    size_t last = 0;
    int last_len = 0;
    const long tstart_l = three_codes(&p, &last, &last_len);
    if (tstart_l < 0) {
        return nullptr;
    }
    size_t tstart = static_cast<size_t>(tstart_l);
    // The time format ends two characters after the start of its third code.
    size_t tend = last + 2;
    p = tend;
    const long dstart_l = three_codes(&p, &last, &last_len);
    if (dstart_l < 0) {
        return nullptr;
    }
    const size_t dstart = static_cast<size_t>(dstart_l);
    size_t dend = last + static_cast<size_t>(last_len);
    while (dend < len && !is_blank(rest[dend])) {
        ++dend;
    }
    rest[dend] = '\0';
    if (dstart == tend) {
        // The date format follows the time format without a blank: move the
        // time format one place to the left to make room for its terminator.
        if (tstart == 0) {
            return nullptr;
        }
        memmove(rest + tstart - 1, rest + tstart, tend - tstart);
        --tstart;
        --tend;
    }
    rest[tend] = '\0';
    *datefmt = rest + dstart;
    return rest + tstart;
}

char *getdef(char *buf, const char *locale) {
    const char *loc = locale != nullptr ? locale : "";
    const bool cacheable = fits_cache(loc);
    if (!def_cached || !cacheable || strcmp(loc, cached_locale) != 0) {
        load_definition(loc, cached_def);
        def_cached = cacheable;
        T_strlcpy(cached_locale, cacheable ? loc : "", sizeof cached_locale);
    }
    def_save = nullptr;
    if (buf == nullptr) {
        return nullptr;
    }
    T_strlcpy(buf, cached_def, TF_DEF_SIZE);
    return strtok_r(buf, " ", &def_save);
}

char *getdef_next() {
    if (def_save == nullptr) {
        return nullptr;
    }
    char *token = strtok_r(nullptr, "^\n", &def_save);
    if (token == nullptr) {
        def_save = nullptr;
    }
    return token;
}

char *getdef_sep(char *fmt, char *sep) {
    if (sep != nullptr) {
        sep[0] = '\0';
    }
    if (fmt != nullptr) {
        fs_format = fmt;
        fs_pos = 0;
        fs_next_len = 0;
    }
    if (fs_format == nullptr) {
        return nullptr;
    }
    size_t pos = fs_pos;
    int n = fs_next_len;
    if (n == 0) {
        while (fs_format[pos] != '\0' && (n = validdef(fs_format, pos)) == 0) {
            ++pos;
        }
        if (fs_format[pos] == '\0') {
            fs_format = nullptr;
            return nullptr;
        }
    }
    char *field = fs_format + pos;
    pos += static_cast<size_t>(n);
    // Codes that follow without a separator make one (unknown) field.
    while ((n = validdef(fs_format, pos)) != 0) {
        pos += static_cast<size_t>(n);
    }
    const size_t end = pos;
    if (fs_format[end] == '\0') {
        fs_pos = end;
        fs_next_len = 0;
        return field;
    }
    size_t next = end;
    n = 0;
    while (fs_format[next] != '\0' && (n = validdef(fs_format, next)) == 0) {
        ++next;
    }
    if (sep != nullptr) {
        const size_t seplen = std::min<size_t>(next - end, TF_SEP_SIZE - 1);
        memcpy(sep, fs_format + end, seplen);
        sep[seplen] = '\0';
    }
    fs_format[end] = '\0';
    fs_pos = next;
    fs_next_len = n;
    return field;
}

// ---- formatting ----

void dodate(char *fmt, char *out, const struct tm *tm) {
    out[0] = '\0';
    if (fmt == nullptr || tm == nullptr) {
        return;
    }
    char sep[TF_SEP_SIZE];
    char *field = getdef_sep(fmt, sep);
    for (int i = 0; i < 3 && field != nullptr; ++i) {
        const int year = tm->tm_year + 1900;
        if (strcmp(field, "mm") == 0) {
            append_number(out, 2, tm->tm_mon + 1);
        } else if (strcmp(field, "dd") == 0) {
            append_number(out, 2, tm->tm_mday);
        } else if (strcmp(field, "yy") == 0) {
            append_number(out, 2, ((year % 100) + 100) % 100);
        } else if (strcmp(field, "yyyy") == 0) {
            append_number(out, 4, year);
        }
        if (i == 2) {
            size_t n = strlen(sep);
            while (n > 0 && sep[n - 1] == ' ') {
                sep[--n] = '\0';
            }
        }
        T_strlcat(out, sep, HALF_SIZE);
        if (i < 2) {
            field = getdef_sep(nullptr, sep);
        }
    }
}

void dotime(char *fmt, char *out, const struct tm *tm, int noseconds, int twelvehour) {
    out[0] = '\0';
    if (fmt == nullptr || tm == nullptr) {
        return;
    }
    const char *mark = nullptr;
    char sep[TF_SEP_SIZE];
    char *field = getdef_sep(fmt, sep);
    for (int i = 0; i < 3 && field != nullptr; ++i) {
        bool drop_sep = false;
        if (strcmp(field, "hh") == 0) {
            append_number(out, 2, tm->tm_hour);
        } else if (strcmp(field, "HH") == 0) {
            if (twelvehour) {
                const int h = tm->tm_hour % 12;
                append_number(out, 2, h == 0 ? 12 : h);
                mark = tm->tm_hour < 12 ? amstr : pmstr;
            } else {
                // Without the 12-hour form an "HH" field shows the 24-hour clock.
                append_number(out, 2, tm->tm_hour);
            }
        } else if (strcmp(field, "mn") == 0) {
            append_number(out, 2, tm->tm_min);
            drop_sep = noseconds != 0;
        } else if (strcmp(field, "ss") == 0) {
            if (!noseconds) {
                append_number(out, 2, tm->tm_sec);
            }
            drop_sep = noseconds != 0;
        }
        if (i == 2) {
            break;
        }
        if (!drop_sep) {
            T_strlcat(out, sep, HALF_SIZE);
        }
        field = getdef_sep(nullptr, sep);
    }
    if (mark != nullptr) {
        T_strlcat(out, " ", HALF_SIZE);
        T_strlcat(out, mark, HALF_SIZE);
    }
}

// The first TF_AMPM_CHARS characters of word, by the character encoding of
// the process's locale (a byte that starts no character counts as one).
void ampm_word(char *dst, const char *word) {
    size_t at = 0;
    mblen(nullptr, 0);
    for (size_t chars = 0; chars < TF_AMPM_CHARS && word[at] != '\0'; ++chars) {
        const int n = mblen(word + at, MB_CUR_MAX);
        const size_t step = n > 0 ? static_cast<size_t>(n) : 1;
        if (at + step >= TF_AMPM_SIZE) {
            break;
        }
        at += step;
    }
    memcpy(dst, word, at);
    dst[at] = '\0';
}

void setupampm(const char *locale) {
    if (locale == nullptr || *locale == '\0') {
        // Forget the loaded locale too: its words are no longer in force.
        T_strlcpy(amstr, "AM", sizeof amstr);
        T_strlcpy(pmstr, "PM", sizeof pmstr);
        ampm_loaded = false;
        return;
    }
    if (ampm_loaded && strcmp(locale, ampm_locale) == 0) {
        return;
    }
    T_strlcpy(amstr, "AM", sizeof amstr);
    T_strlcpy(pmstr, "PM", sizeof pmstr);
    char word[CATALOG_WORD_SIZE];
    if (tmgetmsg(Msg{"CerTmf0010N", "AM"}, locale, sizeof word, word) == 0) {
        ampm_word(amstr, word);
    }
    if (tmgetmsg(Msg{"CerTmf0020N", "PM"}, locale, sizeof word, word) == 0) {
        ampm_word(pmstr, word);
    }
    ampm_loaded = fits_cache(locale);
    T_strlcpy(ampm_locale, ampm_loaded ? locale : "", sizeof ampm_locale);
}

char *datestringl(int32_t t, const char *locale, int timefirst) {
    if (t == TF_INFINITY) {
        if (tmgetmsg(Msg{"CerTmf0040N", "INFINITY      "}, locale, sizeof date_result,
                     date_result) != 0) {
            T_strlcpy(date_result, "INFINITY      ", sizeof date_result);
        }
        return date_result;
    }
    setupampm(locale);
    const time_t tt = t;
    struct tm lt;
    if (localtime_r(&tt, &lt) == nullptr) {
        if (tmgetmsg(Msg{"CerTmf0041N", "DATE ERROR    "}, locale, sizeof date_result,
                     date_result) != 0) {
            T_strlcpy(date_result, "DATE ERROR    ", sizeof date_result);
        }
        return date_result;
    }
    char timefmt[FORMAT_SIZE];
    char datefmt[FORMAT_SIZE];
    load_formats(locale, timefmt, datefmt);
    char timehalf[HALF_SIZE];
    char datehalf[HALF_SIZE];
    dotime(timefmt, timehalf, &lt, 0, 1);
    dodate(datefmt, datehalf, &lt);
    T_strlcpy(date_result, timefirst ? timehalf : datehalf, sizeof date_result);
    T_strlcat(date_result, " ", sizeof date_result);
    T_strlcat(date_result, timefirst ? datehalf : timehalf, sizeof date_result);
    return date_result;
}

// ---- parsing ----

int convert2unixdatel(const char *text, int32_t *out, int startofday, const char *locale,
                      int timefirst) {
    if (text == nullptr || out == nullptr) {
        return 0;
    }
    const size_t len = strnlen(text, TF_TEXT_MAX + 1);
    if (len == 0 || len > TF_TEXT_MAX) {
        return 0;
    }
    char copy[TF_TEXT_MAX + 1];
    memcpy(copy, text, len);
    copy[len] = '\0';
    setupampm(locale);

    Fields f;
    if (!startofday) {
        f.hour = 23;
        f.minute = 59;
        f.second = 59;
    }
    char timefmt[FORMAT_SIZE];
    char datefmt[FORMAT_SIZE];
    load_formats(locale, timefmt, datefmt);
    char *halves[2] = {timefirst ? timefmt : datefmt, timefirst ? datefmt : timefmt};

    // strlen, not len: a text with an embedded terminator ends there.
    Scanner sc{copy, strlen(copy)};
    int pieces = 0;
    for (int h = 0; h < 2; ++h) {
        if (h == 1 && sc.rest_is_blank()) {
            break;
        }
        if (!parse_half(halves[h], h == 0, &sc, &f, &pieces)) {
            return 0;
        }
    }

    if (pieces > MAX_PIECES || f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 ||
        f.second < 0 || f.second > 59 || f.month < 1 || f.month > 12) {
        return 0;
    }
    long year = f.have_year ? f.year : current_local_year() % 100;
    if (year < 39) {
        year += 2000;
    } else if (year < 70 || (year >= 100 && year < 1970)) {
        // Before the first representable date: the start of time.
        *out = 0;
        return 1;
    } else if (year < 100) {
        year += 1900;
    }
    if (!ValidDay(static_cast<int>(f.month - 1), static_cast<int>(f.day),
                  static_cast<int>(year - 1900))) {
        return 0;
    }
    *out =
        value_of(static_cast<int>(year), static_cast<int>(f.month), static_cast<int>(f.day),
                 static_cast<int>(f.hour), static_cast<int>(f.minute), static_cast<int>(f.second));
    return 1;
}

int convert2unixdate(const char *text, int32_t *out, int startofday) {
    if (text == nullptr || out == nullptr) {
        return 0;
    }
    std::string s(text, strnlen(text, XKP_TEXT_SIZE - 1));
    while (!s.empty() && (isspace(static_cast<unsigned char>(s.back())) ||
                          iscntrl(static_cast<unsigned char>(s.back())))) {
        s.pop_back();
    }
    // A blank as the 11th character (or ten characters in all) means a
    // four-digit year: "12/01/2026 14:05:00".
    const size_t lastblank = s.rfind(' ');
    const bool four = lastblank == 10 || s.size() == 10;
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char c1, c2, c3, c4;
    const int n =
        sscanf(s.c_str(), four ? "%2d%c%2d%c%4d  %2d%c%2d%c%2d" : "%2d%c%2d%c%2d  %2d%c%2d%c%2d",
               &month, &c1, &day, &c2, &year, &hour, &c3, &minute, &c4, &second);
    if (n < 3) {
        return 0;
    }
    if (n < 5) {
        year = current_local_year() - 1900;
    } else {
        if (year < 39) {
            year += 100;
        }
        if (year < 70 || (year >= 139 && year < 1970)) {
            *out = 0;
            return 1;
        }
        if (year >= 1970) {
            year -= 1900;
        }
    }
    if (month < 1 || month > 12 || !ValidDay(month - 1, day, year)) {
        return 0;
    }
    if (n >= 6) {
        if (hour < 0 || hour > 23) {
            return 0;
        }
    } else {
        hour = startofday ? 0 : 23;
    }
    if (n >= 8) {
        if (minute < 0 || minute > 59) {
            return 0;
        }
    } else {
        minute = startofday ? 0 : 59;
    }
    if (n >= 10) {
        if (second < 0 || second > 59) {
            return 0;
        }
    } else {
        second = startofday ? 0 : 59;
    }
    *out = value_of(year + 1900, month, day, hour, minute, second);
    return 1;
}

// ---- local time ----

int dcmp(const struct tm *a, const struct tm *b) {
    const int pa[] = {a->tm_year, a->tm_mon, a->tm_mday, a->tm_hour, a->tm_min, a->tm_sec};
    const int pb[] = {b->tm_year, b->tm_mon, b->tm_mday, b->tm_hour, b->tm_min, b->tm_sec};
    for (size_t i = 0; i < 6; ++i) {
        if (pa[i] != pb[i]) {
            return pa[i] < pb[i] ? -1 : 1;
        }
    }
    return 0;
}

int32_t unctime(const struct tm *tm) {
    uint32_t value = 0;
    for (int bit = 30; bit >= 0; --bit) {
        const uint32_t candidate = value | (1u << bit);
        const time_t t = static_cast<time_t>(candidate);
        struct tm lt;
        if (localtime_r(&t, &lt) == nullptr || dcmp(&lt, tm) > 0) {
            continue;
        }
        value = candidate;
    }
    // The bit search assumes that local time only moves forward. Where the
    // clock is set back, a wall-clock time occurs twice and the search may
    // stop at the first occurrence. Every exact match is t = wall - offset
    // for one of the offsets in force around that wall-clock time, so try
    // each of them and keep the latest, which is the largest value whose
    // local time is not later than the wanted time.
    struct tm wall = *tm;
    const time_t w = timegm(&wall);
    for (int day = -2; day <= 2; ++day) {
        const time_t probe = w + day * 86400L;
        struct tm around;
        if (localtime_r(&probe, &around) == nullptr) {
            continue;
        }
        const time_t t = w - around.tm_gmtoff;
        if (t <= static_cast<time_t>(value) || t > static_cast<time_t>(TF_INFINITY)) {
            continue;
        }
        struct tm lt;
        if (localtime_r(&t, &lt) != nullptr && dcmp(&lt, tm) == 0) {
            value = static_cast<uint32_t>(t);
        }
    }
    return static_cast<int32_t>(value);
}

int ValidDay(int month, int day, int year) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 0 || month > 11 || day < 1) {
        return 0;
    }
    int limit = days[month];
    if (month == 1 && year % 4 == 0) {
        limit = 29;
    }
    return day <= limit ? 1 : 0;
}

int32_t midnight() {
    const time_t now = time(nullptr);
    struct tm lt;
    if (localtime_r(&now, &lt) == nullptr) {
        return 0;
    }
    const long long end =
        static_cast<long long>(now) - lt.tm_hour * 3600LL - lt.tm_min * 60LL - lt.tm_sec + 86399;
    return end > TF_CAP ? TF_CAP : static_cast<int32_t>(end);
}

void timefuncs_forget() {
    def_cached = false;
    cached_locale[0] = '\0';
    def_save = nullptr;
    ampm_loaded = false;
    ampm_locale[0] = '\0';
    T_strlcpy(amstr, "AM", sizeof amstr);
    T_strlcpy(pmstr, "PM", sizeof pmstr);
    fs_format = nullptr;
}
