// The window runtime every xkp window is built on: context records bound to
// widgets, showing and destroying windows, and one-resource get/put.
//
// A window's builder allocates its context record with ux_new_context<T>(),
// binds every widget it creates to the record with UxPutContext, and gives
// the window's first widget UxFreeClientDataCB as a destroy callback so the
// record goes away with the window. A callback finds its window's record
// with UxGetContext(widget).
//
// The runtime's entry points keep the names every window calls them by
// (UxPutContext, UxrGetProp, popup_interface, put_text ...), GetTrueToplevel
// being the second name of get_true_toplevel; what is added beside them
// (ux_new_context, ux_str, put_managed) is lower case with underscores.
#pragma once

#include <X11/Intrinsic.h>

#include <cstdlib>
#include <new>
#include <string>
#include <type_traits>

// Motif takes String (char *) where we pass literals; one cast, here.
inline String ux_str(const char *s) {
    return const_cast<String>(s);
}

// Allocates a zero-filled context record with the toolkit's allocator, so
// that UxFreeClientDataCB can free records of any window type. Records hold
// widget handles and plain values only.
template <class T> T *ux_new_context() {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "context records are plain data");
    return reinterpret_cast<T *>(XtCalloc(1, sizeof(T)));
}

// Destroy callback freeing the record given as client data (null ignored).
void UxFreeClientDataCB(Widget w, XtPointer client_data, XtPointer call_data);

// Binds record to w under the process-wide context key; the binding is
// removed when w is destroyed. 0, or -1 for a null widget or a failed save.
int UxPutContext(Widget w, void *record);
// The record bound to w, or null when w is null or unbound.
void *UxGetContext(Widget w);

// The widget itself when it is a shell, else its parent; null for null.
Widget get_true_toplevel(Widget w);
Widget GetTrueToplevel(Widget w);

// Shows the window w belongs to: a dialog shell by managing its children
// (Motif maps it), any other shell with XtPopup. -1 when there is none.
int popup_interface(Widget w, XtGrabKind grab);
// Destroys the window w belongs to. -1 when there is none, else 0.
int UxDestroyInterface(Widget w);

// One resource of one widget. T must be the resource's own type (Boolean,
// Dimension, Position, Widget, XmString, int ...), so that the toolkit writes
// exactly sizeof(T) bytes.
template <class T> T UxrGetProp(Widget w, const char *resource) {
    T value{};
    if (w != nullptr) {
        Arg arg;
        XtSetArg(arg, ux_str(resource), &value);
        XtGetValues(w, &arg, 1);
    }
    return value;
}
void UxrPutProp(Widget w, const char *resource, XtArgVal value);

// The text of a text or text-field widget ("" for null or no text).
std::string UxrGetText(Widget w);
void put_text(Widget w, const char *text);
void put_sensitive(Widget w, int flag);
// Manages w (shows it within its parent) or unmanages it; nothing for null.
void put_managed(Widget w, bool on);
// labelString / messageString from plain text; "\n" starts a new line.
void put_label_string(Widget w, const char *text);
void put_message_string(Widget w, const char *text);
