#include "image_record.h"

#include <cerrno>
#include <cstdlib>

namespace {

std::string text_field(std::string_view s) {
    return "=" + percent_encode(s);
}

void add_number(std::string &out, long long v) {
    out += ' ';
    out += std::to_string(v);
}

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i <= line.size()) {
        size_t j = line.find(' ', i);
        if (j == std::string_view::npos) {
            j = line.size();
        }
        out.push_back(line.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

bool number(std::string_view s, long long &v) {
    if (s.empty() || s.size() > 20) {
        return false;
    }
    std::string t(s);
    char *end = nullptr;
    errno = 0;
    v = strtoll(t.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0' &&
           (t[0] == '-' || (t[0] >= '0' && t[0] <= '9'));
}

bool text(std::string_view s, std::string &v) {
    if (s.empty() || s[0] != '=') {
        return false;
    }
    v = percent_decode(s.substr(1));
    return true;
}

// An absolute path as the catalog keeps it: "/" or "/a/b", no empty,
// "." or ".." component.
bool catalog_path(const std::string &p) {
    if (p.empty() || p[0] != '/' || (p.size() > 1 && p.back() == '/')) {
        return false;
    }
    if (p.find('\0') != std::string::npos || p.find("//") != std::string::npos) {
        return false;
    }
    return p.find("/./") == std::string::npos && p.find("/../") == std::string::npos &&
           !(p.size() >= 2 && p.compare(p.size() - 2, 2, "/.") == 0) &&
           !(p.size() >= 3 && p.compare(p.size() - 3, 3, "/..") == 0);
}

} // namespace

std::string format_image_record(const ImageRecord &r) {
    const ImageHeader &h = r.header;
    std::string out = "sorvane-record 1\nimage";
    long long lines = 2;
    for (long long v :
         {h.backup_time, h.expiration, h.files, h.kb, static_cast<long long>(h.schedule),
          static_cast<long long>(h.policy_type)}) {
        add_number(out, v);
    }
    for (const std::string *s : {&h.policy, &h.client, &h.keyword, &h.snapshot}) {
        out += " " + text_field(*s);
    }
    out += '\n';
    for (const auto &p : r.gaps) {
        out += "gap " + text_field(p) + "\n";
    }
    for (const auto &p : r.roots) {
        out += "root " + text_field(p) + "\n";
        ++lines;
    }
    for (const auto &[p, first] : r.ended) {
        out += "ended " + text_field(p);
        add_number(out, first);
        out += '\n';
        ++lines;
    }
    for (const auto &v : r.added) {
        const FileState &st = v.st;
        out += "version " + text_field(v.path);
        for (long long n :
             {static_cast<long long>(st.type), static_cast<long long>(st.mode), st.uid, st.gid,
              st.nlink, st.blocks_kb, st.device, st.inode, st.size, st.mtime_ns, st.ctime_ns}) {
            add_number(out, n);
        }
        out += " " + text_field(st.owner) + " " + text_field(st.group) + "\n";
        ++lines;
    }
    out += "end " + std::to_string(lines) + "\n";
    return out;
}

bool parse_image_record(std::string_view in, ImageRecord &out, std::string &err) {
    out = ImageRecord{};
    long long lines = 0;
    bool header = false, ended = false;
    size_t pos = 0;
    auto bad = [&](const char *why) {
        err = "catalog record, line " + std::to_string(lines + 1) + ": " + why;
        return false;
    };
    while (pos < in.size()) {
        size_t nl = in.find('\n', pos);
        if (nl == std::string_view::npos) {
            return bad("no line end");
        }
        std::string_view line = in.substr(pos, nl - pos);
        pos = nl + 1;
        if (ended) {
            return bad("text after the end");
        }
        std::vector<std::string_view> f = split_fields(line);
        const std::string_view kind = f[0];
        if (lines == 0) {
            if (line != "sorvane-record 1") {
                return bad("not a catalog record of a known version");
            }
        } else if (kind == "image" && f.size() == 11 && lines == 1) {
            ImageHeader &h = out.header;
            long long sched = 0, ptype = 0;
            if (!number(f[1], h.backup_time) || !number(f[2], h.expiration) ||
                !number(f[3], h.files) || !number(f[4], h.kb) || !number(f[5], sched) ||
                !number(f[6], ptype) || !text(f[7], h.policy) || !text(f[8], h.client) ||
                !text(f[9], h.keyword) || !text(f[10], h.snapshot)) {
                return bad("bad image line");
            }
            if (h.backup_time <= 0 || h.client.empty() || sched < 0 || sched > 99 || ptype < -1 ||
                ptype > 999) {
                return bad("bad image line");
            }
            h.schedule = static_cast<int>(sched);
            h.policy_type = static_cast<int>(ptype);
            char id[32];
            snprintf(id, sizeof id, "%010lld", h.backup_time);
            h.id = id;
            header = true;
        } else if (!header) {
            return bad("no image line");
        } else if (kind == "gap" && f.size() == 2) {
            std::string p;
            if (!text(f[1], p) || !catalog_path(p)) {
                return bad("bad gap");
            }
            out.gaps.push_back(std::move(p));
        } else if (kind == "root" && f.size() == 2) {
            std::string p;
            if (!text(f[1], p) || !catalog_path(p)) {
                return bad("bad root");
            }
            out.roots.push_back(std::move(p));
        } else if (kind == "ended" && f.size() == 3) {
            std::string p;
            long long first = 0;
            if (!text(f[1], p) || !catalog_path(p) || !number(f[2], first) ||
                first >= out.header.backup_time) {
                return bad("bad ended version");
            }
            out.ended.emplace_back(std::move(p), first);
        } else if (kind == "version" && f.size() == 15) {
            Version v;
            FileState &st = v.st;
            long long type = 0, mode = 0;
            if (!text(f[1], v.path) || !catalog_path(v.path) || !number(f[2], type) ||
                !number(f[3], mode) || !number(f[4], st.uid) || !number(f[5], st.gid) ||
                !number(f[6], st.nlink) || !number(f[7], st.blocks_kb) ||
                !number(f[8], st.device) || !number(f[9], st.inode) || !number(f[10], st.size) ||
                !number(f[11], st.mtime_ns) || !number(f[12], st.ctime_ns) ||
                !text(f[13], st.owner) || !text(f[14], st.group) || type < 0 || type > 3 ||
                mode < 0 || mode > 0xffffffLL) {
                return bad("bad version");
            }
            st.type = static_cast<int>(type);
            st.mode = static_cast<unsigned>(mode);
            st.name = v.path == "/" ? "" : v.path.substr(v.path.rfind('/') + 1);
            v.first = out.header.backup_time;
            out.added.push_back(std::move(v));
        } else if (kind == "end" && f.size() == 2) {
            long long n = 0;
            if (!number(f[1], n) || n != lines) {
                return bad("the record is incomplete");
            }
            ended = true;
            continue;
        } else {
            return bad("unknown line");
        }
        ++lines;
    }
    if (!ended) {
        return bad("the record is incomplete");
    }
    return true;
}
