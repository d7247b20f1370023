// Fuzzes the reading of a label file and the cutting of label and mnemonic.
#include "tmmsg.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "fuzz_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_write("C/sorvane/GuiLbls", data, size);
    tmlbl_forget();
    std::string text(reinterpret_cast<const char *>(data), size);
    static char label[TM_NAME_SIZE];
    static char mnemonic[TM_NAME_SIZE];
    tmgetlbl("GuiXkp0047N", "C", "File", "F", label, mnemonic);
    int n = 0;
    for (size_t pos = 0; pos < text.size() && n < 16; ++n) {
        size_t end = text.find('\n', pos);
        std::string key = text.substr(pos, 11);
        tmgetlbl(key.c_str(), "C", "d", "m", label, mnemonic);
        if (strlen(label) >= TM_NAME_SIZE || strlen(mnemonic) >= TM_NAME_SIZE) {
            __builtin_trap();
        }
        if (end == std::string::npos) {
            break;
        }
        pos = end + 1;
    }
    return 0;
}
