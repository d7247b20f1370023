// Parsing a 10,000-line kp.conf.
//
// Two files of 10,000 lines: "lists", the shape of a large real file (a few
// settings, comments, and long Exclude/Include lists), and "keys", every key
// of the table in turn with a value of its type (so single-valued keys are
// redefined and their warnings are built). The anchor counts the lines of the
// same text with memchr: the ratio parse/anchor is the figure to watch.
#include <benchmark/benchmark.h>

#include "kpconf_api.h"
#include "unixconf_api.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int LINES = 10000;

std::string value_for(const kp_config_def &def, int i) {
    switch (def.type) {
    case CONF_INT:
        return std::to_string(i % 500 + 3);
    case CONF_ENUM:
    case CONF_FLAGS:
        return def.table.names != nullptr ? def.table.names->names[i % def.table.names->count].name
                                          : "1";
    case CONF_STRING:
        return "value_" + std::to_string(i);
    case CONF_STRUCT:
        return std::to_string(1000 + i % 100) + " " + std::to_string(2000 + i % 100);
    case CONF_LIST:
        if (def.table.list != nullptr && def.table.list->element->count == 3) {
            return "10.0.0." + std::to_string(i % 200 + 1) + " 10.0.1.1 " + std::to_string(i);
        }
        return "entry_" + std::to_string(i) + ", second part";
    default:
        return "x";
    }
}

std::string lists_file() {
    std::string text = "# Host configuration\nSERVER = master\nSERVER = media1\nCLIENT_NAME = "
                       "client7\nVERBOSE = 1\nBELIEVE_MOUNTS = YES\n";
    int line = 6;
    for (int i = 0; line < LINES; ++i, ++line) {
        if (i % 50 == 0) {
            text += "# section " + std::to_string(i / 50) + "\n";
        } else if (i % 3 == 0) {
            text += "Include = /export/home/user" + std::to_string(i) + "/keep\n";
        } else {
            text += "Exclude = /export/home/user" + std::to_string(i) + "/tmp/*.o\n";
        }
    }
    return text;
}

std::string keys_file() {
    std::string text;
    for (int i = 0; i < LINES; ++i) {
        const kp_config_def &def = configDefinition[i % (KPCONF_KEYS - 6)];
        text += def.name;
        text += " = ";
        text += value_for(def, i);
        text += '\n';
    }
    return text;
}

void parse(benchmark::State &state, std::string text) {
    kp_config cfg;
    getDefaultConfig(&cfg);
    for (auto _ : state) {
        int rc = ParseConfigExA(text.data(), &cfg, nullptr, PARSE_EMPTY_DEFINES);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(state.iterations() * LINES);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void anchor(benchmark::State &state, std::string text) {
    for (auto _ : state) {
        long lines = 0;
        const char *p = text.data();
        const char *end = p + text.size();
        while ((p = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)))) !=
               nullptr) {
            ++lines;
            ++p;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetItemsProcessed(state.iterations() * LINES);
}

void BM_Parse_Lists(benchmark::State &state) {
    parse(state, lists_file());
}
void BM_Parse_EveryKey(benchmark::State &state) {
    parse(state, keys_file());
}
void BM_Anchor_CountLines(benchmark::State &state) {
    anchor(state, lists_file());
}

// The whole host-file path: read, defaults, parse, checks.
void BM_ReadHostConfig_Lists(benchmark::State &state) {
    char dir[] = "/tmp/kpconf_bench.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("mkdtemp");
        return;
    }
    const std::string sorvane = std::string(dir) + "/sorvane";
    mkdir(sorvane.c_str(), 0755);
    std::ofstream(sorvane + "/kp.conf") << lists_file();
    setenv("XKP_ROOT", dir, 1);
    for (auto _ : state) {
        kp_config cfg;
        int rc = ReadHostConfigA(&cfg, nullptr);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(state.iterations() * LINES);
    unlink((sorvane + "/kp.conf").c_str());
    rmdir(sorvane.c_str());
    rmdir(dir);
}

void BM_KeyLookup(benchmark::State &state) {
    int i = 0;
    for (auto _ : state) {
        int row = getConfigIndexA(configDefinition[i++ % KPCONF_KEYS].name);
        benchmark::DoNotOptimize(row);
    }
}

} // namespace

BENCHMARK(BM_Anchor_CountLines);
BENCHMARK(BM_Parse_Lists);
BENCHMARK(BM_Parse_EveryKey);
BENCHMARK(BM_ReadHostConfig_Lists);
BENCHMARK(BM_KeyLookup);
BENCHMARK_MAIN();
