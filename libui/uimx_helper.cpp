// Widget helpers: busy cursor, sensitivity, list items, four-line items.
#include "uimx_helper.h"

#include "UxXt.h"
#include "cmnutils.h"

#include <X11/Shell.h>
#include <X11/cursorfont.h>
#include <Xm/List.h>
#include <Xm/ListP.h>

#include <algorithm>
#include <cstring>
#include <string>

Widget UxTopLevel = nullptr;

int busy_cursor_count = 0;

namespace {

constexpr size_t item_buffer_size = XKP_EOL_MAX + 1; // 2047 characters

// Appends the text of a text component to line.
void append_component_text(std::string &line, XmStringComponentType type, unsigned int length,
                           XtPointer value) {
    if (value == nullptr || length == 0) {
        return;
    }
    if (type == XmSTRING_COMPONENT_TEXT || type == XmSTRING_COMPONENT_LOCALE_TEXT) {
        line.append(static_cast<const char *>(value), length);
    }
}

// Lines 1 to count of s appended to out[0] to out[count - 1], in one pass
// over its components; lines s does not have stay as they are.
void read_lines(XmString s, std::string *out, int count) {
    XmStringContext context = nullptr;
    if (s == nullptr || count < 1 || !XmStringInitContext(&context, s)) {
        return;
    }
    int line = 0;
    while (line < count) {
        unsigned int length = 0;
        XtPointer value = nullptr;
        XmStringComponentType type = XmStringGetNextTriple(context, &length, &value);
        if (type == XmSTRING_COMPONENT_END) {
            break;
        }
        if (type == XmSTRING_COMPONENT_SEPARATOR) {
            ++line;
        } else {
            append_component_text(out[line], type, length, value);
        }
        XtFree(static_cast<char *>(value));
    }
    XmStringFreeContext(context);
}

// Text of line `wanted` (from 1) of s ("" when s has fewer lines).
void xmstring_line_text(XmString s, int wanted, std::string &out) {
    out.clear();
    if (wanted < 1) {
        return;
    }
    std::vector<std::string> lines(static_cast<size_t>(wanted));
    read_lines(s, lines.data(), wanted);
    out = std::move(lines.back());
}

const char *line_into(char *buffer, XmString s, int line) {
    std::string text;
    xmstring_line_text(s, line, text);
    T_strlcpy(buffer, text.c_str(), item_buffer_size);
    return buffer;
}

XmString create_plain(const char *text) {
    return XmStringCreate(ux_str(text ? text : ""), ux_str(XmFONTLIST_DEFAULT_TAG));
}

// XmListGetSelectedPos hands out an array we must free.
struct SelectedPositions {
    int *positions = nullptr;
    int count = 0;
    explicit SelectedPositions(Widget list) {
        if (list == nullptr || !XmListGetSelectedPos(list, &positions, &count)) {
            positions = nullptr;
            count = 0;
        }
    }
    ~SelectedPositions() {
        if (positions != nullptr) {
            XtFree(reinterpret_cast<char *>(positions));
        }
    }
    SelectedPositions(const SelectedPositions &) = delete;
    SelectedPositions &operator=(const SelectedPositions &) = delete;
};

} // namespace

void reshape_cursor(int busy, Widget w) {
    if (w == nullptr) {
        return;
    }
    Display *display = XtDisplayOfObject(w);
    Window window = XtIsWidget(w) ? XtWindow(w) : XtWindowOfObject(w);
    if (window == 0) {
        return;
    }
    if (busy) {
        // Created once per run and kept: the same watch serves every window.
        static Cursor watch = 0;
        if (watch == 0) {
            watch = XCreateFontCursor(display, XC_watch);
        }
        XDefineCursor(display, window, watch);
        ++busy_cursor_count;
        XmUpdateDisplay(UxTopLevel != nullptr ? UxTopLevel : w);
    } else {
        XUndefineCursor(display, window);
    }
    XFlush(display);
}

void apply_sensitivity(const std::vector<std::pair<Widget, bool>> &items) {
    for (const auto &[w, sensitive] : items) {
        put_sensitive(w, sensitive ? 1 : 0);
    }
}

int get_item_count(Widget list) {
    return list != nullptr ? UxrGetProp<int>(list, XmNitemCount) : 0;
}

XmStringTable get_all_items(Widget list) {
    return list != nullptr ? UxrGetProp<XmStringTable>(list, XmNitems) : nullptr;
}

XmStringTable get_all_selected_items(Widget list) {
    return list != nullptr ? UxrGetProp<XmStringTable>(list, XmNselectedItems) : nullptr;
}

