// Fuzzes the field splitters that parse every line of command output.
#include "cmnutils.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string line(reinterpret_cast<const char *>(data + 1), size - 1);
    int n = data[0] % 16;
    static char field[XKP_FIELD_MAX + 1];
    static char eol[XKP_EOL_MAX + 1];
    int count = field_count(line.c_str());
    field_copy(field, line.c_str(), n);
    field_copy_noval(field, line.c_str(), n);
    field_copy_to_eol(eol, line.c_str(), n);
    field_copy_eol_noval(eol, line.c_str(), n);
    if (n > count && n > 0 && field[0] != '\0') {
        __builtin_trap();
    }
    trim(line.c_str());
    pad_slash(line.c_str());
    decolonize_by_mode(line.c_str(), nullptr, n);
    auto q = apostrophize(line.c_str());
    std::string out(line.size() * 2 + 1, '\0');
    ucs1_to_utf8(line.c_str(), out.data());
    return 0;
}
