// GUI test harness: real Motif widgets on the X display of the test run
// (xvfb-run), driven in-process. Include <gtest/gtest.h> before this header;
// it brings the runtime's headers and the program state with it.
//
// Each test derives its fixture from GuiTest: SetUp opens the display once
// per process (a missing display FAILS the test), resets the program state
// and gives the test a fresh, realized but unmapped top-level shell as
// UxTopLevel; TearDown destroys it with every window built under it.
#pragma once

#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_state.h"

#include <X11/Intrinsic.h>
#include <Xm/List.h>
#include <Xm/Xm.h>

#include <string>
#include <vector>

namespace gui {

XtAppContext app();
Display *display();

// Processes every pending event, twice, after XSync: what the user would see
// after the toolkit caught up.
void drain();

// The descendant of root named name ("*name" search), or null.
Widget find(Widget root, const char *name);
// Like find, failing the test when the widget is missing.
Widget must_find(Widget root, const char *name);

// A button press and release on w passed through XtDispatchEvent, as a
// user's click: safe for buttons whose callback destroys their own window.
void click(Widget w);
// The window manager's close (WM_DELETE_WINDOW) sent to a realized shell,
// passed through XtDispatchEvent; the shell's delete response decides.
void wm_close(Widget shell);
// Fires w's callback list name with a call-data record of the widget's kind
// (XmAnyCallbackStruct with reason XmCR_ACTIVATE unless given).
void fire(Widget w, const char *callback_name, XtPointer call_data = nullptr);
// Sets a toggle's state and fires its valueChanged callbacks as a click would.
void toggle(Widget w, bool set);

// Reading back.
std::string text_of(Widget text_field);
std::string label_of(Widget w);                   // whole labelString, lines joined by "\n"
std::string xmstring_text(XmString s);            // lines joined by "\n"
std::vector<std::string> list_items(Widget list); // item texts, lines joined by "\n"
bool sensitive(Widget w);
bool toggle_set(Widget w);
bool managed(Widget w);

// Live popup shells named name under UxTopLevel, oldest first.
std::vector<Widget> shells(const char *name);
// A shell's title, and a widget's geometry as "WIDTHxHEIGHT+X+Y".
std::string title_of(Widget shell);
std::string geometry(Widget w);
// Pops up a window a create_ function returned and lets it draw.
Widget open(Widget shell);
// Selects item position (from 1) of a list, running its callbacks as a click.
void select(Widget list, int position);
// Position (from 1) of the first list item reading text; 0 when none does.
int position_of(Widget list, const std::string &text);

// Message boxes currently open under UxTopLevel (their dialog shells).
struct MessageBox {
    Widget shell;
    Widget box;
    std::string text;
    std::string title;
    unsigned char type; // XmDIALOG_ERROR, XmDIALOG_WARNING ...
};
std::vector<MessageBox> message_boxes();
// Closes every open message box by clicking its "Close" button.
void close_message_boxes();

// Captures what the process writes to its standard output between start and
// stop (the runner's debug traces go there).
class StdoutCapture {
  public:
    StdoutCapture();
    ~StdoutCapture();
    std::string stop();

  private:
    int saved_ = -1;
    std::string path_;
    bool stopped_ = false;
};

// A scratch directory removed at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Writes a fake command program dir/name (mode 0755): it appends its
// arguments, one per line after a "--" line, to dir/name.args, copies any
// argument that names a readable regular file below dir to
// dir/name.file.N, prints output on standard output and exits with status.
std::string write_fake_program(const std::string &dir, const std::string &name,
                               const std::string &output, int status);
// Reads a whole file ("" when missing).
std::string read_file(const std::string &path);

} // namespace gui

class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    Widget top_ = nullptr;
};
