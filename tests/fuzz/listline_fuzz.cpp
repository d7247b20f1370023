// Fuzzes the line rules of the list loader (command output, help files) and
// the help index line parser.
#include "cmnutils.h"
#include "xkp_helppath.h"
#include "xkp_listline.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // First byte picks the field of mode N; the rest is one line (NULs cut it,
    // as they would for a C-string line read from a stream).
    int n = data[0] % 12 + 1;
    std::string line(reinterpret_cast<const char *>(data + 1), size - 1);
    line.resize(strlen(line.c_str()));
    if (line.size() > static_cast<size_t>(LOAD_LINE_MAX)) {
        line.resize(LOAD_LINE_MAX);
    }
    strip_line_end(line.data());
    line.resize(strlen(line.c_str()));
    if (!line.empty() && strchr(" \t\n", line.back()) != nullptr) {
        __builtin_trap();
    }

    std::string out;
    int count = field_count(line.c_str());
    list_line_item(line.c_str(), LOAD_ALL_BUT_LAST, out);
    // Every field but the last, each followed by exactly one blank.
    if (field_count(out.c_str()) != (count > 0 ? count - 1 : 0)) {
        __builtin_trap();
    }
    if (!out.empty() && out.back() != ' ') {
        __builtin_trap();
    }
    // The one-pass split agrees with the field routines.
    std::string reference;
    static char field[XKP_FIELD_MAX + 1];
    for (int i = 1; i < count; ++i) {
        field_copy(field, line.c_str(), i);
        reference += field;
        reference += ' ';
    }
    if (out != reference) {
        __builtin_trap();
    }
    list_line_item(line.c_str(), n, out);
    if (field_count(out.c_str()) != (n <= count ? 1 : 0)) {
        __builtin_trap();
    }
    list_line_item(line.c_str(), LOAD_TEXT, out);
    if (out.size() != line.size() + 1 || out.back() != '\n') {
        __builtin_trap();
    }
    list_line_item(line.c_str(), LOAD_WHOLE_LINE, out);
    if (out != line) {
        __builtin_trap();
    }

    std::string topic = index_line_topic(line.c_str());
    if (topic.empty() || field_count(topic.c_str()) != 1) {
        __builtin_trap();
    }
    help_file_for_topic(topic.c_str());
    return 0;
}
