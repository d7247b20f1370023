// Fuzzes the progress and closing lines of a background request's log and the
// reading of a log's last complete line.
#include "xkp_joblog.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    std::optional<job_progress> p = parse_progress_line(text);
    if (p && (p->percent < 0 || p->percent > 100)) {
        __builtin_trap();
    }
    std::optional<int> status = parse_exit_line(text);
    if (status && (*status < 0 || (p && status))) {
        __builtin_trap();
    }
    // The same text as a file: its last complete line is a line of it, with
    // no newline in it.
    FILE *f = tmpfile();
    if (f == nullptr) {
        return 0;
    }
    fwrite(data, 1, size, f);
    fflush(f);
    std::optional<std::string> last = last_complete_line(fileno(f), static_cast<int64_t>(size));
    fclose(f);
    if (last &&
        (last->find('\n') != std::string::npos || text.find(*last + "\n") == std::string::npos)) {
        __builtin_trap();
    }
    return 0;
}
