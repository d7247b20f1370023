// The help index.
#include "xkp_helpindex.h"

#include "UxXt.h"
#include "c_owners.h"
#include "cmnutils.h"
#include "uimx_helper.h"
#include "ux_form.h"
#include "xkp_help.h"
#include "xkp_helppath.h"
#include "xkp_loadlist.h"
#include "xkp_runner.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/PushB.h>
#include <Xm/Xm.h>

#include <cstdio>
#include <memory>
#include <string>

_UxCxkp_helpindex *UxXkp_helpindexContext = nullptr;

namespace {

// The window's record goes with its shell: the current-record global must
// not keep pointing at it.
void destroyCB_shell(Widget, XtPointer client_data, XtPointer) {
    if (UxXkp_helpindexContext == client_data) {
        UxXkp_helpindexContext = nullptr;
    }
}

FilePtr open_index() {
    return FilePtr(fopen(help_index_path().c_str(), "re"));
}

void createCB_scrolledList3(Widget w) {
    FilePtr f = open_index();
    if (f) {
        load_list_from_fd(w, f.get(), LOAD_ALL_BUT_LAST);
    }
}

// Runs a callback with this window's record current, as every callback of
// the window does, so two open indexes never mix their records.
template <class F> void with_context(Widget w, F &&body) {
    _UxCxkp_helpindex *saved = UxXkp_helpindexContext;
    UxXkp_helpindexContext = static_cast<_UxCxkp_helpindex *>(UxGetContext(w));
    body();
    UxXkp_helpindexContext = saved;
}

void browseSelectionCB_scrolledList3(Widget w, XtPointer, XtPointer) {
    with_context(w, [w] { help_topic_by_widget(w); });
}

void activateCB_pushButton1(Widget w, XtPointer, XtPointer) {
    with_context(w, [] {
        if (UxXkp_helpindexContext != nullptr) {
            UxDestroyInterface(UxXkp_helpindexContext->Uxxkp_helpindex);
        }
    });
}

void activateCB_pushButton2(Widget w, XtPointer, XtPointer) {
    with_context(w, [] { help_topic_by_name(help_topic_path("xkp/Help").c_str()); });
}

} // namespace

Widget create_xkp_helpindex() {
    if (UxTopLevel == nullptr) {
        return nullptr;
    }
    auto *context = ux_new_context<_UxCxkp_helpindex>();
    Widget shell = ux_window_shell("xkp_helpindex", 800, 540, 70, 70, context, destroyCB_shell,
                                   "GuiXkp0600N", "xkp_helpindex");
    context->Uxxkp_helpindex = shell;

    Widget form = XtVaCreateManagedWidget("form3", xmFormWidgetClass, shell, XmNresizePolicy,
                                          XmRESIZE_NONE, nullptr);
    context->Uxform3 = form;
    UxPutContext(form, context);

    Widget label =
        ux_form_top_label(form, "label5", "Please Select a Help Topic", "GuiXkp0601N", context);
    context->Uxlabel5 = label;

    ux_form_button_row(
        form,
        {{&context->UxpushButton1, "pushButton1", "Close", "GuiXkp0602N", activateCB_pushButton1},
         {&context->UxpushButton2, "pushButton2", "Help...", "GuiXkp0603N",
          activateCB_pushButton2}},
        100, context);

    Arg args[2];
    int n = 0;
    XtSetArg(args[n], XmNselectionPolicy, XmBROWSE_SELECT);
    ++n;
    XtSetArg(args[n], XmNscrollBarDisplayPolicy, XmSTATIC);
    ++n;
    Widget list = XmCreateScrolledList(form, ux_str("scrolledList3"), args, n);
    Widget window = XtParent(list);
    XtVaSetValues(window, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, label, XmNtopOffset, 6,
                  XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget, context->UxpushButton1,
                  XmNbottomOffset, 10, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, nullptr);
    context->UxscrolledWindow3 = window;
    context->UxscrolledList3 = list;
    UxPutContext(window, context);
    UxPutContext(list, context);
    XtAddCallback(list, XmNbrowseSelectionCallback, browseSelectionCB_scrolledList3, nullptr);
    XtManageChild(list);
    createCB_scrolledList3(list);

    UxXkp_helpindexContext = context;
    return shell;
}

void help_topic_by_widget(Widget list) {
    int position = get_selection_pos(list);
    // The Index is read again, the same way the list was loaded, so that
    // line p of the file is item p of the list.
    std::string topic;
    FilePtr f = open_index();
    if (f && position > 0) {
        char line[LOAD_LINE_MAX + 1];
        bool read = true;
        for (int i = 1; i <= position && read; ++i) {
            read = read_till_eol(line, LOAD_LINE_MAX, f.get()) != nullptr;
        }
        if (read) {
            topic = index_line_topic(line);
        }
    }
    if (topic.empty()) {
        topic = help_topic_path("xkp/Tutorial");
    }
    help_topic_by_name(topic.c_str());
}
