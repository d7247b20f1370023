// The endings of the requests this run started.
#include "xkp_jobwatch.h"

#include "uimx_helper.h"
#include "xkp_joblog.h"
#include "xkp_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// A job writes a progress line at least every two seconds; its end is
// noticed within the same time.
constexpr unsigned long check_interval_ms = 2000;

struct watched_log {
    std::string path;
    bool private_log = false;
    int fd = -1;
    int64_t size_seen = -1; // the size at the last look: unchanged, nothing to read

    watched_log(std::string p, bool priv, int f) : path(std::move(p)), private_log(priv), fd(f) {}
    watched_log(watched_log &&o) noexcept
        : path(std::move(o.path)), private_log(o.private_log), fd(std::exchange(o.fd, -1)),
          size_seen(o.size_seen) {}
    watched_log &operator=(watched_log &&o) noexcept {
        std::swap(path, o.path);
        std::swap(private_log, o.private_log);
        std::swap(fd, o.fd);
        std::swap(size_seen, o.size_seen);
        return *this;
    }
    ~watched_log() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

std::vector<watched_log> logs;
XtIntervalId timer = 0;

void timer_expired(XtPointer, XtIntervalId *) {
    timer = 0;
    check_request_logs();
}

void arm() {
    if (timer == 0 && !logs.empty() && UxTopLevel != nullptr) {
        timer = XtAppAddTimeOut(XtWidgetToApplicationContext(UxTopLevel), check_interval_ms,
                                timer_expired, nullptr);
    }
}

void disarm() {
    if (timer != 0) {
        XtRemoveTimeOut(timer);
        timer = 0;
    }
}

// The job's status once its log has ended, -1 while it runs; -2 when the log
// can no longer be read, so its end can never be seen.
int look(watched_log &w) {
    struct stat st {};
    if (fstat(w.fd, &st) != 0) {
        return -2;
    }
    if (st.st_size == w.size_seen) {
        return -1;
    }
    w.size_seen = st.st_size;
    std::optional<std::string> last = last_complete_line(w.fd, st.st_size);
    return last ? parse_exit_line(*last).value_or(-1) : -1;
}

} // namespace

void watch_request_log(const std::string &path, bool private_log) {
    // The log is opened once and read through that descriptor: what the job
    // writes is seen even when the name is removed or reused meanwhile. Not
    // through a link, and never blocking on a pipe planted under the name.
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        return;
    }
    // A log name used again is the newer request's log.
    std::erase_if(logs, [&path](const watched_log &w) { return w.path == path; });
    logs.emplace_back(path, private_log, fd);
    arm();
}

void check_request_logs() {
    std::vector<int> ended;
    for (size_t i = 0; i < logs.size();) {
        int status = look(logs[i]);
        if (status == -1) {
            ++i;
            continue;
        }
        if (logs[i].private_log) {
            unlink(logs[i].path.c_str());
        }
        logs.erase(logs.begin() + static_cast<std::ptrdiff_t>(i));
        if (status >= 0) {
            ended.push_back(status);
        }
    }
    // Reported once the list is settled: a message box runs no callback of
    // ours, but the list is then consistent whatever it does.
    for (int status : ended) {
        report_exit_status(status, 0);
    }
    disarm();
    arm();
}

int watched_request_logs() {
    return static_cast<int>(logs.size());
}

bool request_watch_armed() {
    return timer != 0;
}

void forget_request_logs() {
    disarm();
    logs.clear();
}
