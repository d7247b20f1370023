#include "server_env.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "request_file.h"

namespace {

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line[b] == '#') {
            continue;
        }
        out.push_back(line.substr(b));
    }
    return out;
}

bool valid_name(const std::string &n) {
    if (n.empty() || (n[0] >= '0' && n[0] <= '9')) {
        return false;
    }
    for (char c : n) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_')) {
            return false;
        }
    }
    return n != "PATH" && n.compare(0, 3, "LD_") != 0;
}

// The text of a server file, kept private to its owner.
std::string private_file_text(const std::string &path) {
    std::string text, err;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    if ((st.st_mode & 077) != 0 && st.st_uid == geteuid()) {
        chmod(path.c_str(), 0600);
    }
    if (!read_whole_file(path, text, err, 1 << 20)) {
        return {};
    }
    return text;
}

} // namespace

std::string server_env_file(const KpServer &s) {
    return s.dir + "/env";
}

std::string server_options_file(const KpServer &s) {
    return s.dir + "/options";
}

std::vector<std::string> parse_server_env(const std::string &text) {
    std::vector<std::string> out;
    for (auto &l : lines_of(text)) {
        if (l.compare(0, 7, "export ") == 0) {
            l = l.substr(7);
        }
        size_t eq = l.find('=');
        if (eq == std::string::npos || !valid_name(l.substr(0, eq))) {
            continue;
        }
        out.push_back(l);
    }
    return out;
}

std::vector<std::string> parse_server_options(const std::string &text) {
    std::vector<std::string> out;
    for (auto &l : lines_of(text)) {
        while (!l.empty() && (l.back() == ' ' || l.back() == '\t')) {
            l.pop_back();
        }
        if (l[0] != '-') {
            continue; // only options: never a command or a path of its own
        }
        size_t sp = l.find_first_of(" \t");
        size_t eq = l.find('=');
        if (sp == std::string::npos || (eq != std::string::npos && eq < sp)) {
            out.push_back(l);
            continue;
        }
        out.push_back(l.substr(0, sp));
        size_t v = l.find_first_not_of(" \t", sp);
        out.push_back(l.substr(v));
    }
    return out;
}

void add_server_restic_options(const KpServer &s, std::vector<std::string> &argv) {
    if (s.dir.empty()) {
        return;
    }
    for (auto &o : parse_server_options(private_file_text(server_options_file(s)))) {
        argv.push_back(std::move(o));
    }
}

void add_server_restic_environment(const KpServer &s, std::vector<std::string> &env) {
    if (s.dir.empty()) {
        return;
    }
    for (auto &v : parse_server_env(private_file_text(server_env_file(s)))) {
        std::string name = v.substr(0, v.find('=') + 1);
        std::erase_if(env,
                      [&](const std::string &e) { return e.compare(0, name.size(), name) == 0; });
        env.push_back(std::move(v));
    }
}

std::string user_servers_dir() {
    const char *xdg = getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/sorvane/servers";
    }
    const char *home = getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/sorvane/servers";
    }
    return {};
}
