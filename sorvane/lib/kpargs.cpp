#include "kpargs.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

std::string KpArgs::get(const std::string &opt, const std::string &dflt) const {
    auto it = values.find(opt);
    return it == values.end() ? dflt : it->second;
}

bool kp_parse_args(int argc, const char *const *argv, const std::vector<KpOption> &table,
                   KpArgs &out, std::string &err) {
    out = KpArgs{};
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) {
            break;
        }
        std::string word = argv[i];
        if (options_done || word.empty() || word[0] != '-' || word == "-") {
            out.operands.push_back(word);
            continue;
        }
        if (word == "--") {
            options_done = true;
            continue;
        }
        const KpOption *opt = nullptr;
        for (const auto &o : table) {
            if (word == o.name) {
                opt = &o;
                break;
            }
        }
        if (opt == nullptr) {
            err = "unknown option " + word;
            return false;
        }
        if (!opt->takes_value) {
            out.values[word] = "";
            continue;
        }
        if (i + 1 >= argc || argv[i + 1] == nullptr) {
            err = "option " + word + " needs a value";
            return false;
        }
        out.values[word] = argv[++i];
    }
    return true;
}

bool kp_parse_time(const std::string &text, long long &out) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < INT_MIN || v > INT_MAX) {
        return false;
    }
    out = v;
    return true;
}
