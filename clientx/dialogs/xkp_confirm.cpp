// The start dialog.
#include "xkp_confirm.h"

#include "UxXt.h"
#include "cmnutils.h"
#include "uimx_helper.h"
#include "ux_form.h"
#include "xkp_errmsg.h"
#include "xkp_handles.h"
#include "xkp_help.h"
#include "xkp_helppath.h"
#include "xkp_jobwatch.h"
#include "xkp_menus.h"
#include "xkp_request.h"
#include "xkp_runner.h"
#include "xkp_state.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/PushB.h>
#include <Xm/TextF.h>
#include <Xm/ToggleB.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

_UxCxkp_confirm *UxXkp_confirmContext = nullptr;

namespace {

_UxCxkp_confirm *context_of(Widget w) {
    return static_cast<_UxCxkp_confirm *>(UxGetContext(w));
}

void destroyCB_shell(Widget, XtPointer client_data, XtPointer) {
    if (UxXkp_confirmContext == client_data) {
        UxXkp_confirmContext = nullptr;
    }
}

bool state_of(Widget toggle) {
    return toggle != nullptr && XmToggleButtonGetState(toggle);
}

// Creates or empties the progress log before the program starts, so that
// it exists (empty) when the program opens it. A new log is created
// exclusively; an existing one is emptied only when it is a regular file of
// ours reached without a link, so a link planted under the log's name
// cannot make us truncate another file. The log lists the names of the
// user's files: it is readable by the user only.
bool create_progress_log(const char *path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
                        ftruncate(fd, 0) != 0)) {
            close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        return false;
    }
    return close(fd) == 0;
}

// A log made only to watch the job of a request whose user asked for none
// (or whose own log could not be created): the client still needs to see
// how the job ends. It is private (mkstemp, mode 0600) in $TMPDIR or /tmp,
// and removed once the job's end is seen. "" when none can be made.
std::string create_private_log() {
    std::string name;
    int fd = create_private_temp(name, "xkplog");
    if (fd < 0) {
        return "";
    }
    close(fd);
    return name;
}

// The log a command names after -L, and whether the client made it for
// itself.
struct request_log {
    std::string path;
    bool private_log = false;
};

// The command of the request, from its fragments and the dialog's fields.
// Typed texts reach the shell quoted so that the program gets them as
// typed: the keyword always in apostrophes, the log path when it holds a
// character the shell would interpret (the transfer encoding leaves only
// the backslash of those).
std::string assemble(_UxCxkp_confirm *c, request_log &log) {
    std::string cmd = confirmed_cmd_header;
    overwrite_at_will = state_of(c->UxtoggleButton3) ? 1 : 0;
    filesystem_only_restore_possible = state_of(c->UxtoggleButton15) ? 1 : 0;
    use_logging = state_of(c->UxtoggleButton1) ? 1 : 0;
    use_alternate_path = state_of(c->UxtoggleButton7) ? 1 : 0;

    if (browsing_filesys) {
        T_strlcpy(backupKeyword, trim(UxrGetText(c->Uxtext5).c_str()), sizeof backupKeyword);
        if (backupKeyword[0] != '\0') {
            cmd += " -k " + apostrophize(backupKeyword).value_or("''") + " ";
        }
    } else if (!overwrite_at_will) {
        cmd += " -K ";
    }
    if (filesystem_only_restore_possible) {
        cmd += " -O ";
    }
    bool redirect = use_alternate_path && alternate_path_defined;
    std::string log_option;
    if (use_logging) {
        T_strlcpy(log_filename, UxrGetText(c->Uxtext7).c_str(), sizeof log_filename);
        std::string option = " -L " + shell_word(utf8_conversion(log_filename));
        T_strlcpy(confirmed_cmd_log, option.c_str(), sizeof confirmed_cmd_log);
        if (log_filename[0] != '\0' && create_progress_log(log_filename)) {
            log = {log_filename, false};
            log_option = confirmed_cmd_log;
        } else {
            pop_errmsg(XKP_MSG_NO_LOG);
        }
    }
    if (log.path.empty()) {
        log = {create_private_log(), true};
        if (!log.path.empty()) {
            log_option = " -L " + shell_word(utf8_conversion(log.path.c_str()));
        }
    }
    // The transfer-encoding option covers the log's path and the rename file.
    if (use_logging || !log_option.empty() || redirect) {
        cmd += dash_eight_option;
    }
    cmd += log_option;
    if (redirect) {
        cmd += confirmed_cmd_alt;
    }
    cmd += confirmed_cmd_trailer;
    return cmd;
}

