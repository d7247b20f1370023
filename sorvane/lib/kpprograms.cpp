#include "kpprograms.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include "kpstatus.h"
#include "request_file.h"

int usage_error(const char *prog, const std::string &reason, const char *usage) {
    fprintf(stderr, "%s: %s\nusage: %s\n", prog, reason.c_str(), usage);
    return kpstatus::USAGE;
}

bool open_program_log(const KpArgs &args, ProgressLog &log, std::string &err) {
    if (!args.has("-L")) {
        return true;
    }
    std::string path = args.get("-L");
    if (args.has("-8")) {
        path = transfer_decode(path);
    }
    if (path.empty()) {
        err = "empty progress log name";
        return false;
    }
    return log.open(path, err);
}

std::string absolute_path(const std::string &in) {
    std::string p = in;
    if (p.empty() || p[0] != '/') {
        std::vector<char> cwd(PATH_MAX + 1);
        if (getcwd(cwd.data(), cwd.size()) != nullptr) {
            p = std::string(cwd.data()) + "/" + p;
        } else {
            p = "/" + p;
        }
    }
    std::vector<std::string> parts;
    bool had_dotdot = false;
    size_t pos = 0;
    while (pos <= p.size()) {
        size_t sl = p.find('/', pos);
        if (sl == std::string::npos) {
            sl = p.size();
        }
        std::string c = p.substr(pos, sl - pos);
        pos = sl + 1;
        if (c.empty() || c == ".") {
            continue;
        }
        if (c == "..") {
            had_dotdot = true;
        }
        parts.push_back(c);
    }
    std::string out;
    if (!had_dotdot) {
        for (const auto &c : parts) {
            out += "/" + c;
        }
        return out.empty() ? "/" : out;
    }
    // ".." follows the physical parent, as the shell's cd -P would: resolve
    // everything but the last component, which may itself be a link.
    std::string last = parts.empty() ? "" : parts.back();
    std::string parent;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        parent += "/" + parts[i];
    }
    if (parent.empty()) {
        parent = "/";
    }
    char *real = realpath(parent.c_str(), nullptr);
    std::string base = real != nullptr ? std::string(real) : parent;
    free(real);
    if (last == "..") {
        size_t sl = base.rfind('/');
        base = sl == 0 || sl == std::string::npos ? "/" : base.substr(0, sl);
        return base;
    }
    if (last.empty()) {
        return base;
    }
    return base == "/" ? "/" + last : base + "/" + last;
}

CatalogLock::CatalogLock(const std::string &path, bool wait) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        return;
    }
    if (!wait) {
        if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            return;
        }
        if (errno == EWOULDBLOCK) {
            busy_ = true;
            return;
        }
    }
    busy_ = true;
    this->wait();
}

void CatalogLock::wait() {
    if (fd_ < 0 || !busy_) {
        return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd_);
            fd_ = -1;
            return;
        }
    }
    busy_ = false;
}

CatalogLock::~CatalogLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::string local_time_text(long long t) {
    time_t tt = static_cast<time_t>(t);
    struct tm tmv {};
    localtime_r(&tt, &tmv);
    char buf[64];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tmv);
    return buf;
}
