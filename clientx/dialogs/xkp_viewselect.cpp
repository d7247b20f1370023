// The selection viewer.
#include "xkp_viewselect.h"

#include "UxXt.h"
#include "uimx_helper.h"
#include "ux_form.h"
#include "xkp_handles.h"
#include "xkp_help.h"
#include "xkp_helppath.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/PushB.h>
#include <Xm/Xm.h>

#include <vector>

_UxCxkp_viewselect *UxXkp_viewselectContext = nullptr;

namespace {

// The window's record goes with its shell: the current-record global must
// not keep pointing at it.
void destroyCB_shell(Widget, XtPointer client_data, XtPointer) {
    if (UxXkp_viewselectContext == client_data) {
        UxXkp_viewselectContext = nullptr;
    }
}

template <class F> void with_context(Widget w, F &&body) {
    _UxCxkp_viewselect *saved = UxXkp_viewselectContext;
    UxXkp_viewselectContext = static_cast<_UxCxkp_viewselect *>(UxGetContext(w));
    body();
    UxXkp_viewselectContext = saved;
}

// The list shows the display text (line 1) of every remembered selection,
// added in one call: a selection may span thousands of entries.
void createCB_scrolledList8(Widget list) {
    int count = get_item_count(persistent_list);
    if (count <= 0) {
        return;
    }
    XmStringTable entries = get_all_items(persistent_list);
    std::vector<XmString> items;
    items.reserve(static_cast<size_t>(count));
    char line[2048];
    for (int i = 0; i < count; ++i) {
        xmstring_line(entries[i], 1, line, sizeof line);
        items.push_back(XmStringCreate(line, ux_str(XmFONTLIST_DEFAULT_TAG)));
    }
    XmListAddItemsUnselected(list, items.data(), count, 0);
    for (XmString s : items) {
        XmStringFree(s);
    }
}

void activateCB_pushButton3(Widget w, XtPointer, XtPointer) {
    with_context(w, [] {
        if (UxXkp_viewselectContext != nullptr) {
            UxDestroyInterface(UxXkp_viewselectContext->Uxxkp_viewselect);
        }
    });
}

void activateCB_pushButton13(Widget w, XtPointer, XtPointer) {
    with_context(w, [] { help_topic_by_name(help_topic_path("xkp/Viewselect").c_str()); });
}

} // namespace

Widget create_xkp_viewselect() {
    if (UxTopLevel == nullptr) {
        return nullptr;
    }
    auto *context = ux_new_context<_UxCxkp_viewselect>();
    Widget shell = ux_window_shell("xkp_viewselect", 730, 600, 30, 30, context, destroyCB_shell,
                                   "GuiXkp0900N", "xkp_viewselect");
    context->Uxxkp_viewselect = shell;

    Widget form = XtVaCreateManagedWidget("form6", xmFormWidgetClass, shell, XmNresizePolicy,
                                          XmRESIZE_NONE, nullptr);
    context->Uxform6 = form;
    UxPutContext(form, context);

    Widget label = ux_form_top_label(
        form, "label22", "The following files are currently selected:", "GuiXkp0901N", context);
    context->Uxlabel22 = label;

    ux_form_button_row(
        form,
        {{&context->UxpushButton3, "pushButton3", "Close", "GuiXkp0902N", activateCB_pushButton3},
         {&context->UxpushButton13, "pushButton13", "Help...", "GuiXkp0903N",
          activateCB_pushButton13}},
        100, context);

    Arg args[1];
    XtSetArg(args[0], XmNscrollBarDisplayPolicy, XmSTATIC);
    Widget list = XmCreateScrolledList(form, ux_str("scrolledList8"), args, 1);
    Widget window = XtParent(list);
    XtVaSetValues(window, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, label, XmNtopOffset, 6,
                  XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget, context->UxpushButton3,
                  XmNbottomOffset, 10, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, nullptr);
    context->UxscrolledWindow8 = window;
    context->UxscrolledList8 = list;
    UxPutContext(window, context);
    UxPutContext(list, context);
    XtManageChild(list);
    createCB_scrolledList8(list);

    UxXkp_viewselectContext = context;
    return shell;
}
