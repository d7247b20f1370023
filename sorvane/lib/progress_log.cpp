#include "progress_log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "kpstatus.h"

const char *kpstatus_text(int status) {
    switch (status) {
    case kpstatus::OK:
        return "the requested operation was successfully completed";
    case kpstatus::PARTIAL:
        return "the requested operation was partially successful";
    case kpstatus::NONE_BACKED_UP:
        return "none of the requested files were backed up";
    case kpstatus::RESTORE_FAILED:
        return "the restore failed to recover the requested files";
    case kpstatus::BACKUP_FAILED:
        return "the backup failed to back up the requested files";
    case kpstatus::OPEN_FAILED:
        return "file open failed";
    case kpstatus::NO_SERVER:
        return "cannot connect on socket";
    case kpstatus::NO_CLIENT:
        return "can't connect to client";
    case kpstatus::NONE_EXIST:
        return "none of the files in the file list exist";
    case kpstatus::PATH_TOO_LONG:
        return "file pathname exceeds the maximum length allowed";
    case kpstatus::BAD_DATE:
        return "invalid date format specified";
    case kpstatus::NO_CONFIG:
        return "Cannot find the Sorvane configuration information";
    case kpstatus::EMPTY_LIST:
        return "no files specified in the file list";
    case kpstatus::DEVICE_IN_USE:
        return "the requested storage is in use";
    case kpstatus::NO_DEVICE:
        return "the specified device path does not exist";
    case kpstatus::DEVICE_TOO_SMALL:
        return "the disk is full";
    case kpstatus::TERMINATED:
        return "termination requested by administrator";
    case kpstatus::NOT_ALL_RESTORED:
        return "not all requested files were restored";
    case kpstatus::NOT_FOUND_IN_IMAGE:
        return "tar did not find all the files to be restored";
    case kpstatus::NO_IMAGES:
        return "found no images or media matching the selection criteria";
    case kpstatus::NOTHING_FOUND:
        return "no entity was found";
    case kpstatus::USAGE:
        return "the error status has been written to stderr";
    case kpstatus::UNKNOWN_SERVER:
        return "server name not found in the kp.conf file";
    default:
        return "failure";
    }
}

std::string log_quote(const std::string &name) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

ProgressLog::~ProgressLog() {
    if (f_ != nullptr) {
        fclose(f_);
    }
}

bool ProgressLog::open(const std::string &path, std::string &err) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        err = "cannot open the progress log " + path + ": " + strerror(errno);
        return false;
    }
    f_ = fdopen(fd, "a");
    if (f_ == nullptr) {
        close(fd);
        err = "cannot open the progress log " + path;
        return false;
    }
    return true;
}

void ProgressLog::line(const std::string &text) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    char stamp[32];
    time_t now = time(nullptr);
    struct tm tmv {};
    localtime_r(&now, &tmv);
    strftime(stamp, sizeof stamp, "%H:%M:%S", &tmv);
    if (f_ != nullptr) {
        fprintf(f_, "%s %s\n", stamp, text.c_str());
        fflush(f_);
    }
    if (echo_) {
        fprintf(stderr, "%s %s\n", stamp, text.c_str());
    }
}

void ProgressLog::skipped(const std::string &name, const std::string &why) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    ++skipped_;
    ++skip_why_[why];
    if (skipped_ <= DETAIL_LIMIT) {
        line("skipped " + log_quote(name) + ": " + why);
    } else if (skipped_ == DETAIL_LIMIT + 1) {
        line("(further skipped names are counted, not listed)");
    }
}

void ProgressLog::failed(const std::string &name, const std::string &why) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    ++failed_;
    ++fail_why_[why];
    if (failed_ <= DETAIL_LIMIT) {
        line("FAILED " + log_quote(name) + ": " + why);
    } else if (failed_ == DETAIL_LIMIT + 1) {
        line("(further failed names are counted, not listed)");
    }
}

void ProgressLog::progress(long long files, long long total_files, long long bytes,
                           long long total_bytes, bool force) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    long long now = ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
    if (!force && last_progress_ != 0 && now - last_progress_ < 2000) {
        return;
    }
    last_progress_ = now;
    auto clamp = [](long long v) { return v < 0 ? 0 : v; };
    files = clamp(files);
    bytes = clamp(bytes);
    total_files = std::max(clamp(total_files), files);
    total_bytes = std::max(clamp(total_bytes), bytes);
    std::string text = std::to_string(files) + " of " + std::to_string(total_files) + " files, " +
                       std::to_string(bytes) + " of " + std::to_string(total_bytes) + " bytes, ";
    // A last line that says nothing new is left out.
    if (force && text == last_progress_text_) {
        return;
    }
    last_progress_text_ = text;
    // The share of bytes when known, else of files.
    long long pct = total_bytes > 0   ? bytes * 100 / total_bytes
                    : total_files > 0 ? files * 100 / total_files
                                      : 0;
    line("progress: " + text + std::to_string(pct) + "%");
}

void ProgressLog::report(const std::string &what, int status) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    line(what + ": " + std::to_string(done_) + " done, " + std::to_string(skipped_) + " skipped, " +
         std::to_string(failed_) + " failed");
    for (const auto &[why, n] : skip_why_) {
        line("  skipped " + std::to_string(n) + ": " + why);
    }
    for (const auto &[why, n] : fail_why_) {
        line("  failed " + std::to_string(n) + ": " + why);
    }
    line("EXIT STATUS " + std::to_string(status) + ": " + kpstatus_text(status));
}

ProgressTicker::ProgressTicker(ProgressLog &log) : log_(log) {
    thread_ = std::thread([this] {
        std::unique_lock<std::mutex> g(mu_);
        while (!cv_.wait_for(g, std::chrono::seconds(2), [this] { return !running_; })) {
            log_.progress(files, total_files, bytes, total_bytes);
        }
    });
}

ProgressTicker::~ProgressTicker() {
    {
        std::lock_guard<std::mutex> g(mu_);
        running_ = false;
    }
    cv_.notify_all();
    thread_.join();
    log_.progress(files, total_files, bytes, total_bytes, true);
}
