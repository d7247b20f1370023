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
#include "catalog_db.h"
#include "fsentry.h"

// Go's os.FileMode bits as restic's JSON gives them, to st_mode.
unsigned go_mode_to_st_mode(unsigned long long go_mode, const std::string &type);

// RFC 3339 time ("2024-01-02T03:04:05.123+01:00") to seconds since the
// epoch; false when malformed.
bool parse_rfc3339(const std::string &text, long long &out);

// RFC 3339 time to nanoseconds since the epoch; false when malformed.
bool parse_rfc3339_ns(const std::string &text, long long &out);

// The nodes of one snapshot, read from the output of "restic ls --json ID"
// and "restic ls ID": each path (raw bytes) with its state. restic does not
// record device numbers (device -1) nor, in its listing, inodes (0). files
// and kb count what lies under the snapshot's roots. False with err when
// the listings disagree.
struct RebuiltImage {
    std::vector<std::pair<std::string, FileState>> nodes; // in the listing's order
    long long files = 0;
    long long kb = 0;
};
bool rebuild_listing(const std::string &json_out, const std::string &plain_out,
                     const std::vector<std::string> &roots, NameCache &names, RebuiltImage &out,
                     std::string &err);

// Records a rebuilt snapshot through an image writer: the directories above
// the roots, the roots, and every directory below them with its entries.
bool record_rebuilt_image(ImageWriter &w, const RebuiltImage &img,
                          const std::vector<std::string> &roots, std::string &err);
