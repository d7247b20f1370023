#include "restore_errors.h"

namespace {
const std::string_view MARK = "ignoring error for ";
}

bool restore_error_text(std::string_view line, std::string &text) {
    if (line.substr(0, MARK.size()) != MARK) {
        return false;
    }
    text.assign(line.substr(MARK.size()));
    return true;
}

std::map<std::string, std::string> restore_error_locations(const std::vector<std::string> &texts,
                                                           const std::string &target) {
    std::map<std::string, std::string> out;
    for (const auto &t : texts) {
        for (size_t pos = t.find(": "); pos != std::string::npos; pos = t.find(": ", pos + 1)) {
            std::string where = t.substr(0, pos);
            if (!target.empty() && where.size() > target.size() &&
                where.compare(0, target.size(), target) == 0 && where[target.size()] == '/') {
                where.erase(0, target.size());
            }
            out.emplace(where, t.substr(pos + 2));
        }
    }
    return out;
}