void empty_dialog_list(_UxCxkp_confirm *c) {
    if (c->UxscrolledList5 != nullptr) {
        XtUnmanageChild(c->UxscrolledList5);
        list_delete_all(c->UxscrolledList5);
        XtManageChild(c->UxscrolledList5);
    }
}

void busy(_UxCxkp_confirm *c, int on) {
    reshape_cursor(on, main_screen);
    reshape_cursor(on, c->Uxxkp_confirm);
}

void activateCB_pushButton6(Widget w, XtPointer, XtPointer) {
    _UxCxkp_confirm *c = context_of(w);
    if (c == nullptr) {
        return;
    }
    busy(c, 1);
    request_log log;
    std::string cmd = assemble(c, log);
    // A command cut to fit its buffer could name another file or another
    // word: one that does not fit is not run. The user is told why, and the
    // dialog and the selections stay so that a shorter keyword or log name
    // can be tried.
    if (cmd.size() >= sizeof confirmed_cmd) {
        if (log.private_log) {
            unlink(log.path.c_str());
        }
        pop_warn_int(XKP_MSG_TOO_LONG, static_cast<int>(cmd.size()));
        busy(c, 0);
        return;
    }
    confirmation_msg[0] = '\0';
    T_strlcpy(confirmed_cmd, cmd.c_str(), sizeof confirmed_cmd);
    if (debug_enabled) {
        printf("debug confirm command:%s!\n", confirmed_cmd);
        fflush(stdout);
    }
    // A request that cannot be done is refused with its status at once; an
    // accepted one (0) goes on in the background, and its log tells how it
    // ends.
    bool ran = false;
    int status = mysystem(confirmed_cmd, &ran);
    if (ran && status == 0 && !log.path.empty()) {
        watch_request_log(log.path, log.private_log);
    } else if (log.private_log) {
        unlink(log.path.c_str());
    }
    report_exit_status(status, 0);
    temp_filename[0] = '\0';
    confirmed_cmd[0] = '\0';
    empty_dialog_list(c);
    list_delete_all(persistent_list);
    if (right_list != nullptr) {
        XmListDeselectAllItems(right_list);
    }
    busy(c, 0);
    UxDestroyInterface(c->Uxxkp_confirm);
    resensitize_menus(0);
}

void activateCB_pushButton7(Widget w, XtPointer, XtPointer) {
    _UxCxkp_confirm *c = context_of(w);
    if (c == nullptr) {
        return;
    }
    busy(c, 1);
    confirmation_msg[0] = '\0';
    empty_dialog_list(c);
    temp_filename[0] = '\0';
    busy(c, 0);
    UxDestroyInterface(c->Uxxkp_confirm);
}

void activateCB_pushButton11(Widget, XtPointer, XtPointer) {
    help_topic_by_name(help_topic_path("xkp/Confirm").c_str());
}

void valueChangedCB_toggleButton1(Widget w, XtPointer, XtPointer) {
    _UxCxkp_confirm *c = context_of(w);
    if (c == nullptr) {
        return;
    }
    bool on = state_of(w);
    put_sensitive(c->Uxlabel17, on);
    put_sensitive(c->Uxtext7, on);
}

// The restore toggles' states are read when OK is pressed.
void valueChangedCB_nothing(Widget, XtPointer, XtPointer) {}

