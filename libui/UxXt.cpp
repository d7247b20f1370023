// Window runtime: context records, popup/destroy, one-resource get/put.
#include "UxXt.h"

#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <Xm/DialogS.h>
#include <Xm/Xm.h>

namespace {

// One key for the whole process, made on first use.
XContext ux_context_key() {
    static XContext key = 0;
    if (key == 0) {
        key = static_cast<XContext>(XrmUniqueQuark());
    }
    return key;
}

// Destroy callback of every bound widget: drops its binding so a later
// widget that reuses the same id finds nothing stale.
void ux_delete_context_cb(Widget w, XtPointer, XtPointer) {
    XDeleteContext(XtDisplayOfObject(w), reinterpret_cast<XID>(w), ux_context_key());
}

// Compound string of text, "\n" making separators; freed by the guard.
struct XmStringGuard {
    XmString s;
    explicit XmStringGuard(const char *text)
        : s(XmStringCreateLtoR(ux_str(text ? text : ""), ux_str(XmFONTLIST_DEFAULT_TAG))) {}
    ~XmStringGuard() {
        if (s != nullptr) {
            XmStringFree(s);
        }
    }
    XmStringGuard(const XmStringGuard &) = delete;
    XmStringGuard &operator=(const XmStringGuard &) = delete;
};

void put_xmstring(Widget w, const char *resource, const char *text) {
    if (w == nullptr) {
        return;
    }
    XmStringGuard xs(text);
    XtVaSetValues(w, resource, xs.s, nullptr);
}

} // namespace

void UxFreeClientDataCB(Widget, XtPointer client_data, XtPointer) {
    if (client_data != nullptr) {
        XtFree(static_cast<char *>(client_data));
    }
}

int UxPutContext(Widget w, void *record) {
    if (w == nullptr) {
        return -1;
    }
    XContext key = ux_context_key();
    if (XSaveContext(XtDisplayOfObject(w), reinterpret_cast<XID>(w), key,
                     static_cast<XPointer>(record)) != 0) {
        return -1;
    }
    // Only one removal callback per widget, however often it is rebound.
    if (XtHasCallbacks(w, XmNdestroyCallback) == XtCallbackHasSome) {
        XtRemoveCallback(w, XmNdestroyCallback, ux_delete_context_cb, nullptr);
    }
    XtAddCallback(w, XmNdestroyCallback, ux_delete_context_cb, nullptr);
    return 0;
}

void *UxGetContext(Widget w) {
    if (w == nullptr) {
        return nullptr;
    }
    XPointer record = nullptr;
    if (XFindContext(XtDisplayOfObject(w), reinterpret_cast<XID>(w), ux_context_key(), &record) !=
        0) {
        return nullptr;
    }
    return record;
}

Widget get_true_toplevel(Widget w) {
    if (w == nullptr) {
        return nullptr;
    }
    return XtIsShell(w) ? w : XtParent(w);
}

Widget GetTrueToplevel(Widget w) {
    return get_true_toplevel(w);
}

int popup_interface(Widget w, XtGrabKind grab) {
    Widget shell = get_true_toplevel(w);
    if (shell == nullptr) {
        return -1;
    }
    if (XmIsDialogShell(shell)) {
        WidgetList children = nullptr;
        Cardinal count = 0;
        XtVaGetValues(shell, XmNchildren, &children, XmNnumChildren, &count, nullptr);
        if (count == 0) {
            XtPopup(shell, grab);
            return 0;
        }
        for (Cardinal i = 0; i < count; ++i) {
            if (XtIsRectObj(children[i])) {
                XtManageChild(children[i]);
            }
        }
        return 0;
    }
    XtPopup(shell, grab);
    return 0;
}

int UxDestroyInterface(Widget w) {
    Widget shell = get_true_toplevel(w);
    if (shell == nullptr) {
        return -1;
    }
    XtDestroyWidget(shell);
    return 0;
}

void UxrPutProp(Widget w, const char *resource, XtArgVal value) {
    if (w == nullptr) {
        return;
    }
    Arg arg;
    XtSetArg(arg, ux_str(resource), value);
    XtSetValues(w, &arg, 1);
}

std::string UxrGetText(Widget w) {
    if (w == nullptr) {
        return "";
    }
    char *value = nullptr;
    XtVaGetValues(w, XmNvalue, &value, nullptr);
    if (value == nullptr) {
        return "";
    }
    // The text widgets hand out a copy of their value: ours to free.
    std::string text(value);
    XtFree(value);
    return text;
}

void put_text(Widget w, const char *text) {
    if (w == nullptr) {
        return;
    }
    XtVaSetValues(w, XmNvalue, text ? text : "", nullptr);
}

void put_sensitive(Widget w, int flag) {
    if (w != nullptr) {
        XtSetSensitive(w, flag ? True : False);
    }
}

void put_managed(Widget w, bool on) {
    if (w == nullptr) {
        return;
    }
    if (on) {
        XtManageChild(w);
    } else {
        XtUnmanageChild(w);
    }
}

void put_label_string(Widget w, const char *text) {
    put_xmstring(w, XmNlabelString, text);
}

void put_message_string(Widget w, const char *text) {
    put_xmstring(w, XmNmessageString, text);
}
