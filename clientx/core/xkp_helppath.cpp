// Help topics and their files.
#include "xkp_helppath.h"

#include "cmnutils.h"
#include "xkp_root.h"

#include <cstring>

std::string help_topic_path(const char *name) {
    return product_help_dir() + "/" + (name != nullptr ? name : "");
}

std::string help_file_for_topic(const char *topic) {
    if (topic == nullptr) {
        topic = "";
    }
    std::string dir = product_help_dir();
    if (strstr(topic, dir.c_str()) != nullptr) {
        return topic;
    }
    return dir + "/" + topic;
}

std::string help_index_path() {
    return help_topic_path("xkp/Index");
}

std::string index_line_topic(const char *line) {
    // A line of blanks alone names no file; like an empty line it opens the
    // tutorial rather than the help directory itself.
    int count = line != nullptr ? field_count(line) : 0;
    if (count == 0) {
        return help_topic_path("xkp/Tutorial");
    }
    char field[XKP_FIELD_MAX + 1];
    field_copy(field, line, count);
    return field;
}
