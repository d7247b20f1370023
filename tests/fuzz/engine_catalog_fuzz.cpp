// Fuzzes the readers of the engine's outside text: listing lines, and the
// two restic listings a catalog is rebuilt from (JSON and plain, split at
// the first NUL byte). The first byte chooses the reader.
#include <cstdint>
#include <string>

#include "catalog.h"
#include "rebuild.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    if (data[0] % 2 == 0) {
        size_t pos = 0;
        while (pos < text.size()) {
            ListingLine l;
            size_t n = parse_listing_line(text, pos, l);
            if (n == 0) {
                break;
            }
            if (n > text.size() - pos) {
                __builtin_trap();
            }
            pos += n;
        }
        return 0;
    }
    size_t cut = text.find('\0');
    std::string json = text.substr(0, cut),
                plain = cut == std::string::npos ? "" : text.substr(cut + 1);
    NameCache names;
    RebuiltImage img;
    std::string err;
    if (rebuild_listing(json, plain, {"/d"}, names, img, err)) {
        long long files = 0;
        for (const auto &[path, st] : img.nodes) {
            if (path == "/d" || path.rfind("/d/", 0) == 0) {
                ++files;
            }
        }
        if (files != img.files) {
            __builtin_trap();
        }
    }
    return 0;
}
