// Fuzzes the readers of the request programs' input files: counted lists,
// image entries, plain lists, the rename file and the transfer decoder.
#include <cstdint>
#include <string>
#include <vector>

#include "request_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> paths;
    std::string err;
    if (parse_counted_list(text, paths, err)) {
        size_t total = 0;
        for (const auto &p : paths) {
            if (p.empty()) {
                __builtin_trap();
            }
            total += p.size();
        }
        if (total > text.size()) {
            __builtin_trap();
        }
    }
    std::vector<ImageEntry> entries;
    if (parse_image_entries(text, entries, err)) {
        for (const auto &e : entries) {
            if (e.path.empty() || e.path[0] != '/' || e.start > e.end) {
                __builtin_trap();
            }
        }
    }
    parse_plain_list(text);
    std::vector<RenamePair> cands;
    if (parse_rename_file(text, cands, err)) {
        for (const auto &c : cands) {
            if (c.to.empty() || c.to[0] != '/' || c.from.empty()) {
                __builtin_trap();
            }
        }
    }
    std::string dec = transfer_decode(text);
    if (dec.size() > text.size()) {
        __builtin_trap();
    }
    return 0;
}
