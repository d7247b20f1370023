// The progress and closing lines of a background request's log, and the
// reading of its last complete line from the end of the file.
#include <gtest/gtest.h>

#include "xkp_joblog.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

TEST(JobLog, ProgressAndExitLines) {
    const struct {
        std::string line;
        std::string progress; // "F T B TB P", "" when not a progress line
        int exit;             // -1 when not a closing line
    } cases[] = {
        {"12:00:01 progress: 3 of 10 files, 400 of 0 bytes, 30%\n", "3 10 400 0 30", -1},
        {"23:59:59 progress: 9999999999999999999 of 1 files, 0 of 0 bytes, 250%",
         "9999999999999999999 1 0 0 100", -1},
        {"12:00:01 EXIT STATUS 6: the backup failed\n", "", 6},
        {"12:00:01 EXIT STATUS 0", "", 0},
        // Not what the job writes: no stamp, a stamp of the wrong shape, a
        // number cut short or too long, words around the lines.
        {"EXIT STATUS 6: x", "", -1},
        {"12:00:1 EXIT STATUS 6: x", "", -1},
        {"12:00:01 EXIT STATUS : x", "", -1},
        {"12:00:01 EXIT STATUS 6x", "", -1},
        {"12:00:01 EXIT STATUS 1234567890: x", "", -1},
        {"12:00:01 FAILED '/EXIT STATUS 6': x", "", -1},
        {"12:00:01 progress: 3 of 10 files, 400 of 0 bytes, 30% more", "", -1},
        {"12:00:01 progress: 3 of 10 files, 400 of 0 bytes, 1000%", "", -1},
        {"12:00:01 progress: 18446744073709551616 of 1 files, 0 of 0 bytes, 1%", "", -1},
        {"12:00:01 progress: 3 of 10 files stored", "", -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        std::optional<job_progress> p = parse_progress_line(c.line);
        EXPECT_EQ(p ? std::to_string(p->files) + " " + std::to_string(p->total_files) + " " +
                          std::to_string(p->bytes) + " " + std::to_string(p->total_bytes) + " " +
                          std::to_string(p->percent)
                    : "",
                  c.progress);
        EXPECT_EQ(parse_exit_line(c.line).value_or(-1), c.exit);
    }
}

TEST(JobLog, LastCompleteLineFromTheEnd) {
    const std::string long_line(5000, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"", "-"},
        {"no newline yet", "-"},
        {"only\n", "only"},
        {"first\nsecond\nthird still being writ", "second"},
        {"a\n\n", ""},
        {long_line + "\nshort\n", "short"},
        {long_line + "\n", "-"},            // begins before the bytes read
        {"x\n" + long_line + "\nend", "-"}, // the same
    };
    for (const auto &[content, want] : cases) {
        SCOPED_TRACE(want);
        FILE *f = tmpfile();
        ASSERT_NE(f, nullptr);
        fputs(content.c_str(), f);
        fflush(f);
        EXPECT_EQ(last_complete_line(fileno(f), static_cast<int64_t>(content.size())).value_or("-"),
                  want);
        fclose(f);
    }
}
