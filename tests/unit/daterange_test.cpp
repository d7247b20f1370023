// The date range of the two date fields: parsed texts, and the defaults of
// texts that are absent or do not parse.
#include <gtest/gtest.h>

#include "temp_root.h"
#include "timefuncs.h"
#include "xkp_daterange.h"
#include "xkp_state.h"

namespace {

TEST(DateRange, ParsedTextsAndTheDefaultsOfTheRest) {
    ScopedEnv tz("TZ", "UTC");
    reset_program_state();
    T_strlcpy(tmlctime, "C", sizeof tmlctime);
    const int32_t dec1 = 1796083200;               // 12/01/2026 00:00:00 UTC
    const int32_t dec2_end = dec1 + 2 * 86400 - 1; // 12/02/2026 23:59:59
    const int32_t today_end = midnight();
    struct Case {
        const char *start_text, *end_text;
        int32_t start_default;
        date_range want;
    } cases[] = {
        {"12/01/2026", "12/02/2026", 7, {dec1, dec2_end, true, true}},
        {"", "12/02/2026", 7, {7, dec2_end, false, true}},
        {"12/01/2026", "not a date", 0, {dec1, today_end, true, false}},
        {nullptr, nullptr, 42, {42, today_end, false, false}},
        {"13/01/2026", "", -5, {-5, today_end, false, false}},
    };
    for (const Case &c : cases) {
        const date_range got = read_date_range(c.start_text, c.end_text, c.start_default);
        const std::string what = std::string(c.start_text ? c.start_text : "(null)") + " - " +
                                 (c.end_text ? c.end_text : "(null)");
        EXPECT_EQ(got.start, c.want.start) << what;
        EXPECT_EQ(got.end, c.want.end) << what;
        EXPECT_EQ(got.have_start, c.want.have_start) << what;
        EXPECT_EQ(got.have_end, c.want.have_end) << what;
    }
}

} // namespace
