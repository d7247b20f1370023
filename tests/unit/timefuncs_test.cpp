// Dates: the locale definitions read from the alias file, formatting and
// parsing by them (round trips, the year window, AM/PM words, bad dates,
// infinity), the fixed-format parser, and the local-time search across
// daylight-saving changes.
#include <gtest/gtest.h>

#include "timefuncs.h"
#include "tmmsgcache.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// The broken-down form of a civil date (no zone).
struct tm civil(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    struct tm tm = {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return tm;
}

// Seconds of a UTC date.
int32_t utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    struct tm tm = civil(y, mo, d, h, mi, s);
    return static_cast<int32_t>(timegm(&tm));
}

void write_file(const std::filesystem::path &path, const std::string &text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void set_tz(const char *tz) {
    setenv("TZ", tz, 1);
    tzset();
}

// Sets an environment variable (a time zone takes effect at once) and puts
// the old value back when it goes.
class ScopedEnv {
  public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        if (const char *old = getenv(name)) {
            old_ = old;
        }
        setenv(name, value, 1);
        tzset();
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
        tzset();
    }

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// A product root of its own with an alias file and a small catalog.
//   de_DE        day.month.year with a trailing dot, 24-hour clock, own
//                infinity text; de_DE.UTF-8 redirects to it
//   en_US        12-hour clock with the built-in AM/PM words
//   xx_NM        12-hour clock with catalog words "VOR"/"NM" (catalog
//                texts longer than 3 characters are cut)
//   xx_YY        two-digit years, dashes, dotted time
//   xx_SP        date separators of two characters
//   loop1/loop2  "TM" lines pointing at each other
class TimefuncsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/timefuncs_testXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        env_.emplace("XKP_ROOT", tmpl);
        tz_.emplace("TZ", "UTC");
        write_file(alias(), "# locale aliases\n"
                            "TL 1 C\n"
                            "TL 5 de_DE hh:mn:ss dd.mm.yyyy.\n"
                            "TM 11 de_DE.UTF-8 5 de_DE\n"
                            "TL 5 en_US HH:mn:ss mm/dd/yyyy\n"
                            "TL 5 xx_NM HH:mn:ss mm/dd/yyyy\n"
                            "TL 5 xx_YY hh.mn.ss yy-mm-dd\n"
                            "TL 5 xx_SP hh:mn:ss dd, mm, yyyy\n"
                            "TM 5 loop1 5 loop2\n"
                            "TM 5 loop2 5 loop1\n");
        write_file(root_ + "/msg/de_DE/sorvane/CerMsgs", "CerTmf0040N \"UNENDLICH\"\n");
        write_file(root_ + "/msg/xx_NM/sorvane/CerMsgs",
                   "CerTmf0010N \"VORM\"\nCerTmf0020N \"NM\"\n");
        fresh();
    }

    void TearDown() override {
        fresh();
        tz_.reset();
        env_.reset();
        std::filesystem::remove_all(root_);
    }

    // Forget every cache so that the files on disk are read again.
    static void fresh() {
        timefuncs_forget();
        destroyLocaleList();
    }

    std::string alias() const { return root_ + "/msg/.conf"; }

    std::string root_;
    std::optional<ScopedEnv> env_, tz_;
};

int this_year() {
    const time_t now = time(nullptr);
    struct tm lt;
    return localtime_r(&now, &lt) != nullptr ? lt.tm_year + 1900 : 1970;
}

// Parses text and returns the value, or -1 when the text is invalid.
int64_t parse(const char *text, int startofday, const char *locale = "C", int timefirst = 0) {
    int32_t v = -12345;
    if (!convert2unixdatel(text, &v, startofday, locale, timefirst)) {
        EXPECT_EQ(v, -12345) << "an invalid text must leave the output alone: " << text;
        return -1;
    }
    return v;
}

