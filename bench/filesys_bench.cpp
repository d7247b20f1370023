// The local listing over generated trees of about 100,000 entries, and the
// sort of one 4096-entry directory.
//
//   filesys_bench                        Google Benchmark runs (trees in /tmp)
//   filesys_bench --make-tree DIR SHAPE  creates a tree: "wide" (1,000
//                                        directories of 100 files below DIR) or
//                                        "deep" (10x10x10 directories, 100 files
//                                        in each of the lowest)
//   filesys_bench --walk DIR DEPTH       one filesys_tree of DIR at DEPTH;
//                                        prints "seconds left_lines right_rows"
//
// bench/filesys_vs_find.sh compares the walk with find -printf over the same tree.
#include <benchmark/benchmark.h>

#include "xkp_filesys.h"
#include "xkp_rows.h"
#include "xkp_state.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A sink that only counts, so the figures are those of the walk itself.
struct counts {
    long left = 0;
    long right = 0;
};
counts seen;

const row_sink counting_sink = {
    nullptr,
    [](void *, const char *, const char *) { ++seen.left; },
    [](void *, const char *, const char *, const char *, const char *, int) {
        return static_cast<int>(++seen.right);
    },
    [](void *) {},
    [](void *) -> const char * { return nullptr; },
};

bool make_files(const std::string &dir, int count) {
    for (int i = 0; i < count; ++i) {
        std::string p = dir + "/file_" + std::to_string(i) + ".dat";
        int fd = open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0) {
            return false;
        }
        close(fd);
    }
    return true;
}

bool make_tree(const std::string &root, const std::string &shape) {
    if (mkdir(root.c_str(), 0755) != 0 && errno != EEXIST) {
        return false;
    }
    if (shape == "wide") {
        for (int d = 0; d < 1000; ++d) {
            std::string dir = root + "/dir_" + std::to_string(d);
            if (mkdir(dir.c_str(), 0755) != 0 || !make_files(dir, 100)) {
                return false;
            }
        }
        return true;
    }
    if (shape == "deep") {
        for (int a = 0; a < 10; ++a) {
            std::string da = root + "/a" + std::to_string(a);
            if (mkdir(da.c_str(), 0755) != 0) {
                return false;
            }
            for (int b = 0; b < 10; ++b) {
                std::string db = da + "/b" + std::to_string(b);
                if (mkdir(db.c_str(), 0755) != 0) {
                    return false;
                }
                for (int c = 0; c < 10; ++c) {
                    std::string dc = db + "/c" + std::to_string(c);
                    if (mkdir(dc.c_str(), 0755) != 0 || !make_files(dc, 100)) {
                        return false;
                    }
                }
            }
        }
        return true;
    }
    return false;
}

double walk(const char *dir, int depth) {
    set_row_sink(&counting_sink);
    seen = {};
    recursion_limit = depth;
    auto t0 = std::chrono::steady_clock::now();
    filesys_tree(dir, 0, 2147483646);
    auto t1 = std::chrono::steady_clock::now();
    set_row_sink(nullptr);
    return std::chrono::duration<double>(t1 - t0).count();
}

// A generated tree kept for the process's benchmarks and removed at exit.
const std::string &bench_tree(const char *shape) {
    static std::string roots[2];
    std::string &root = roots[strcmp(shape, "wide") == 0 ? 0 : 1];
    if (root.empty()) {
        char tmpl[] = "/tmp/xkp_filesys_bench_XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            abort();
        }
        root = std::string(tmpl) + "/t";
        if (!make_tree(root, shape)) {
            abort();
        }
        static bool hooked = false;
        if (!hooked) {
            hooked = true;
            atexit([] {
                for (const auto &r : roots) {
                    if (!r.empty()) {
                        (void)!system(("rm -rf '" + r.substr(0, r.size() - 2) + "'").c_str());
                    }
                }
            });
        }
    }
    return root;
}

void BM_filesys_tree(benchmark::State &state, const char *shape) {
    const std::string &root = bench_tree(shape);
    int depth = static_cast<int>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(walk(root.c_str(), depth));
    }
    state.counters["left_lines"] = static_cast<double>(seen.left);
    state.counters["right_rows"] = static_cast<double>(seen.right);
}
BENCHMARK_CAPTURE(BM_filesys_tree, wide, "wide")->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_filesys_tree, deep, "deep")->Arg(999)->Unit(benchmark::kMillisecond);

// Sorting one full directory's working set: 4096 names, a tenth of them
// directories, in readdir's arbitrary order.
void BM_sort(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    std::mt19937 rng(1);
    std::vector<std::string> names(static_cast<size_t>(n));
    for (auto &s : names) {
        s = "entry_" + std::to_string(rng() % 1000000);
        if (rng() % 10 == 0) {
            s += '/';
        }
    }
    std::vector<struct stat64> stats(static_cast<size_t>(n));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> work = names;
        std::vector<struct stat64> st = stats;
        state.ResumeTiming();
        sort(n, work.data(), st.data());
        benchmark::DoNotOptimize(work.data());
    }
}
BENCHMARK(BM_sort)->Arg(4096)->Unit(benchmark::kMicrosecond);

// The anchor: the neighbour-swapping bubble sort whose order sort() keeps.
void BM_sort_bubble_anchor(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    std::mt19937 rng(1);
    std::vector<std::string> names(static_cast<size_t>(n));
    for (auto &s : names) {
        s = "entry_" + std::to_string(rng() % 1000000);
        if (rng() % 10 == 0) {
            s += '/';
        }
    }
    auto cmp = [](const std::string &a, const std::string &b) {
        bool da = a.back() == '/', db = b.back() == '/';
        if (da != db) {
            return da ? -1 : 1;
        }
        return strcmp(a.c_str(), b.c_str());
    };
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> work = names;
        std::vector<struct stat64> st(static_cast<size_t>(n));
        state.ResumeTiming();
        for (int pass = 0; pass < n - 1; ++pass) {
            for (int i = 0; i < n - 1 - pass; ++i) {
                if (cmp(work[static_cast<size_t>(i)], work[static_cast<size_t>(i + 1)]) > 0) {
                    std::swap(work[static_cast<size_t>(i)], work[static_cast<size_t>(i + 1)]);
                    std::swap(st[static_cast<size_t>(i)], st[static_cast<size_t>(i + 1)]);
                }
            }
        }
        benchmark::DoNotOptimize(work.data());
    }
}
BENCHMARK(BM_sort_bubble_anchor)->Arg(4096)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && strcmp(argv[1], "--make-tree") == 0) {
        return make_tree(argv[2], argv[3]) ? 0 : 1;
    }
    if (argc == 4 && strcmp(argv[1], "--walk") == 0) {
        double secs = walk(argv[2], atoi(argv[3]));
        printf("%.4f %ld %ld\n", secs, seen.left, seen.right);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
