#include "rebuild.h"

#include <ctime>
#include <map>
#include <set>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

unsigned go_mode_to_st_mode(unsigned long long m, const std::string &type) {
    unsigned mode = static_cast<unsigned>(m & 0777);
    if (m & (1ULL << 23)) {
        mode |= S_ISUID;
    }
    if (m & (1ULL << 22)) {
        mode |= S_ISGID;
    }
    if (m & (1ULL << 20)) {
        mode |= S_ISVTX;
    }
    if (type == "dir") {
        mode |= S_IFDIR;
    } else if (type == "symlink") {
        mode |= S_IFLNK;
    } else if (type == "dev") {
        mode |= S_IFBLK;
    } else if (type == "chardev") {
        mode |= S_IFCHR;
    } else if (type == "fifo") {
        mode |= S_IFIFO;
    } else if (type == "socket") {
        mode |= S_IFSOCK;
    } else {
        mode |= S_IFREG;
    }
    return mode;
}

bool parse_rfc3339(const std::string &t, long long &out) {
    long long ns = 0;
    if (!parse_rfc3339_ns(t, ns)) {
        return false;
    }
    out = ns >= 0 ? ns / 1000000000LL : -((-ns + 999999999LL) / 1000000000LL);
    return true;
}

bool parse_rfc3339_ns(const std::string &t, long long &out) {
    int Y, M, D, h, m, s, n = 0;
    if (sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &Y, &M, &D, &h, &m, &s, &n) != 6 ||
        n != 19) {
        return false;
    }
    size_t p = 19;
    long long frac = 0;
    if (p < t.size() && t[p] == '.') {
        ++p;
        int digits = 0;
        while (p < t.size() && t[p] >= '0' && t[p] <= '9') {
            if (digits < 9) {
                frac = frac * 10 + (t[p] - '0');
                ++digits;
            }
            ++p;
        }
        if (digits == 0) {
            return false;
        }
        while (digits++ < 9) {
            frac *= 10;
        }
    }
    long long offset = 0;
    if (p < t.size() && (t[p] == 'Z' || t[p] == 'z')) {
        ++p;
    } else if (p < t.size() && (t[p] == '+' || t[p] == '-')) {
        int oh = 0, om = 0, k = 0;
        if (sscanf(t.c_str() + p + 1, "%2d:%2d%n", &oh, &om, &k) != 2 || k != 5) {
            return false;
        }
        offset = (oh * 3600LL + om * 60LL) * (t[p] == '+' ? 1 : -1);
        p += 6;
    } else {
        return false;
    }
    if (p != t.size() || M < 1 || M > 12 || D < 1 || D > 31 || h > 23 || m > 59 || s > 60) {
        return false;
    }
    struct tm tmv {};
    tmv.tm_year = Y - 1900;
    tmv.tm_mon = M - 1;
    tmv.tm_mday = D;
    tmv.tm_hour = h;
    tmv.tm_min = m;
    tmv.tm_sec = s;
    out = (static_cast<long long>(timegm(&tmv)) - offset) * 1000000000LL + frac;
    return true;
}

