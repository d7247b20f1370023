// The version window.
#include "xkp_version.h"

#include "UxXt.h"
#include "uimx_helper.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/Text.h>
#include <Xm/Xm.h>

#include <cstdio>

_UxCxkp_version *UxXkp_versionContext = nullptr;

namespace {

// The window's record goes with its shell: the current-record global must
// not keep pointing at it.
void destroyCB_shell(Widget, XtPointer client_data, XtPointer) {
    if (UxXkp_versionContext == client_data) {
        UxXkp_versionContext = nullptr;
    }
}

// Built-in notice texts; the catalog's texts of the two keys replace them.
constexpr const char *notice_line1 =
    "Sorvane backup system: the graphical client for X11 and Motif.";
constexpr const char *notice_line2 =
    "Backups are kept deduplicated and encrypted by the Sorvane programs.";

// "Close" closes its window, as the window manager can.
void activateCB_pushButton4(Widget w, XtPointer, XtPointer) {
    _UxCxkp_version *saved = UxXkp_versionContext;
    UxXkp_versionContext = static_cast<_UxCxkp_version *>(UxGetContext(w));
    if (UxXkp_versionContext != nullptr) {
        UxDestroyInterface(UxXkp_versionContext->Uxxkp_version);
    }
    UxXkp_versionContext = saved;
}

Widget make_label(Widget form, const char *name, Widget above, const char *text, const char *key,
                  _UxCxkp_version *context) {
    Widget l =
        XtVaCreateManagedWidget(name, xmLabelWidgetClass, form, XmNleftAttachment, XmATTACH_FORM,
                                XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM,
                                XmNrightOffset, 10, XmNalignment, XmALIGNMENT_BEGINNING, nullptr);
    if (above == nullptr) {
        XtVaSetValues(l, XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10, nullptr);
    } else {
        XtVaSetValues(l, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, above, XmNtopOffset, 10,
                      nullptr);
    }
    UxPutContext(l, context);
    put_label_string(l, text);
    initialize_label(l, key);
    return l;
}

} // namespace

Widget create_xkp_version() {
    if (UxTopLevel == nullptr) {
        return nullptr;
    }
    auto *context = ux_new_context<_UxCxkp_version>();
    Widget shell = ux_window_shell("xkp_version", 550, 300, 60, 60, context, destroyCB_shell,
                                   "GuiXkp0800N", "xkp_version");
    context->Uxxkp_version = shell;

    Widget form = XtVaCreateManagedWidget("form8", xmFormWidgetClass, shell, XmNresizePolicy,
                                          XmRESIZE_NONE, nullptr);
    context->Uxform8 = form;
    UxPutContext(form, context);

    context->Uxlabel27 =
        make_label(form, "label27", nullptr, "Product Identification", "GuiXkp0802N", context);

    Widget text = XtVaCreateManagedWidget(
        "text12", xmTextWidgetClass, form, XmNeditMode, XmMULTI_LINE_EDIT, XmNeditable, False,
        XmNcursorPositionVisible, False, XmNrows, 2, XmNtopAttachment, XmATTACH_WIDGET,
        XmNtopWidget, context->Uxlabel27, XmNtopOffset, 6, XmNleftAttachment, XmATTACH_FORM,
        XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, nullptr);
    context->Uxtext12 = text;
    UxPutContext(text, context);
    generate_announcement(text);

    context->Uxlabel8 = make_label(form, "label8", text, notice_line1, "GuiXkp0803N", context);
    context->Uxlabel35 =
        make_label(form, "label35", context->Uxlabel8, notice_line2, "GuiXkp0804N", context);

    Widget close =
        XtVaCreateManagedWidget("pushButton4", xmPushButtonWidgetClass, form, XmNbottomAttachment,
                                XmATTACH_FORM, XmNbottomOffset, 10, XmNleftAttachment,
                                XmATTACH_FORM, XmNleftOffset, 10, XmNwidth, 100, nullptr);
    context->UxpushButton4 = close;
    UxPutContext(close, context);
    put_label_string(close, "Close");
    initialize_label(close, "GuiXkp0801N");
    XtAddCallback(close, XmNactivateCallback, activateCB_pushButton4, nullptr);

    UxXkp_versionContext = context;
    return shell;
}

void generate_announcement(Widget text) {
    if (text == nullptr) {
        return;
    }
    char number[16];
    snprintf(number, sizeof number, "%d", static_cast<int>(xkp_product_identification));
    XmTextSetString(text, number);
}