// What the request covers: line 1 of every selection, or the directory.
void fill_list(Widget list) {
    list_delete_all(list);
    std::vector<XmString> items;
    if (use_persistent_list) {
        int count = get_item_count(persistent_list);
        XmStringTable entries = get_all_items(persistent_list);
        std::vector<char> line(4096);
        for (int i = 0; i < count; ++i) {
            xmstring_line(entries[i], 1, line.data(), line.size());
            std::string text = line.data();
            if (true_image) {
                // "/a/b/. date" shows as "/a/b/  date".
                size_t dot = text.find("/. ");
                if (dot != std::string::npos) {
                    text[dot + 1] = ' ';
                }
            }
            items.push_back(XmStringCreate(ux_str(text.c_str()), ux_str(XmFONTLIST_DEFAULT_TAG)));
        }
    } else {
        items.push_back(
            XmStringCreate(ux_str(confirmation_directory), ux_str(XmFONTLIST_DEFAULT_TAG)));
    }
    if (!items.empty()) {
        XmListAddItemsUnselected(list, items.data(), static_cast<int>(items.size()), 0);
    }
    for (XmString s : items) {
        XmStringFree(s);
    }
}

} // namespace

Widget create_xkp_confirm() {
    if (UxTopLevel == nullptr) {
        return nullptr;
    }
    auto *c = ux_new_context<_UxCxkp_confirm>();
    Widget shell = ux_window_shell("xkp_confirm", 740, 640, 40, 40, c, destroyCB_shell,
                                   "GuiXkp0300N", "xkp_confirm");
    c->Uxxkp_confirm = shell;

    Widget form = XtVaCreateWidget("form2", xmFormWidgetClass, shell, XmNresizePolicy,
                                   XmRESIZE_NONE, nullptr);
    UxPutContext(form, c);
    c->Uxform2 = form;
    overwrite_at_will = 0;
    use_logging = 1;

    // The question.
    c->Uxlabel5 = ux_form_label(
        form, "label5",
        "Please confirm intention to \noperate on the following files:", "GuiXkp0301N", c);
    ux_row_below(c->Uxlabel5, nullptr, 10, 0, false);
    if (confirmation_msg[0] != '\0') {
        put_label_string(c->Uxlabel5, confirmation_msg);
    }

    // The buttons' row.
    ux_form_button_row(
        form,
        {{&c->UxpushButton6, "pushButton6", "OK", "GuiXkp0302N", activateCB_pushButton6},
         {&c->UxpushButton7, "pushButton7", "Cancel", "GuiXkp0303N", activateCB_pushButton7},
         {&c->UxpushButton11, "pushButton11", "Help...", "GuiXkp0304N", activateCB_pushButton11}},
        110, c);

    // The restore toggles, bottom up.
    c->UxtoggleButton15 =
        ux_form_toggle(form, "toggleButton15", "Restore directories without crossing mount points",
                       "GuiXkp0305N", valueChangedCB_nothing, c);
    ux_row_above(c->UxtoggleButton15, c->UxpushButton6, 10, 10);
    bool one_filesys = filesystem_only_restore_possible || root_filesys_only_possible;
    put_sensitive(c->UxtoggleButton15, one_filesys);
    XmToggleButtonSetState(c->UxtoggleButton15, one_filesys, False);
    put_managed(c->UxtoggleButton15, !browsing_filesys);

    c->UxtoggleButton7 = ux_form_toggle(form, "toggleButton7", "Redirected restore", "GuiXkp0306N",
                                        valueChangedCB_nothing, c);
    ux_row_above(c->UxtoggleButton7, c->UxtoggleButton15, 10, 2);
    put_sensitive(c->UxtoggleButton7, alternate_path_defined != 0);
    XmToggleButtonSetState(c->UxtoggleButton7, alternate_path_defined && use_alternate_path, False);
    put_managed(c->UxtoggleButton7, !browsing_filesys);

    c->UxtoggleButton3 = ux_form_toggle(form, "toggleButton3", "Overwrite existing files",
                                        "GuiXkp0307N", valueChangedCB_nothing, c);
    ux_row_above(c->UxtoggleButton3, c->UxtoggleButton7, 10, 2);
    if (standard_or_wbak == CLIENT_TYPE_MS_EXCHANGE) {
        put_label_string(c->UxtoggleButton3, "Delete existing transaction logs prior to restore");
        initialize_label(c->UxtoggleButton3, "GuiXkp0310N");
    }
    overwrite_at_will = 0;
    put_managed(c->UxtoggleButton3, !browsing_filesys);
    if (browsing_raw_partitions || standard_or_wbak == CLIENT_TYPE_NDMP) {
        // Raw partitions and NDMP images are always restored with overwrite.
        put_sensitive(c->UxtoggleButton3, false);
        XmToggleButtonSetState(c->UxtoggleButton3, True, False);
        overwrite_at_will = 1;
    }

    c->UxtoggleButtonDummy = ux_form_toggle(form, "toggleButtonDummy",
                                            "Delete existing transaction logs prior to restore",
                                            "GuiXkp0310N", valueChangedCB_nothing, c);
    XtUnmanageChild(c->UxtoggleButtonDummy);

    // The progress log.
    c->Uxtext7 = ux_form_child(form, "text7", xmTextFieldWidgetClass, c);
    XtVaSetValues(c->Uxtext7, XmNmaxLength, static_cast<int>(XKP_TEXT_SIZE - 1), XmNrightAttachment,
                  XmATTACH_FORM, XmNrightOffset, 10, XmNbottomAttachment, XmATTACH_WIDGET,
                  XmNbottomWidget, browsing_filesys ? c->UxpushButton6 : c->UxtoggleButton3,
                  XmNbottomOffset, browsing_filesys ? 10 : 6, nullptr);
    put_text(c->Uxtext7, log_filename);
    c->Uxlabel17 = ux_form_label(form, "label17", "Log filename", "GuiXkp0308N", c);
    XtVaSetValues(c->Uxlabel17, XmNbottomAttachment, XmATTACH_OPPOSITE_WIDGET, XmNbottomWidget,
                  c->Uxtext7, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, c->Uxtext7,
                  nullptr);
    ux_label_column({{c->Uxlabel17, c->Uxtext7}}, 10, 8);
    c->UxtoggleButton1 = ux_form_toggle(form, "toggleButton1", "Use log file", "GuiXkp0309N",
                                        valueChangedCB_toggleButton1, c);
    XmToggleButtonSetState(c->UxtoggleButton1, True, False);
    ux_row_above(c->UxtoggleButton1, c->Uxtext7, 10, 4);

    // The keyword, for backups and archives of the file system only.
    c->Uxtext5 = ux_form_child(form, "text5", xmTextFieldWidgetClass, c);
    XtVaSetValues(c->Uxtext5, XmNmaxLength, 128, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset,
                  10, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, XmNbottomAttachment,
                  XmATTACH_WIDGET, XmNbottomWidget, c->UxtoggleButton1, XmNbottomOffset, 8,
                  nullptr);
    put_text(c->Uxtext5, backupKeyword);
    c->Uxlabel6 = ux_form_label(form, "label6", "Keyword phrase to associate with this backup",
                                "GuiXkp0311N", c);
    ux_row_above(c->Uxlabel6, c->Uxtext5, 10, 2);
    bool keyword_shown = browsing_filesys && browsing_database == 0;
    put_managed(c->Uxtext5, keyword_shown);
    put_managed(c->Uxlabel6, keyword_shown);

    // The list fills what is left between the question and the rows below.
    Arg args[1];
    XtSetArg(args[0], XmNscrollBarDisplayPolicy, XmSTATIC);
    Widget list = XmCreateScrolledList(form, ux_str("scrolledList5"), args, 1);
    c->UxscrolledList5 = list;
    c->UxscrolledWindow7 = XtParent(list);
    XtVaSetValues(c->UxscrolledWindow7, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget,
                  c->Uxlabel5, XmNtopOffset, 6, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, XmNbottomAttachment,
                  XmATTACH_WIDGET, XmNbottomWidget,
                  keyword_shown ? c->Uxlabel6 : c->UxtoggleButton1, XmNbottomOffset, 8, nullptr);
    UxPutContext(list, c);
    UxPutContext(c->UxscrolledWindow7, c);
    XtManageChild(list);
    fill_list(list);

    XtManageChild(form);
    UxXkp_confirmContext = c;
    return shell;
}
