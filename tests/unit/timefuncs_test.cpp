// Dates: the locale definitions read from the alias file, formatting and
// parsing by them (round trips, the year window, AM/PM words, bad dates,
// infinity), the fixed-format parser, and the local-time search across
// daylight-saving changes.
#include <gtest/gtest.h>

#include "temp_root.h"
#include "timefuncs.h"
#include "tmmsg_tar.h"
#include "tmmsgcache.h"

#include <clocale>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The broken-down form of a civil date (no zone).
struct tm civil(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return {s, mi, h, d, mo - 1, y - 1900, 0, 0, 0, 0, nullptr};
}

// Seconds of a UTC date.
int32_t utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    struct tm tm = civil(y, mo, d, h, mi, s);
    return static_cast<int32_t>(timegm(&tm));
}

// Forget every cache so that the files on disk are read again.
void fresh() {
    timefuncs_forget();
    destroyLocaleList();
}

// A product root of its own with an alias file and a small catalog: de_DE
// (day.month.year., 24-hour clock, own infinity text; de_DE.UTF-8 redirects
// to it), en_US and xx_NM (12-hour clock with the built-in AM/PM words, and
// with catalog words cut to three characters), xx_YY (two-digit years,
// dashes, dotted time), xx_SP (two-character separators), loop1/loop2 ("TM"
// lines pointing at each other).
class TimefuncsTest : public ::testing::Test {
  protected:
    TimefuncsTest() {
        setlocale(LC_CTYPE, "C.UTF-8"); // characters, not bytes, as the program runs
        alias("TL 1 C\nTL 5 de_DE hh:mn:ss dd.mm.yyyy.\nTM 11 de_DE.UTF-8 5 de_DE\n"
              "TL 5 en_US HH:mn:ss mm/dd/yyyy\nTL 5 xx_NM HH:mn:ss mm/dd/yyyy\n"
              "TL 5 xx_YY hh.mn.ss yy-mm-dd\nTL 5 xx_SP hh:mn:ss dd, mm, yyyy\n"
              "TM 5 loop1 5 loop2\nTM 5 loop2 5 loop1\n");
        root_.write("de_DE/sorvane/CerMsgs", "CerTmf0040N \"UNENDLICH\"\n");
        root_.write("xx_NM/sorvane/CerMsgs", "CerTmf0010N \"VÖRM\"\nCerTmf0020N \"NM\"\n");
    }
    ~TimefuncsTest() override { fresh(); }
    // Replaces the alias file and forgets what was read before.
    void alias(const std::string &text) {
        root_.write(".conf", text);
        fresh();
    }
    TempRoot root_;
    ScopedEnv tz_{"TZ", "UTC"};
};

// The local time of t in the current zone.
struct tm local(time_t t) {
    struct tm lt = {};
    localtime_r(&t, &lt);
    return lt;
}

int this_year() {
    return local(time(nullptr)).tm_year + 1900;
}

// Parses text (by the fixed-format parser for the locale `fixed`) and returns
// the value, or -1 when the text is invalid.
const char *const fixed = "(fixed)";
int64_t parse(const char *text, int startofday, const char *locale = "C", int timefirst = 0) {
    int32_t v = -12345;
    if (!(locale == fixed ? convert2unixdate(text, &v, startofday)
                          : convert2unixdatel(text, &v, startofday, locale, timefirst))) {
        EXPECT_EQ(v, -12345) << "an invalid text must leave the output alone: " << text;
        return -1;
    }
    return v;
}

