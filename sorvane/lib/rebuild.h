// Rebuilding a server's catalog from its repository, for when the catalog
// was lost. Names come back raw: restic's JSON listing gives the structure
// and attributes but turns non-UTF-8 bytes into U+FFFD, so each name is
// taken from the plain listing (raw bytes, one node per line) and checked
// against the JSON form; a snapshot whose two listings do not agree is
// refused, never recorded with wrong names.
#pragma once

#include <string>
#include <vector>

#include "catalog.h"
#include "fsentry.h"

// Go's os.FileMode bits as restic's JSON gives them, to st_mode.
unsigned go_mode_to_st_mode(unsigned long long go_mode, const std::string &type);

// RFC 3339 time ("2024-01-02T03:04:05.123+01:00") to seconds since the
// epoch; false when malformed.
bool parse_rfc3339(const std::string &text, long long &out);

// Builds the listing lines of one snapshot from the output of
// "restic ls --json ID" and "restic ls ID". roots are the snapshot's paths
// (entries under them count as the image's files). False with err when
// the listings disagree.
struct RebuiltImage {
    std::vector<std::pair<std::string, std::string>> lines;
    long long files = 0;
    long long kb = 0;
};
bool rebuild_listing(const std::string &json_out, const std::string &plain_out,
                     const std::vector<std::string> &roots, long long backup_time, int schedule,
                     NameCache &names, RebuiltImage &out, std::string &err);
