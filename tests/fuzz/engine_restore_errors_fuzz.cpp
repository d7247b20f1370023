// Fuzzes the reader of restic's restore errors ("ignoring error for PATH:
// WHY" lines): every reason read back is the end of one of the texts.
#include <cstdint>
#include <string>
#include <vector>

#include "restore_errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> texts;
    for (size_t pos = 0; pos <= input.size();) {
        size_t nl = input.find('\n', pos);
        std::string line =
            input.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        std::string text;
        if (restore_error_text(line, text)) {
            texts.push_back(text);
        }
        if (nl == std::string::npos) {
            break;
        }
        pos = nl + 1;
    }
    for (const auto &[where, why] : restore_error_locations(texts, "/stage")) {
        bool found = false;
        for (const auto &t : texts) {
            found = found || (t.size() >= why.size() + 2 + where.size() &&
                              t.compare(t.size() - why.size(), why.size(), why) == 0);
        }
        if (!found) {
            __builtin_trap();
        }
    }
    return 0;
}
