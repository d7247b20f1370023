// Fuzzes the command-line reader of the programs: the input is split at NUL
// bytes into argument words and read against the listing program's table.
#include <cstdint>
#include <string>
#include <vector>

#include "kpargs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> words = {"kplist"};
    size_t pos = 0;
    while (pos <= text.size() && words.size() < 64) {
        size_t z = text.find('\0', pos);
        if (z == std::string::npos) {
            z = text.size();
        }
        words.push_back(text.substr(pos, z - pos));
        pos = z + 1;
    }
    std::vector<const char *> argv;
    for (const auto &w : words) {
        argv.push_back(w.c_str());
    }
    static const std::vector<KpOption> table = {
        {"-t", true}, {"-S", true},  {"-C", true}, {"-r", false}, {"-A", false},     {"-B", false},
        {"-R", true}, {"-X", false}, {"-s", true}, {"-e", true},  {"-keyword", true}};
    KpArgs a;
    std::string err;
    if (kp_parse_args(static_cast<int>(argv.size()), argv.data(), table, a, err)) {
        long long t = 0;
        kp_parse_time(a.get("-s"), t);
        if (a.operands.size() + a.values.size() > words.size()) {
            __builtin_trap();
        }
    } else if (err.empty()) {
        __builtin_trap();
    }
    return 0;
}
