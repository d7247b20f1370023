// The date range of the main window's two date fields.
#pragma once

#include <cstdint>

struct date_range {
    int32_t start;
    int32_t end;
    bool have_start; // the start text parsed as a date
    bool have_end;   // the end text parsed as a date
};

// The range the start and end texts give, read as dates of the time locale
// (tmlctime): the start from the beginning of its day, the end to the end of
// its day. A start that is null or does not parse gives start_default, an
// end that is null or does not parse the end of today.
date_range read_date_range(const char *start_text, const char *end_text, int32_t start_default);
