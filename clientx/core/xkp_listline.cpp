// Line-to-item rules of the generic list loader.
#include "xkp_listline.h"

#include "cmnutils.h"

#include <cstring>

void strip_line_end(char *line) {
    if (line == nullptr) {
        return;
    }
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t' || line[n - 1] == '\n')) {
        --n;
    }
    line[n] = '\0';
}

void list_line_item(const char *line, int mode, std::string &out) {
    out.clear();
    if (mode == LOAD_TEXT) {
        out.assign(line);
        out.push_back('\n');
        return;
    }
    if (mode > 0) {
        char field[XKP_FIELD_MAX + 1];
        field_copy(field, line, mode);
        out.assign(field);
        return;
    }
    if (mode == LOAD_ALL_BUT_LAST) {
        // Every field but the last, each followed by one blank: the words of
        // a help index title without the path that ends the line. One pass;
        // a field is cut to XKP_FIELD_MAX characters as field_copy cuts it.
        auto separator = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
        const char *p = line;
        const char *field = nullptr;
        size_t length = 0;
        for (;;) {
            while (*p != '\0' && separator(*p)) {
                ++p;
            }
            if (*p == '\0') {
                break;
            }
            if (field != nullptr) {
                out.append(field, length < XKP_FIELD_MAX ? length : XKP_FIELD_MAX);
                out.push_back(' ');
            }
            field = p;
            while (*p != '\0' && !separator(*p)) {
                ++p;
            }
            length = static_cast<size_t>(p - field);
        }
        return;
    }
    // 0 and -3 take the whole line. Other negative modes have no meaning of
    // their own; the whole line is the least surprising thing to show for
    // them, rather than dropping the output silently.
    out.assign(line);
}
