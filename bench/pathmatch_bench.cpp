// Path matching and wildcard expansion against the C library in the same run:
//   - BM_KpPathMatch/N: kppathmatch (mode 0, depth 999, records built on each
//     call, as the listing's filter does) over 4096 generated paths for a few
//     typical patterns; BM_KpPathMatchPrebuilt the same with the pattern's
//     record built once; BM_Fnmatch the anchor, fnmatch(3) with FNM_PATHNAME
//     over the same paths and patterns (it matches whole paths only, so its
//     answers differ for the "under a directory" patterns; the work is alike).
//   - BM_DoMatchHostile: "*a*a*a*a*a*a*a*b" over 64 "a"s, the case the early
//     abort of the stars exists for.
//   - BM_Glob / BM_LibcGlob: "DIR/log.*" over a directory of 10,000 files,
//     against glob(3) on the same word.
// The ratios to the anchors are the result; nothing here asserts a time.
#include <benchmark/benchmark.h>

#include "kppathmatch.h"
#include "sh_glob.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fnmatch.h>
#include <ftw.h>
#include <glob.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char *const kPatterns[] = {"*", "*.c", "/home/*/src", "/usr/[a-m]*/lib*/*.so*"};

const std::vector<std::string> &paths() {
    static const std::vector<std::string> p = [] {
        std::mt19937 rng(7);
        const char *tops[] = {"/home", "/usr", "/var", "/opt"};
        const char *mids[] = {"ann", "bob", "lib", "share", "src", "local", "cache"};
        const char *ends[] = {"main.c", "x.h", "libc.so.6", "notes.txt", "Makefile", "a.out"};
        std::vector<std::string> out;
        for (int i = 0; i < 4096; ++i) {
            std::string s = tops[rng() % 4];
            for (unsigned depth = 1 + rng() % 5; depth > 0; --depth) {
                s += "/";
                s += mids[rng() % 7];
            }
            s += "/";
            s += ends[rng() % 6];
            out.push_back(s);
        }
        return out;
    }();
    return p;
}

void BM_KpPathMatch(benchmark::State &state) {
    const char *pattern = kPatterns[state.range(0)];
    const auto &p = paths();
    long matched = 0;
    for (auto _ : state) {
        for (const auto &s : p) {
            matched += kppathmatch(s.c_str(), nullptr, pattern, nullptr, '/', 0, KP_ANY_DEPTH);
        }
    }
    benchmark::DoNotOptimize(matched);
    state.SetItemsProcessed(state.iterations() * static_cast<long>(p.size()));
    state.SetLabel(pattern);
}
BENCHMARK(BM_KpPathMatch)->DenseRange(0, 3);

void BM_KpPathMatchPrebuilt(benchmark::State &state) {
    const char *pattern = kPatterns[state.range(0)];
    static kp_pathelem pe;
    kpbuildpe(pattern, &pe, '/');
    const auto &p = paths();
    long matched = 0;
    for (auto _ : state) {
        for (const auto &s : p) {
            matched += kppathmatch(s.c_str(), nullptr, pattern, &pe, '/', 0, KP_ANY_DEPTH);
        }
    }
    benchmark::DoNotOptimize(matched);
    state.SetItemsProcessed(state.iterations() * static_cast<long>(p.size()));
    state.SetLabel(pattern);
}
BENCHMARK(BM_KpPathMatchPrebuilt)->DenseRange(0, 3);

void BM_Fnmatch(benchmark::State &state) {
    const char *pattern = kPatterns[state.range(0)];
    const auto &p = paths();
    long matched = 0;
    for (auto _ : state) {
        for (const auto &s : p) {
            matched += fnmatch(pattern, s.c_str(), FNM_PATHNAME) == 0;
        }
    }
    benchmark::DoNotOptimize(matched);
    state.SetItemsProcessed(state.iterations() * static_cast<long>(p.size()));
    state.SetLabel(pattern);
}
BENCHMARK(BM_Fnmatch)->DenseRange(0, 3);

void BM_DoMatchHostile(benchmark::State &state) {
    std::string text(64, 'a');
    for (auto _ : state) {
        benchmark::DoNotOptimize(DoMatch(text.c_str(), "*a*a*a*a*a*a*a*b"));
    }
}
BENCHMARK(BM_DoMatchHostile);

// A directory of 10,000 log files, removed at exit.
std::string log_dir;

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
    remove(path);
    return 0;
}

void remove_log_dir() {
    nftw(log_dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

const std::string &logs() {
    if (log_dir.empty()) {
        char tmpl[] = "/tmp/pathmatch_bench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            abort();
        }
        log_dir = tmpl;
        atexit(remove_log_dir);
        for (int i = 0; i < 10000; ++i) {
            std::string name = log_dir + "/" + (i % 2 ? "log." : "other.") + std::to_string(i);
            int fd = open(name.c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    return log_dir;
}

void BM_Glob(benchmark::State &state) {
    std::string word = logs() + "/log.*";
    const char *words[] = {word.c_str(), nullptr};
    size_t found = 0;
    for (auto _ : state) {
        char **names = Glob(words);
        for (char **n = names; n != nullptr && *n != nullptr; ++n) {
            ++found;
        }
        Globfree(names);
    }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_Glob)->Unit(benchmark::kMillisecond);

void BM_LibcGlob(benchmark::State &state) {
    std::string word = logs() + "/log.*";
    size_t found = 0;
    for (auto _ : state) {
        glob_t g;
        if (glob(word.c_str(), 0, nullptr, &g) == 0) {
            found += g.gl_pathc;
        }
        globfree(&g);
    }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_LibcGlob)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
