#include "retention.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "catalog.h"
#include "kpargs.h"
#include "request_file.h"

namespace {

std::string retention_path(const KpServer &s) {
    return s.dir + "/retention";
}

} // namespace

Retention read_retention(const KpServer &server) {
    Retention r;
    std::string text, err;
    if (!read_whole_file(retention_path(server), text, err, 4096)) {
        return r;
    }
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        size_t sp = line.find(' ');
        if (sp == std::string::npos) {
            continue;
        }
        long long days = 0;
        if (!kp_parse_time(line.substr(sp + 1), days)) {
            continue;
        }
        if (line.compare(0, sp, "backups") == 0) {
            r.backup_days = days;
        } else if (line.compare(0, sp, "archives") == 0) {
            r.archive_days = days;
        }
    }
    return r;
}

bool write_retention(const KpServer &server, const Retention &r, std::string &err) {
    std::string text = "backups " + std::to_string(r.backup_days) + "\narchives " +
                       std::to_string(r.archive_days) + "\n";
    std::string tmp = retention_path(server) + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        err = "cannot write in " + server.dir + ": " + strerror(errno);
        return false;
    }
    fchmod(fd, 0600);
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), retention_path(server).c_str()) != 0) {
        err = "cannot write " + retention_path(server) + ": " + strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

long long image_expiration(const KpServer &server, int schedule, long long backup_time) {
    Retention r = read_retention(server);
    long long days = schedule == SCHED_USER_ARCHIVE ? r.archive_days : r.backup_days;
    if (days <= 0 || days > 100000) {
        return KP_INFINITY;
    }
    long long t = backup_time + days * 86400;
    return t >= KP_INFINITY ? KP_INFINITY : t;
}

long long retention_now() {
    const char *over = getenv("XKP_NOW");
    long long t = 0;
    if (over != nullptr && kp_parse_time(over, t)) {
        return t;
    }
    return static_cast<long long>(time(nullptr));
}
