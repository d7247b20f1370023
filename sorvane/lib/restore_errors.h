// What restic's restore reports it could not restore. restic goes on after
// such an error (a damaged pack, an unreadable tree) and prints
//   ignoring error for PATH: WHY
// on standard error, PATH being the path as backed up (or, for some
// errors, the path below the target directory).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// The text after "ignoring error for " of a line of restic's standard
// error; false for any other line.
bool restore_error_text(std::string_view line, std::string &text);

// The locations named by those texts, each with its reason. A path may
// itself hold ": ", so every split of a text is taken as a location; a
// location below target is taken relative to it. Callers look up the paths
// they know, which matches only real splits.
std::map<std::string, std::string> restore_error_locations(const std::vector<std::string> &texts,
                                                           const std::string &target);