TEST_F(TimefuncsTest, FormatsByTheLocaleDefinition) {
    const int32_t dec1 = utc(2026, 12, 1);
    // time, locale, time first, text
    const std::tuple<int32_t, const char *, int, const char *> cases[] = {
        {dec1, nullptr, 0, "12/01/2026 00:00:00"},
        {dec1, "C", 1, "00:00:00 12/01/2026"},
        {utc(2026, 3, 7, 9, 5, 4), "de_DE", 0, "07.03.2026. 09:05:04"},
        {utc(2026, 12, 1, 14, 5, 9), "en_US", 0, "12/01/2026 02:05:09 PM"},
        {dec1, "en_US", 0, "12/01/2026 12:00:00 AM"},
        {utc(2026, 12, 1, 12), "en_US", 0, "12/01/2026 12:00:00 PM"},
        {utc(2026, 12, 1, 11, 59, 59), "en_US", 0, "12/01/2026 11:59:59 AM"},
        {utc(2026, 12, 1, 23), "xx_NM", 0, "12/01/2026 11:00:00 NM"},
        {utc(2026, 12, 1, 1), "xx_NM", 0, "12/01/2026 01:00:00 VÖR"},
        {utc(2009, 7, 4, 23, 8, 1), "xx_YY", 0, "09-07-04 23.08.01"},
        {utc(2026, 2, 3), "xx_SP", 0, "03, 02, 2026 00:00:00"},
        {TF_CAP, "C", 0, "01/19/2038 03:14:06"}, // the cap is a date, not infinity
        {-86400, "C", 0, "12/31/1969 00:00:00"},
        // infinity is the catalog's word for it
        {TF_INFINITY, "C", 0, "INFINITY      "},
        {TF_INFINITY, "de_DE", 0, "UNENDLICH"},
    };
    for (const auto &[t, locale, timefirst, want] : cases) {
        EXPECT_STREQ(datestringl(t, locale, timefirst), want)
            << t << " in " << (locale ? locale : "-");
    }
    // Back to the same locale after no locale: its words again.
    for (const char *locale : {"xx_NM", static_cast<const char *>(nullptr), "xx_NM"}) {
        setupampm(locale);
        EXPECT_STREQ(amstr, locale ? "VÖR" : "AM");
        EXPECT_STREQ(pmstr, locale ? "NM" : "PM");
    }
    // Separators of many characters are cut to four; the result never
    // exceeds 60 characters.
    alias("TL 4 wide hh::::::::mn::::::::ss yyyy--------mm--------dd---------\n");
    const char *s = datestringl(utc(2026, 5, 6, 7, 8, 9), "wide", 0);
    EXPECT_LE(strlen(s), TF_DATE_SIZE - 1);
    EXPECT_STREQ(s, "2026----05----06---- 07::::08::::09");
}