// The definition getdef loads, rebuilt from its tokens as
// "NAME TIMEFORMAT^DATEFORMAT^\n".
std::string definition(const char *locale) {
    char buf[TF_DEF_SIZE];
    const char *name = getdef(buf, locale);
    const char *t = name != nullptr ? getdef_next() : nullptr;
    const char *d = t != nullptr ? getdef_next() : nullptr;
    if (d == nullptr) {
        return "(incomplete)";
    }
    return std::string(name) + " " + t + "^" + d + "^\n";
}

// ---- formatting ----

TEST_F(TimefuncsTest, FormatsByTheLocaleDefinition) {
    const int32_t dec1 = utc(2026, 12, 1);
    // time, locale, time first, text
    const std::tuple<int32_t, const char *, int, const char *> cases[] = {
        {dec1, "C", 0, "12/01/2026 00:00:00"},
        {dec1, nullptr, 0, "12/01/2026 00:00:00"},
        {dec1, "C", 1, "00:00:00 12/01/2026"},
        {utc(2026, 3, 7, 9, 5, 4), "de_DE", 0, "07.03.2026. 09:05:04"},
        {utc(2026, 3, 7, 9, 5, 4), "de_DE", 1, "09:05:04 07.03.2026."},
        {utc(2026, 12, 1, 14, 5, 9), "en_US", 0, "12/01/2026 02:05:09 PM"},
        {utc(2026, 12, 1, 0, 0, 0), "en_US", 0, "12/01/2026 12:00:00 AM"},
        {utc(2026, 12, 1, 12, 0, 0), "en_US", 0, "12/01/2026 12:00:00 PM"},
        {utc(2026, 12, 1, 11, 59, 59), "en_US", 0, "12/01/2026 11:59:59 AM"},
        {utc(2026, 12, 1, 23, 0, 0), "xx_NM", 0, "12/01/2026 11:00:00 NM"},
        {utc(2026, 12, 1, 1, 0, 0), "xx_NM", 0, "12/01/2026 01:00:00 VOR"},
        {utc(2009, 7, 4, 23, 8, 1), "xx_YY", 0, "09-07-04 23.08.01"},
        {utc(2026, 2, 3), "xx_SP", 0, "03, 02, 2026 00:00:00"},
        {0, "C", 0, "01/01/1970 00:00:00"},
        {TF_CAP, "C", 0, "01/19/2038 03:14:06"}, // the cap is a date, not infinity
        {-86400, "C", 0, "12/31/1969 00:00:00"},
        // infinity is the catalog's word for it
        {TF_INFINITY, "C", 0, "INFINITY      "},
        {TF_INFINITY, nullptr, 0, "INFINITY      "},
        {TF_INFINITY, "de_DE", 0, "UNENDLICH"},
    };
    for (const auto &[t, locale, timefirst, want] : cases) {
        EXPECT_STREQ(datestringl(t, locale, timefirst), want)
            << t << " in " << (locale ? locale : "-");
    }
}

TEST_F(TimefuncsTest, LongFormatsStayWithinTheResult) {
    // Separators of many characters are cut to four; the result never
    // exceeds 60 characters.
    write_file(alias(), "TL 4 wide hh::::::::mn::::::::ss yyyy--------mm--------dd---------\n");
    fresh();
    const char *s = datestringl(utc(2026, 5, 6, 7, 8, 9), "wide", 0);
    EXPECT_LE(strlen(s), TF_DATE_SIZE - 1);
    EXPECT_STREQ(s, "2026----05----06---- 07::::08::::09");
}

// ---- parsing ----

