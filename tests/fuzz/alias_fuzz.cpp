// Fuzzes the locale alias file: line parsing and both name mappings.
#include "tmmsg.h"
#include "tmmsg_tar.h"

#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "fuzz_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_write(".conf", data, size);
    std::string text(reinterpret_cast<const char *>(data), size);
    const char *fixed[] = {"C", "C.UTF-8", "POSIX", "/C/", "de_DE.UTF-8", ""};
    const char *result = nullptr;
    for (const char *name : fixed) {
        real2commonlocale(name, &result);
        common2reallocale(name);
    }
    // Names taken from the input's own lines, so that matches happen.
    int n = 0;
    for (size_t pos = 0; pos < text.size() && n < 8; ++n) {
        size_t end = text.find('\n', pos);
        std::string line =
            text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        TmAliasLine a;
        if (tm_parse_alias(line, &a)) {
            if (a.name1.data() < line.data() ||
                a.name1.data() + a.name1.size() > line.data() + line.size()) {
                __builtin_trap();
            }
            std::string name(a.name1);
            real2commonlocale(name.c_str(), &result);
            if (strlen(result) >= TM_STATUS_SIZE) {
                __builtin_trap();
            }
            std::string common(a.kind == 'M' ? a.name2 : a.name1);
            common2reallocale(common.c_str());
        }
        real2commonlocale(line.c_str(), &result);
        if (end == std::string::npos) {
            break;
        }
        pos = end + 1;
    }
    setlocale(LC_TIME, "C");
    return 0;
}