TEST_F(TimefuncsTest, ParsesDatesAndTimes) {
    struct Case {
        const char *text;
        int startofday;
        const char *locale;
        int64_t want; // -1: invalid
        int timefirst = 0;
        const char *zone = "UTC";
    };
    const int32_t day = utc(2026, 12, 1);
    const int32_t pm230 = day + 14 * 3600 + 30 * 60;
    const char *const ber = "Europe/Berlin", *const nyc = "America/New_York";
    const Case cases[] = {
        {"12/01/2026 14:05", 0, "C", utc(2026, 12, 1, 14, 5, 59)},
        {"  12/01/2026   ", 0, "C", utc(2026, 12, 1, 23, 59, 59)},
        {"12/01/2026 14:05:00 and more", 1, "C", utc(2026, 12, 1, 14, 5, 0)},
        {"2/29/2025", 1, "C", -1},
        {"13/01/2026", 1, "C", -1},
        {"12/01/2026 24:00:00", 1, "C", -1},
        {"12/01/2026 23:60:00", 1, "C", -1},
        {"3/4", 1, "C", utc(this_year(), 3, 4)}, // a missing year is the current one
        // a piece ends at its separator only: a blank inside the date is
        // part of the piece, and a time after a date without a year is read
        // as the rest of the day's piece, not as the time
        {"12 /01/2026", 1, "C", utc(2026, 12, 1)},
        {"12/31 14:05", 1, "C", utc(this_year(), 12, 31)},
        // time first; without the date the month is missing
        {"14:05:00 12/01/2026", 1, "C", utc(2026, 12, 1, 14, 5), 1},
        {"14:05:00", 1, "C", -1, 1},
        // day.month.year
        {"24.12.2026.", 0, "de_DE", utc(2026, 12, 24, 23, 59, 59)},
        {"24.12.2026. 18:30:15", 1, "de_DE.UTF-8", utc(2026, 12, 24, 18, 30, 15)},
        {"12/24/2026", 1, "de_DE", -1},
        // a two-character separator must be typed whole, but later ones may
        // leave out their final blank
        {"03, 02, 2026", 1, "xx_SP", utc(2026, 2, 3)},
        {"03,02,2026", 1, "xx_SP", -1},
        {"03, 02,2026", 1, "xx_SP", utc(2026, 2, 3)},
        // the year window: 0-38 and 70-99 are this century and the last,
        // 39-69 and years before 1970 the start of time; past the last
        // representable second the cap
        {"1/1/38", 1, "C", utc(2038, 1, 1)},
        {"1/1/39", 1, "C", 0},
        {"1/2/70", 1, "C", utc(1970, 1, 2)},
        {"12/31/1969", 1, "C", 0},
        {"1/1/1970 00:00:01", 1, "C", 1},
        {"1/19/2038 03:14:05", 1, "C", TF_CAP - 1},
        {"1/19/2038 03:14:06", 1, "C", TF_CAP},
        {"2/30/45", 1, "C", 0}, // before the window: the day is not looked at
        // AM/PM words, in any case, with or without a blank before them
        {"12/01/2026 02:30:00 PM", 1, "en_US", pm230},
        {"12/01/2026 12:00:00 AM", 1, "en_US", day},
        {"12/01/2026 12:00:00 PM", 1, "en_US", day + 12 * 3600},
        {"12/01/2026 2:30PM", 1, "en_US", pm230},
        {"12/01/2026 14:30:00 PM", 1, "en_US", pm230},
        {"12/01/2026 02:30:00 PM", 1, "C", -1},
        {"12/01/2026 PM", 1, "en_US", -1},
        // the catalog's words, cut to three characters
        {"12/01/2026 02:30:00 NM", 1, "xx_NM", pm230},
        {"12/01/2026 12:30:00 vÖr", 1, "xx_NM", day + 30 * 60},
        // Berlin springs forward at 02:00 CET on 29 March 2026: 02:30 does
        // not exist, the last second before the gap is 01:59:59 CET. It falls
        // back at 03:00 CEST on 25 October: 02:30 happens twice, the later
        // (CET) one is taken.
        {"3/29/2026 02:30:00", 1, "C", utc(2026, 3, 29, 0, 59, 59), 0, ber},
        {"10/25/2026 02:30:00", 1, "C", utc(2026, 10, 25, 1, 30), 0, ber},
        {"11/1/2026", 0, "C", utc(2026, 11, 2, 4, 59, 59), 0, nyc},
        // before the epoch in local time: the start of time
        {"1/1/1970 00:00:00", 1, "C", 5 * 3600, 0, nyc},
        // the fixed-format parser: month/day/year, two- or four-digit years
        {"1/1/70 00:00:00", 1, fixed, 5 * 3600, 0, nyc},
        {"12/01/2026 14:05:00 \t\n", 1, fixed, utc(2026, 12, 1, 14, 5)},
        {"12/31/2026", 0, fixed, utc(2026, 12, 31, 23, 59, 59)},
        {"1/2/26 3:04", 0, fixed, utc(2026, 1, 2, 3, 4, 59)},
        {"1/1/45 00:00:00", 1, fixed, 0},
        {"01/01/2050 00:00:00", 1, fixed, TF_CAP},
        {"3/4", 1, fixed, utc(this_year(), 3, 4)},
        {"2/29/2025", 1, fixed, -1},
        {"12/01/2026 10:60:00", 1, fixed, -1},
        {"", 1, fixed, -1},
    };
    for (const Case &c : cases) {
        ScopedEnv tz("TZ", c.zone);
        EXPECT_EQ(parse(c.text, c.startofday, c.locale, c.timefirst), c.want)
            << '"' << c.text << "\" in " << c.locale << " " << c.zone << " flag " << c.startofday
            << " time first " << c.timefirst;
    }
    // The length limit and null arguments.
    std::string text = "12/31/2026";
    text.resize(TF_TEXT_MAX, ' ');
    EXPECT_EQ(parse(text.c_str(), 1), utc(2026, 12, 31));
    text.push_back(' ');
    EXPECT_EQ(parse(text.c_str(), 1), -1);
    int32_t v = 0;
    EXPECT_EQ(convert2unixdatel(nullptr, &v, 1, "C", 0), 0);
    EXPECT_EQ(convert2unixdatel("1/1/2026", nullptr, 1, "C", 0), 0);
}

