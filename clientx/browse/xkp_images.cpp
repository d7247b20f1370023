// The backup-image list and the date range: kpclimagelist into the image
// list and its companion, the default dates of a restore browse, the dates
// of a keyword search and of the chosen images, and the file count that the
// browse limit is checked against.
#include "xkp_images.h"

#include "UxXt.h"
#include "kpconf_api.h"
#include "timefuncs.h"
#include "tmmsg.h"
#include "uimx_helper.h"
#include "unixconf_api.h"
#include "xkp_daterange.h"
#include "xkp_glue.h"
#include "xkp_handles.h"
#include "xkp_loadlist.h"
#include "xkp_restorecmd.h"
#include "xkp_rows.h"
#include "xkp_runner.h"
#include "xkp_state.h"

#include <Xm/List.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::string date_text(int32_t t) {
    return datestringl(t, tmlctime, 0);
}

// The date fields as a range: a start that does not parse gives
// start_default, an end that does not parse the end of today.
void field_range(int32_t start_default, int32_t *start, int32_t *end) {
    std::string s = UxrGetText(start_date);
    std::string e = UxrGetText(end_date);
    const date_range r = read_date_range(s.c_str(), e.c_str(), start_default);
    *start = r.start;
    *end = r.end;
}

// Field 1 (the backup time) of every image in the companion list.
std::vector<int32_t> image_times() {
    std::vector<int32_t> times;
    int count = get_item_count(shadow_image_list);
    times.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int i = 1; i <= count; ++i) {
        times.push_back(image_time(get_item(shadow_image_list, i)));
    }
    return times;
}

XmString plain(const char *text) {
    return XmStringCreate(ux_str(text), ux_str(XmFONTLIST_DEFAULT_TAG));
}

// The pair of lists the image list was last loaded into (a new main window,
// as tests build them, loads its own once).
Widget loaded_images = nullptr;
Widget loaded_shadow = nullptr;

} // namespace

int32_t initial_browse_search_limit() {
    ReadUsersConfigA(&users_config, nullptr, nullptr); // a record already read is kept
    return users_config.INITIAL_BROWSE_SEARCH_LIMIT;
}

void load_image_list(const char *type) {
    std::string keyword;
    if (main_keyword != nullptr) {
        keyword = UxrGetText(main_keyword);
    }
    std::string command =
        imagelist_command(type, main_keyword != nullptr ? keyword.c_str() : nullptr);
    if (debug_enabled) {
        printf("debug loading image list:%s!\n", command.c_str());
        fflush(stdout);
    }
    if (image_list == nullptr || shadow_image_list == nullptr) {
        return;
    }
    put_managed(image_list, false);
    list_delete_all(image_list);
    list_delete_all(shadow_image_list);
    int status = load_list(shadow_image_list, command.c_str(), 0, 1);

    char header[XKP_TEXT_SIZE];
    char rule[XKP_TEXT_SIZE];
    tmgetmsg(Msg{"CerXkp1008N",
                 "Backed Up            Expires     Files        KB  Sched Type   Policy        "
                 "            Keyword"},
             tmlcmsg, sizeof header, header);
    tmgetmsg(Msg{"CerXkp1009N",
                 "-------------------  --------  -------  --------  -----------  ---------------"
                 "---------  ----------"},
             tmlcmsg, sizeof rule, rule);
    std::vector<XmString> rows;
    int count = get_item_count(shadow_image_list);
    rows.reserve(static_cast<size_t>(count) + 2);
    rows.push_back(plain(header));
    rows.push_back(plain(rule));
    for (int i = 1; i <= count; ++i) {
        rows.push_back(plain(format_image_row(get_item(shadow_image_list, i)).c_str()));
    }
    XmListAddItemsUnselected(image_list, rows.data(), static_cast<int>(rows.size()), 0);
    for (XmString s : rows) {
        XmStringFree(s);
    }
    put_managed(image_list, true);
    report_exit_status(status, 0);
}

void attempt_image_load(const char *type) {
    if (image_list == nullptr || shadow_image_list == nullptr) {
        return;
    }
    if (image_list == loaded_images && shadow_image_list == loaded_shadow) {
        return;
    }
    loaded_images = image_list;
    loaded_shadow = shadow_image_list;
    load_image_list(type);
}