TEST_F(TimefuncsTest, ParsesDatesAndTimes) {
    struct Case {
        const char *text;
        int startofday;
        const char *locale;
        int64_t want; // -1: invalid
        int timefirst = 0;
        const char *zone = "UTC";
    };
    const int year = this_year();
    const int32_t day = utc(2026, 12, 1);
    const int32_t pm230 = day + 14 * 3600 + 30 * 60;
    const char *const ber = "Europe/Berlin";
    const char *const nyc = "America/New_York";
    const Case cases[] = {
        {"12/31/2026", 0, "C", utc(2026, 12, 31, 23, 59, 59)},
        {"12/31/2026", 1, "C", utc(2026, 12, 31)},
        {"12/01/2026 14:05", 0, "C", utc(2026, 12, 1, 14, 5, 59)},
        {"12/01/2026 14", 0, "C", utc(2026, 12, 1, 14, 59, 59)},
        {"  12/01/2026   ", 0, "C", utc(2026, 12, 1, 23, 59, 59)},
        {"12/01/2026 14:05:00 and more", 1, "C", utc(2026, 12, 1, 14, 5, 0)},
        {"2/29/2024", 1, "C", utc(2024, 2, 29)},
        {"1/1/2026 0:0:0", 0, "C", utc(2026, 1, 1)},
        {"2/29/2025", 1, "C", -1},
        {"13/01/2026", 1, "C", -1},
        {"12/01/2026 24:00:00", 1, "C", -1},
        {"12/01/2026 23:60:00", 1, "C", -1},
        {"12/01/2026 23:59:60", 1, "C", -1},
        {"12/01/2026 -1:00:00", 1, "C", -1},
        {"", 1, "C", -1},
        {"garbage", 1, "C", -1},
        // a missing year is the current one
        {"3/4", 1, "C", utc(year, 3, 4)},
        {"03.04.", 1, "de_DE", utc(year, 4, 3)},
        // time first; without the date the month is missing
        {"14:05:00 12/01/2026", 1, "C", utc(2026, 12, 1, 14, 5), 1},
        {"18:30 24.12.2026.", 0, "de_DE", utc(2026, 12, 24, 18, 30, 59), 1},
        {"14:05:00", 1, "C", -1, 1},
        {"12/01/2026", 1, "C", -1, 1},
        // day.month.year
        {"24.12.2026", 1, "de_DE", utc(2026, 12, 24)},
        {"24.12.2026.", 0, "de_DE", utc(2026, 12, 24, 23, 59, 59)},
        {"24.12.2026 18:30", 1, "de_DE", utc(2026, 12, 24, 18, 30)},
        {"24.12.2026. 18:30:15", 1, "de_DE.UTF-8", utc(2026, 12, 24, 18, 30, 15)},
        {"12/24/2026", 1, "de_DE", -1},
        // two-digit years with their own separators
        {"09-07-04 23.08.01", 1, "xx_YY", utc(2009, 7, 4, 23, 8, 1)},
        {"99-12-31", 1, "xx_YY", utc(1999, 12, 31)},
        // a two-character separator must be typed whole
        {"03, 02, 2026", 1, "xx_SP", utc(2026, 2, 3)},
        {"03, 02, 2026 10:11:12", 1, "xx_SP", utc(2026, 2, 3, 10, 11, 12)},
        {"03,02,2026", 1, "xx_SP", -1},
        {"03 ,02, 2026", 1, "xx_SP", -1},
        // later separators may leave out their final blank
        {"03, 02,2026", 1, "xx_SP", utc(2026, 2, 3)},
        // the year window: 0-38 and 70-99 are this century and the last,
        // 39-69 and years before 1970 the start of time; past the last
        // representable second the cap
        {"1/1/00", 1, "C", utc(2000, 1, 1)},
        {"1/1/38", 1, "C", utc(2038, 1, 1)},
        {"1/1/39", 1, "C", 0},
        {"1/1/69", 1, "C", 0},
        {"1/2/70", 1, "C", utc(1970, 1, 2)},
        {"6/15/99", 1, "C", utc(1999, 6, 15)},
        {"1/1/100", 1, "C", 0},
        {"12/31/1969", 1, "C", 0},
        {"1/1/1970 00:00:01", 1, "C", 1},
        {"1/1/2050", 1, "C", TF_CAP},
        {"1/19/2038 03:14:06", 1, "C", TF_CAP},
        {"1/19/2038 03:14:05", 1, "C", TF_CAP - 1},
        {"1/19/2038 03:14:07", 1, "C", TF_CAP},
        {"12/31/99999", 1, "C", TF_CAP},
        {"2/30/45", 1, "C", 0}, // before the window: the day is not looked at
        // AM/PM words, in any case, with or without a blank before them
        {"12/01/2026 02:30:00 PM", 1, "en_US", pm230},
        {"12/01/2026 02:30:00 pm", 1, "en_US", pm230},
        {"12/01/2026 02:30:00 AM", 1, "en_US", day + 2 * 3600 + 30 * 60},
        {"12/01/2026 12:00:00 AM", 1, "en_US", day},
        {"12/01/2026 12:00:00 PM", 1, "en_US", day + 12 * 3600},
        {"12/01/2026 2:30PM", 1, "en_US", pm230},
        {"12/01/2026 2 PM", 1, "en_US", day + 14 * 3600},
        {"12/01/2026 02:30:00", 1, "en_US", day + 2 * 3600 + 30 * 60},
        {"12/01/2026 14:30:00 PM", 1, "en_US", pm230},
        {"12/01/2026 13:00:00 AM", 1, "en_US", day + 13 * 3600},
        {"12/01/2026 02:30:00 PM", 1, "C", -1},
        {"12/01/2026 PM", 1, "en_US", -1},
        // the catalog's words, cut to three characters
        {"12/01/2026 02:30:00 NM", 1, "xx_NM", pm230},
        {"12/01/2026 12:30:00 vor", 1, "xx_NM", day + 30 * 60},
        // Berlin springs forward at 02:00 CET on 29 March 2026: 02:30 does
        // not exist, the last second before the gap is 01:59:59 CET.
        {"3/29/2026 02:30:00", 1, "C", utc(2026, 3, 29, 0, 59, 59), 0, ber},
        {"3/29/2026 01:59:59", 1, "C", utc(2026, 3, 29, 0, 59, 59), 0, ber},
        {"3/29/2026 03:00:00", 1, "C", utc(2026, 3, 29, 1, 0, 0), 0, ber},
        // It falls back at 03:00 CEST on 25 October: 02:30 happens twice,
        // the later (CET) one is taken.
        {"10/25/2026 02:30:00", 1, "C", utc(2026, 10, 25, 1, 30), 0, ber},
        {"10/25/2026 01:59:59", 1, "C", utc(2026, 10, 24, 23, 59, 59), 0, ber},
        {"10/25/2026 03:00:00", 1, "C", utc(2026, 10, 25, 2, 0), 0, ber},
        {"11/1/2026", 0, "C", utc(2026, 11, 2, 4, 59, 59), 0, nyc},
        // before the epoch in local time: the start of time
        {"1/1/1970 00:30:00", 1, "C", 0, 0, ber},
        {"1/1/1970 00:00:00", 1, "C", 5 * 3600, 0, nyc},
    };
    for (const Case &c : cases) {
        set_tz(c.zone);
        EXPECT_EQ(parse(c.text, c.startofday, c.locale, c.timefirst), c.want)
            << '"' << c.text << "\" in " << c.locale << " " << c.zone << " flag " << c.startofday
            << " time first " << c.timefirst;
    }
}

