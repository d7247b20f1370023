// The backup-mode branch of the listing loader: kplist for the search
// directory, date range, depth and keyword, its output built into the
// backed-up file tree, and the tree dumped into the two lists.
#include "xkp_backuplist.h"

#include "UxXt.h"
#include "timefuncs.h"
#include "tmmsg.h"
#include "xkp_daterange.h"
#include "xkp_errmsg.h"
#include "xkp_handles.h"
#include "xkp_restorecmd.h"
#include "xkp_rows.h"
#include "xkp_runner.h"
#include "xkp_state.h"
#include "xkp_tree.h"

#include <cstdio>
#include <string>

namespace {

// Status shown when the directory cannot be quoted for the shell.
constexpr int QUOTE_FAILED = 36;

// The column header of a backup listing and the blank separator row.
void header_rows() {
    char header[XKP_TEXT_SIZE];
    if (verbose) {
        tmgetmsg(Msg{"CerXkp1016N",
                     "Backup Date          Mode           Owner     Group     Size     Modified    "
                     "         Filename"},
                 tmlcmsg, sizeof header, header);
    } else {
        tmgetmsg(Msg{"CerXkp1017N", "Backup Date          Filename"}, tmlcmsg, sizeof header,
                 header);
    }
    add_right_item(header, " ", " ", " ", 0);
    add_right_item(" ", " ", " ", " ", 0);
}

} // namespace

void load_backup_sides(const char *dir) {
    const std::string root = dir != nullptr ? dir : "";
    date1_latch = 0;
    date2_latch = 0;
    header_rows();
    init_tree();
    if (!apostrophize(root.c_str())) {
        display_kp_error(QUOTE_FAILED);
        return;
    }
    std::string start_text = UxrGetText(start_date);
    std::string end_text = UxrGetText(end_date);
    const auto [start, end, have_start, have_end] =
        read_date_range(start_text.c_str(), end_text.c_str(), let_there_be_light);
    std::string keyword;
    if (main_keyword != nullptr) {
        keyword = UxrGetText(main_keyword);
    }
    std::string command = kplist_command(root.c_str(), have_start && have_end, start, end,
                                         main_keyword != nullptr ? keyword.c_str() : nullptr);
    if (debug_enabled) {
        printf("debug listing image contents:%s!\n", command.c_str());
        fflush(stdout);
    }
    // A command line longer than the 1536-byte command buffer would name a
    // cut directory: it is not run (the lists keep their header rows).
    if (command.size() >= XKP_TEXT_SIZE) {
        return;
    }
    FILE *stream = mypopen(command.c_str(), "r");
    if (stream == nullptr) {
        return;
    }
    build_tree(trim_slash(root.c_str()), stream);
    int status = mypclose(stream);
    report_exit_status(status, 1);
    // Whatever was read before a failure is shown.
    dump_all();
}

void load_backup_right(const char *dir) {
    const std::string path = dir != nullptr ? dir : "";
    header_rows();
    dump_dir(trim_slash(path.c_str()));
}
