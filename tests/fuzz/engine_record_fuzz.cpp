// Fuzzes the readers of what a sync takes from the repository: an image's
// catalog record, and the list of record snapshots. The first byte
// chooses the reader. A record that parses is written again and must read
// back the same.
#include <cstdint>
#include <string>

#include "image_record.h"
#include "sync.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    if (data[0] % 2 == 0) {
        ImageRecord r, again;
        std::string err;
        if (parse_image_record(text, r, err)) {
            std::string out = format_image_record(r);
            if (!parse_image_record(out, again, err) || format_image_record(again) != out) {
                __builtin_trap();
            }
        }
    } else {
        std::vector<RepoRecord> list;
        parse_record_snapshots(text, list);
    }
    return 0;
}
