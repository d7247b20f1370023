// The help window.
#include "xkp_help.h"

#include "UxXt.h"
#include "c_owners.h"
#include "cmnutils.h"
#include "uimx_helper.h"
#include "xkp_helppath.h"
#include "xkp_loadlist.h"
#include "xkp_state.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/Text.h>
#include <Xm/Xm.h>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

_UxCxkp_help *UxXkp_helpContext = nullptr;

namespace {

// The window's record goes with its shell: the current-record global must
// not keep pointing at it.
void destroyCB_shell(Widget, XtPointer client_data, XtPointer) {
    if (UxXkp_helpContext == client_data) {
        UxXkp_helpContext = nullptr;
    }
}

// Opens a help file for reading. Only a regular file is read: a topic that
// names a pipe or a device (a mistyped Index line) must not hang the program,
// so the open does not block and the file's kind is checked before reading.
FilePtr open_help_file(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    FILE *f = fdopen(fd, "r");
    if (f == nullptr) {
        close(fd);
    }
    return FilePtr(f);
}

// The text shows the file of the topic in help_topic; a file that cannot be
// read leaves it empty, without a message.
void createCB_scrolledText2(Widget w) {
    std::string path = help_file_for_topic(help_topic);
    FilePtr f = open_help_file(path);
    if (f) {
        load_list_from_fd(w, f.get(), LOAD_TEXT);
        XmTextShowPosition(w, 0);
    }
}

// "Close" closes its window. The window manager can close it as well; a
// button labelled Close that did nothing would only puzzle the user.
void activateCB_pushButton5(Widget w, XtPointer, XtPointer) {
    _UxCxkp_help *saved = UxXkp_helpContext;
    UxXkp_helpContext = static_cast<_UxCxkp_help *>(UxGetContext(w));
    if (UxXkp_helpContext != nullptr) {
        UxDestroyInterface(UxXkp_helpContext->Uxxkp_help);
    }
    UxXkp_helpContext = saved;
}

} // namespace

Widget create_xkp_help() {
    if (UxTopLevel == nullptr) {
        return nullptr;
    }
    auto *context = ux_new_context<_UxCxkp_help>();
    Widget shell = ux_window_shell("xkp_help", 750, 570, 50, 50, context, destroyCB_shell,
                                   "GuiXkp0500N", "xkp_help");
    context->Uxxkp_help = shell;

    Widget form = XtVaCreateManagedWidget("form2", xmFormWidgetClass, shell, XmNresizePolicy,
                                          XmRESIZE_NONE, nullptr);
    context->Uxform2 = form;
    UxPutContext(form, context);

    Widget label = XtVaCreateManagedWidget(
        "label9", xmLabelWidgetClass, form, XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM,
        XmNrightOffset, 10, XmNalignment, XmALIGNMENT_BEGINNING, nullptr);
    context->Uxlabel9 = label;
    UxPutContext(label, context);
    put_label_string(label, "Online Help text for xkp");
    initialize_label(label, "GuiXkp0502N");

    Widget close =
        XtVaCreateManagedWidget("pushButton5", xmPushButtonWidgetClass, form, XmNbottomAttachment,
                                XmATTACH_FORM, XmNbottomOffset, 10, XmNleftAttachment,
                                XmATTACH_FORM, XmNleftOffset, 10, XmNwidth, 100, nullptr);
    context->UxpushButton5 = close;
    UxPutContext(close, context);
    put_label_string(close, "Close");
    initialize_label(close, "GuiXkp0501N");
    XtAddCallback(close, XmNactivateCallback, activateCB_pushButton5, nullptr);

    Arg args[4];
    int n = 0;
    XtSetArg(args[n], XmNeditMode, XmMULTI_LINE_EDIT);
    ++n;
    XtSetArg(args[n], XmNeditable, False);
    ++n;
    XtSetArg(args[n], XmNcursorPositionVisible, False);
    ++n;
    XtSetArg(args[n], XmNscrollHorizontal, True);
    ++n;
    Widget text = XmCreateScrolledText(form, ux_str("scrolledText2"), args, n);
    Widget window = XtParent(text);
    XtVaSetValues(window, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, label, XmNtopOffset, 6,
                  XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget, close, XmNbottomOffset, 10,
                  XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10, XmNrightAttachment,
                  XmATTACH_FORM, XmNrightOffset, 10, nullptr);
    context->UxscrolledWindow2 = window;
    context->UxscrolledText2 = text;
    UxPutContext(window, context);
    UxPutContext(text, context);
    XtManageChild(text);
    createCB_scrolledText2(text);

    UxXkp_helpContext = context;
    return shell;
}

void help_topic_by_name(const char *topic) {
    T_strlcpy(help_topic, topic != nullptr ? topic : "", sizeof help_topic);
    popup_interface(create_xkp_help(), XtGrabNone);
}
