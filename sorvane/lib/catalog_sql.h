// What the units of the catalog database share: the text of an SQLite
// error, the forms of a path and the lookup of a history.
#pragma once

#include <sqlite3.h>
#include <string>
#include <string_view>
#include <vector>

#include "catalog_db.h"

namespace catalog_sql {

std::string db_error(sqlite3 *db, const char *what);

// The path of the entry name in the directory dir.
std::string child_path(const std::string &dir, const std::string &name);

// Components of an absolute path ("/" has none). Empty and "." components
// are dropped.
std::vector<std::string> components(std::string_view path);

// path with its empty and "." components dropped ("/" when none is left).
std::string normal_path(std::string_view path);

// The id of history h (0 when the catalog has none), and the path id of
// its "/" in *root when root is not null.
long long history_id(sqlite3 *db, const HistoryKey &h, long long *root);

} // namespace catalog_sql
