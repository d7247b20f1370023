#include "restic_node.h"

#include <cstring>
#include <nlohmann/json.hpp>

namespace {

bool digits(std::string_view t, size_t pos, size_t n, int &out) {
    if (pos + n > t.size())
        return false;
    out = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (t[i] < '0' || t[i] > '9')
            return false;
        out = out * 10 + (t[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
long long days_from_civil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

long long integer(const nlohmann::json &j, const char *key) {
    auto it = j.find(key);
    return it != j.end() && it->is_number_integer() ? it->get<long long>() : 0;
}

std::string text(const nlohmann::json &j, const char *key) {
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

bool parse_restic_time(std::string_view t, long long &ns) {
    int y, mo, d, h, mi, s;
    if (!digits(t, 0, 4, y) || t.size() < 19 || t[4] != '-' || !digits(t, 5, 2, mo) ||
        t[7] != '-' || !digits(t, 8, 2, d) || (t[10] != 'T' && t[10] != 't' && t[10] != ' ') ||
        !digits(t, 11, 2, h) || t[13] != ':' || !digits(t, 14, 2, mi) || t[16] != ':' ||
        !digits(t, 17, 2, s))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return false;
    size_t pos = 19;
    long long frac = 0;
    if (pos < t.size() && t[pos] == '.') {
        ++pos;
        int n = 0;
        while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') {
            if (n < 9) {
                frac = frac * 10 + (t[pos] - '0');
                ++n;
            }
            ++pos;
        }
        if (n == 0)
            return false;
        for (; n < 9; ++n)
            frac *= 10;
    }
    long long offset = 0;
    if (pos < t.size() && (t[pos] == 'Z' || t[pos] == 'z')) {
        ++pos;
    } else if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) {
        int oh, om;
        if (!digits(t, pos + 1, 2, oh) || pos + 3 >= t.size() || t[pos + 3] != ':' ||
            !digits(t, pos + 4, 2, om) || oh > 23 || om > 59)
            return false;
        offset = (oh * 3600LL + om * 60LL) * (t[pos] == '-' ? -1 : 1);
        pos += 6;
    } else {
        return false;
    }
    if (pos != t.size())
        return false;
    long long secs =
        days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400LL +
        h * 3600LL + mi * 60LL + s - offset;
    ns = secs * 1000000000LL + frac;
    return true;
}

bool parse_restic_node(std::string_view line, ResticNode &out) {
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object() || text(j, "struct_type") != "node")
        return false;
    out.path = text(j, "path");
    out.type = text(j, "type");
    out.size = integer(j, "size");
    return !out.path.empty() && !out.type.empty() &&
           parse_restic_time(text(j, "mtime"), out.mtime_ns) &&
           parse_restic_time(text(j, "ctime"), out.ctime_ns);
}

ResticBackupEvent parse_restic_backup_line(std::string_view line) {
    ResticBackupEvent ev;
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object())
        return ev;
    const std::string type = text(j, "message_type");
    if (type == "verbose_status") {
        ev.item = text(j, "item");
        if (ev.item.empty())
            return ev;
        if (ev.item.size() > 1 && ev.item.back() == '/')
            ev.item.pop_back();
        ev.kind = ResticBackupEvent::Stored;
    } else if (type == "error") {
        ev.kind = ResticBackupEvent::Error;
        ev.item = text(j, "item");
        if (ev.item.size() > 1 && ev.item.back() == '/')
            ev.item.pop_back();
        auto it = j.find("error");
        ev.error = it == j.end()     ? std::string("read error")
                   : it->is_string() ? it->get<std::string>()
                   : it->is_object() && it->contains("Err") && (*it)["Err"].is_number_integer()
                       ? std::string(strerror(static_cast<int>((*it)["Err"].get<long long>())))
                       : it->dump();
    } else if (type == "status") {
        ev.kind = ResticBackupEvent::Status;
        if (j.contains("files_done") && j["files_done"].is_number_integer())
            ev.files_done = j["files_done"];
        if (j.contains("total_files") && j["total_files"].is_number_integer())
            ev.total_files = j["total_files"];
    } else if (type == "summary") {
        ev.kind = ResticBackupEvent::Summary;
        ev.snapshot = text(j, "snapshot_id");
        ev.files_new = integer(j, "files_new");
        ev.files_changed = integer(j, "files_changed");
        ev.files_unmodified = integer(j, "files_unmodified");
        ev.data_added = integer(j, "data_added");
    }
    return ev;
}

bool restic_type_matches(std::string_view node_type, int listing_type) {
    switch (listing_type) {
    case 0:
        return node_type == "file";
    case 1:
        return node_type == "dir";
    case 2:
        return node_type == "symlink";
    default:
        return node_type != "file" && node_type != "dir" && node_type != "symlink";
    }
}
