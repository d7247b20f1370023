// Reading the two date fields as a range.
#include "xkp_daterange.h"

#include "timefuncs.h"
#include "xkp_state.h"

date_range read_date_range(const char *start_text, const char *end_text, int32_t start_default) {
    date_range r{start_default, midnight(), false, false};
    int32_t t = 0;
    if (start_text != nullptr && convert2unixdatel(start_text, &t, 1, tmlctime, 0) == 1) {
        r.start = t;
        r.have_start = true;
    }
    if (end_text != nullptr && convert2unixdatel(end_text, &t, 0, tmlctime, 0) == 1) {
        r.end = t;
        r.have_end = true;
    }
    return r;
}
