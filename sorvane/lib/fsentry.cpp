#include "fsentry.h"

#include <climits>
#include <grp.h>
#include <pwd.h>

const std::string &NameCache::user(uid_t uid) {
    auto it = users_.find(uid);
    if (it != users_.end()) {
        return it->second;
    }
    std::string n;
    struct passwd pw {
    }, *res = nullptr;
    char buf[4096];
    if (getpwuid_r(uid, &pw, buf, sizeof buf, &res) == 0 && res != nullptr) {
        n = res->pw_name;
    }
    if (n.empty() || n.size() > 9 || n.find_first_of(" \t\n:") != std::string::npos) {
        n = std::to_string(uid);
    }
    return users_.emplace(uid, n).first->second;
}

const std::string &NameCache::group(gid_t gid) {
    auto it = groups_.find(gid);
    if (it != groups_.end()) {
        return it->second;
    }
    std::string n;
    struct group gr {
    }, *res = nullptr;
    char buf[4096];
    if (getgrgid_r(gid, &gr, buf, sizeof buf, &res) == 0 && res != nullptr) {
        n = res->gr_name;
    }
    if (n.empty() || n.size() > 9 || n.find_first_of(" \t\n:") != std::string::npos) {
        n = std::to_string(gid);
    }
    return groups_.emplace(gid, n).first->second;
}

int listing_type(mode_t mode) {
    if (S_ISREG(mode)) {
        return 0;
    }
    if (S_ISDIR(mode)) {
        return 1;
    }
    if (S_ISLNK(mode)) {
        return 2;
    }
    return 3;
}

ListingLine listing_from_stat(const std::string &path, const struct stat &st, long long backup_time,
                              int schedule, NameCache &names) {
    ListingLine l;
    auto fit = [](long long v) { return v >= 0 && v <= INT_MAX ? v : 0; };
    l.numbers[LN_TYPE] = listing_type(st.st_mode);
    l.numbers[LN_MODE] = st.st_mode;
    l.numbers[LN_UID] = fit(st.st_uid);
    l.numbers[LN_GID] = fit(st.st_gid);
    l.numbers[LN_NLINK] = fit(static_cast<long long>(st.st_nlink));
    l.numbers[LN_SCHED] = schedule;
    l.numbers[LN_BLOCKS] = fit(static_cast<long long>(st.st_blocks) / 2);
    // The client reads the device number as a 32-bit value; keep the low
    // 31 bits so that it stays a non-negative, comparable number.
    l.numbers[LN_DEVICE] = static_cast<long long>(st.st_dev & 0x7fffffffULL);
    l.numbers[LN_INODE] = fit(static_cast<long long>(st.st_ino));
    l.mode = mode_text(st.st_mode);
    l.owner = names.user(st.st_uid);
    l.group = names.group(st.st_gid);
    l.size = S_ISDIR(st.st_mode) ? 0 : static_cast<long long>(st.st_size);
    l.backup_time = backup_time;
    l.mtime = st.st_mtime;
    l.path = path;
    return l;
}

std::string lossy_utf8(const std::string &s) {
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t n = 0;
        unsigned cp = 0;
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        }
        bool ok = n > 0;
        if (ok) {
            for (size_t k = 1; k <= n; ++k) {
                if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            }
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid.
        if (ok && ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
                   (cp >= 0xD800 && cp <= 0xDFFF))) {
            ok = false;
        }
        if (ok) {
            out.append(s, i, n + 1);
            i += n + 1;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}
