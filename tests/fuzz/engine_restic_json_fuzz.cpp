// Fuzzes the readers of restic's JSON lines: backup events, snapshot nodes
// and the RFC 3339 times in them. The first byte chooses the reader.
#include <cstdint>
#include <string>

#include "restic_node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0:
        parse_restic_backup_line(text);
        break;
    case 1: {
        ResticNode n;
        parse_restic_node(text, n);
        break;
    }
    default: {
        long long ns = 0;
        parse_restic_time(text, ns);
        break;
    }
    }
    return 0;
}
