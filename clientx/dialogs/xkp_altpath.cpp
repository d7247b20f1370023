// The alternate destination dialog.
#include "xkp_altpath.h"

#include "UxXt.h"
#include "uimx_helper.h"
#include "ux_form.h"
#include "xkp_errmsg.h"
#include "xkp_help.h"
#include "xkp_helppath.h"
#include "xkp_restorecmd.h"
#include "xkp_state.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/TextF.h>
#include <Xm/ToggleB.h>
#include <Xm/Xm.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

_UxCxkp_altpath *UxXkp_altpathContext = nullptr;

namespace {

void destroyCB_shell(Widget, XtPointer client_data, XtPointer) {
    if (UxXkp_altpathContext == client_data) {
        UxXkp_altpathContext = nullptr;
    }
}

_UxCxkp_altpath *context_of(Widget w) {
    return static_cast<_UxCxkp_altpath *>(UxGetContext(w));
}

void activateCB_pushButton10(Widget w, XtPointer, XtPointer) {
    _UxCxkp_altpath *c = context_of(w);
    if (c == nullptr) {
        return;
    }
    std::string from = UxrGetText(c->Uxtext4);
    std::string to = UxrGetText(c->Uxtext13);
    int hard = XmToggleButtonGetState(c->UxtoggleButton9) ? 1 : 0;
    int soft = XmToggleButtonGetState(c->UxtoggleButton11) ? 1 : 0;
    if (define_alternate_path(from.c_str(), to.c_str(), hard, soft)) {
        UxDestroyInterface(c->Uxxkp_desttpath);
    }
}

void activateCB_pushButton14(Widget w, XtPointer, XtPointer) {
    _UxCxkp_altpath *c = context_of(w);
    use_alternate_path = 0;
    alternate_path_defined = 0;
    if (c != nullptr) {
        UxDestroyInterface(c->Uxxkp_desttpath);
    }
}

void activateCB_pushButton16(Widget w, XtPointer, XtPointer) {
    _UxCxkp_altpath *c = context_of(w);
    if (c != nullptr) {
        put_text(c->Uxtext4, current_working_directory);
        put_text(c->Uxtext13, current_working_directory);
    }
}

void activateCB_pushButton15(Widget, XtPointer, XtPointer) {
    help_topic_by_name(help_topic_path("xkp/Altpath").c_str());
}

} // namespace

int define_alternate_path(const char *from, const char *to, int hard, int soft) {
    // The file is created by mkstemp, so its name cannot be taken over by
    // someone else's file or link between naming and writing.
    std::string name;
    int fd = create_private_temp(name);
    if (fd < 0) {
        int saved = errno;
        // A directory we cannot reach gives the same answer as no name.
        if (saved == ENOENT || saved == ENOTDIR || saved == EACCES || saved == EROFS) {
            pop_errmsg(XKP_MSG_ALTPATH_TEMP);
        } else {
            pop_errcode();
        }
        return 0;
    }
    T_strlcpy(altpath_cmdfile, name.c_str(), sizeof altpath_cmdfile);
    FILE *out = fdopen(fd, "w");
    if (out == nullptr) {
        pop_errcode();
        close(fd);
        return 0;
    }
    T_strlcpy(from_alternate_path, from != nullptr ? from : "", sizeof from_alternate_path);
    T_strlcpy(to_alternate_path, to != nullptr ? to : "", sizeof to_alternate_path);
    std::string text = rename_file_text(from_alternate_path, to_alternate_path);
    size_t written = fwrite(text.data(), 1, text.size(), out);
    bool flushed = fflush(out) == 0;
    bool closed = fclose(out) == 0;
    if (written == 0 || written != text.size() || !flushed || !closed) {
        filename_error(name.c_str());
        return 0;
    }
    alternate_path_defined = 1;
    use_alternate_path = 1;
    rename_altpath_hard = hard;
    rename_altpath_soft = soft;
    return 1;
}

Widget create_xkp_altpath() {
    if (UxTopLevel == nullptr) {
        return nullptr;
    }
    auto *context = ux_new_context<_UxCxkp_altpath>();
    Widget shell = ux_window_shell("xkp_desttpath", 720, 400, 90, 90, context, destroyCB_shell,
                                   "GuiXkp0100N", "xkp_destpath");
    context->Uxxkp_desttpath = shell;

    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, shell, XmNresizePolicy,
                                          XmRESIZE_NONE, XmNfractionBase, 100, nullptr);
    UxPutContext(form, context);
    context->Uxform = form;

    const char *from =
        from_alternate_path[0] != '\0' ? from_alternate_path : current_working_directory;
    const char *to = to_alternate_path[0] != '\0' ? to_alternate_path : current_working_directory;
    UxFormRows rows(form, context, 12, 6);
    context->Uxlabel25 = rows.label("label25", "Restore From", "GuiXkp0101N", true);
    context->Uxtext4 = rows.field("text4", from);
    context->Uxlabel26 = rows.label("label26", "Restore To", "GuiXkp0102N", true);
    context->Uxtext13 = rows.field("text13", to);
    context->UxtoggleButton9 =
        rows.toggle("toggleButton9", "Rename Hard Links", "GuiXkp0107N", true);
    context->UxtoggleButton11 =
        rows.toggle("toggleButton11", "Rename Soft Links", "GuiXkp0108N", true);
    XmToggleButtonSetState(context->UxtoggleButton9, True, False);
    XmToggleButtonSetState(context->UxtoggleButton11, True, False);

    // Four buttons share the bottom row in equal quarters of its width.
    ux_form_spread_row(
        form,
        {{&context->UxpushButton10, "pushButton10", "OK", "GuiXkp0103N", activateCB_pushButton10},
         {&context->UxpushButton14, "pushButton14", "Cancel", "GuiXkp0104N",
          activateCB_pushButton14},
         {&context->UxpushButton16, "pushButton16", "Current Directory", "GuiXkp0106N",
          activateCB_pushButton16},
         {&context->UxpushButton15, "pushButton15", "Help...", "GuiXkp0105N",
          activateCB_pushButton15}},
        2, 21, 25, context);

    UxXkp_altpathContext = context;
    return shell;
}
