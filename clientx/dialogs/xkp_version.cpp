// The version window.
#include "xkp_version.h"

#include "UxXt.h"
#include "uimx_helper.h"
#include "ux_form.h"

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

    UxFormRows rows(form, context, 10, 10);
    context->Uxlabel27 = rows.label("label27", "Product Identification", "GuiXkp0802N", true);

    Widget text = XtVaCreateManagedWidget("text12", xmTextWidgetClass, form, XmNeditMode,
                                          XmMULTI_LINE_EDIT, XmNeditable, False,
                                          XmNcursorPositionVisible, False, XmNrows, 2, nullptr);
    UxPutContext(text, context);
    context->Uxtext12 = rows.add(text, true, 6);
    generate_announcement(text);

    context->Uxlabel8 = rows.label("label8", notice_line1, "GuiXkp0803N", true);
    context->Uxlabel35 = rows.label("label35", notice_line2, "GuiXkp0804N", true);

    // The button is as wide as its label.
    ux_form_button_row(
        form,
        {{&context->UxpushButton4, "pushButton4", "Close", "GuiXkp0801N", activateCB_pushButton4}},
        0, context);

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
