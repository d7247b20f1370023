// What the main window's own source files share: the record and watch
// cursor of every action callback, the binding of new widgets to the
// window's record, and the small steps both the menus and the fields take.
// Only the main window's files include it.
#pragma once

#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_main.h"

#include <X11/Intrinsic.h>

// Every callback works on the record of the window that called it and
// restores the previous one on the way out.
class MainContext {
  public:
    explicit MainContext(Widget w) : saved_(UxXkp_mainContext) {
        if (auto *record = static_cast<_UxCxkp_main *>(UxGetContext(w))) {
            UxXkp_mainContext = record;
        }
    }
    ~MainContext() { UxXkp_mainContext = saved_; }
    MainContext(const MainContext &) = delete;
    MainContext &operator=(const MainContext &) = delete;

  private:
    _UxCxkp_main *saved_;
};

// The watch cursor on the main window for the life of an action. Only the
// outermost one counts: a step that is busy on its own (a mode switch)
// does not take the cursor away from the action around it.
class Busy {
  public:
    Busy() : shell_(UxXkp_mainContext ? UxXkp_mainContext->Uxxkp_main : nullptr) {
        if (depth_++ == 0) {
            reshape_cursor(1, shell_);
        }
    }
    ~Busy() {
        if (--depth_ == 0) {
            reshape_cursor(0, shell_);
        }
    }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

  private:
    Widget shell_;
    static inline int depth_ = 0;
};

// Every action callback of the window: its record, and the watch cursor
// from the first step to the last.
class Action {
  public:
    explicit Action(Widget w) : context_(w) {}

  private:
    MainContext context_; // first: the cursor goes on this record's window
    Busy busy_;
};

// Binds w to the current main window record; returns w.
Widget main_bind(Widget w);
// The image type of the current restore browsing: "UARC" for archives,
// "NOT_ARCHIVE" otherwise.
const char *image_type();
// Sets a toggle without calling its callbacks; nothing for null.
void set_toggle(Widget w, bool set);
// Deselects every row of the file list.
void deselect_all_files();
// The reload shared by the fields and View items.
void reload_lists();
// Destroy callback clearing the handle given as client data.
void destroyCB_clear_handle(Widget, XtPointer client_data, XtPointer);

// The menu bar's cascades, pulldowns and items, made in menubar.
void create_menus(Widget menubar);
