// The main window's widget handles and the reading of its search fields
// into the program state.
#include "xkp_handles.h"

#include "UxXt.h"
#include "cmnutils.h"
#include "uimx_helper.h"
#include "xkp_glue.h"
#include "xkp_state.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

Widget pathname = nullptr;
Widget start_date = nullptr, end_date = nullptr;
Widget main_keyword = nullptr, main_keyword_label = nullptr;
Widget recursion = nullptr;
Widget filename_filter = nullptr;
Widget image_list = nullptr, shadow_image_list = nullptr;
Widget left_list = nullptr, shadow_left_list = nullptr;
Widget right_list = nullptr, shadow_right_list = nullptr;
Widget persistent_list = nullptr;
Widget toggle_filesys = nullptr, toggle_database = nullptr, toggle_trueimage = nullptr,
       toggle_archives = nullptr, toggle_raw = nullptr, toggle_auspex = nullptr;
Widget toggle_OBackup = nullptr, toggle_ORestore = nullptr, toggle_IBackup = nullptr,
       toggle_IRestore = nullptr, toggle_BBackup = nullptr, toggle_BRestore = nullptr,
       toggle_SBackup = nullptr, toggle_SRestore = nullptr, toggle_DB2Backup = nullptr,
       toggle_DB2Restore = nullptr, toggle_SAPBackup = nullptr, toggle_SAPRestore = nullptr;
Widget toggle_all_dates = nullptr, toggle_recent_dates = nullptr, toggle_yes_get_real = nullptr,
       toggle_no_get_real = nullptr;
Widget main_screen = nullptr;

namespace {

// Drops trailing '/' characters (a lone "/" becomes "").
void drop_trailing_slashes(char *text) {
    size_t n = strlen(text);
    while (n > 0 && text[n - 1] == '/') {
        text[--n] = '\0';
    }
}

} // namespace

char *update_globals() {
    static char result[XKP_TEXT_SIZE];

    T_strlcpy(current_working_directory, trim(UxrGetText(pathname).c_str()),
              sizeof current_working_directory);
    if (pathzap_latch) {
        char resolved[XKP_TEXT_SIZE];
        T_strlcpy(resolved, get_real(current_working_directory), sizeof resolved);
        struct stat st {};
        if (lstat(resolved, &st) == 0 && S_ISDIR(st.st_mode)) {
            T_strlcpy(resolved, pad_slash(resolved), sizeof resolved);
        }
        T_strlcpy(current_working_directory, resolved, sizeof current_working_directory);
        // Writing the field runs its change callback, which would clear this.
        int saved = root_filesys_only_possible;
        put_text(pathname, current_working_directory);
        root_filesys_only_possible = saved;
        pathzap_latch = really_get_real ? 0 : 1;
    }
    T_strlcpy(result, current_working_directory, sizeof result);

    int depth = 0;
    std::string depth_text = UxrGetText(recursion);
    if (sscanf(depth_text.c_str(), "%d", &depth) != 1 || depth < 1) {
        put_text(recursion, "0");
        recursion_limit = 999;
    } else {
        recursion_limit = depth;
    }

    if (get_selection_count(left_list) > 0) {
        extract_selection_path(result);
    }
    if (get_selection_count(right_list) > 0) {
        char item[XKP_TEXT_SIZE];
        T_strlcpy(item, trim(get_selected_item(right_list, 1)), sizeof item);
        drop_trailing_slashes(result);
        T_strlcat(result, "/", sizeof result);
        T_strlcat(result, item[0] == '/' ? item + 1 : item, sizeof result);
        drop_trailing_slashes(result);
    }
    return result;
}
