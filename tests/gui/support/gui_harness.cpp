// GUI test harness: one display connection per process, a fresh top-level
// shell per test.
#include <gtest/gtest.h>

#include "gui_harness.h"

#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_icon.h"
#include "xkp_jobwatch.h"
#include "xkp_menus.h"
#include "xkp_state.h"

#include <X11/IntrinsicP.h>
#include <X11/ShellP.h>
#include <Xm/List.h>
#include <Xm/MessageB.h>
#include <Xm/ToggleB.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace gui {
namespace {

XtAppContext g_app = nullptr;
Display *g_display = nullptr;

bool open_display() {
    if (g_display != nullptr) {
        return true;
    }
    XtToolkitInitialize();
    g_app = XtCreateApplicationContext();
    int argc = 1;
    char name[] = "xkp";
    char *argv[] = {name, nullptr};
    // A server that is there but busy (many test programs connecting at once
    // on a loaded machine) may refuse a connection for a moment: try for a
    // few seconds before calling the display missing.
    for (int attempt = 0; attempt < 50 && g_display == nullptr; ++attempt) {
        if (attempt > 0) {
            usleep(100 * 1000);
        }
        argc = 1;
        g_display = XtOpenDisplay(g_app, nullptr, "xkp", "XSV", nullptr, 0, &argc, argv);
    }
    return g_display != nullptr;
}

} // namespace

XtAppContext app() {
    return g_app;
}
Display *display() {
    return g_display;
}

void drain() {
    for (int round = 0; round < 2; ++round) {
        XSync(g_display, False);
        while (XtAppPending(g_app) != 0) {
            XtAppProcessEvent(g_app, XtIMAll);
        }
    }
}

Widget find(Widget root, const char *name) {
    if (root == nullptr) {
        return nullptr;
    }
    std::string path = std::string("*") + name;
    return XtNameToWidget(root, path.c_str());
}

Widget must_find(Widget root, const char *name) {
    Widget w = find(root, name);
    EXPECT_NE(w, nullptr) << "no widget named " << name;
    return w;
}

void click(Widget w) {
    Position x = 0, y = 0;
    Dimension width = 0, height = 0;
    XtVaGetValues(w, XmNwidth, &width, XmNheight, &height, nullptr);
    XtTranslateCoords(w, static_cast<Position>(width / 2), static_cast<Position>(height / 2), &x,
                      &y);
    Window window = XtWindowOfObject(w);
    XEvent event{};
    event.xbutton.type = ButtonPress;
    event.xbutton.display = g_display;
    event.xbutton.window = window;
    event.xbutton.root = RootWindowOfScreen(XtScreenOfObject(w));
    event.xbutton.time = CurrentTime;
    event.xbutton.button = Button1;
    event.xbutton.same_screen = True;
    // Gadgets share their parent's window: coordinates are window-relative.
    Position wx = 0, wy = 0;
    if (!XtIsWidget(w)) {
        XtVaGetValues(w, XmNx, &wx, XmNy, &wy, nullptr);
    }
    event.xbutton.x = wx + width / 2;
    event.xbutton.y = wy + height / 2;
    event.xbutton.x_root = x;
    event.xbutton.y_root = y;
    XtDispatchEvent(&event);
    event.xbutton.type = ButtonRelease;
    event.xbutton.state = Button1Mask;
    XtDispatchEvent(&event);
    drain();
}