const char *get_item(Widget list, int n) {
    static char buffer[item_buffer_size];
    buffer[0] = '\0';
    int count = get_item_count(list);
    if (n < 1 || n > count) {
        return buffer;
    }
    return line_into(buffer, get_all_items(list)[n - 1], 1);
}

const char *get_selected_item(Widget list, int n) {
    static char buffer[item_buffer_size];
    buffer[0] = '\0';
    int count = get_selection_count(list);
    if (n < 1 || n > count) {
        return buffer;
    }
    return line_into(buffer, get_all_selected_items(list)[n - 1], 1);
}

const char *get_line_from_item(Widget list, int n, int line) {
    static char buffer[item_buffer_size];
    buffer[0] = '\0';
    int count = get_item_count(list);
    if (n < 1 || n > count || line < 1) {
        return buffer;
    }
    return line_into(buffer, get_all_items(list)[n - 1], line);
}

std::vector<std::string> get_item_lines(Widget list, const std::vector<int> *positions, int count) {
    std::vector<std::string> lines;
    int items = get_item_count(list);
    if (count < 1) {
        return lines;
    }
    size_t wanted = positions != nullptr ? positions->size() : static_cast<size_t>(items);
    lines.resize(wanted * static_cast<size_t>(count));
    XmStringTable table = items > 0 ? get_all_items(list) : nullptr;
    for (size_t k = 0; k < wanted; ++k) {
        int n = positions != nullptr ? (*positions)[k] : static_cast<int>(k) + 1;
        if (n < 1 || n > items) {
            continue;
        }
        std::string *out = &lines[k * static_cast<size_t>(count)];
        read_lines(table[n - 1], out, count);
        // As line_into hands them out: up to the first NUL, at most the
        // buffer's length.
        for (int i = 0; i < count; ++i) {
            std::string &text = out[i];
            text.resize(std::min(strnlen(text.c_str(), text.size()), item_buffer_size - 1));
        }
    }
    return lines;
}

std::vector<std::string> xmstring_lines(XmString s, int count) {
    std::vector<std::string> lines(static_cast<size_t>(std::max(count, 0)));
    read_lines(s, lines.data(), count);
    return lines;
}

void xmstring_line(XmString s, int line, char *dst, size_t size) {
    std::string text;
    xmstring_line_text(s, line, text);
    T_strlcpy(dst, text.c_str(), size);
}

int get_selection_count(Widget list) {
    return list != nullptr ? UxrGetProp<int>(list, XmNselectedItemCount) : 0;
}

int get_selection_pos(Widget list) {
    SelectedPositions selected(list);
    return selected.count > 0 ? selected.positions[0] : 0;
}

std::vector<int> get_selected_positions(Widget list) {
    SelectedPositions selected(list);
    return std::vector<int>(selected.positions, selected.positions + selected.count);
}

void select_positions(Widget list, const std::vector<int> &positions) {
    if (list == nullptr || !XmIsList(list)) {
        return;
    }
    // Setting XmNselectedPositions looks every row up in the whole array
    // (rows x selections: 0.4 s for 50,000 of 50,000 rows) and each
    // XmListSelectPos rebuilds the selection (rows each). The list keeps
    // one selected flag per row; setting those and letting the list
    // rebuild its selected items and positions from them once is linear.
    XmListWidget lw = reinterpret_cast<XmListWidget>(list);
    const int count = lw->list.itemCount;
    for (int i = 0; i < count; ++i) {
        lw->list.InternalList[i]->selected = False;
        lw->list.InternalList[i]->last_selected = False;
    }
    for (int p : positions) {
        if (p >= 1 && p <= count) {
            lw->list.InternalList[p - 1]->selected = True;
            lw->list.InternalList[p - 1]->last_selected = True;
        }
    }
    XmListUpdateSelectedList(list);
    // The rows on screen are drawn again with their new state.
    if (XtIsRealized(list)) {
        XClearArea(XtDisplay(list), XtWindow(list), 0, 0, 0, 0, True);
    }
}

