// Date parse plus format against the C library doing the same work, in one
// run:
//   - BM_LibcParseFormat: strptime + mktime + localtime_r + strftime of the
//     same text (the anchor);
//   - BM_ParseFormat: convert2unixdatel + datestringl with the built-in
//     definition and with a day.month.year definition from the alias file
//     (cached, as in the program);
//   - BM_ParseFormatUncached: the same with the definition and AM/PM words
//     forgotten each time, so the alias file is read every call;
//   - BM_Format against BM_LibcFormat: formatting alone (localtime_r +
//     strftime), the cost paid for every row of a file list;
//   - BM_Unctime against BM_LibcMktime: local time to time value alone.
// The ratios to the anchors are the result.
#include "timefuncs.h"
#include "tmmsgcache.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

// A product root with an alias file, made once and removed at exit.
struct BenchRoot {
    std::string path;
    BenchRoot() {
        char tmpl[] = "/tmp/timefuncs_benchXXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            abort();
        }
        path = tmpl;
        std::filesystem::create_directories(path + "/msg");
        FILE *f = fopen((path + "/msg/.conf").c_str(), "w");
        if (f == nullptr) {
            abort();
        }
        fputs("TL 1 C\nTL 5 en_US HH:mn:ss mm/dd/yyyy\nTL 5 de_DE hh:mn:ss dd.mm.yyyy.\n", f);
        fclose(f);
        setenv("XKP_ROOT", path.c_str(), 1);
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
    }
    ~BenchRoot() { std::filesystem::remove_all(path); }
};
BenchRoot bench_root;

const char *const kTexts[] = {"12/01/2026 14:05:09", "01.12.2026. 14:05:09"};
const char *const kLocales[] = {"C", "de_DE"};

void BM_LibcParseFormat(benchmark::State &state) {
    char out[64];
    for (auto _ : state) {
        struct tm tm = {};
        strptime("12/01/2026 14:05:09", "%m/%d/%Y %H:%M:%S", &tm);
        tm.tm_isdst = -1;
        time_t t = mktime(&tm);
        struct tm lt;
        localtime_r(&t, &lt);
        strftime(out, sizeof out, "%m/%d/%Y %H:%M:%S", &lt);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_LibcParseFormat);

void BM_ParseFormat(benchmark::State &state) {
    const char *text = kTexts[state.range(0)];
    const char *locale = kLocales[state.range(0)];
    int32_t v = 0;
    for (auto _ : state) {
        if (!convert2unixdatel(text, &v, 1, locale, 0)) {
            state.SkipWithError("date did not parse");
            break;
        }
        benchmark::DoNotOptimize(datestringl(v, locale, 0));
    }
    state.SetLabel(locale);
}
BENCHMARK(BM_ParseFormat)->Arg(0)->Arg(1);

void BM_ParseFormatUncached(benchmark::State &state) {
    const char *text = kTexts[state.range(0)];
    const char *locale = kLocales[state.range(0)];
    int32_t v = 0;
    for (auto _ : state) {
        timefuncs_forget();
        if (!convert2unixdatel(text, &v, 1, locale, 0)) {
            state.SkipWithError("date did not parse");
            break;
        }
        benchmark::DoNotOptimize(datestringl(v, locale, 0));
    }
    state.SetLabel(locale);
}
BENCHMARK(BM_ParseFormatUncached)->Arg(0)->Arg(1);

void BM_LibcFormat(benchmark::State &state) {
    char out[64];
    time_t t = 1796133909;
    for (auto _ : state) {
        struct tm lt;
        localtime_r(&t, &lt);
        strftime(out, sizeof out, "%m/%d/%Y %H:%M:%S", &lt);
        benchmark::DoNotOptimize(out);
        ++t;
    }
}
BENCHMARK(BM_LibcFormat);

void BM_Format(benchmark::State &state) {
    const char *locale = kLocales[state.range(0)];
    int32_t t = 1796133909;
    for (auto _ : state) {
        benchmark::DoNotOptimize(datestringl(t++, locale, 0));
    }
    state.SetLabel(locale);
}
BENCHMARK(BM_Format)->Arg(0)->Arg(1);

struct tm wanted() {
    struct tm tm = {};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 1;
    tm.tm_hour = 14;
    tm.tm_min = 5;
    tm.tm_sec = 9;
    return tm;
}

void BM_LibcMktime(benchmark::State &state) {
    for (auto _ : state) {
        struct tm tm = wanted();
        tm.tm_isdst = -1;
        benchmark::DoNotOptimize(mktime(&tm));
    }
}
BENCHMARK(BM_LibcMktime);

void BM_Unctime(benchmark::State &state) {
    const struct tm tm = wanted();
    for (auto _ : state) {
        benchmark::DoNotOptimize(unctime(&tm));
    }
}
BENCHMARK(BM_Unctime);

} // namespace

BENCHMARK_MAIN();
