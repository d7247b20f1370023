// Fuzzes the readers of restic's JSON lines: backup events and snapshot
// nodes. The first byte chooses the reader.
#include <cstdint>
#include <string>

#include "restic_node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    if (data[0] % 2 == 0) {
        parse_restic_backup_line(text);
    } else {
        ResticNode n;
        parse_restic_node(text, n);
    }
    return 0;
}