TEST_F(TimefuncsTest, RoundTripsInEveryLocaleAndZone) {
    // Spread over the representable range (two-digit years only where the
    // window maps them back), plus both ends of a day.
    std::vector<int32_t> values = {utc(1970, 1, 2), utc(1999, 12, 31, 23, 59, 59),
                                   utc(2000, 2, 29, 12), utc(2037, 12, 31, 12)};
    for (int32_t t = utc(1971, 1, 1); t < utc(2037, 1, 1); t += 7777777) {
        values.push_back(t);
    }
    for (const char *zone : {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata"}) {
        ScopedEnv tz("TZ", zone);
        for (const char *locale : {"C", "de_DE", "en_US", "xx_NM", "xx_YY", "xx_SP"}) {
            for (int32_t t : values) {
                for (int tf : {0, 1}) {
                    const std::string text = datestringl(t, locale, tf);
                    int32_t back = 0;
                    ASSERT_EQ(convert2unixdatel(text.c_str(), &back, 1, locale, tf), 1)
                        << text << " in " << locale << " " << zone;
                    // A repeated hour parses as its later occurrence.
                    EXPECT_TRUE(back == t ||
                                (back == t + 3600 && datestringl(back, locale, tf) == text))
                        << text << " in " << locale << " " << zone << ": " << t << " -> " << back;
                }
            }
        }
    }
}

TEST(TimefuncsPlain, DcmpAndValidDay) {
    const struct tm base = civil(2026, 6, 15, 12, 30, 30);
    EXPECT_EQ(dcmp(&base, &base), 0);
    int tm::*const fields[] = {&tm::tm_year, &tm::tm_mon, &tm::tm_mday,
                               &tm::tm_hour, &tm::tm_min, &tm::tm_sec};
    for (size_t i = 0; i < 6; ++i) {
        struct tm later = base;
        later.*fields[i] += 1;
        // A later field outweighs every field after it.
        for (size_t j = i + 1; j < 6; ++j) {
            later.*fields[j] -= 10;
        }
        EXPECT_EQ(dcmp(&later, &base), 1) << i;
        EXPECT_EQ(dcmp(&base, &later), -1) << i;
    }
    // month (0-11), day, year (since 1900), valid
    const std::tuple<int, int, int, int> days[] = {
        {0, 31, 126, 1},  {0, 32, 126, 0}, {1, 29, 125, 0}, {1, 29, 124, 1},
        {1, 30, 124, 0},  {3, 30, 126, 1}, {3, 31, 126, 0}, {5, 0, 126, 0},
        {11, 31, 126, 1}, {12, 1, 126, 0}, {-1, 1, 126, 0}, {1, 29, 100, 1},
    };
    for (const auto &[month, day, year, want] : days) {
        EXPECT_EQ(ValidDay(month, day, year), want) << month << " " << day << " " << year;
    }
}

TEST_F(TimefuncsTest, DefinitionLookupAndLineShapes) {
    // The definition getdef loads, rebuilt from its tokens.
    auto definition = [](const char *locale) {
        char buf[TF_DEF_SIZE];
        const char *name = getdef(buf, locale);
        const char *t = name != nullptr ? getdef_next() : nullptr;
        const char *d = t != nullptr ? getdef_next() : nullptr;
        return d == nullptr ? "(incomplete)" : std::string(name) + " " + t + "^" + d + "^\n";
    };
    const char *const builtin = "tm hh:mn:ss ^ mm/dd/yyyy ^\n";
    // The alias file's only line (null: the fixture's file), the locale and its definition.
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {nullptr, "de_DE", "de_DE hh:mn:ss ^ dd.mm.yyyy. ^\n"},
        {nullptr, "de_DE.UTF-8", "de_DE hh:mn:ss ^ dd.mm.yyyy. ^\n"},
        {nullptr, "C", builtin},
        {nullptr, "loop1", builtin},
        {nullptr, nullptr, builtin},
        {"TL 2 ab   HH.mn.ss    yyyy-mm-dd  trailing words", "ab", "ab HH.mn.ss ^ yyyy-mm-dd ^\n"},
        {"TL 2 ab hh:mn:ssdd/mm/yy", "ab", "ab hh:mn:ss ^ dd/mm/yy ^\n"},
        {"TL 2 ab hh:mn:ss dd/mm", "ab", builtin},
        {"TM 2 ab 2 cd", "ab", builtin},
    };
    for (const auto &[line, locale, want] : cases) {
        if (line != nullptr) {
            alias(std::string(line) + "\n");
        }
        EXPECT_EQ(definition(locale), want) << (line ? line : "") << " " << (locale ? locale : "-");
    }
    // No blank before the time format and none between the formats: no room
    // to cut the time format.
    char tight[] = "hh:mn:ssdd/mm/yy";
    char *datefmt = nullptr;
    EXPECT_EQ(eodf(tight, &datefmt), nullptr);
    // A definition is kept per locale.
    alias("TL 5 de_DE hh:mn:ss dd.mm.yyyy.\n");
    definition("de_DE");
    root_.write(".conf", "TL 5 de_DE hh:mn:ss yyyy/mm/dd\nTL 5 en_GB hh:mn:ss dd/mm/yyyy\n");
    // The same locale is not read again...
    EXPECT_STREQ(datestringl(utc(2026, 1, 2), "de_DE", 0), "02.01.2026. 00:00:00");
    // ...another one is, and coming back reads the file anew.
    EXPECT_STREQ(datestringl(utc(2026, 1, 2), "en_GB", 0), "02/01/2026 00:00:00");
    EXPECT_STREQ(datestringl(utc(2026, 1, 2), "de_DE", 0), "2026/01/02 00:00:00");
    std::filesystem::remove(root_.path() + "/msg/.conf");
    fresh();
    EXPECT_STREQ(datestringl(utc(2026, 1, 2), "de_DE", 0), "01/02/2026 00:00:00");
}

