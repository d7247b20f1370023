// What the client reads in the log of a request that runs in the background:
// its progress lines and the line that closes it. Display-free, so the rules
// are tested (and fuzzed) without an X server.
//
// Every line of such a log begins with a "HH:MM:SS " time stamp. While the job
// runs it writes, at least every two seconds,
//   HH:MM:SS progress: F of T files, B of TB bytes, P%
// (T or TB 0 when not known yet), and when it ends, as its last line,
//   HH:MM:SS EXIT STATUS N: text
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct job_progress {
    uint64_t files = 0, total_files = 0, bytes = 0, total_bytes = 0;
    int percent = 0; // 0..100
};

// The counts of a progress line, or nothing for any other line. line may end
// in a newline.
std::optional<job_progress> parse_progress_line(std::string_view line);

// N of an "EXIT STATUS N" line, or nothing for any other line.
std::optional<int> parse_exit_line(std::string_view line);

// The last complete line (ended by a newline, returned without it) of the
// file open on fd whose size is size, read from at most the file's last 4096
// bytes: nothing when the file holds no complete line or its last one is
// longer than that (no closing line is).
std::optional<std::string> last_complete_line(int fd, int64_t size);
