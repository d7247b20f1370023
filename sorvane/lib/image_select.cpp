#include "image_select.h"

#include <algorithm>
#include <cctype>
#include <fnmatch.h>

bool keyword_matches(const std::string &phrase, const std::string &kw) {
    if (phrase.empty()) {
        return true;
    }
    if (phrase.find_first_of("*?[") != std::string::npos) {
        return fnmatch(phrase.c_str(), kw.c_str(), 0) == 0;
    }
    auto lower = [](std::string s) {
        for (char &c : s) {
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        }
        return s;
    };
    return lower(kw).find(lower(phrase)) != std::string::npos;
}

bool image_selected(const ImageHeader &h, const ImageFilter &f) {
    if (!f.client.empty() && h.client != f.client) {
        return false;
    }
    if (f.archives != (h.schedule == SCHED_USER_ARCHIVE)) {
        return false;
    }
    if (f.policy_type >= 0 && h.policy_type != f.policy_type) {
        return false;
    }
    if (h.backup_time < f.start || h.backup_time > f.end) {
        return false;
    }
    return keyword_matches(f.keyword, h.keyword);
}

std::vector<ImageHeader> select_images(const std::vector<ImageHeader> &all, const ImageFilter &f) {
    std::vector<ImageHeader> out;
    for (const auto &h : all) {
        if (image_selected(h, f)) {
            out.push_back(h);
        }
    }
    return out;
}

long long likely_start_date(const std::vector<ImageHeader> &images) {
    long long full = -1, oldest = -1;
    for (const auto &h : images) {
        if (h.schedule == SCHED_FULL && h.backup_time > full) {
            full = h.backup_time;
        }
        if (oldest < 0 || h.backup_time < oldest) {
            oldest = h.backup_time;
        }
    }
    return full >= 0 ? full : oldest;
}
