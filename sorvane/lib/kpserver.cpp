#include "kpserver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cmnutils.h"
#include "kpstatus.h"
#include "request_file.h"
#include "server_env.h"
#include "xkp_root.h"

namespace {

bool write_new_file(const std::string &path, const std::string &data, mode_t mode,
                    std::string &err) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        err = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    ok = (close(fd) == 0) && ok;
    if (!ok) {
        err = "cannot write " + path;
    }
    return ok;
}

// Names of the user's own servers.
void add_user_server_names(std::vector<std::string> &out) {
    std::string own = user_servers_dir();
    DIR *d = own.empty() ? nullptr : opendir(own.c_str());
    if (d == nullptr) {
        return;
    }
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (valid_server_name(n) && is_directory(own + "/" + n)) {
            out.push_back(n);
        }
    }
    closedir(d);
}

} // namespace

std::string kpconf_value(const std::string &key) {
    // The host configuration is read here directly: only a few plain keys
    // are needed, and the programs must not depend on the client's user
    // configuration handling.
    std::string text, err;
    if (!read_whole_file(product_host_config(), text, err, 1 << 20)) {
        return {};
    }
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        std::string t = strip_blank_ends(line);
        if (t.empty() || t[0] == '#') {
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string k = strip_blank_ends(t.substr(0, eq));
        if (strcasecmp(k.c_str(), key.c_str()) == 0) {
            return strip_blank_ends(t.substr(eq + 1));
        }
    }
    return {};
}

std::string default_server_name() {
    return kpconf_value("SERVER");
}

std::string local_client_name() {
    std::string c = kpconf_value("CLIENT_NAME");
    if (!c.empty()) {
        return c;
    }
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
        return host;
    }
    return "localhost";
}

bool valid_server_name(const std::string &name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

std::string server_dir(const std::string &name) {
    // A user's own server of this name comes first.
    std::string own = user_servers_dir();
    if (!own.empty() && is_directory(own + "/" + name)) {
        return own + "/" + name;
    }
    return product_path("sorvane/servers") + "/" + name;
}

int open_server(const std::string &name_in, KpServer &out, std::string &err, bool need_password) {
    std::string name = name_in.empty() ? default_server_name() : name_in;
    if (name.empty()) {
        err = "no server given and no SERVER in " + product_host_config();
        return kpstatus::UNKNOWN_SERVER;
    }
    if (!valid_server_name(name)) {
        err = "server name \"" + name + "\" is not a valid name";
        return kpstatus::NO_SERVER;
    }
    out = KpServer{};
    out.name = name;
    out.dir = server_dir(name);
    out.repository_file = out.dir + "/repository";
    out.password_file = out.dir + "/password";
    out.catalog_dir = out.dir + "/catalog";
    out.catalog_db = out.dir + "/catalog.db";
    out.lock_file = out.dir + "/lock";
    if (!is_directory(out.dir)) {
        err = "server " + name + " has no directory " + out.dir;
        return kpstatus::NO_SERVER;
    }
    // Listings read the catalog only: they never need the password.
    if (access(out.repository_file.c_str(), R_OK) != 0 ||
        (need_password && access(out.password_file.c_str(), R_OK) != 0)) {
        err = "server " + name + " is incomplete or unreadable in " + out.dir;
        return kpstatus::NO_SERVER;
    }
    std::string cache = out.dir + "/cache";
    if (access(out.dir.c_str(), W_OK) == 0) {
        mkdir(cache.c_str(), 0700);
        out.cache_dir = cache;
    } else {
        const char *xdg = getenv("XDG_CACHE_HOME");
        const char *home = getenv("HOME");
        std::string base = xdg != nullptr && xdg[0] == '/'     ? std::string(xdg)
                           : home != nullptr && home[0] == '/' ? std::string(home) + "/.cache"
                                                               : std::string("/tmp");
        out.cache_dir = base + "/sorvane-restic";
        int e = 0;
        mkdirpath(out.cache_dir.c_str(), 0700, &e);
    }
    return 0;
}

std::string server_repository(const KpServer &s) {
    std::string text, err;
    if (!read_whole_file(s.repository_file, text, err, 65536)) {
        return {};
    }
    return strip_blank_ends(text);
}

bool create_server_files(const std::string &name, const std::string &repository, bool &created,
                         std::string &err) {
    created = false;
    if (!valid_server_name(name)) {
        err = "server name \"" + name + "\" is not a valid name";
        return false;
    }
    std::string dir = server_dir(name);
    std::string repo = repository.empty() ? dir + "/repo" : repository;
    if (is_directory(dir) && access((dir + "/repository").c_str(), F_OK) == 0) {
        std::string have, e2;
        read_whole_file(dir + "/repository", have, e2, 65536);
        if (strip_blank_ends(have) != repo && !repository.empty()) {
            err = "server " + name + " already uses the repository " + strip_blank_ends(have);
            return false;
        }
        // Servers made before the catalog was private are closed now.
        chmod(dir.c_str(), 0700);
        chmod((dir + "/repository").c_str(), 0600);
        return true;
    }
    // The server directory holds every backed-up path (the catalog) and
    // the repository's location and password: its owner's alone.
    int e = 0;
    std::string parent = dir.substr(0, dir.rfind('/'));
    if (mkdirpath(parent.c_str(), 0755, &e) != 0 && !is_directory(parent)) {
        err = "cannot create " + parent + ": " + strerror(e);
        return false;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        err = "cannot create " + dir + ": " + strerror(errno);
        return false;
    }
    chmod(dir.c_str(), 0700);
    unsigned char raw[24];
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0 || read(fd, raw, sizeof raw) != static_cast<ssize_t>(sizeof raw)) {
        if (fd >= 0) {
            close(fd);
        }
        err = "cannot read /dev/urandom";
        return false;
    }
    close(fd);
    static const char hex[] = "0123456789abcdef";
    std::string pw;
    for (unsigned char c : raw) {
        pw += hex[c >> 4];
        pw += hex[c & 15];
    }
    pw += '\n';
    if (access((dir + "/password").c_str(), F_OK) != 0 &&
        !write_new_file(dir + "/password", pw, 0600, err)) {
        return false;
    }
    if (!write_new_file(dir + "/repository", repo + "\n", 0600, err)) {
        return false;
    }
    created = true;
    return true;
}

std::vector<std::string> list_server_names() {
    std::vector<std::string> out;
    std::string base = product_path("sorvane/servers");
    DIR *d = opendir(base.c_str());
    if (d == nullptr) {
        add_user_server_names(out);
        return out;
    }
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (valid_server_name(n) && is_directory(base + "/" + n)) {
            out.push_back(n);
        }
    }
    closedir(d);
    add_user_server_names(out);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::string strip_blank_ends(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        return {};
    }
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool is_directory(const std::string &p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
