// Help topics and the files that hold them, without X.
//
// A help topic is the path of a help text file: a full path below the help
// directory (product_help_dir(), "/usr/tamra/sorvane/help" when installed),
// or a path relative to it such as "xkp/Tutorial". The help index file
// (xkp/Index) names one topic per line, as the line's last blank-separated
// field after the words of its title.
#pragma once

#include <string>

// The topic name ("xkp/Confirm") as a full path below the help directory.
// Dialogs open their page with help_topic_by_name(help_topic_path("xkp/...")).
std::string help_topic_path(const char *name);

// The file that shows topic: topic itself when it contains the help
// directory's path anywhere, else the help directory, "/" and topic.
std::string help_file_for_topic(const char *topic);

// The help index file.
std::string help_index_path();

// The topic a help index line opens: the line's last blank-separated field,
// or the tutorial (a full path) when the line holds no field at all.
std::string index_line_topic(const char *line);
