// Catalog lookups: a cached hit, a remembered miss, the first lookup that
// scans a whole message file, and a label. The anchor is a plain snprintf of
// the same format: a hit should cost a small multiple of it.

#include <benchmark/benchmark.h>

#include "tmmsg.h"
#include "tmmsgcache.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A product root with a C catalog of 2000 messages and 1000 labels.
class BenchRoot {
  public:
    BenchRoot() {
        char tmpl[] = "/tmp/tmmsg_bench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            abort();
        }
        root_ = tmpl;
        std::filesystem::create_directories(root_ + "/msg/C/sorvane");
        std::ofstream msgs(root_ + "/msg/C/sorvane/CerMsgs");
        std::ofstream lbls(root_ + "/msg/C/sorvane/GuiLbls");
        char line[128];
        for (int i = 0; i < 2000; ++i) {
            snprintf(line, sizeof line, "CerBen%04dN \"message number %d of %%d\\n\"\n", i, i);
            msgs << line;
        }
        for (int i = 0; i < 1000; ++i) {
            snprintf(line, sizeof line, "GuiBen%04dN \"Label %d\" \"L\"\n", i, i);
            lbls << line;
        }
        setenv("XKP_ROOT", root_.c_str(), 1);
    }
    ~BenchRoot() { std::filesystem::remove_all(root_); }

  private:
    std::string root_;
};

BenchRoot &bench_root() {
    static BenchRoot root;
    return root;
}

void BM_SnprintfAnchor(benchmark::State &state) {
    char buf[TM_NAME_SIZE];
    int i = 0;
    for (auto _ : state) {
        snprintf(buf, sizeof buf, "message number 1234 of %d\n", ++i);
        benchmark::DoNotOptimize(buf);
    }
}
BENCHMARK(BM_SnprintfAnchor);

void BM_CatalogHit(benchmark::State &state) {
    bench_root();
    destroyLocaleList();
    char buf[TM_NAME_SIZE];
    tmgetmsg("CerBen1234N", "C", sizeof buf, buf, nullptr, 0, nullptr, "default %d", 0);
    int i = 0;
    for (auto _ : state) {
        tmgetmsg("CerBen1234N", "C", sizeof buf, buf, nullptr, 0, nullptr, "default %d", ++i);
        benchmark::DoNotOptimize(buf);
    }
}
BENCHMARK(BM_CatalogHit);

void BM_CatalogMiss(benchmark::State &state) {
    bench_root();
    destroyLocaleList();
    char buf[TM_NAME_SIZE];
    tmgetmsg("CerBen9999N", "C", sizeof buf, buf, nullptr, 0, nullptr, "default %d", 0);
    int i = 0;
    for (auto _ : state) {
        tmgetmsg("CerBen9999N", "C", sizeof buf, buf, nullptr, 0, nullptr, "default %d", ++i);
        benchmark::DoNotOptimize(buf);
    }
}
BENCHMARK(BM_CatalogMiss);

// The first lookup of a prefix in a fresh cache: reads and caches all 2000 entries.
void BM_FirstLookupScansTheFile(benchmark::State &state) {
    bench_root();
    for (auto _ : state) {
        destroyLocaleList();
        benchmark::DoNotOptimize(getLocalMsgFmt("C", "CerBen0000N"));
    }
    state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_FirstLookupScansTheFile)->Unit(benchmark::kMicrosecond);

// A label: the label file is opened on every call (the table itself is loaded once).
void BM_LabelHit(benchmark::State &state) {
    bench_root();
    char label[TM_NAME_SIZE];
    char mnemonic[TM_NAME_SIZE];
    for (auto _ : state) {
        tmgetlbl("GuiBen0500N", "C", "x", "", label, mnemonic);
        benchmark::DoNotOptimize(label);
    }
}
BENCHMARK(BM_LabelHit);

} // namespace

BENCHMARK_MAIN();
