// The progress log a request program writes while it works ("-L"): plain
// text lines, each stamped with the local time, appended as they happen so
// that a reader watching the file sees the work grow. Every run ends with
// a report of what was done, skipped and failed, and the final status.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

// Text of the statuses the programs return.
const char *kpstatus_text(int status);

// The log may be written from two threads (the walk of the files and the
// reader of restic's output): every member takes the object's lock.

// Names may hold newlines and any byte: they are written with control
// bytes and backslashes escaped ("\n", "\x01", "\\") so that a name is one
// log line.
std::string log_quote(const std::string &name);

class ProgressLog {
  public:
    ProgressLog() = default;
    ~ProgressLog();
    ProgressLog(const ProgressLog &) = delete;
    ProgressLog &operator=(const ProgressLog &) = delete;

    // Opens path for appending. The client creates the file before the
    // program starts; a missing file is created (mode 0600). A symbolic
    // link in the last component is refused. False with err set.
    bool open(const std::string &path, std::string &err);
    // The descriptor written to, -1 when none (a job keeps it open).
    int fd() const { return f_ != nullptr ? fileno(f_) : -1; }
    // Also copies every line to standard error (command-line use).
    void echo_to_stderr(bool on) { echo_ = on; }

    void line(const std::string &text);

    // Tallies for the final report.
    void done(long long n = 1) {
        std::lock_guard<std::recursive_mutex> g(mu_);
        done_ += n;
    }
    void skipped(const std::string &name, const std::string &why);
    void failed(const std::string &name, const std::string &why);
    long long done_count() const {
        std::lock_guard<std::recursive_mutex> g(mu_);
        return done_;
    }
    long long skipped_count() const {
        std::lock_guard<std::recursive_mutex> g(mu_);
        return skipped_;
    }
    long long failed_count() const {
        std::lock_guard<std::recursive_mutex> g(mu_);
        return failed_;
    }

    // "progress: F of T files, B of TB bytes, P%", at most one every two
    // seconds unless force is set; the client's progress bar reads it.
    void progress(long long files, long long total_files, long long bytes, long long total_bytes,
                  bool force = false);

    // Writes the totals (with the reasons counted) and the final status.
    void report(const std::string &what, int status);

  private:
    mutable std::recursive_mutex mu_;
    FILE *f_ = nullptr;
    bool echo_ = false;
    long long done_ = 0, skipped_ = 0, failed_ = 0;
    long long last_progress_ = 0; // monotonic milliseconds of the last progress line
    std::string last_progress_text_;
    std::map<std::string, long long> skip_why_, fail_why_;
    static constexpr long long DETAIL_LIMIT = 200; // names listed per kind
};

// Writes a progress line to a log every two seconds while it lives, from
// counters the work updates as it goes, so that a reader sees the job move
// even while restic says nothing; a last line when it ends.
class ProgressTicker {
  public:
    explicit ProgressTicker(ProgressLog &log);
    ~ProgressTicker();
    ProgressTicker(const ProgressTicker &) = delete;
    ProgressTicker &operator=(const ProgressTicker &) = delete;

    std::atomic<long long> files{0}, total_files{0}, bytes{0}, total_bytes{0};

  private:
    ProgressLog &log_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool running_ = true;
    std::thread thread_;
};
