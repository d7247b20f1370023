// Fuzzes what xkp makes of kpclimagelist output: the formatted image-list
// row of a raw line, the leading time of a line (image times and the
// "-likelydate" answer) and the default start date chosen from it. The
// row must stay within a list row's 1535 characters and begin with the
// backup date text of the line's leading time.
#include "cmnutils.h"
#include "fuzz_root.h"
#include "timefuncs.h"
#include "xkp_restorecmd.h"
#include "xkp_state.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_root();
    T_strlcpy(tmlctime, "C", sizeof tmlctime);
    T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
    // One line as the list loader keeps it: up to a NUL, at most 1535 bytes.
    std::string line(reinterpret_cast<const char *>(data), size);
    line.resize(strlen(line.c_str()));
    if (line.size() >= XKP_TEXT_SIZE) {
        line.resize(XKP_TEXT_SIZE - 1);
    }
    std::string row = format_image_row(line.c_str());
    if (row.size() >= XKP_TEXT_SIZE) {
        __builtin_trap();
    }
    int32_t t = image_time(line.c_str());
    std::string date = datestringl(t, "C", 0);
    if (row.compare(0, date.size(), date) != 0) {
        __builtin_trap();
    }
    // The chosen start is the likely date, the limit time or the beginning
    // of time, nothing invented.
    int64_t now = 1750000000;
    int32_t limit_days = static_cast<int32_t>(size % 400);
    int32_t start = choose_start_date(t, static_cast<int>(size % 3) * 113, limit_days, now);
    if (start != t && start != let_there_be_light &&
        start != static_cast<int32_t>(now - static_cast<int64_t>(limit_days) * 86400)) {
        __builtin_trap();
    }
    return 0;
}
