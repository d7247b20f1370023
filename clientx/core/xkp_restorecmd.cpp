// Command lines, image rows and request texts of the restore road.
#include "xkp_restorecmd.h"

#include "cmnutils.h"
#include "kpconf_api.h"
#include "timefuncs.h"
#include "tmmsg.h"
#include "xkp_root.h"
#include "xkp_state.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string program(const char *name) {
    std::string rel = std::string("sorvane/bin/") + name;
    return shell_word(product_path(rel.c_str()).c_str());
}

// snprintf of a short numeric piece.
std::string number(long long n) {
    char buf[32];
    snprintf(buf, sizeof buf, "%lld", n);
    return buf;
}

} // namespace

std::string keyword_option(const char *keyword) {
    std::string out = "-keyword \"";
    if (keyword != nullptr) {
        std::string k = keyword;
        size_t end = k.find_last_not_of(" \t");
        k.erase(end == std::string::npos ? 0 : end + 1);
        for (char c : k) {
            if (c == '"' || c == '\\' || c == '$' || c == '`') {
                out += '\\';
            }
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string kplist_command(const char *dir, bool have_dates, int32_t start, int32_t end,
                           const char *keyword) {
    std::optional<std::string> quoted = apostrophize(dir != nullptr ? dir : "");
    std::string cmd = program("kplist");
    cmd += ' ';
    cmd += dash_t_option;
    cmd += ' ';
    cmd += dash_S_option;
    cmd += ' ';
    cmd += dash_C_option;
    cmd += ' ';
    cmd += browsing_raw_partitions ? " -r" : "";
    cmd += ' ';
    cmd += restore_from_archives ? "-A" : "-B";
    cmd += " -l -b -U ";
    cmd += true_image ? "-T -W" : "-W";
    cmd += " -R " + number(recursion_limit);
    if (have_dates) {
        cmd += " -X -s " + number(start) + " -e " + number(end);
    }
    cmd += ' ';
    cmd += keyword_option(keyword);
    cmd += ' ';
    cmd += quoted ? *quoted : "''";
    return cmd;
}

std::string imagelist_command(const char *type, const char *keyword) {
    std::string cmd = program("kpclimagelist");
    cmd += ' ';
    cmd += true_image ? "-TK" : "-K";
    cmd += ' ';
    cmd += dash_ct_option;
    cmd += ' ';
    cmd += dash_server_option;
    cmd += " -t ";
    cmd += type != nullptr ? type : "NOT_ARCHIVE";
    cmd += " -X -d " + number(let_there_be_light) + " -e " + number(midnight());
    cmd += " -client " + shell_word(current_browse_client);
    cmd += ' ';
    cmd += keyword_option(keyword);
    return cmd;
}

std::string likelydate_command(int type) {
    std::string cmd = program("kpclimagelist");
    cmd += ' ';
    cmd += dash_ct_option;
    cmd += ' ';
    cmd += dash_server_option;
    cmd += " -likelydate -t ";
    cmd += type == 3 ? "UARC" : "NOT_ARCHIVE";
    cmd += " -client " + shell_word(current_browse_client);
    return cmd;
}

std::string schedule_name(int code) {
    struct name {
        int code;
        Msg msg;
    };
    static const name names[] = {{0, {"CerXkp1010N", "Full Backup"}},
                                 {1, {"CerXkp1011N", "Incr Backup"}},
                                 {2, {"CerXkp1012N", "User Backup"}},
                                 {3, {"CerXkp1013N", "User Archive"}},
                                 {4, {"CerXkp1015N", "Cinc Backup"}}};
    for (const name &n : names) {
        if (n.code == code) {
            char buf[XKP_TEXT_SIZE];
            tmgetmsg(n.msg, tmlcmsg, sizeof buf, buf);
            return buf;
        }
    }
    return "?";
}

int32_t leading_time(const char *text) {
    if (text == nullptr) {
        return 0;
    }
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(text, &end, 10);
    if (end == text) {
        return 0;
    }
    return static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

int32_t image_time(const char *raw) {
    char f1[XKP_FIELD_MAX + 1];
    field_copy(f1, raw != nullptr ? raw : "", 1);
    return leading_time(f1);
}

std::string format_image_row(const char *raw) {
    const char *line = raw != nullptr ? raw : "";
    char f1[XKP_FIELD_MAX + 1], f2[XKP_FIELD_MAX + 1], f3[XKP_FIELD_MAX + 1];
    char f4[XKP_FIELD_MAX + 1], f6[XKP_FIELD_MAX + 1], f8[XKP_FIELD_MAX + 1];
    char f9[XKP_EOL_MAX + 1];
    field_copy(f1, line, 1);
    field_copy(f2, line, 2);
    field_copy(f3, line, 3);
    field_copy(f4, line, 4);
    field_copy(f6, line, 6);
    field_copy(f8, line, 8);
    field_copy_to_eol(f9, line, 9);
    // The rest of the line loses the newline field_copy_to_eol keeps.
    size_t n = strlen(f9);
    while (n > 0 && (f9[n - 1] == '\n' || f9[n - 1] == ' ' || f9[n - 1] == '\t')) {
        f9[--n] = '\0';
    }
    std::string backed_up = datestringl(leading_time(f1), tmlctime, 0);
    std::string expires = datestringl(leading_time(f2), tmlctime, 0);
    std::string sched = schedule_name(f6[0] != '\0' ? leading_time(f6) : -1);
    // Formatted in full, then cut to the 1535 characters of a list row.
    std::vector<char> row(backed_up.size() + expires.size() + sched.size() + strlen(f8) +
                          strlen(f9) + 96);
    snprintf(row.data(), row.size(), "%s  %-8.8s %8d %9d  %-12.12s %-25s %s", backed_up.c_str(),
             expires.c_str(), leading_time(f3), leading_time(f4), sched.c_str(), f8, f9);
    std::string out = row.data();
    if (out.size() >= XKP_TEXT_SIZE) {
        out.resize(XKP_TEXT_SIZE - 1);
    }
    return out;
}

int32_t choose_start_date(int32_t r, int s, int32_t limit_days, int64_t now) {
    int64_t limit = 0;
    if (limit_days > 0 && now > static_cast<int64_t>(limit_days) * 86400) {
        limit = now - static_cast<int64_t>(limit_days) * 86400;
    }
    if (limit > r) {
        return static_cast<int32_t>(limit);
    }
    if (s != 0 || r < 1) {
        return let_there_be_light;
    }
    return r;
}

std::string restore_header() {
    std::string h = program("kprestore");
    for (const char *fragment :
         {static_cast<const char *>(dash_t_option), static_cast<const char *>(dash_C_option),
          static_cast<const char *>(dash_D_option), static_cast<const char *>(dash_S_option)}) {
        h += ' ';
        h += fragment;
    }
    h += ' ';
    return h;
}

std::string restore_trailer(const char *request_file) {
    std::string t = true_image ? " -T -W" : " -W";
    t += ' ';
    t += browsing_raw_partitions ? " -r" : "";
    t += ' ';
    t += restore_from_archives ? "-A" : "";
    t += " -f ";
    t += shell_word(request_file);
    return t;
}

const char *rename_link_flag() {
    if (rename_altpath_hard && rename_altpath_soft) {
        return "-l ";
    }
    if (rename_altpath_hard) {
        return "-H ";
    }
    if (rename_altpath_soft) {
        return "-y ";
    }
    return "";
}

std::string rename_file_text(const char *from, const char *to) {
    return std::string("change ") + (from ? from : "") + " to " + (to ? to : "") + "\n";
}
