// The endings of the requests this run started. A request program accepts a
// request, starts its job in the background and returns; the job's log ends
// with its "EXIT STATUS N" line. The logs of the accepted requests are
// watched on a toolkit timer, which runs only while one of them has not
// ended, and a job that ends in failure is reported as a failed request
// program is (report_exit_status).
#pragma once

#include <string>

// Watches the log at path (a request accepted with status 0). private_log:
// the client made the log only to watch the job (the user asked for none),
// and removes it once the job's end is seen.
void watch_request_log(const std::string &path, bool private_log);

// One look at every watched log: each whose last complete line closes it
// is reported and forgotten, and so is one that can no longer be read.
// The timer calls it; it stops the timer when nothing is left to watch.
void check_request_logs();

// How many logs are watched, and whether the timer is pending.
int watched_request_logs();
bool request_watch_armed();

// Forgets every log and stops the timer (private logs stay on disk).
void forget_request_logs();
