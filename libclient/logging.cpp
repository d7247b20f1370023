// The client library's debug log: logmsg builds a diagnostic line and hands it
// to debuglog when a log descriptor is open.

#include "logging.h"

#include "cmnutils.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/time.h>
#include <unistd.h>

int debugFD = -1;

namespace {

// Writes that made no progress are retried after a one-second pause; the
// budget is shared by every call for the life of the process.
int zero_write_retries_left = 5;

int recorded_parent = 0;

constexpr int DEBUGLOG_STALLED = 27;
constexpr size_t DEBUGLOG_LINE_MAX = 4096;

} // namespace

size_t logmsg_format(char *dst, int severity, const char *text, const char *function) {
    const char *fn = function != nullptr ? function : "?";
    const char *tx = text != nullptr ? text : "?";
    int n;
    if (strlen(tx) >= LOGMSG_TEXT_CUT) {
        n = snprintf(dst, LOGMSG_LINE_MAX + 1, "<%d> %.31s: %.965s...", severity, fn, tx);
    } else {
        n = snprintf(dst, LOGMSG_LINE_MAX + 1, "<%d> %s: %s", severity, fn, tx);
    }
    if (n < 0) {
        dst[0] = '\0';
        return 0;
    }
    return strlen(dst);
}

int logmsg(int severity, const char *text, const char *function) {
    char line[LOGMSG_LINE_MAX + 1];
    logmsg_format(line, severity, text, function);
    if (debugFD == -1) {
        return -1;
    }
    return debuglog(debugFD, line);
}

void logmsgf(int severity, const char *function, const char *fmt, ...) {
    char text[2048];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    logmsg(severity, text, function);
}

void debuglog_set_parent(int ppid) {
    recorded_parent = ppid;
}

int debuglog(int fd, const char *line) {
    if (fd < 0) {
        return -1;
    }
    struct timeval now {};
    gettimeofday(&now, nullptr);
    struct tm local {};
    time_t secs = now.tv_sec;
    localtime_r(&secs, &local);
    const int millis = static_cast<int>(now.tv_usec / 1000);
    const char *text = line != nullptr ? line : "";

    char out[DEBUGLOG_LINE_MAX];
    int n;
    if (recorded_parent != 0) {
        n = snprintf(out, sizeof out, "%02d:%02d:%02d.%03d [%d.%d] %-.4072s\n", local.tm_hour,
                     local.tm_min, local.tm_sec, millis, recorded_parent,
                     static_cast<int>(getpid()), text);
    } else {
        n = snprintf(out, sizeof out, "%02d:%02d:%02d.%03d [%d] %-.4072s\n", local.tm_hour,
                     local.tm_min, local.tm_sec, millis, static_cast<int>(getpid()), text);
    }
    if (n < 0) {
        return EINVAL;
    }
    size_t len = strlen(out);
    if (static_cast<size_t>(n) >= sizeof out) {
        // The prefix and a 4072-character line overflowed the 4096 bytes: the
        // tail (newline included) was cut; end the line properly.
        out[sizeof out - 2] = '\n';
        len = sizeof out - 1;
    }

    size_t done = 0;
    while (done < len) {
        ssize_t w = write(fd, out + done, len - done);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (w == 0) {
            if (zero_write_retries_left <= 0) {
                return DEBUGLOG_STALLED;
            }
            --zero_write_retries_left;
            sleep(1);
            continue;
        }
        done += static_cast<size_t>(w);
    }
    return 0;
}
