// The configuration files: the host file, the user's file read under the
// user's ids, and the user name and home directory they depend on.

#include "unixconf_api.h"

#include "logging.h"
#include "xkp_root.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <new>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

kp_config master_config;
kp_config users_config;
std::string HOME;

namespace {

// The user-file messages go out at level 8, the others at the error level.
constexpr int LOG_SEV_USERFILE = 8;

class fd_closer {
  public:
    explicit fd_closer(int fd) : fd_(fd) {}
    ~fd_closer() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    fd_closer(const fd_closer &) = delete;
    fd_closer &operator=(const fd_closer &) = delete;

  private:
    int fd_;
};

} // namespace

int ReadConfigFile(const char *path, std::string *text) {
    if (path == nullptr || text == nullptr) {
        return KP_NO_CONFIG_FILE;
    }
    // O_NONBLOCK keeps a FIFO put in the file's place from blocking the open;
    // anything but a regular file counts as missing.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return KP_NO_CONFIG_FILE;
    }
    fd_closer closer(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        return KP_NO_CONFIG_FILE;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    std::string buf;
    try {
        buf.resize(size);
    } catch (const std::exception &) {
        return KP_NO_MEMORY;
    }
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, buf.data() + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (got < size) {
        logmsgf(LOG_SEV_ERROR, "ReadConfigFile", "Cannot read file %s", path);
        return KP_SHORT_READ;
    }
    *text = std::move(buf);
    return KP_OK;
}

int getLocalHostConfigImage(std::string *text) {
    std::string path;
    try {
        path = product_host_config();
    } catch (const std::exception &) {
        return KP_NO_MEMORY;
    }
    int rc = ReadConfigFile(path.c_str(), text);
    if (rc != KP_OK) {
        logmsgf(LOG_SEV_ERROR, "getLocalHostConfigImage", "Unable to read configuration from %s",
                path.c_str());
    }
    return rc;
}

std::optional<std::string> TgetUserName() {
    const struct passwd *pw = getpwuid(geteuid());
    if (pw == nullptr || pw->pw_name == nullptr) {
        return std::nullopt;
    }
    try {
        return std::string(pw->pw_name);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

std::optional<std::string> getUserHome(const char *user) {
    const char *home = nullptr;
    if (user != nullptr) {
        if (strcmp(user, "root") == 0) {
            return std::nullopt;
        }
        const struct passwd *pw = getpwnam(user);
        if (pw == nullptr) {
            logmsgf(LOG_SEV_ERROR, "getUserHome", "couldn't do getpwnam for %s", user);
            return std::nullopt;
        }
        home = pw->pw_dir;
    } else if (!HOME.empty()) {
        home = HOME.c_str();
    } else {
        const struct passwd *pw = getpwuid(geteuid());
        if (pw == nullptr) {
            logmsg(LOG_SEV_ERROR, "couldn't do getpwuid", "getUserHome");
            return std::nullopt;
        }
        if (pw->pw_name != nullptr && strcmp(pw->pw_name, "root") == 0) {
            return std::nullopt;
        }
        home = pw->pw_dir;
    }
    if (home == nullptr) {
        return std::nullopt;
    }
    try {
        return std::string(home);
    } catch (const std::exception &) {
        logmsg(LOG_SEV_ERROR, "couldn't allocate memory for user's home path", "getUserHome");
        return std::nullopt;
    }
}

kp_saved_ids rememberUser() {
    kp_saved_ids saved{geteuid(), getegid(), {}, false};
    const int n = getgroups(0, nullptr);
    if (n >= 0) {
        try {
            saved.groups.resize(static_cast<size_t>(n));
            if (getgroups(n, saved.groups.data()) == n) {
                saved.groups_saved = true;
            }
        } catch (const std::exception &) {
            saved.groups.clear();
        }
    }
    return saved;
}

void restoreUser(const kp_saved_ids &saved) {
    // The user id first: only with it back may the group ids change again.
    // A failed switch back is not reported.
    if (geteuid() != saved.uid && seteuid(saved.uid) != 0) {
        return;
    }
    if (getegid() != saved.gid && setegid(saved.gid) != 0) {
        return;
    }
    if (saved.groups_saved && geteuid() == 0) {
        (void)setgroups(saved.groups.size(), saved.groups.data());
    }
}

int becomeUser(const char *user) {
    if (user == nullptr) {
        return KP_OK;
    }
    const struct passwd *pw = getpwnam(user);
    if (pw == nullptr) {
        return KP_UNKNOWN_USER;
    }
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;
    // The supplementary groups let the user's group-readable file be read;
    // only a privileged process may set them, and it must do so first.
    if (geteuid() == 0 && uid != 0) {
        (void)initgroups(user, gid);
    }
    if (getegid() != gid && setegid(gid) != 0) {
        return KP_CANT_SET_GID;
    }
    if (geteuid() != uid && seteuid(uid) != 0) {
        return KP_CANT_SET_UID;
    }
    return KP_OK;
}

int getLocalUsersConfigImage(const char *user, std::string *text) {
    std::optional<std::string> home = getUserHome(user);
    std::string path;
    int rc = KP_OK;
    bool use_host_file = true;
    try {
        if (home.has_value()) {
            path = *home + "/kp.conf";
            struct stat st {};
            if (stat(path.c_str(), &st) == 0) {
                use_host_file = false;
                const kp_saved_ids saved = rememberUser();
                rc = becomeUser(user);
                if (rc != KP_OK) {
                    restoreUser(saved);
                    logmsgf(LOG_SEV_USERFILE, "getLocalUsersConfigImage",
                            "Unable to become user (%s)", user != nullptr ? user : "unknown user");
                    return rc;
                }
                rc = ReadConfigFile(path.c_str(), text);
                if (rc != KP_OK) {
                    logmsgf(LOG_SEV_USERFILE, "getLocalUsersConfigImage",
                            "Unable to read user configuration file (%s)", path.c_str());
                }
                restoreUser(saved);
            } else if (errno != ENOENT && errno != ENOTDIR) {
                use_host_file = false;
                rc = KP_CANT_STAT_FILE;
            }
        }
    } catch (const std::exception &) {
        return KP_NO_MEMORY;
    }
    if (use_host_file) {
        rc = getLocalHostConfigImage(text);
    }
    if (rc != KP_OK) {
        if (home.has_value()) {
            logmsgf(LOG_SEV_USERFILE, "getLocalUsersConfigImage",
                    "Unable to open user configuration file (%s)", path.c_str());
        } else {
            logmsg(LOG_SEV_USERFILE, "Unable to read master configuration file",
                   "getLocalUsersConfigImage");
        }
    }
    return rc;
}
