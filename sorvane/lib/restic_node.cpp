#include "restic_node.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "rebuild.h"

namespace {

long long integer(const nlohmann::json &j, const char *key) {
    auto it = j.find(key);
    return it != j.end() && it->is_number_integer() ? it->get<long long>() : 0;
}

std::string text(const nlohmann::json &j, const char *key) {
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

bool parse_restic_node(std::string_view line, ResticNode &out) {
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object() || text(j, "struct_type") != "node") {
        return false;
    }
    out.path = text(j, "path");
    out.type = text(j, "type");
    out.size = integer(j, "size");
    return !out.path.empty() && !out.type.empty() &&
           parse_rfc3339_ns(text(j, "mtime"), out.mtime_ns) &&
           parse_rfc3339_ns(text(j, "ctime"), out.ctime_ns);
}

ResticBackupEvent parse_restic_backup_line(std::string_view line) {
    ResticBackupEvent ev;
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object()) {
        return ev;
    }
    const std::string type = text(j, "message_type");
    if (type == "verbose_status") {
        ev.item = text(j, "item");
        if (ev.item.empty()) {
            return ev;
        }
        if (ev.item.size() > 1 && ev.item.back() == '/') {
            ev.item.pop_back();
        }
        ev.kind = ResticBackupEvent::Stored;
    } else if (type == "error") {
        ev.kind = ResticBackupEvent::Error;
        ev.item = text(j, "item");
        if (ev.item.size() > 1 && ev.item.back() == '/') {
            ev.item.pop_back();
        }
        auto it = j.find("error");
        ev.error = it == j.end()     ? std::string("read error")
                   : it->is_string() ? it->get<std::string>()
                   : it->is_object() && it->contains("Err") && (*it)["Err"].is_number_integer()
                       ? std::string(strerror(static_cast<int>((*it)["Err"].get<long long>())))
                       : it->dump();
    } else if (type == "status") {
        ev.kind = ResticBackupEvent::Status;
        if (j.contains("files_done") && j["files_done"].is_number_integer()) {
            ev.files_done = j["files_done"];
        }
        if (j.contains("total_files") && j["total_files"].is_number_integer()) {
            ev.total_files = j["total_files"];
        }
        if (j.contains("bytes_done") && j["bytes_done"].is_number_integer()) {
            ev.bytes_done = j["bytes_done"];
        }
        if (j.contains("total_bytes") && j["total_bytes"].is_number_integer()) {
            ev.total_bytes = j["total_bytes"];
        }
    } else if (type == "summary") {
        ev.kind = ResticBackupEvent::Summary;
        ev.snapshot = text(j, "snapshot_id");
        ev.files_new = integer(j, "files_new");
        ev.files_changed = integer(j, "files_changed");
        ev.files_unmodified = integer(j, "files_unmodified");
        ev.data_added = integer(j, "data_added");
        ev.files_done = integer(j, "total_files_processed");
        ev.bytes_done = integer(j, "total_bytes_processed");
    }
    return ev;
}
