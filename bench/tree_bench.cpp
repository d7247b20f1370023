// build_tree over a generated kplist listing: 100,000 files in 1,000
// directories, each backed up 10 times (1,000,000 file lines plus the
// directory lines), read from a file as the loader reads kplist's pipe.
//
//   tree_bench                      Google Benchmark runs (generates the listing)
//   tree_bench --generate FILE      writes the listing to FILE
//   tree_bench --build-once FILE    builds the tree from FILE once and prints
//                                   "seconds arena_bytes listing_bytes"
//
// bench/tree_vs_wc.sh compares the build with `wc -l` over the same file.
#include <benchmark/benchmark.h>

#include "xkp_rows.h"
#include "xkp_state.h"
#include "xkp_tree.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int DIRS = 1000;
constexpr int FILES_PER_DIR = 100;
constexpr int VERSIONS = 10;

// One image after the other, each in path order, as the catalog holds them.
bool generate(const char *path) {
    FILE *f = fopen(path, "w");
    if (f == nullptr) {
        return false;
    }
    char r[160], p[128], nums[64];
    for (int v = 0; v < VERSIONS; ++v) {
        int32_t btime = 1600000000 + v * 86400;
        for (int d = 0; d < DIRS; ++d) {
            snprintf(p, sizeof p, "/home/user%02d/project%03d/", d / 100, d % 100);
            snprintf(nums, sizeof nums, "4096 %d %d %zu", btime, btime - 500, strlen(p));
            snprintf(r, sizeof r, "%-10s %-9s %-9s %-37s ", "drwxr-xr-x", "user", "staff", nums);
            fprintf(f, "16877 2 1000 1000 0 0 4096 2049 0 %s%s\n", r, p);
            for (int i = 0; i < FILES_PER_DIR; ++i) {
                snprintf(p, sizeof p, "/home/user%02d/project%03d/source_file_%04d.c", d / 100,
                         d % 100, i);
                snprintf(nums, sizeof nums, "%d %d %d %zu", 1000 + i * 37, btime, btime - 1000 - i,
                         strlen(p));
                snprintf(r, sizeof r, "%-10s %-9s %-9s %-37s ", "-rw-r--r--", "user", "staff",
                         nums);
                fprintf(f, "33188 1 1000 1000 0 0 %d 2049 0 %s%s\n", 1000 + i * 37, r, p);
            }
        }
    }
    return fclose(f) == 0;
}

const std::string &listing_file() {
    static std::string path;
    if (path.empty()) {
        char tmpl[] = "/tmp/xkp_tree_bench_XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) {
            abort();
        }
        close(fd);
        path = tmpl;
        if (!generate(path.c_str())) {
            abort();
        }
        atexit([] { unlink(path.c_str()); });
    }
    return path;
}

double build_once(const char *path) {
    FILE *f = fopen(path, "r");
    if (f == nullptr) {
        return -1;
    }
    auto t0 = std::chrono::steady_clock::now();
    init_tree();
    build_tree("/home", f);
    auto t1 = std::chrono::steady_clock::now();
    fclose(f);
    return std::chrono::duration<double>(t1 - t0).count();
}

void BM_build_tree(benchmark::State &state) {
    const std::string &path = listing_file();
    struct stat st {};
    stat(path.c_str(), &st);
    verbose = static_cast<int>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(build_once(path.c_str()));
    }
    state.counters["lines"] = VERSIONS * DIRS * (FILES_PER_DIR + 1);
    state.counters["listing_MB"] = static_cast<double>(st.st_size) / 1e6;
    state.counters["tree_MB"] = static_cast<double>(tree_memory_bytes()) / 1e6;
    state.counters["tree_per_listing"] =
        static_cast<double>(tree_memory_bytes()) / static_cast<double>(st.st_size);
    free_all();
    verbose = 0;
}
BENCHMARK(BM_build_tree)->Arg(0)->Arg(1)->ArgName("verbose")->Unit(benchmark::kMillisecond);

// Dumping one directory of 1,000 versions into the collecting sink.
void BM_dump_dir(benchmark::State &state) {
    build_once(listing_file().c_str());
    show_all_dates = static_cast<int>(state.range(0));
    for (auto _ : state) {
        collected_rows().clear();
        dump_dir("/home/user05/project042");
    }
    state.counters["rows"] = static_cast<double>(collected_rows().right.size());
    free_all();
}
BENCHMARK(BM_dump_dir)->Arg(0)->Arg(1)->ArgName("all_dates")->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "--generate") == 0) {
        return generate(argv[2]) ? 0 : 1;
    }
    if (argc == 3 && strcmp(argv[1], "--build-once") == 0) {
        struct stat st {};
        if (stat(argv[2], &st) != 0) {
            return 1;
        }
        double secs = build_once(argv[2]);
        printf("%.4f %zu %lld\n", secs, tree_memory_bytes(), static_cast<long long>(st.st_size));
        return secs < 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