TEST_F(TimefuncsTest, TextLengthLimitsAndNullArguments) {
    std::string text = "12/31/2026";
    text.resize(TF_TEXT_MAX, ' ');
    EXPECT_EQ(parse(text.c_str(), 1), utc(2026, 12, 31));
    text.push_back(' ');
    EXPECT_EQ(parse(text.c_str(), 1), -1);
    int32_t v = 0;
    EXPECT_EQ(convert2unixdatel(nullptr, &v, 1, "C", 0), 0);
    EXPECT_EQ(convert2unixdatel("1/1/2026", nullptr, 1, "C", 0), 0);
}

TEST_F(TimefuncsTest, AmPmWordsFollowTheLocale) {
    setupampm("xx_NM");
    EXPECT_STREQ(amstr, "VOR");
    EXPECT_STREQ(pmstr, "NM");
    setupampm(nullptr);
    EXPECT_STREQ(amstr, "AM");
    EXPECT_STREQ(pmstr, "PM");
    // Back to the same locale after no locale: its words again.
    setupampm("xx_NM");
    EXPECT_STREQ(amstr, "VOR");
}

TEST_F(TimefuncsTest, RoundTripsInEveryLocaleAndZone) {
    const char *const locales[] = {"C", "de_DE", "en_US", "xx_NM", "xx_YY", "xx_SP"};
    const char *const zones[] = {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata"};
    // Spread over the representable range (two-digit years only where the
    // window maps them back), plus both ends of a day.
    std::vector<int32_t> values = {utc(1970, 1, 2),      utc(1999, 12, 31, 23, 59, 59),
                                   utc(2000, 2, 29, 12), utc(2024, 7, 15, 6, 7, 8),
                                   utc(2026, 12, 1),     utc(2037, 12, 31, 12)};
    for (int32_t t = utc(1971, 1, 1); t < utc(2037, 1, 1); t += 7777777) {
        values.push_back(t);
    }
    for (const char *zone : zones) {
        set_tz(zone);
        for (const char *locale : locales) {
            for (int32_t t : values) {
                std::string text = datestringl(t, locale, 0);
                int32_t back = 0;
                ASSERT_EQ(convert2unixdatel(text.c_str(), &back, 1, locale, 0), 1)
                    << text << " in " << locale << " " << zone;
                // A repeated hour parses as its later occurrence.
                EXPECT_TRUE(back == t || back == t + 3600)
                    << text << " in " << locale << " " << zone << ": " << t << " -> " << back;
                if (back != t) {
                    time_t a = t;
                    time_t b = back;
                    struct tm la, lb;
                    localtime_r(&a, &la);
                    localtime_r(&b, &lb);
                    EXPECT_EQ(dcmp(&la, &lb), 0) << "same local time expected";
                }
                std::string text_tf = datestringl(t, locale, 1);
                ASSERT_EQ(convert2unixdatel(text_tf.c_str(), &back, 1, locale, 1), 1) << text_tf;
            }
        }
    }
}

// ---- daylight saving ----

TEST_F(TimefuncsTest, UnctimeIsTheLastSecondNotLaterThanTheWantedTime) {
    const char *const zones[] = {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe"};
    for (const char *zone : zones) {
        set_tz(zone);
        uint32_t seed = 12345;
        for (int i = 0; i < 400; ++i) {
            seed = seed * 1103515245u + 12345u;
            const time_t t = static_cast<time_t>(seed % 2147483000u) + 86400;
            struct tm want;
            ASSERT_NE(localtime_r(&t, &want), nullptr);
            const int32_t r = unctime(&want);
            const time_t rt = r;
            const time_t next = static_cast<time_t>(r) + 1;
            struct tm at, after;
            localtime_r(&rt, &at);
            localtime_r(&next, &after);
            EXPECT_LE(dcmp(&at, &want), 0) << zone << " " << t;
            EXPECT_GT(dcmp(&after, &want), 0) << zone << " " << t;
            EXPECT_GE(static_cast<time_t>(r), t) << zone;
        }
    }
    // Around every setting back of the clock in 2026 each wall-clock time
    // of the repeated interval parses as its later occurrence.
    for (const char *zone : zones) {
        set_tz(zone);
        int fallbacks = 0;
        for (time_t h = utc(2026, 1, 1); h < utc(2027, 1, 1); h += 3600) {
            struct tm a, b;
            const time_t h2 = h + 3600;
            localtime_r(&h, &a);
            localtime_r(&h2, &b);
            const long shift = a.tm_gmtoff - b.tm_gmtoff;
            if (shift <= 0) {
                continue;
            }
            ++fallbacks;
            for (time_t t = h - 2 * 3600; t < h + 4 * 3600; t += 97) {
                struct tm want, later;
                localtime_r(&t, &want);
                const time_t twin = t + shift;
                localtime_r(&twin, &later);
                const time_t expect = dcmp(&later, &want) == 0 ? twin : t;
                EXPECT_EQ(static_cast<time_t>(unctime(&want)), expect) << zone << " " << t;
            }
        }
        EXPECT_EQ(fallbacks, strcmp(zone, "UTC") == 0 ? 0 : 1) << zone;
    }

    set_tz("UTC");
    const struct tm past = civil(1960, 1, 1), future = civil(2100, 1, 1);
    EXPECT_EQ(unctime(&past), 0);
    EXPECT_EQ(unctime(&future), TF_INFINITY);
}

TEST(TimefuncsPlain, DcmpOrdersFieldByField) {
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
}

TEST(TimefuncsPlain, ValidDayTable) {
    // month (0-11), day, year (since 1900), valid
    const std::tuple<int, int, int, int> cases[] = {
        {0, 31, 126, 1}, {0, 32, 126, 0}, {1, 28, 125, 1}, {1, 29, 125, 0},  {1, 29, 124, 1},
        {1, 30, 124, 0}, {3, 30, 126, 1}, {3, 31, 126, 0}, {11, 31, 126, 1}, {5, 0, 126, 0},
        {5, -3, 126, 0}, {12, 1, 126, 0}, {-1, 1, 126, 0}, {1, 29, 100, 1},
    };
    for (const auto &[month, day, year, want] : cases) {
        EXPECT_EQ(ValidDay(month, day, year), want) << month << " " << day << " " << year;
    }
}

// ---- the fixed-format parser ----

TEST_F(TimefuncsTest, FixedFormatParser) {
    // zone, text, start of day, value (-1: invalid)
    const std::tuple<const char *, const char *, int, int64_t> cases[] = {
        {"UTC", "1/1/70 00:00:00", 1, 0},
        {"America/New_York", "1/1/70 00:00:00", 1, 5 * 3600},
        {"Europe/Berlin", "1/1/70 00:00:00", 1, 0},
        {"UTC", "12/01/2026 14:05:00 \t\n", 1, utc(2026, 12, 1, 14, 5)},
        {"UTC", "12/31/2026", 0, utc(2026, 12, 31, 23, 59, 59)},
        {"UTC", "12/31/2026", 1, utc(2026, 12, 31)},
        {"UTC", "1/2/26 3:04:05", 1, utc(2026, 1, 2, 3, 4, 5)},
        {"UTC", "1/2/26 3:04", 0, utc(2026, 1, 2, 3, 4, 59)},
        {"UTC", "1/1/45 00:00:00", 1, 0},
        {"UTC", "01/01/2050 00:00:00", 1, TF_CAP},
        {"UTC", "3/4", 1, utc(this_year(), 3, 4)},
        {"UTC", "2/29/2025", 1, -1},
        {"UTC", "13/01/2026", 1, -1},
        {"UTC", "12/01/2026 24:00:00", 1, -1},
        {"UTC", "12/01/2026 10:60:00", 1, -1},
        {"UTC", "12", 1, -1},
        {"UTC", "", 1, -1},
    };
    for (const auto &[zone, text, startofday, want] : cases) {
        set_tz(zone);
        int32_t v = -12345;
        const int ok = convert2unixdate(text, &v, startofday);
        EXPECT_EQ(ok ? static_cast<int64_t>(v) : -1, want) << text << " in " << zone;
    }
}

// ---- definitions ----

TEST_F(TimefuncsTest, DefinitionLookupAndLineShapes) {
    // The alias file's only line (null: the test's own file), the locale and its definition.
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {nullptr, "de_DE", "de_DE hh:mn:ss ^ dd.mm.yyyy. ^\n"},
        {nullptr, "de_DE.UTF-8", "de_DE hh:mn:ss ^ dd.mm.yyyy. ^\n"},
        {nullptr, "en_US", "en_US HH:mn:ss ^ mm/dd/yyyy ^\n"},
        // the built-in definition
        {nullptr, "C", "tm hh:mn:ss ^ mm/dd/yyyy ^\n"},
        {nullptr, "loop1", "tm hh:mn:ss ^ mm/dd/yyyy ^\n"},
        {nullptr, "unknown", "tm hh:mn:ss ^ mm/dd/yyyy ^\n"},
        {nullptr, nullptr, "tm hh:mn:ss ^ mm/dd/yyyy ^\n"},
        {"TL 2 ab hh:mn:ss dd.mm.yyyy.", "ab", "ab hh:mn:ss ^ dd.mm.yyyy. ^\n"},
        {"TL 2 ab   HH.mn.ss    yyyy-mm-dd  trailing words", "ab", "ab HH.mn.ss ^ yyyy-mm-dd ^\n"},
        {"TL 2 ab hh:mn:ssdd/mm/yy", "ab", "ab hh:mn:ss ^ dd/mm/yy ^\n"},
        {"TL 2 ab hh:mn:ss dd/mm", "ab", "tm hh:mn:ss ^ mm/dd/yyyy ^\n"},
        {"TM 2 ab 2 cd", "ab", "tm hh:mn:ss ^ mm/dd/yyyy ^\n"},
    };
    for (const auto &[line, locale, want] : cases) {
        if (line != nullptr) {
            write_file(alias(), std::string(line) + "\n");
            fresh();
        }
        EXPECT_EQ(definition(locale), want) << (line ? line : "") << " " << (locale ? locale : "-");
    }
}

TEST_F(TimefuncsTest, DefinitionIsCachedPerLocale) {
    char buf[TF_DEF_SIZE];
    getdef(buf, "de_DE");
    write_file(alias(), "TL 5 de_DE hh:mn:ss yyyy/mm/dd\nTL 5 en_GB hh:mn:ss dd/mm/yyyy\n");
    // The same locale is not read again...
    EXPECT_STREQ(datestringl(utc(2026, 1, 2), "de_DE", 0), "02.01.2026. 00:00:00");
    // ...another one is, and coming back reads the file anew.
    EXPECT_STREQ(datestringl(utc(2026, 1, 2), "en_GB", 0), "02/01/2026 00:00:00");
    EXPECT_STREQ(datestringl(utc(2026, 1, 2), "de_DE", 0), "2026/01/02 00:00:00");
    unlink(alias().c_str());
    fresh();
    EXPECT_STREQ(datestringl(utc(2026, 1, 2), "de_DE", 0), "01/02/2026 00:00:00");
}

// Each field shows as its code and, in brackets, the separator after it.
TEST(TimefuncsPlain, FieldCodesAndSeparators) {
    const std::pair<const char *, const char *> cases[] = {
        {"hh:mn:ss ", "hh[:]mn[:]ss[ ]"},
        {" mm/dd/yyyy ", "mm[/]dd[/]yyyy[ ]"},
        {"dd.mm.yyyy", "dd[.]mm[.]yyyy[]"},
        {"dd.yyyy.", "dd[.]yyyy[.]"},
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
}

TEST(TimefuncsPlain, ValiddefRecognisesCodesInContext) {
    const std::tuple<const char *, size_t, int> cases[] = {
        {"HH", 0, 2},  {"hh", 0, 2},    {"mn", 0, 2},   {"mm", 0, 2},    {"dd", 0, 2},
        {"ss", 0, 2},  {"yy", 0, 2},    {"yyyy", 0, 4}, {"yyyyy", 0, 0}, {"yyyyy", 1, 0},
        {"yyy", 0, 0}, {"xyy", 1, 2},   {"yyy", 1, 0},  {"h", 0, 0},     {"", 0, 0},
        {"Hh", 0, 0},  {"yyyy/", 0, 4}, {"MM", 0, 0},
    };
    for (const auto &[format, pos, want] : cases) {
        EXPECT_EQ(validdef(format, pos), want) << format << " at " << pos;
    }
}

// datestringl always formats the seconds and the 12-hour form; the other
// modes of the time half and an unknown code are only reachable here.
TEST(TimefuncsPlain, TimeHalfModes) {
    const struct tm tm = civil(2026, 12, 1, 0, 5, 9);
    // format, no seconds, 12-hour clock, text
    const std::tuple<const char *, int, int, const char *> cases[] = {
        {"hh:mn:ss ", 1, 1, "00:05"},
        {"HH:mn:ss ", 0, 0, "00:05:09"},
        {"hh:xx:ss", 0, 1, "00:xx:09"}};
    for (const auto &[format, noseconds, twelvehour, want] : cases) {
        std::string fmt = format;
        char out[31];
        dotime(fmt.data(), out, &tm, noseconds, twelvehour);
        EXPECT_STREQ(out, want) << format;
    }
}

// The other shapes of a TL line reach eodf through DefinitionLookupAndLineShapes.
TEST(TimefuncsPlain, EodfNeedsABlankToCutATightTimeFormat) {
    // No blank before the time format and none between the formats: no
    // room to cut the time format.
    char tight[] = "hh:mn:ssdd/mm/yy";
    char *datefmt = nullptr;
    EXPECT_EQ(eodf(tight, &datefmt), nullptr);
}

TEST_F(TimefuncsTest, MidnightIsTheEndOfToday) {
    for (const char *zone : {"UTC", "Asia/Kolkata", "America/New_York"}) {
        set_tz(zone);
        const time_t before = time(nullptr);
        const int32_t m = midnight();
        EXPECT_GE(static_cast<time_t>(m), before) << zone;
        EXPECT_LT(static_cast<time_t>(m), before + 86400 + 3600) << zone;
        time_t mt = m;
        struct tm lt, now;
        localtime_r(&mt, &lt);
        localtime_r(&before, &now);
        EXPECT_EQ(lt.tm_mday, now.tm_mday) << zone;
    }
    set_tz("Asia/Kolkata"); // no daylight saving: always 23:59:59
    const std::string text = datestringl(midnight(), "C", 0);
    EXPECT_EQ(text.substr(text.size() - 8), "23:59:59");
}

// The installed alias file (the staged product root the suite runs with):
// every locale it names has a definition that formats and parses back, and
// a locale whose "TL" line carries formats does not fall back to the
// built-in one.
TEST(TimefuncsInstalled, EveryLocaleOfTheAliasFileRoundTrips) {
    const char *root = getenv("XKP_ROOT");
    ASSERT_NE(root, nullptr);
    std::ifstream in(std::string(root) + "/msg/.conf");
    ASSERT_TRUE(in) << "no alias file in the staged root";
    timefuncs_forget();
    ScopedEnv tz("TZ", "Europe/Berlin");
    int named = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("TL ", 0) != 0 && line.rfind("TM ", 0) != 0) {
            continue;
        }
        size_t pos = 3;
        const size_t n = std::stoul(line.substr(pos), &pos);
        pos = line.find_first_not_of(' ', 3 + pos);
        const std::string name = line.substr(pos, n);
        ++named;
        char buf[TF_DEF_SIZE];
        getdef(buf, name.c_str());
        const std::string rest = line.substr(pos + n);
        if (line[1] == 'L' && rest.find_first_not_of(" \t\r") != std::string::npos) {
            EXPECT_STREQ(buf, name.c_str()) << "definition of " << name << " not read";
        }
        for (int32_t t : {utc(2026, 12, 1, 14, 5, 9), utc(1999, 1, 31, 0, 0, 1)}) {
            const std::string text = datestringl(t, name.c_str(), 0);
            int32_t back = 0;
            ASSERT_EQ(convert2unixdatel(text.c_str(), &back, 1, name.c_str(), 0), 1)
                << text << " in " << name;
            EXPECT_EQ(back, t) << text << " in " << name;
        }
    }
    EXPECT_GT(named, 0);
}

} // namespace
