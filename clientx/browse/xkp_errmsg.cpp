// Message boxes: one new non-modal box per message, closed by "Close".
#include "xkp_errmsg.h"

#include "UxXt.h"
#include "cmnutils.h"
#include "tmmsg.h"
#include "uimx_helper.h"
#include "xkp_state.h"

#include <Xm/DialogS.h>
#include <Xm/MessageB.h>
#include <Xm/Xm.h>

#include <cerrno>
#include <cstring>
#include <string>

_UxCxkp_errmsg *UxXkp_errmsgContext = nullptr;

namespace {

// Close: the box goes, its shell with it. Runs from the button's activate
// callback inside XtDispatchEvent, so Xt defers the destruction safely.
void okCallback_xkp_errmsg(Widget w, XtPointer, XtPointer) {
    _UxCxkp_errmsg *saved = UxXkp_errmsgContext;
    UxXkp_errmsgContext = static_cast<_UxCxkp_errmsg *>(UxGetContext(w));
    UxDestroyInterface(w);
    UxXkp_errmsgContext = saved;
}

// Shows text in a new box of the given Motif dialog type.
void show_box(const char *text, unsigned char dialog_type, const char *title) {
    Widget box = create_xkp_errmsg();
    if (box == nullptr) {
        return;
    }
    XtVaSetValues(box, XmNdialogType, dialog_type, nullptr);
    if (title != nullptr) {
        Widget shell = XtParent(box);
        XmString xs = XmStringCreateLocalized(ux_str(title));
        XtVaSetValues(shell, XmNtitle, title, XmNiconName, title, nullptr);
        XtVaSetValues(box, XmNdialogTitle, xs, nullptr);
        XmStringFree(xs);
    }
    put_message_string(box, text);
    popup_interface(box, XtGrabNone);
}

} // namespace

Widget create_xkp_errmsg() {
    if (UxTopLevel == nullptr) {
        return nullptr;
    }
    auto *context = ux_new_context<_UxCxkp_errmsg>();
    // A dialog shell only unmaps on the window manager's close: destroy it,
    // so that the box and its record go as with "Close".
    Widget shell = XtVaCreatePopupShell("xkp_errmsg_shell", xmDialogShellWidgetClass, UxTopLevel,
                                        XmNx, 80, XmNy, 80, XmNallowShellResize, True,
                                        XmNdeleteResponse, XmDESTROY, nullptr);
    Widget box = XtVaCreateWidget("xkp_errmsg", xmMessageBoxWidgetClass, shell, XmNdialogType,
                                  XmDIALOG_ERROR, XmNdefaultPosition, False, XmNautoUnmanage, False,
                                  XmNdialogStyle, XmDIALOG_MODELESS, nullptr);
    context->Uxxkp_errmsg = box;
    context->Uxxkp_errmsg_shell = shell;
    UxPutContext(box, context);
    UxPutContext(shell, context);
    XtAddCallback(box, XmNdestroyCallback, UxFreeClientDataCB, context);

    XtUnmanageChild(XmMessageBoxGetChild(box, XmDIALOG_CANCEL_BUTTON));
    XtUnmanageChild(XmMessageBoxGetChild(box, XmDIALOG_HELP_BUTTON));
    Widget ok = XmMessageBoxGetChild(box, XmDIALOG_OK_BUTTON);
    UxPutContext(ok, context);
    put_label_string(ok, "Close");
    initialize_label(ok, "GuiXkp0401N");
    XtAddCallback(box, XmNokCallback, okCallback_xkp_errmsg, nullptr);

    re_label_window(shell, "GuiXkp0400N", "xkp_errmsg", "");
    UxXkp_errmsgContext = context;
    return box;
}

void pop_errmsg(const char *key, const char *text) {
    // The built-in text is a format without conversions: any '%' in it is
    // doubled so that it shows as itself.
    std::string deffmt;
    for (const char *p = text ? text : ""; *p != '\0'; ++p) {
        deffmt += *p;
        if (*p == '%') {
            deffmt += '%';
        }
    }
    char message[XKP_TEXT_SIZE];
    message[0] = '\0';
    if (tmgetmsg(key, tmlcmsg, sizeof message, message, nullptr, 0, nullptr, deffmt.c_str()) != 0) {
        T_strlcpy(message, text ? text : "", sizeof message);
    }
    show_box(message, XmDIALOG_ERROR, nullptr);
}

void pop_err_str(const char *key, const char *format, const char *string) {
    char message[XKP_TEXT_SIZE];
    message[0] = '\0';
    if (tmgetmsg(key, tmlcmsg, sizeof message, message, nullptr, 0, nullptr, format,
                 string ? string : "") != 0) {
        snprintf(message, sizeof message, "%s", string ? string : "");
    }
    show_box(message, XmDIALOG_ERROR, nullptr);
}

void pop_warn_int(const char *key, const char *format, int number) {
    char message[XKP_TEXT_SIZE];
    message[0] = '\0';
    if (tmgetmsg(key, tmlcmsg, sizeof message, message, nullptr, 0, nullptr, format, number) != 0) {
        snprintf(message, sizeof message, "%d", number);
    }
    show_box(message, XmDIALOG_WARNING, "xkp_warning");
}

void pop_errcode() {
    int error = errno;
    char message[XKP_TEXT_SIZE];
    message[0] = '\0';
    tmgetmsg(XKP_MSG_SYSCALL, tmlcmsg, sizeof message, message, error, strerror(error));
    show_box(message, XmDIALOG_ERROR, nullptr);
}

void filename_error(const char *name) {
    int error = errno;
    char message[XKP_TEXT_SIZE];
    message[0] = '\0';
    tmgetmsg(XKP_MSG_TEMP_DENIED, tmlcmsg, sizeof message, message, name ? name : "", error,
             strerror(error));
    show_box(message, XmDIALOG_ERROR, nullptr);
}

void display_kp_error(int code) {
    const char *text = getECmsgl(code, tmlcmsg);
    show_box(text ? text : "", XmDIALOG_ERROR, nullptr);
}
