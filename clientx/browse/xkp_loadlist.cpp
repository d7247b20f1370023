// The generic list loader.
#include "xkp_loadlist.h"

#include "UxXt.h"
#include "cmnutils.h"
#include "uimx_helper.h"
#include "xkp_runner.h"

#include <Xm/List.h>
#include <Xm/Text.h>
#include <Xm/Xm.h>

#include <string>
#include <vector>

namespace {

// Items handed to the list in one call: adding in batches, unselected, costs
// a fraction of one call per item on long outputs.
constexpr size_t list_batch = 2000;

// Pending list items, created and freed here.
class ItemBatch {
  public:
    explicit ItemBatch(Widget list) : list_(list) { items_.reserve(list_batch); }
    ~ItemBatch() { flush(); }
    ItemBatch(const ItemBatch &) = delete;
    ItemBatch &operator=(const ItemBatch &) = delete;

    void add(const std::string &text) {
        items_.push_back(XmStringCreate(ux_str(text.c_str()), ux_str(XmFONTLIST_DEFAULT_TAG)));
        if (items_.size() >= list_batch) {
            flush();
        }
    }
    void flush() {
        if (items_.empty()) {
            return;
        }
        XmListAddItemsUnselected(list_, items_.data(), static_cast<int>(items_.size()), 0);
        for (XmString s : items_) {
            XmStringFree(s);
        }
        items_.clear();
    }

  private:
    Widget list_;
    std::vector<XmString> items_;
};

} // namespace

void load_list_from_fd(Widget widget, FILE *stream, int mode) {
    if (widget == nullptr || stream == nullptr) {
        return;
    }
    const bool text_mode = mode == LOAD_TEXT;
    if (text_mode ? !XmIsText(widget) : !XmIsList(widget)) {
        return;
    }
    char line[LOAD_LINE_MAX + 1];
    std::string item;
    if (text_mode) {
        // The whole text goes in with one insertion at the end: the widget
        // redraws and rescans once instead of once per line.
        std::string text;
        for (int taken = 0; taken < LOAD_MAX_LINES; ++taken) {
            if (read_till_eol(line, LOAD_LINE_MAX, stream) == nullptr) {
                break;
            }
            strip_line_end(line);
            list_line_item(line, mode, item);
            text += item;
        }
        if (!text.empty()) {
            XmTextInsert(widget, XmTextGetLastPosition(widget), text.data());
        }
        return;
    }
    ItemBatch batch(widget);
    for (int taken = 0; taken < LOAD_MAX_LINES; ++taken) {
        if (read_till_eol(line, LOAD_LINE_MAX, stream) == nullptr) {
            break;
        }
        strip_line_end(line);
        list_line_item(line, mode, item);
        batch.add(item);
    }
}

int load_list(Widget widget, const char *command, int mode, int clear) {
    if (widget == nullptr || command == nullptr) {
        return 0;
    }
    // Only a widget that was shown is shown again: a list its window keeps
    // hidden stays hidden.
    const bool was_managed = XtIsManaged(widget);
    if (was_managed) {
        XtUnmanageChild(widget);
    }
    int status = 0;
    FILE *stream = mypopen(command, "r");
    if (stream != nullptr) {
        if (clear) {
            if (mode == LOAD_TEXT) {
                if (XmIsText(widget)) {
                    XmTextSetString(widget, ux_str(""));
                }
            } else {
                list_delete_all(widget);
            }
        }
        load_list_from_fd(widget, stream, mode);
        status = mypclose(stream);
    }
    if (was_managed) {
        XtManageChild(widget);
    }
    return status;
}