int32_t get_oldestfull_date(int type) {
    int32_t r = let_there_be_light;
    int s = 227;
    std::string command = likelydate_command(type);
    FILE *stream = mypopen(command.c_str(), "r");
    if (stream != nullptr) {
        char reply[XKP_TEXT_SIZE + 1] = "";
        read_till_eol(reply, XKP_TEXT_SIZE, stream);
        // Whatever follows the first line is not needed; the program is
        // waited for all the same.
        s = mypclose(stream);
        if (s != 0 && s != 227) {
            report_exit_status(s, 0);
        }
        r = leading_time(reply);
    }
    return choose_start_date(r, s, initial_browse_search_limit(),
                             static_cast<int64_t>(time(nullptr)));
}

void last_full(char *buffer, int type) {
    if (buffer == nullptr) {
        return;
    }
    buffer[0] = '\0';
    int32_t t = get_oldestfull_date(type);
    if (t >= 1) {
        T_strlcpy(buffer, date_text(t).c_str(), XKP_TEXT_SIZE);
    }
}

void wisely_choose_dates(int type) {
    std::string start_text = UxrGetText(start_date);
    std::string end_text = UxrGetText(end_date);
    char full[XKP_TEXT_SIZE];
    last_full(full, type);
    if (!date1_latch) {
        start_text = full;
    }
    if (!date2_latch) {
        end_text = date_text(midnight());
    }
    put_text(start_date, start_text.c_str());
    put_text(end_date, end_text.c_str());
    date1_latch = 0;
    date2_latch = 0;
}

void set_keyword_dates() {
    std::vector<int32_t> times = image_times();
    if (times.empty()) {
        std::string now = date_text(static_cast<int32_t>(time(nullptr)));
        put_text(start_date, now.c_str());
        put_text(end_date, now.c_str());
        return;
    }
    int32_t start = 0;
    int32_t end = 0;
    field_range(0, &start, &end);
    int32_t earliest = midnight();
    int32_t latest = 0;
    for (int32_t t : times) {
        earliest = std::min(earliest, t);
        latest = std::max(latest, t);
    }
    earliest = std::max(earliest, start);
    latest = std::min(latest, end);
    put_text(start_date, date_text(earliest).c_str());
    put_text(end_date, date_text(latest).c_str());
}

int total_image_files(const char *start_text, const char *end_text) {
    const auto [start, end, have_start, have_end] = read_date_range(start_text, end_text, 0);
    // The sum is kept wide and capped: the image list comes from outside.
    long long total = 0;
    int count = get_item_count(shadow_image_list);
    for (int i = 1; i <= count; ++i) {
        const char *line = get_item(shadow_image_list, i);
        int32_t backed_up = image_time(line);
        if (backed_up < start || backed_up > end) {
            continue;
        }
        char files[XKP_FIELD_MAX + 1];
        field_copy(files, line, 3);
        int32_t n = leading_time(files);
        if (n > 0) {
            total = std::min<long long>(total + n, INT32_MAX);
        }
    }
    return static_cast<int>(total);
}

void set_dates_from_images() {
    if (image_list == nullptr || shadow_image_list == nullptr) {
        return;
    }
    int32_t lo = 2000000000;
    int32_t hi = 0;
    bool found = false;
    for (int position : get_selected_positions(image_list)) {
        if (position < 3) {
            continue; // the header and the rule
        }
        int32_t t = image_time(get_item(shadow_image_list, position - 2));
        found = true;
        lo = std::min(lo, t);
        hi = std::max(hi, t);
    }
    put_text(start_date, date_text(found && lo != 0 ? lo : let_there_be_light).c_str());
    put_text(end_date, date_text(hi != 0 ? hi : midnight()).c_str());
}

void clear_backup_images(int flag) {
    if (image_list == nullptr || shadow_image_list == nullptr) {
        return;
    }
    if (!browsing_filesys) {
        put_managed(image_list, false);
    }
    list_delete_all(image_list);
    list_delete_all(shadow_image_list);
    if (flag) {
        for (Widget list : {left_list, right_list}) {
            put_managed(list, false);
        }
        for (Widget list : {left_list, shadow_left_list, right_list, shadow_right_list}) {
            if (list != nullptr) {
                list_delete_all(list);
            }
        }
        right_avoidable_pos = 0;
        for (Widget list : {left_list, right_list}) {
            put_managed(list, true);
        }
    }
    if (!browsing_filesys) {
        put_managed(image_list, true);
    }
}
