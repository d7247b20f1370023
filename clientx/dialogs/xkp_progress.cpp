// The progress dialog.
#include "xkp_progress.h"

#include "UxXt.h"
#include "tmmsg.h"
#include "uimx_helper.h"
#include "ux_form.h"
#include "xkp_help.h"
#include "xkp_helppath.h"
#include "xkp_joblog.h"
#include "xkp_listline.h"
#include "xkp_state.h"

#include <Xm/Form.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/PanedW.h>
#include <Xm/PushB.h>
#include <Xm/Scale.h>
#include <Xm/ScrollBar.h>
#include <Xm/ScrolledW.h>
#include <Xm/Text.h>
#include <Xm/TextF.h>
#include <Xm/ToggleB.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

_UxCxkp_progress *UxXkp_progressContext = nullptr;
Widget progress_ls_widget = nullptr;
Widget progress_cat_widget = nullptr;
Widget progress_cat_window_widget = nullptr;
Widget progress_filename_widget = nullptr;

namespace {

XtIntervalId refresh_timer = 0;

// The bytes of the shown log read after its last complete line (a line
// still being written), and the offset they start at: the next refresh goes
// on after them instead of reading them again.
std::string partial_line;
int partial_at = -1;

// What the lines of the shown log read so far tell of its job: the latest
// progress line and the closing status. Kept as the lines arrive, so that a
// refresh looks only at what the log gained.
struct job_state {
    std::optional<job_progress> progress;
    std::optional<int> exit_status;
};
job_state shown_job;

void note_job_line(const char *line) {
    if (std::optional<job_progress> p = parse_progress_line(line)) {
        shown_job.progress = p;
    } else if (std::optional<int> status = parse_exit_line(line)) {
        shown_job.exit_status = status;
    }
}

// The bar of the open dialog, from shown_job: hidden without a progress
// line; full once the job ended well; the status and its text under the
// counts once it ended.
void show_job_state() {
    _UxCxkp_progress *c = UxXkp_progressContext;
    if (c == nullptr || c->Uxform10 == nullptr) {
        return;
    }
    // The text reaches down to the bar when it is shown, else to the bottom.
    Widget text_window = XtParent(c->UxscrolledText3);
    if (!shown_job.progress) {
        if (XtIsManaged(c->Uxform10)) {
            XtUnmanageChild(c->Uxform10);
            XtVaSetValues(text_window, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 0,
                          nullptr);
        }
        return;
    }
    const job_progress &p = *shown_job.progress;
    std::optional<int> status = shown_job.exit_status;
    int percent = status == 0 ? 100 : p.percent;
    char text[XKP_TEXT_SIZE];
    tmgetmsg(Msg{"CerXkp1019N", "%d%%, %s of %s files, %s of %s bytes"}, tmlcmsg, sizeof text, text,
             percent, std::to_string(p.files).c_str(), std::to_string(p.total_files).c_str(),
             std::to_string(p.bytes).c_str(), std::to_string(p.total_bytes).c_str());
    std::string label = text;
    if (status) {
        const char *why = getECmsgl(*status, tmlcmsg);
        tmgetmsg(Msg{"CerXkp1020N", "Ended with status %d: %s"}, tmlcmsg, sizeof text, text,
                 *status, why != nullptr ? why : "");
        label += "\n";
        label += text;
    }
    XmScaleSetValue(c->Uxscale1, percent);
    put_label_string(c->Uxlabel34, label.c_str());
    if (!XtIsManaged(c->Uxform10)) {
        XtManageChild(c->Uxform10);
        XtVaSetValues(text_window, XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget,
                      c->Uxform10, XmNbottomOffset, 4, nullptr);
    }
}

struct fd_closer {
    int fd;
    ~fd_closer() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

struct dir_closer {
    void operator()(DIR *d) const { closedir(d); }
};

void clear_text() {
    if (progress_cat_widget != nullptr) {
        XmTextSetString(progress_cat_widget, ux_str(""));
    }
}

// The text for the complete lines of chunk: each line without its trailing
// blanks, tabs and newline, and one newline; a line longer than the line
// limit goes on as the next line. Stops when lines reaches the line count
// limit. Returns the bytes of chunk consumed: up to the end of the last
// complete line, so that a line still being written is shown whole later.
size_t complete_lines(const std::string &chunk, std::string &text, int &lines) {
    size_t pos = 0;
    while (pos < chunk.size() && lines < LOAD_MAX_LINES) {
        size_t nl = chunk.find('\n', pos);
        size_t end = nl == std::string::npos ? chunk.size() : nl;
        size_t length = end - pos;
        bool cut = length >= static_cast<size_t>(LOAD_LINE_MAX);
        if (cut) {
            length = LOAD_LINE_MAX;
        } else if (nl == std::string::npos) {
            break; // no newline yet
        }
        std::string line = chunk.substr(pos, length);
        strip_line_end(line.data());
        note_job_line(line.c_str());
        std::string item;
        list_line_item(line.c_str(), LOAD_TEXT, item);
        text += item;
        pos += length + (cut ? 0 : 1);
        ++lines;
    }
    return pos;
}

void scroll_to_end() {
    if (progress_cat_window_widget == nullptr) {
        return;
    }
    Widget bar = UxrGetProp<Widget>(progress_cat_window_widget, XmNverticalScrollBar);
    if (bar == nullptr) {
        return;
    }
    int max = UxrGetProp<int>(bar, XmNmaximum);
    int min = UxrGetProp<int>(bar, XmNminimum);
    int slider = UxrGetProp<int>(bar, XmNsliderSize);
    XmScrollBarSetValues(bar, std::max(min, max - slider), 0, 0, 0, True);
}

void alarm_handler(XtPointer, XtIntervalId *) {
    refresh_timer = 0;
    set_auto_refresh(auto_refresh_interval);
}

_UxCxkp_progress *context_of(Widget w) {
    return static_cast<_UxCxkp_progress *>(UxGetContext(w));
}

void forget_widgets() {
    progress_ls_widget = nullptr;
    progress_cat_widget = nullptr;
    progress_cat_window_widget = nullptr;
    progress_filename_widget = nullptr;
}

// Closing by the window manager destroys the dialog without its Close
// button: the same is forgotten here, so that the next dialog shows a log
// chosen again from its beginning and no refresh outlives the window.
void destroyCB_shell(Widget, XtPointer client_data, XtPointer) {
    if (UxXkp_progressContext == client_data) {
        UxXkp_progressContext = nullptr;
    }
    forget_widgets();
    progress_cat_filename[0] = '\0';
    progress_filesize = 0;
    set_auto_refresh(0);
}

void popdownCB_shell(Widget, XtPointer, XtPointer) {
    forget_widgets();
}

void browseSelectionCB_scrolledList6(Widget w, XtPointer, XtPointer) {
    _UxCxkp_progress *c = context_of(w);
    if (c == nullptr) {
        return;
    }
    std::string path = get_selected_item(w, 1);
    put_text(c->Uxtext8, path.c_str());
    load_progress_text(c->UxscrolledText3, path.c_str());
}

void activateCB_text8(Widget, XtPointer, XtPointer) {
    set_auto_refresh(auto_refresh_interval);
}

void valueChangedCB_toggleButton6(Widget w, XtPointer, XtPointer) {
    set_auto_refresh(XmToggleButtonGetState(w) ? 10 : 0);
}

// Close: the destroy callback forgets the log and stops the refresh.
void activateCB_pushButton8(Widget w, XtPointer, XtPointer) {
    _UxCxkp_progress *c = context_of(w);
    if (c != nullptr) {
        UxDestroyInterface(c->Uxxkp_progress);
    }
}

void activateCB_pushButton9(Widget w, XtPointer, XtPointer) {
    _UxCxkp_progress *c = context_of(w);
    if (c == nullptr) {
        return;
    }
    progress_cat_filename[0] = '\0';
    std::string path = UxrGetText(c->Uxtext8);
    if (field_count(path.c_str()) > 0) {
        unlink(path.c_str());
    }
    if (report_name_fragment != nullptr) {
        load_progress_directory(c->UxscrolledList6, report_name_fragment);
    }
    clear_text();
    put_text(c->Uxtext8, "");
}

void activateCB_pushButton12(Widget, XtPointer, XtPointer) {
    help_topic_by_name(help_topic_path("xkp/Progress").c_str());
}

} // namespace

void load_progress_directory(Widget list, const char *kind) {
    if (list == nullptr) {
        return;
    }
    list_delete_all(list);
    const char *home = getenv("HOME");
    std::string dir = home != nullptr ? home : "/";
    std::unique_ptr<DIR, dir_closer> d(opendir(dir.c_str()));
    if (!d) {
        return;
    }
    std::string prefix = std::string("kplog.") + (kind != nullptr ? kind : "") + ".";
    std::string base = dir.empty() || dir.back() != '/' ? dir + "/" : dir;
    std::vector<std::string> paths;
    while (struct dirent *de = readdir(d.get())) {
        if (strncmp(de->d_name, prefix.c_str(), prefix.size()) == 0) {
            paths.push_back(base + de->d_name);
        }
    }
    // Byte order, as inserting each before the first greater item gives.
    std::sort(paths.begin(), paths.end(), [](const std::string &a, const std::string &b) {
        return strcmp(a.c_str(), b.c_str()) < 0;
    });
    std::vector<XmString> items;
    items.reserve(paths.size());
    for (const std::string &p : paths) {
        items.push_back(XmStringCreate(ux_str(p.c_str()), ux_str(XmFONTLIST_DEFAULT_TAG)));
    }
    if (!items.empty()) {
        XmListAddItemsUnselected(list, items.data(), static_cast<int>(items.size()), 0);
    }
    for (XmString s : items) {
        XmStringFree(s);
    }
}

namespace {

int append_progress_text(Widget text, const char *path) {
    auto restart = [text] {
        progress_filesize = 0;
        partial_line.clear();
        shown_job = {};
        XmTextSetString(text, ux_str(""));
    };
    if (strcmp(path, progress_cat_filename) != 0) {
        T_strlcpy(progress_cat_filename, path, sizeof progress_cat_filename);
        restart();
    }
    if (partial_at != progress_filesize) {
        partial_line.clear(); // the log was started again elsewhere
    }
    // What was read: the lines shown and the bytes after them.
    off_t at = progress_filesize + static_cast<off_t>(partial_line.size());
    struct stat st {};
    if (lstat(path, &st) != 0) {
        restart();
        return 0;
    }
    if (st.st_size < at) {
        restart();
        at = 0;
    }
    bool waiting = partial_line.find('\n') != std::string::npos; // held back by the line limit
    if (st.st_size <= at && !waiting) {
        return 0;
    }
    // Not through a link, and never blocking on a pipe named like a log.
    fd_closer f{open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    struct stat opened {};
    if (f.fd < 0 || fstat(f.fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        restart();
        return 0;
    }
    // Only the bytes added since the last refresh are read, a block at a
    // time, and no further than the line count limit: a refresh costs what
    // the log gained, however long the log or its unfinished last line.
    std::string added;
    int lines = 0;
    auto take = [&added, &lines] {
        size_t used = complete_lines(partial_line, added, lines);
        partial_line.erase(0, used);
        progress_filesize += static_cast<int>(used);
    };
    take();
    char buffer[65536];
    while (lines < LOAD_MAX_LINES) {
        ssize_t n = pread(f.fd, buffer, sizeof buffer, at);
        if (n <= 0) {
            break;
        }
        at += n;
        partial_line.append(buffer, static_cast<size_t>(n));
        take();
    }
    partial_at = progress_filesize;
    if (added.empty()) {
        return 0;
    }
    XmTextInsert(text, XmTextGetLastPosition(text), ux_str(added.c_str()));
    return 1;
}

} // namespace

int load_progress_text(Widget text, const char *path) {
    if (text == nullptr || path == nullptr) {
        return 0;
    }
    int appended = append_progress_text(text, path);
    show_job_state();
    return appended;
}

void set_auto_refresh(int seconds) {
    if (progress_ls_widget != nullptr && report_name_fragment != nullptr) {
        load_progress_directory(progress_ls_widget, report_name_fragment);
    }
    if (progress_cat_widget != nullptr && progress_filename_widget != nullptr) {
        std::string path = UxrGetText(progress_filename_widget);
        if (load_progress_text(progress_cat_widget, path.c_str()) == 1) {
            scroll_to_end();
        }
    }
    if (UxTopLevel != nullptr) {
        XmUpdateDisplay(UxTopLevel);
    }
    if (auto_refresh_interval != 0 && refresh_timer != 0) {
        XtRemoveTimeOut(refresh_timer);
        refresh_timer = 0;
    }
    if (seconds != 0 && UxTopLevel != nullptr) {
        refresh_timer = XtAppAddTimeOut(XtWidgetToApplicationContext(UxTopLevel),
                                        static_cast<unsigned long>(seconds) * 1000 + 100,
                                        alarm_handler, nullptr);
    }
    auto_refresh_interval = seconds;
}

Widget create_xkp_progress() {
    if (UxTopLevel == nullptr) {
        return nullptr;
    }
    auto *c = ux_new_context<_UxCxkp_progress>();
    Widget shell = ux_window_shell("xkp_progress", 840, 650, 20, 20, c, destroyCB_shell,
                                   "GuiXkp0700N", "xkp_progress");
    c->Uxxkp_progress = shell;
    XtAddCallback(shell, XmNpopdownCallback, popdownCB_shell, nullptr);

    Widget form = XtVaCreateWidget("form3", xmFormWidgetClass, shell, XmNresizePolicy,
                                   XmRESIZE_NONE, nullptr);
    c->Uxform3 = form;
    UxPutContext(form, c);
    // A timer left by a dialog closed through the window manager stops here.
    set_auto_refresh(0);

    c->Uxlabel12 = ux_form_label(form, "label12", "Progress Report", "GuiXkp0702N", c);
    ux_row_below(c->Uxlabel12, nullptr, 10, 0, false);

    // The buttons are as wide as their labels.
    ux_form_button_row(
        form,
        {{&c->UxpushButton8, "pushButton8", "Close", "GuiXkp0701N", activateCB_pushButton8},
         {&c->UxpushButton9, "pushButton9", "Delete Log File", "GuiXkp0703N",
          activateCB_pushButton9},
         {&c->UxpushButton12, "pushButton12", "Help...", "GuiXkp0704N", activateCB_pushButton12}},
        0, c);

    c->UxtoggleButton6 = ux_form_toggle(form, "toggleButton6", "Automatic Refresh", "GuiXkp0705N",
                                        valueChangedCB_toggleButton6, c);
    ux_row_above(c->UxtoggleButton6, c->UxpushButton8, 10, 10);

    c->Uxtext8 = XtVaCreateManagedWidget(
        "text8", xmTextFieldWidgetClass, form, XmNmaxLength, static_cast<int>(XKP_TEXT_SIZE - 1),
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, XmNbottomAttachment, XmATTACH_WIDGET,
        XmNbottomWidget, c->UxtoggleButton6, XmNbottomOffset, 6, nullptr);
    UxPutContext(c->Uxtext8, c);
    XtAddCallback(c->Uxtext8, XmNactivateCallback, activateCB_text8, nullptr);
    c->Uxlabel33 = ux_form_label(form, "label33", "Log File", "GuiXkp0706N", c);
    XtVaSetValues(c->Uxlabel33, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget,
                  c->Uxtext8, XmNbottomAttachment, XmATTACH_OPPOSITE_WIDGET, XmNbottomWidget,
                  c->Uxtext8, nullptr);
    ux_label_column({{c->Uxlabel33, c->Uxtext8}}, 10, 8);

    c->Uxframe2 = XtVaCreateManagedWidget(
        "frame2", xmFrameWidgetClass, form, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget,
        c->Uxlabel12, XmNtopOffset, 6, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, XmNbottomAttachment, XmATTACH_WIDGET,
        XmNbottomWidget, c->Uxtext8, XmNbottomOffset, 8, nullptr);
    UxPutContext(c->Uxframe2, c);
    c->UxpanedWindow1 =
        XtVaCreateManagedWidget("panedWindow1", xmPanedWindowWidgetClass, c->Uxframe2, nullptr);
    UxPutContext(c->UxpanedWindow1, c);

    // Upper pane: the logs.
    c->Uxform8 = XtVaCreateManagedWidget("form8", xmFormWidgetClass, c->UxpanedWindow1, XmNheight,
                                         160, XmNpaneMinimum, 60, nullptr);
    UxPutContext(c->Uxform8, c);
    c->Uxlabel16 =
        ux_form_label(c->Uxform8, "label16", "Log files in your $HOME directory", "GuiXkp0707N", c);
    XtVaSetValues(c->Uxlabel16, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM,
                  nullptr);
    Arg args[3];
    XtSetArg(args[0], XmNselectionPolicy, XmBROWSE_SELECT);
    XtSetArg(args[1], XmNscrollBarDisplayPolicy, XmSTATIC);
    Widget list = XmCreateScrolledList(c->Uxform8, ux_str("scrolledList6"), args, 2);
    XtVaSetValues(XtParent(list), XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, c->Uxlabel16,
                  XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM,
                  XmNbottomAttachment, XmATTACH_FORM, nullptr);
    c->UxscrolledList6 = list;
    UxPutContext(list, c);
    UxPutContext(XtParent(list), c);
    XtAddCallback(list, XmNbrowseSelectionCallback, browseSelectionCB_scrolledList6, nullptr);
    XtManageChild(list);
    progress_ls_widget = list;
    if (report_name_fragment != nullptr) {
        load_progress_directory(list, report_name_fragment);
    }

    // Lower pane: the content.
    c->Uxform9 = XtVaCreateManagedWidget("form9", xmFormWidgetClass, c->UxpanedWindow1,
                                         XmNpaneMinimum, 100, nullptr);
    UxPutContext(c->Uxform9, c);
    c->Uxlabel15 =
        ux_form_label(c->Uxform9, "label15", "Contents of selected log file", "GuiXkp0708N", c);
    XtVaSetValues(c->Uxlabel15, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM,
                  nullptr);
    // Under the text, the job's progress: a bar the user cannot move and
    // the counts, hidden until the log shows a progress line.
    c->Uxform10 = XtVaCreateWidget("form10", xmFormWidgetClass, c->Uxform9, XmNshadowThickness, 0,
                                   XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                                   XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM, nullptr);
    UxPutContext(c->Uxform10, c);
    c->Uxscale1 = XtVaCreateManagedWidget(
        "scale1", xmScaleWidgetClass, c->Uxform10, XmNorientation, XmHORIZONTAL, XmNminimum, 0,
        XmNmaximum, 100, XmNshowValue, False, XmNeditable, False, XmNslidingMode, XmTHERMOMETER,
        XmNsliderVisual, XmFOREGROUND_COLOR, XmNscaleHeight, 14, XmNtopAttachment, XmATTACH_FORM,
        XmNtopOffset, 4, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM,
        nullptr);
    UxPutContext(c->Uxscale1, c);
    // The counts come from the catalog's formats when a progress line is read.
    c->Uxlabel34 = XtVaCreateManagedWidget("label34", xmLabelWidgetClass, c->Uxform10, XmNalignment,
                                           XmALIGNMENT_BEGINNING, XmNtopAttachment, XmATTACH_WIDGET,
                                           XmNtopWidget, c->Uxscale1, XmNleftAttachment,
                                           XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM,
                                           XmNbottomAttachment, XmATTACH_FORM, nullptr);
    UxPutContext(c->Uxlabel34, c);
    XtSetArg(args[0], XmNeditMode, XmMULTI_LINE_EDIT);
    XtSetArg(args[1], XmNeditable, False);
    XtSetArg(args[2], XmNscrollBarDisplayPolicy, XmSTATIC);
    Widget text = XmCreateScrolledText(c->Uxform9, ux_str("scrolledText3"), args, 3);
    XtVaSetValues(XtParent(text), XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, c->Uxlabel15,
                  XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM,
                  XmNbottomAttachment, XmATTACH_FORM, nullptr);
    c->UxscrolledText3 = text;
    UxPutContext(text, c);
    UxPutContext(XtParent(text), c);
    XtManageChild(text);
    progress_cat_widget = text;
    progress_cat_window_widget = XtParent(text);
    progress_filename_widget = c->Uxtext8;

    XtManageChild(form);
    UxXkp_progressContext = c;
    return shell;
}