TEST(TimefuncsPlain, FieldCodesAndSeparators) {
    // Each field shows as its code and, in brackets, the separator after it.
    const std::pair<const char *, const char *> cases[] = {
        {" mm/dd/yyyy ", "mm[/]dd[/]yyyy[ ]"},
        {"hh:::::::mn", "hh[::::]mn[]"}, // separators are cut to four characters
        {"hhmn:ss", "hhmn[:]ss[]"},      // codes without a separator between them make one field
        {"yyy/mm", "mm[]"},              // three or five y are no year
        {"dd/yyyyy", "dd[/yyy]"},
        {"", ""},
    };
    for (const auto &[format, want] : cases) {
        std::string buf = format, got;
        char sep[TF_SEP_SIZE];
        for (char *f = getdef_sep(buf.data(), sep); f != nullptr; f = getdef_sep(nullptr, sep)) {
            got += std::string(f) + "[" + sep + "]";
            ASSERT_LT(got.size(), 100u) << format;
        }
        EXPECT_EQ(got, want) << '"' << format << '"';
    }
    // validdef: format, position, length of the code there
    const std::tuple<const char *, size_t, int> codes[] = {
        {"hh", 0, 2},  {"yyyy", 0, 4}, {"yyyyy", 0, 0}, {"yyyyy", 1, 0},
        {"yyy", 0, 0}, {"xyy", 1, 2},  {"yyy", 1, 0},   {"h", 0, 0},
        {"", 0, 0},    {"Hh", 0, 0},   {"yyyy/", 0, 4}, {"MM", 0, 0},
    };
    for (const auto &[format, pos, want] : codes) {
        EXPECT_EQ(validdef(format, pos), want) << format << " at " << pos;
    }
    // datestringl always formats the seconds and the 12-hour form; the other
    // modes of the time half and an unknown code are only reachable here.
    const struct tm tm = civil(2026, 12, 1, 0, 5, 9);
    // format, no seconds, 12-hour clock, text
    const std::tuple<const char *, int, int, const char *> modes[] = {
        {"hh:mn:ss ", 1, 1, "00:05"},
        {"HH:mn:ss ", 0, 0, "00:05:09"},
        {"hh:xx:ss", 0, 1, "00:xx:09"}};
    for (const auto &[format, noseconds, twelvehour, want] : modes) {
        std::string fmt = format;
        char out[31];
        dotime(fmt.data(), out, &tm, noseconds, twelvehour);
        EXPECT_STREQ(out, want) << format;
    }
}

TEST(TimefuncsPlain, MidnightIsTheEndOfToday) {
    ScopedEnv tz("TZ", "Asia/Kolkata"); // no daylight saving: always 23:59:59
    const int32_t today = static_cast<int32_t>(time(nullptr));
    const std::string date = std::string(datestringl(today, "C", 0)).substr(0, 11);
    EXPECT_EQ(datestringl(midnight(), "C", 0), date + "23:59:59");
}

// The installed alias file (the staged product root the suite runs with):
// every locale it names has a definition that formats and parses back, and
// a locale whose "TL" line carries formats does not fall back to the
// built-in one.
TEST(TimefuncsInstalled, EveryLocaleOfTheAliasFileRoundTrips) {
    std::ifstream in(tm_alias_path());
    ASSERT_TRUE(in) << "no alias file in the staged root";
    timefuncs_forget();
    ScopedEnv tz("TZ", "Europe/Berlin");
    int named = 0;
    for (std::string line; std::getline(in, line);) {
        TmAliasLine a;
        if (!tm_parse_alias(line, &a)) {
            continue;
        }
        const std::string name(a.name1);
        ++named;
        char buf[TF_DEF_SIZE];
        getdef(buf, name.c_str());
        const bool formats =
            a.kind == 'L' && line.find_first_not_of(" \t\r", a.rest) != std::string::npos;
        EXPECT_TRUE(!formats || name == buf) << "definition of " << name << " not read";
        for (int32_t t : {utc(2026, 12, 1, 14, 5, 9), utc(1999, 1, 31, 0, 0, 1)}) {
            const std::string text = datestringl(t, name.c_str(), 0);
            EXPECT_EQ(parse(text.c_str(), 1, name.c_str()), t) << text << " in " << name;
        }
    }
    EXPECT_GT(named, 0);
}

} // namespace
