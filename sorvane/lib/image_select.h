// Choosing images of a server's catalog: by client, backups or archives,
// policy type, range of backup times and keyword phrase.
#pragma once

#include <string>
#include <vector>

#include "catalog.h"

struct ImageFilter {
    std::string client;    // "" = any client
    bool archives = false; // true: user archives only; false: everything else
    int policy_type = -1;  // -1 = any
    long long start = 0;
    long long end = KP_INFINITY;
    std::string keyword; // "" = any
};

// A keyword phrase matches when it is empty, or when it holds one of
// "*?[" and matches the image's keyword as a shell pattern, or else when it
// occurs in the image's keyword ignoring case.
bool keyword_matches(const std::string &phrase, const std::string &image_keyword);

bool image_selected(const ImageHeader &h, const ImageFilter &f);

std::vector<ImageHeader> select_images(const std::vector<ImageHeader> &all, const ImageFilter &f);

// The time a restore browse should start from: the most recent full backup
// among the images, else the oldest image; -1 when there is none.
long long likely_start_date(const std::vector<ImageHeader> &images);
