// The catalog database as a cache of the records stored in the repository:
// an image's record is exported from the database after the backup wrote
// the image, and imported into another host's database by a sync. The
// database remembers which repository records it holds (table
// image_records: record snapshot id, local image time, time the record
// names), so that a sync imports only what is new.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "catalog_db.h"
#include "image_record.h"

// Creates the record table when missing (the database open for writing).
bool ensure_record_table(CatalogDb &db, std::string &err);

// The record of the image with this backup time, from the database.
bool export_image_record(const CatalogDb &db, long long backup_time, ImageRecord &out,
                         std::string &err);

// Replays a record into the database in one transaction, as the next image
// of its history. The image gets the record's time, or the next free
// second when another client's image has it (local_time says which).
// Refused (false with err, nothing written) when the history already has
// an image at or after the record's time.
bool import_image_record(CatalogDb &db, const ImageRecord &r, long long &local_time,
                         std::string &err);

// A version whose data only the images at some times hold: no other
// image's snapshot has it. holder is the newest of those images that holds
// it. Directories are not counted: a restore makes them from the catalog.
struct SoleCopy {
    long long path_id = 0;
    Version v;
    long long holder = 0;
};
// The sole copies of the images at times (each version once).
bool sole_copies(const CatalogDb &db, const std::vector<long long> &times,
                 std::vector<SoleCopy> &out, std::string &err);

// Removes images from the database in one transaction. What the removed
// images alone held goes, including versions still alive that no
// remaining image holds (the caller keeps images whose sole copies it
// wants kept); every other version is dated by the remaining images
// (first: the first remaining image at or after its old first; ended
// likewise, open when none), though the image that now dates it need not
// hold it (its request may have covered other paths). changed gets the
// remaining images whose records differ now (the next image of each
// history after a removed one). Their record rows and the removed images'
// go too.
bool remove_images(CatalogDb &db, const std::vector<long long> &times,
                   std::vector<long long> &changed, std::string &err);

// The repository records the database holds: record snapshot id -> local
// image time.
std::map<std::string, long long> known_records(const CatalogDb &db);
bool add_known_record(CatalogDb &db, const std::string &record, long long backup_time,
                      std::string &err);
// Record ids of one image.
std::vector<std::string> records_of_image(const CatalogDb &db, long long backup_time);