void add_hidden_items(Widget list, std::vector<XmString> &items) {
    if (list != nullptr && XmIsList(list) && !items.empty()) {
        // A list measures every item it is given (XmStringExtent, line by
        // line with the list's fonts): for the four-line companion items of
        // a large directory that is most of the cost of filling the lists,
        // and nothing ever draws them. The list is given one blank per item
        // instead, quick to measure, and each of its copies of the blank is
        // then exchanged for the real item in the list's own array, which
        // the list frees as its own. Everything that reads the items
        // (XmNitems, the item and position lookups, deletion) sees the real
        // ones.
        static XmString blank = XmStringCreate(ux_str(" "), ux_str(XmFONTLIST_DEFAULT_TAG));
        XmListWidget lw = reinterpret_cast<XmListWidget>(list);
        const int before = lw->list.itemCount;
        std::vector<XmString> blanks(items.size(), blank);
        XmListAddItemsUnselected(list, blanks.data(), static_cast<int>(blanks.size()), 0);
        for (size_t i = 0; i < items.size(); ++i) {
            XmString &slot = lw->list.items[static_cast<size_t>(before) + i];
            XmStringFree(slot);
            slot = items[i];
        }
    } else {
        for (XmString s : items) {
            XmStringFree(s);
        }
    }
    items.clear();
}

void list_delete_all(Widget list) {
    // One call instead of deleting position 1 once per item: the same empty
    // list without the quadratic cost on long listings.
    if (list != nullptr) {
        XmListDeleteAllItems(list);
    }
}

const char *get_label_string(Widget w) {
    static char buffer[item_buffer_size];
    buffer[0] = '\0';
    if (w == nullptr) {
        return buffer;
    }
    XmString label = UxrGetProp<XmString>(w, XmNlabelString);
    if (label == nullptr) {
        return buffer;
    }
    // GetValues of labelString hands out a copy.
    line_into(buffer, label, 1);
    XmStringFree(label);
    return buffer;
}

XmString make_quadruple_item(const char *line1, const char *line2, const char *line3,
                             const char *line4) {
    const char *lines[4] = {line1, line2, line3, line4};
    // The item is written in the compound string's external form and
    // converted in one call: half the cost of creating four strings and
    // three separators and concatenating them, which a list of 50,000 rows
    // pays for every row. The form: a header, the length of what follows,
    // then each component as its type, its length and its bytes. Lengths
    // below 128 take one byte, longer ones 0x82 and two bytes. Text made
    // with the default tag is locale text (type 5); a separator is type 4
    // with no bytes.
    size_t lengths[4];
    size_t body = 3 * 2;
    for (int i = 0; i < 4; ++i) {
        lengths[i] = lines[i] != nullptr ? strlen(lines[i]) : 0;
        body += 1 + (lengths[i] < 128 ? 1 : 3) + lengths[i];
    }
    if (body <= 0xffff) {
        static std::string stream;
        auto put_length = [](size_t n) {
            if (n < 128) {
                stream.push_back(static_cast<char>(n));
            } else {
                stream.push_back('\x82');
                stream.push_back(static_cast<char>(n >> 8));
                stream.push_back(static_cast<char>(n & 0xff));
            }
        };
        stream.assign("\xdf\x80\x06");
        put_length(body);
        for (int i = 0; i < 4; ++i) {
            if (i > 0) {
                stream.append("\x04\x00", 2);
            }
            stream.push_back('\x05');
            put_length(lengths[i]);
            stream.append(lines[i] != nullptr ? lines[i] : "", lengths[i]);
        }
        XmString item = XmCvtByteStreamToXmString(reinterpret_cast<unsigned char *>(stream.data()));
        if (item != nullptr) {
            return item;
        }
    }
    XmString result = create_plain(lines[0]);
    for (int i = 1; i < 4; ++i) {
        result = XmStringConcatAndFree(result, XmStringSeparatorCreate());
        result = XmStringConcatAndFree(result, create_plain(lines[i]));
    }
    return result;
}

void quadruple_add_item(Widget list, int position, const char *line1, const char *line2,
                        const char *line3, const char *line4) {
    if (list == nullptr) {
        return;
    }
    XmString item = make_quadruple_item(line1, line2, line3, line4);
    XmListAddItemUnselected(list, item, position);
    XmStringFree(item);
}

Widget ux_window_shell(const char *name, int width, int height, int x, int y, void *context,
                       XtCallbackProc destroy, const char *key, const char *title) {
    Widget shell = XtVaCreatePopupShell(
        name, topLevelShellWidgetClass, UxTopLevel, XmNwidth, static_cast<XtArgVal>(width),
        XmNheight, static_cast<XtArgVal>(height), XmNx, static_cast<XtArgVal>(x), XmNy,
        static_cast<XtArgVal>(y), nullptr);
    UxPutContext(shell, context);
    XtAddCallback(shell, XmNdestroyCallback, destroy, context);
    XtAddCallback(shell, XmNdestroyCallback, UxFreeClientDataCB, context);
    re_label_window(shell, key, title, "");
    return shell;
}
