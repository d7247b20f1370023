// The catalog record of one image: what the image changed in its history
// (its header, its request paths, the versions it ended and the versions
// it added). Replaying the records of a history oldest first into an empty
// catalog gives the catalog the backups wrote. Each backup stores its
// image's record in the repository beside the data snapshot, so that any
// host with the repository's location and password can rebuild its
// catalog cache from the records alone.
//
// Text form, one item per line, fields separated by one blank; texts are
// "=" followed by their percent-encoding (so any byte survives and no
// field holds a blank):
//   sorvane-record 1
//   image TIME EXPIRATION FILES KB SCHEDULE POLICY_TYPE =policy =client =keyword =snapshot
//   root =path                          a request path of the image
//   gap =path                           covered but not stored by the image
//   ended =path FIRST                   the alive version of path ends here
//   version =path TYPE MODE UID GID NLINK BLOCKS DEV INO SIZE MTIME_NS CTIME_NS =owner =group
//   end N                               N: the number of lines before this one
// Versions are listed parents first; each begins at the image's time.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog.h"
#include "catalog_db.h"

struct ImageRecord {
    ImageHeader header;
    std::vector<std::string> roots;
    std::vector<std::string> gaps; // covered, not stored: the image does not hold them
    std::vector<std::pair<std::string, long long>> ended; // path, first of the ended version
    std::vector<Version> added;                           // path and state; first = header time
};

std::string format_image_record(const ImageRecord &r);

// Parses a record; false with err when the text is not a complete record.
bool parse_image_record(std::string_view text, ImageRecord &out, std::string &err);