bool rebuild_listing(const std::string &json_out, const std::string &plain_out,
                     const std::vector<std::string> &roots, NameCache &names, RebuiltImage &out,
                     std::string &err) {
    out = RebuiltImage{};
    // The plain listing: a header line, then one path per node, raw.
    size_t cur = plain_out.find('\n');
    if (cur == std::string::npos) {
        err = "the plain listing is empty";
        return false;
    }
    ++cur;
    size_t pos = 0;
    long long kb_bytes = 0;
    while (pos < json_out.size()) {
        size_t nl = json_out.find('\n', pos);
        size_t end = nl == std::string::npos ? json_out.size() : nl;
        auto j = nlohmann::json::parse(json_out.substr(pos, end - pos), nullptr, false);
        pos = end + 1;
        if (!j.is_object() || !j.contains("struct_type") || j["struct_type"] != "node") {
            continue;
        }
        if (!j.contains("path") || !j["path"].is_string()) {
            err = "a node without a path";
            return false;
        }
        std::string jpath = j["path"];
        // The raw name spans as many plain lines as the name has newlines.
        size_t lines = 1;
        for (char c : jpath) {
            if (c == '\n') {
                ++lines;
            }
        }
        size_t e = cur;
        for (size_t k = 0; k < lines; ++k) {
            e = plain_out.find('\n', e);
            if (e == std::string::npos) {
                err = "the plain listing ends before " + jpath;
                return false;
            }
            if (k + 1 < lines) {
                ++e;
            }
        }
        std::string raw = plain_out.substr(cur, e - cur);
        cur = e + 1;
        if (lossy_utf8(raw) != jpath) {
            err = "the listings disagree at " + jpath;
            return false;
        }
        std::string type =
            j.contains("type") && j["type"].is_string() ? j["type"].get<std::string>() : "file";
        struct stat st {};
        unsigned long long gm = j.contains("mode") && j["mode"].is_number_unsigned()
                                    ? j["mode"].get<unsigned long long>()
                                    : 0;
        st.st_mode = go_mode_to_st_mode(gm, type);
        st.st_uid =
            j.contains("uid") && j["uid"].is_number_unsigned() ? j["uid"].get<unsigned>() : 0;
        st.st_gid =
            j.contains("gid") && j["gid"].is_number_unsigned() ? j["gid"].get<unsigned>() : 0;
        st.st_size =
            j.contains("size") && j["size"].is_number_unsigned() ? j["size"].get<long long>() : 0;
        st.st_nlink = 1;
        st.st_blocks = (st.st_size + 511) / 512;
        size_t slash = raw.rfind('/');
        FileState f = file_state_from_stat(slash == std::string::npos ? raw : raw.substr(slash + 1),
                                           st, names);
        f.device = -1; // not recorded in the repository
        f.inode = 0;
        for (const char *k : {"mtime", "ctime"}) {
            if (j.contains(k) && j[k].is_string()) {
                parse_rfc3339_ns(j[k], k[0] == 'm' ? f.mtime_ns : f.ctime_ns);
            }
        }
        bool in_request = false;
        for (const auto &r : roots) {
            if (raw == r || r == "/" ||
                (raw.size() > r.size() && raw.compare(0, r.size(), r) == 0 &&
                 raw[r.size()] == '/')) {
                in_request = true;
            }
        }
        if (in_request) {
            ++out.files;
            if (type == "file") {
                kb_bytes += st.st_size;
            }
        }
        out.nodes.emplace_back(raw, std::move(f));
    }
    if (cur < plain_out.size()) {
        err = "the plain listing has more nodes than the JSON listing";
        return false;
    }
    out.kb = (kb_bytes + 1023) / 1024;
    return true;
}

bool record_rebuilt_image(ImageWriter &w, const RebuiltImage &img,
                          const std::vector<std::string> &roots, std::string &err) {
    auto under = [](const std::string &p, const std::string &r) {
        return r == "/" || p == r ||
               (p.size() > r.size() && p.compare(0, r.size(), r) == 0 && p[r.size()] == '/');
    };
    std::map<std::string, std::vector<FileState>> entries; // by directory
    std::map<std::string, const FileState *> dirs;
    std::set<std::string> root_set(roots.begin(), roots.end());
    for (const auto &[path, st] : img.nodes) {
        bool covered = false;
        for (const auto &r : roots) {
            covered = covered || under(path, r);
        }
        if (!covered) {
            if (!w.ancestor(path, st, err)) {
                return false;
            }
            continue;
        }
        if (root_set.count(path) != 0 && !w.root(path, st, err)) {
            return false;
        }
        if (st.type == 1) {
            dirs.emplace(path, &st);
        }
        if (root_set.count(path) == 0) {
            size_t slash = path.rfind('/');
            entries[slash == 0 ? "/" : path.substr(0, slash)].push_back(st);
        }
    }
    // Parents before their entries: map order puts "/a" before "/a/b".
    for (const auto &[dir, st] : dirs) {
        auto it = entries.find(dir);
        if (!w.directory(dir, it == entries.end() ? std::vector<FileState>() : it->second, {},
                         err)) {
            return false;
        }
    }
    return true;
}
