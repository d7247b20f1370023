// xkp: the graphical client of the Sorvane backup system.
#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_icon.h"
#include "xkp_main.h"
#include "xkp_root.h"
#include "xkp_startup.h"
#include "xkp_state.h"

#include <Xm/Xm.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Puts the product's app-defaults directory first in the toolkit's search
// path for resource files, keeping whatever path was in force after it, so
// the resources of the class are found for an installed product and for runs
// from any product root (XKP_ROOT).
void add_app_defaults_path() {
    const char *current = getenv("XFILESEARCHPATH");
    std::string path = product_path("app-defaults") + "/%N%S:";
    path += current != nullptr && *current != '\0'
                ? current
                : "/etc/X11/%L/%T/%N%C%S:/etc/X11/%T/%N%C%S:/etc/X11/%T/%N%S:"
                  "/usr/share/X11/%L/%T/%N%C%S:/usr/share/X11/%T/%N%C%S:/usr/share/X11/%T/%N%S";
    setenv("XFILESEARCHPATH", path.c_str(), 1);
}

} // namespace

int main(int argc, char **argv) {
    resourcify_argv(argc, argv);
    add_app_defaults_path();
    XtAppContext app = nullptr;
    // Without a display the toolkit ends the process with its own message.
    Widget top = XtAppInitialize(&app, "XSV", nullptr, 0, &argc, argv, nullptr, nullptr, 0);
    UxTopLevel = top;
    ux_message_locale = tmlcmsg;
    Display *display = XtDisplay(top);
    XrmDatabase resources = XtDatabase(display);
    apply_font_option(&resources);
    Screen *screen = XtScreen(top);
    create_icon_pixmap(display, RootWindowOfScreen(screen));
    // The top-level never shows; realizing it gives the dialogs a window
    // to be transient for.
    XtVaSetValues(top, XmNmappedWhenManaged, False, XmNwidth, 1, XmNheight, 1, nullptr);
    XtRealizeWidget(top);

    parse_own_options(argc, argv);
    read_debug_setting();
    initialize_glue();

    // From here on, what the program and the commands it starts write to
    // standard error is discarded.
    stderr_fd = freopen("/dev/null", "w", stderr);

    Widget main_window = create_xkp_main();
    popup_interface(main_window, XtGrabNone);
    XtAppMainLoop(app);
    return 0;
}
