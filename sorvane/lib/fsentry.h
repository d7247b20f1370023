// Listing lines of local files, made from our own lstat of each path at
// backup time (restic's listings lose non-UTF-8 bytes in names and give
// numeric owners only), and the conversion of names to the lossy form that
// restic's JSON shows, used to compare the two.
#pragma once

#include <string>
#include <sys/stat.h>
#include <unordered_map>

#include "catalog.h"

// Owner and group names, cached. A name longer than 9 bytes (the width of
// its column) is given as its number.
class NameCache {
  public:
    const std::string &user(uid_t uid);
    const std::string &group(gid_t gid);

  private:
    std::unordered_map<uid_t, std::string> users_;
    std::unordered_map<gid_t, std::string> groups_;
};

// The listing line of a file whose lstat is st. path is absolute; for a
// directory it ends in "/".
ListingLine listing_from_stat(const std::string &path, const struct stat &st, long long backup_time,
                              int schedule, NameCache &names);

// Type code of the first listing number.
int listing_type(mode_t mode);

// The name as restic's JSON shows it: every byte that is not part of a
// valid UTF-8 sequence becomes U+FFFD.
std::string lossy_utf8(const std::string &name);
