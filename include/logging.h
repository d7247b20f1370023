// The client library's debug log.
//
// The library (configuration reading, wildcard expansion, host identity)
// reports its internal problems through logmsg. The client never opens a debug
// log, so debugFD stays -1 and every logmsg call formats its line and returns
// -1 without writing anything; a program that wants the log opens a descriptor
// and stores it in debugFD.
#pragma once

#include <cstddef>

// The debug log's descriptor; -1 (closed) from start to exit in the client.
extern int debugFD;

// Severity the library passes for errors.
constexpr int LOG_SEV_ERROR = 2;

// Largest logmsg line (the 1025-byte line buffer less its terminator) and the
// longest text kept whole in it; a longer text is cut and marked with "...".
constexpr size_t LOGMSG_LINE_MAX = 1024;
constexpr size_t LOGMSG_TEXT_CUT = 965;

// Builds "<severity> function: text" (null text or function written as "?")
// and, when debugFD is open, writes it through debuglog and returns that
// result; returns -1 when no log is open. Callers ignore the result.
int logmsg(int severity, const char *text, const char *function);
// logmsg of a printf-formatted text (formatted into 2048 bytes, of which
// logmsg keeps at most LOGMSG_TEXT_CUT characters).
__attribute__((format(printf, 3, 4))) void logmsgf(int severity, const char *function,
                                                   const char *fmt, ...);

// Writes one line prefixed with the local time of day (milliseconds included)
// and the process id ("[ppid.pid]" once a parent id has been recorded).
// Returns -1 for a negative descriptor, 0 on success, the system error number
// on a failed write, 27 when writes make no progress after the retry budget.
int debuglog(int fd, const char *line);

// Records a parent process id for the "[ppid.pid]" form; 0 clears it.
void debuglog_set_parent(int ppid);

// Builds the logmsg line into dst (at least LOGMSG_LINE_MAX + 1 bytes) without
// writing it anywhere; returns its length. logmsg uses it; tests call it too.
size_t logmsg_format(char *dst, int severity, const char *text, const char *function);
