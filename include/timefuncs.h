// Date and time conversion by the locale's date definition.
//
// A time value is a signed 32-bit count of seconds since 1970-01-01 00:00:00
// UTC, converted to and from the local time zone. TF_INFINITY means "never
// expires" and formats as the catalog's word for infinity; TF_CAP is what any
// date beyond the last representable second parses to. Parsing never yields a
// negative value.
//
// Each locale has a date definition: which fields a time and a date have, in
// which order, with which separators. A definition is held as the text
//     NAME TIMEFORMAT ^ DATEFORMAT ^\n
// for example the built-in "tm hh:mn:ss ^ mm/dd/yyyy ^\n". A format is three
// field codes with separators between them:
//     hh  hour 00-23            HH  hour 01-12 plus the AM/PM word
//     mn  minute                ss  second
//     mm  month 01-12           dd  day of the month
//     yy  year modulo 100       yyyy  the full year
// Definitions come from the "TL" lines of the locale alias file
// (product_path("msg/.conf")):
//     TL 5 de_DE hh:mn:ss dd.mm.yyyy.
// and a "TM" line whose first name is the locale redirects to the definition
// of its second name. The built-in definition applies when the file or the
// locale's line is missing.
//
// Single-threaded and not reentrant: the formatted date, the cached
// definition, the AM/PM words and the field cursor are process-wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

constexpr int32_t TF_INFINITY = 2147483647; // 0x7FFFFFFF: no expiry
constexpr int32_t TF_CAP = 2147483646;      // 0x7FFFFFFE: any later date

constexpr size_t TF_DATE_SIZE = 61;   // datestringl's result (60 characters)
constexpr size_t TF_DEF_SIZE = 100;   // a definition text (99 characters)
constexpr size_t TF_LOCALE_MAX = 256; // longest locale name the cache remembers
constexpr size_t TF_SEP_SIZE = 5;     // a separator (4 characters)
constexpr size_t TF_AMPM_CHARS = 3;   // an AM/PM word: 3 characters,
constexpr size_t TF_AMPM_SIZE = 13;   // of up to 4 bytes each in UTF-8
constexpr size_t TF_TEXT_MAX = 99;    // longest date text convert2unixdatel accepts

// The built-in definition.
constexpr const char *TF_BUILTIN_DEF = "tm hh:mn:ss ^ mm/dd/yyyy ^\n";

// The AM and PM words in force (loaded by setupampm).
extern char amstr[TF_AMPM_SIZE];
extern char pmstr[TF_AMPM_SIZE];

// The date text of t in locale: date, one blank, time with seconds (time
// first when timefirst is set). TF_INFINITY gives the catalog text of
// "CerTmf0040N" (default "INFINITY      "), a value local time cannot convert
// that of "CerTmf0041N" (default "DATE ERROR    "). The result lives in a
// static buffer of TF_DATE_SIZE bytes that the next call overwrites.
char *datestringl(int32_t t, const char *locale, int timefirst);

// Parses a date text typed by the user. Returns 1 and sets *out when the
// text is a valid date, 0 when it is not (*out untouched). Fields the text
// leaves out default to 00:00:00 when startofday is set, to 23:59:59 when it
// is clear; a missing year is the current local year. Years 0-38 mean
// 2000-2038, 70-99 mean 1970-1999; years 39-69 and 100-1969 give the value 0
// (valid); dates past the last representable second give TF_CAP.
int convert2unixdatel(const char *text, int32_t *out, int startofday, const char *locale,
                      int timefirst);

// The fixed-format parser ("1/1/70 00:00:00" or "12/01/2026 14:05:00": month,
// day, year, then hour, minute, second), independent of any locale. Same
// results and defaults as convert2unixdatel.
int convert2unixdate(const char *text, int32_t *out, int startofday);

// Loads the definition of locale into buf (REQUIRES TF_DEF_SIZE bytes) and
// starts tokenizing it at blanks: returns the definition's name token. The
// next two calls of getdef_next() return the time format and the date format.
// The same locale is never looked up twice; a null locale, a missing alias
// file or a locale without a definition gives the built-in one.
char *getdef(char *buf, const char *locale);

// The next token of the definition loaded by getdef, separated by "^" or a
// newline; null when none is left.
char *getdef_next();

// Field cursor over a format: with fmt given starts on it, with null
// continues the last one. Returns the next field code (cut in place where its
// separator starts) and copies the separator that follows it (at most 4
// characters) into sep (REQUIRES TF_SEP_SIZE bytes); null when no field is
// left. Two codes without a separator between them make one field that
// matches no code.
char *getdef_sep(char *fmt, char *sep);

// The length of the field code that starts at fmt[pos] (2, or 4 for "yyyy"),
// 0 when none does. fmt is the whole format, so that a "y" before pos can
// disqualify a year code.
int validdef(const char *fmt, size_t pos);

// Splits the rest of a "TL" line after its name: returns the time format and
// sets *datefmt to the date format, both cut in place within rest; null when
// the line does not carry two formats of three fields each.
char *eodf(char *rest, char **datefmt);

// Formats the time fields of tm by fmt into out (REQUIRES 31 bytes; at most
// 30 characters). noseconds leaves out the seconds and their separator;
// twelvehour lets "HH" produce the 12-hour form with the AM/PM word. fmt is
// cut in place.
void dotime(char *fmt, char *out, const struct tm *tm, int noseconds, int twelvehour);

// Formats the date fields of tm by fmt into out (REQUIRES 31 bytes). The
// separator after the last field is kept without trailing blanks. fmt is cut
// in place.
void dodate(char *fmt, char *out, const struct tm *tm);

// Loads the AM/PM words of locale: "AM" and "PM" unless the catalog has
// texts for "CerTmf0010N" and "CerTmf0020N" (at most 3 characters each).
// The same locale is not loaded twice in a row.
void setupampm(const char *locale);

// The time value whose local time is tm: the largest non-negative 31-bit
// value whose local time is not later than tm. A time skipped by a daylight
// saving change gives the last second before the gap, a repeated hour its
// later occurrence, a time before the epoch 0.
int32_t unctime(const struct tm *tm);

// Compares two broken-down times by year, month, day, hour, minute, second:
// -1, 0 or 1.
int dcmp(const struct tm *a, const struct tm *b);

// Whether day exists in month (0-11) of year (years since 1900).
int ValidDay(int month, int day, int year);

// The last second of the current local day: now minus the local hour,
// minute and second, plus 86399.
int32_t midnight();

// Drops the cached definition, the AM/PM words and their locales, so that
// the next call reads the alias file and the catalog afresh. The program
// never calls it (a locale's definition does not change during a run); tests
// and fuzzers that rewrite the alias file do.
void timefuncs_forget();