void wm_close(Widget shell) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = g_display;
    event.xclient.window = XtWindow(shell);
    event.xclient.message_type = XInternAtom(g_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(g_display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XtDispatchEvent(&event);
    drain();
}

void fire(Widget w, const char *callback_name, XtPointer call_data) {
    XmAnyCallbackStruct any{};
    XEvent event{};
    any.reason = XmCR_ACTIVATE;
    any.event = &event;
    XtCallCallbacks(w, callback_name, call_data != nullptr ? call_data : &any);
    drain();
}

void toggle(Widget w, bool set) {
    XmToggleButtonSetState(w, set ? True : False, False);
    XmToggleButtonCallbackStruct cb{};
    XEvent event{};
    cb.reason = XmCR_VALUE_CHANGED;
    cb.event = &event;
    cb.set = set ? XmSET : XmUNSET;
    XtCallCallbacks(w, XmNvalueChangedCallback, &cb);
    drain();
}

std::string xmstring_text(XmString s) {
    std::string text;
    XmStringContext context = nullptr;
    if (s == nullptr || !XmStringInitContext(&context, s)) {
        return text;
    }
    unsigned int length = 0;
    XtPointer value = nullptr;
    XmStringComponentType type;
    while ((type = XmStringGetNextTriple(context, &length, &value)) != XmSTRING_COMPONENT_END) {
        if (type == XmSTRING_COMPONENT_SEPARATOR) {
            text += "\n";
        } else if ((type == XmSTRING_COMPONENT_TEXT || type == XmSTRING_COMPONENT_LOCALE_TEXT) &&
                   value != nullptr) {
            text.append(static_cast<const char *>(value), length);
        }
        XtFree(static_cast<char *>(value));
    }
    XmStringFreeContext(context);
    return text;
}

std::string text_of(Widget w) {
    return UxrGetText(w);
}

std::string label_of(Widget w) {
    XmString s = UxrGetProp<XmString>(w, XmNlabelString);
    if (s == nullptr) {
        return "";
    }
    std::string text = xmstring_text(s);
    XmStringFree(s);
    return text;
}

std::vector<std::string> list_items(Widget list) {
    std::vector<std::string> items;
    int count = get_item_count(list);
    XmStringTable table = get_all_items(list);
    for (int i = 0; i < count; ++i) {
        items.push_back(xmstring_text(table[i]));
    }
    return items;
}

bool sensitive(Widget w) {
    return XtIsSensitive(w) != False;
}

bool toggle_set(Widget w) {
    return XmToggleButtonGetState(w) != False;
}

bool managed(Widget w) {
    return XtIsManaged(w) != False;
}

std::vector<Widget> shells(const char *name) {
    std::vector<Widget> found;
    for (Cardinal i = 0; UxTopLevel != nullptr && i < UxTopLevel->core.num_popups; ++i) {
        Widget shell = UxTopLevel->core.popup_list[i];
        if (!shell->core.being_destroyed && strcmp(XtName(shell), name) == 0) {
            found.push_back(shell);
        }
    }
    return found;
}

std::string title_of(Widget shell) {
    char *title = nullptr;
    XtVaGetValues(shell, XmNtitle, &title, nullptr);
    return title != nullptr ? title : "";
}

std::string geometry(Widget w) {
    Dimension width = 0, height = 0;
    Position x = 0, y = 0;
    XtVaGetValues(w, XmNwidth, &width, XmNheight, &height, XmNx, &x, XmNy, &y, nullptr);
    return std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
           std::to_string(y);
}

Widget open(Widget shell) {
    EXPECT_NE(shell, nullptr) << "the window was not built";
    popup_interface(shell, XtGrabNone);
    drain();
    return shell;
}

void select(Widget list, int position) {
    XmListSelectPos(list, position, True);
    drain();
}

int position_of(Widget list, const std::string &text) {
    std::vector<std::string> items = list_items(list);
    auto it = std::find(items.begin(), items.end(), text);
    return it == items.end() ? 0 : static_cast<int>(it - items.begin()) + 1;
}

std::vector<MessageBox> message_boxes() {
    std::vector<MessageBox> boxes;
    for (Widget shell : shells("xkp_errmsg_shell")) {
        Widget box = XtNameToWidget(shell, "xkp_errmsg");
        if (box == nullptr || box->core.being_destroyed) {
            continue;
        }
        MessageBox mb{shell, box, "", title_of(shell), 0};
        XmString s = UxrGetProp<XmString>(box, XmNmessageString);
        if (s != nullptr) {
            mb.text = xmstring_text(s);
            XmStringFree(s);
        }
        mb.type = UxrGetProp<unsigned char>(box, XmNdialogType);
        boxes.push_back(mb);
    }
    return boxes;
}

void close_message_boxes() {
    for (const MessageBox &mb : message_boxes()) {
        click(XmMessageBoxGetChild(mb.box, XmDIALOG_OK_BUTTON));
    }
}

StdoutCapture::StdoutCapture() {
    char name[] = "/tmp/xkp_stdout_XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) {
        return;
    }
    path_ = name;
    fflush(stdout);
    saved_ = dup(1);
    dup2(fd, 1);
    close(fd);
}

StdoutCapture::~StdoutCapture() {
    stop();
}

std::string StdoutCapture::stop() {
    if (stopped_ || saved_ < 0) {
        return "";
    }
    stopped_ = true;
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    std::string text = read_file(path_);
    unlink(path_.c_str());
    return text;
}

TempDir::TempDir() {
    char name[] = "/tmp/xkp_gui_XXXXXX";
    if (mkdtemp(name) != nullptr) {
        path_ = name;
    }
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string write_fake_program(const std::string &dir, const std::string &name,
                               const std::string &output, int status) {
    std::string program = dir + "/" + name;
    {
        std::ofstream out(program + ".out", std::ios::binary);
        out << output;
    }
    std::ofstream script(program);
    script << "#!/bin/sh\n"
           << "here='" << dir << "'\n"
           << "me='" << program << "'\n"
           << "echo -- >> \"$me.args\"\n"
           << "n=0\n"
           << "for a in \"$@\"; do\n"
           << "  printf '%s\\n' \"$a\" >> \"$me.args\"\n"
           << "  case \"$a\" in \"$here\"/*) if [ -f \"$a\" ] && [ -r \"$a\" ]; then\n"
           << "    n=$((n+1)); cp \"$a\" \"$me.file.$n\"; fi;; esac\n"
           << "done\n"
           << "cat \"$me.out\"\n"
           << "exit " << status << "\n";
    script.close();
    chmod(program.c_str(), 0755);
    return program;
}

} // namespace gui

void GuiTest::SetUp() {
    ASSERT_TRUE(gui::open_display())
        << "cannot open the X display (DISPLAY=" << (getenv("DISPLAY") ? getenv("DISPLAY") : "")
        << "): the GUI tests need a server, run them under xvfb-run";
    reset_program_state();
    reset_resensitize_table();
    top_ = XtVaAppCreateShell("xkp", "XSV", applicationShellWidgetClass, gui::display(),
                              XmNmappedWhenManaged, False, XmNwidth, 10, XmNheight, 10, nullptr);
    XtRealizeWidget(top_);
    UxTopLevel = top_;
    ux_message_locale = tmlcmsg;
    create_icon_pixmap(gui::display(), RootWindowOfScreen(XtScreen(top_)));
    gui::drain();
}

void GuiTest::TearDown() {
    // The requests a test started are not watched into the next one.
    forget_request_logs();
    if (top_ != nullptr) {
        XtDestroyWidget(top_);
        top_ = nullptr;
        UxTopLevel = nullptr;
        if (gui::display() != nullptr) {
            gui::drain();
        }
    }
}
