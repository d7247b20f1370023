// Fuzzes the catalog readers: listing lines, image headers, and the index
// of an image listing with its subtree queries. The first byte chooses the
// reader.
#include <cstdint>
#include <string>

#include "catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0: {
        size_t pos = 0;
        while (pos < text.size()) {
            ListingLine l;
            size_t n = parse_listing_line(text, pos, l);
            if (n == 0)
                break;
            if (n > text.size() - pos)
                __builtin_trap();
            pos += n;
        }
        break;
    }
    case 1: {
        ImageHeader h;
        if (parse_image_header(text, h)) {
            ImageHeader again;
            if (!parse_image_header(format_image_header(h), again) || again.keyword != h.keyword ||
                again.backup_time != h.backup_time)
                __builtin_trap();
        }
        break;
    }
    default: {
        // Four bytes of listing length, then the listing, then the index.
        if (text.size() < 4)
            break;
        uint32_t len = static_cast<uint8_t>(text[0]) | static_cast<uint8_t>(text[1]) << 8 |
                       static_cast<uint8_t>(text[2]) << 16 |
                       static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
        size_t cut = len % (text.size() - 3);
        std::string lst = text.substr(4, cut), idx = text.substr(4 + cut);
        ImageListing img;
        std::string err;
        if (img.open_memory(lst, idx, err)) {
            for (size_t i = 0; i < img.size(); ++i) {
                img.line(i);
                img.find(img.path(i));
            }
            for (const char *dir : {"/", "", "/a", "/a/b/"})
                for (int depth : {-1, 0, 1, 3})
                    img.for_each_in(dir, depth, [&](size_t i) {
                        if (i >= img.size())
                            __builtin_trap();
                    });
        }
        break;
    }
    }
    return 0;
}
