// The road a user waits for on a large backup, in the real main window
// driven by its callbacks: the product root in XKP_ROOT holds a real server
// with the backup of TREE, and its sorvane/bin the real kplist. Timed, each
// from the call to the window drawn (events drained):
//   restore_depthD  "Browse backups (restore)" from file-system mode to both
//                   lists filled, with D in the depth field (D = 2, 999);
//   dir_change      a click on BIG in the directory list: its file list;
//   select_all_change_and_back
//                   "Select all in current directory", a click on the
//                   listed root and a click back on BIG;
//   restore_request "Restore selected files..." to the start dialog.
// Each line: "NAME WALL_S CPU_S ROWS", CPU being this process's and its
// children's (kplist) user+sys time; bench/whole_road.sh prints the ratios
// against its anchors. Figures, never assertions.
//
//   xvfb-run -a road_bench TREE BIG
#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_glue.h"
#include "xkp_main.h"
#include "xkp_menus.h"
#include "xkp_restore.h"
#include "xkp_state.h"

#include <Xm/List.h>
#include <Xm/Text.h>
#include <Xm/Xm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace {

XtAppContext app = nullptr;
Widget main_shell = nullptr;

void drain() {
    for (int round = 0; round < 2; ++round) {
        XSync(XtDisplay(main_shell), False);
        while (XtAppPending(app) != 0) {
            XtAppProcessEvent(app, XtIMAll);
        }
    }
}

double cpu_seconds() {
    double s = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        s += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
             static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return s;
}

// Times step() to the window drawn and prints the figure line.
template <class F> void timed(const std::string &name, F step) {
    drain();
    auto t0 = std::chrono::steady_clock::now();
    double c0 = cpu_seconds();
    step();
    drain();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    printf("%s %.4f %.4f %d\n", name.c_str(), wall, cpu_seconds() - c0, get_item_count(right_list));
    fflush(stdout);
}

// The directory-list position of the line naming dir (indented or full
// path), 0 when none.
int left_position(const std::string &dir) {
    int n = get_item_count(left_list);
    for (int i = 1; i <= n; ++i) {
        std::string line = get_item(left_list, i);
        size_t blanks = line.find_first_not_of(' ');
        if (blanks != std::string::npos &&
            (line.substr(blanks) == dir || line.ends_with("/" + dir))) {
            return i;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3 || getenv("XKP_ROOT") == nullptr) {
        fprintf(stderr, "usage: XKP_ROOT=ROOT road_bench TREE BIG\n");
        return 2;
    }
    std::string tree = argv[1], big = argv[2];
    if (!tree.ends_with("/")) {
        tree += "/";
    }
    int xargc = 1;
    char *xargv[] = {argv[0], nullptr};
    Widget top = XtAppInitialize(&app, "XSV", nullptr, 0, &xargc, xargv, nullptr, nullptr, 0);
    if (top == nullptr) {
        return 1;
    }
    UxTopLevel = top;
    ux_message_locale = tmlcmsg;
    XtVaSetValues(top, XmNmappedWhenManaged, False, XmNwidth, 1, XmNheight, 1, nullptr);
    XtRealizeWidget(top);
    T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
    T_strlcpy(tmlctime, "C", sizeof tmlctime);
    T_strlcpy(current_working_directory, tree.c_str(), sizeof current_working_directory);
    main_shell = create_xkp_main();
    popup_interface(main_shell, XtGrabNone);
    drain();
    // A million files is far above the default limit that makes a restore
    // browse wait for "Update Display".
    browse_limit = 100000000;
    for (const char *depth : {"2", "999"}) {
        enter_filesys_mode(0);
        put_text(recursion, depth);
        put_text(pathname, tree.c_str());
        timed(std::string("restore_depth") + depth, [] { enter_restore_mode(RESTORE_BACKUPS); });
        printf("directories %d\n", get_item_count(left_list));
    }
    int at = left_position(big);
    if (at == 0) {
        fprintf(stderr, "road_bench: %s is not in the directory list\n", big.c_str());
        return 1;
    }
    timed("dir_change", [at] { XmListSelectPos(left_list, at, True); });
    Widget select_all = XtNameToWidget(main_shell, "*menu1_p2_b2");
    timed("select_all_change_and_back", [at, select_all] {
        XtCallCallbacks(select_all, XmNactivateCallback, nullptr);
        XmListSelectPos(left_list, 1, True);
        XmListSelectPos(left_list, at, True);
    });
    printf("selected %d\n", get_selection_count(right_list));
    timed("restore_request", [] { request_restore_selected(); });
    Widget confirm = XtNameToWidget(top, "*xkp_confirm");
    printf("start_dialog %s\n", confirm != nullptr ? "open" : "missing");
    if (confirm != nullptr) {
        Widget cancel = XtNameToWidget(confirm, "*pushButton7");
        XtCallCallbacks(cancel, XmNactivateCallback, nullptr);
        drain();
    }
    return 0;
}
