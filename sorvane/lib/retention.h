// Retention of a server: how many days new images are kept, per kind
// (backups, archives), in the server's file "retention":
//   backups DAYS
//   archives DAYS
// 0 (or no file) keeps images for ever. A new image's expiration is its
// backup time plus the days of its kind; `kpadmin expire` removes the
// images whose expiration has passed.
#pragma once

#include <string>

#include "kpserver.h"

struct Retention {
    long long backup_days = 0, archive_days = 0;
};

Retention read_retention(const KpServer &server);
bool write_retention(const KpServer &server, const Retention &r, std::string &err);

// The expiration time of a new image of this schedule made at backup_time.
long long image_expiration(const KpServer &server, int schedule, long long backup_time);

// The present time for expiration: XKP_NOW (seconds since the epoch) when
// set, so that tests can move time on; else the clock.
long long retention_now();
