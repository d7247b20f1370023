// The listing loader of the main window's two lists: loads for the file
// system and for backups, the Motif row sink behind add_left_item and
// add_right_item, directory resolution and the divider between the lists.
#include "xkp_glue_list.h"

#include "UxXt.h"
#include "mount.h"
#include "timefuncs.h"
#include "tmmsg.h"
#include "uimx_helper.h"
#include "xkp_backuplist.h"
#include "xkp_daterange.h"
#include "xkp_filesys.h"
#include "xkp_glue.h"
#include "xkp_handles.h"
#include "xkp_rows.h"
#include "xkp_select.h"
#include "xkp_state.h"

#include <Xm/List.h>
#include <Xm/Xm.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

int left_selection_pos = 0;

namespace {

XmString plain(const char *text) {
    return XmStringCreate(ux_str(text), ux_str(XmFONTLIST_DEFAULT_TAG));
}

void free_all(std::vector<XmString> &strings) {
    for (XmString s : strings) {
        XmStringFree(s);
    }
    strings.clear();
}

// What tells one state of a list's items from another without reading
// them: a list that lost or gained items has another count, item table or
// first or last item.
struct list_stamp {
    int count = -1;
    XmStringTable items = nullptr;
    XmString first = nullptr;
    XmString last = nullptr;
    bool operator==(const list_stamp &) const = default;
};

list_stamp stamp_of(Widget list) {
    list_stamp s;
    s.count = get_item_count(list);
    s.items = get_all_items(list);
    if (s.count > 0 && s.items != nullptr) {
        s.first = s.items[0];
        s.last = s.items[s.count - 1];
    }
    return s;
}

// What waits to be handed to the lists, and the index of persistent_list
// that finds a remembered selection for a row in constant time (a walk of
// persistent_list per row would make a large listing quadratic).
struct fill_state {
    std::vector<XmString> left_rows, left_keys;
    std::vector<XmString> rows, shadows;
    std::vector<std::string> shadow_lines; // the four lines of each pending companion
    std::vector<int> select_positions;     // rows of right_list to select
    std::vector<int> persistent_deletions; // items of persistent_list taken over
    std::unordered_map<std::string, std::vector<int>> identities;
    bool index_built = false;
    list_stamp index_stamp; // persistent_list when the index was made
    // Read when a batch starts: nothing else changes the file list or
    // persistent_list while rows are pending.
    int right_count = 0;
    int persistent_count = 0;
    // The filter field's text, read once per fill (no event can change it
    // before the fill's flush).
    bool filter_read = false;
    std::string filter;
};
fill_state fill;

// The lines of shadow_right_list's items as they were added, so that the
// selection commands read a directory's 50,000 companions without taking
// every compound string apart again. It holds the list's item pointers
// too: it answers only while they are exactly the list's items (an item
// changed or removed by any other way than the fill makes it stand aside).
struct companion_mirror {
    std::vector<XmString> items;
    std::vector<std::string> lines; // four per item, as get_item_lines reads them
    bool valid = true;
};
companion_mirror mirror;

// A companion line as get_item_lines reads it back: up to its first NUL,
// at most the length of the line buffer.
std::string as_read_back(const char *text) {
    if (text == nullptr) {
        return std::string();
    }
    return std::string(text, strnlen(text, XKP_EOL_MAX));
}

void queue_shadow(const char *line1, const char *line2, const char *line3, const char *line4) {
    fill.shadows.push_back(make_quadruple_item(line1, line2, line3, line4));
    for (const char *line : {line1, line2, line3, line4}) {
        fill.shadow_lines.push_back(as_read_back(line));
    }
}

// Hands the pending companions to shadow_right_list, keeping the mirror in
// step with it.
void add_shadows() {
    if (fill.shadows.empty() || shadow_right_list == nullptr) {
        free_all(fill.shadows);
        fill.shadow_lines.clear();
        return;
    }
    const int before = get_item_count(shadow_right_list);
    const int n = static_cast<int>(fill.shadows.size());
    add_hidden_items(shadow_right_list, fill.shadows);
    if (before == 0) {
        mirror = companion_mirror{};
    }
    const int after = get_item_count(shadow_right_list);
    XmStringTable table = get_all_items(shadow_right_list);
    if (mirror.valid && static_cast<int>(mirror.items.size()) == before && after == before + n &&
        table != nullptr) {
        mirror.items.insert(mirror.items.end(), table + before, table + after);
        std::move(fill.shadow_lines.begin(), fill.shadow_lines.end(),
                  std::back_inserter(mirror.lines));
    } else {
        mirror = companion_mirror{};
        mirror.valid = false;
    }
    fill.shadow_lines.clear();
}

bool mirror_matches() {
    if (!mirror.valid || shadow_right_list == nullptr) {
        return false;
    }
    const int count = get_item_count(shadow_right_list);
    if (static_cast<size_t>(count) != mirror.items.size()) {
        return false;
    }
    XmStringTable table = count > 0 ? get_all_items(shadow_right_list) : nullptr;
    return count == 0 ||
           (table != nullptr && std::equal(mirror.items.begin(), mirror.items.end(), table));
}

void build_index() {
    fill.identities.clear();
    std::vector<std::string> all = persistent_identities();
    for (size_t i = 0; i < all.size(); ++i) {
        fill.identities[std::move(all[i])].push_back(static_cast<int>(i) + 1);
    }
    fill.index_built = true;
    fill.index_stamp = stamp_of(persistent_list);
}

// The persistent_list item remembering this identity (0 when none); with
// take set it is also marked for removal.
int remembered(const std::string &identity, bool take) {
    if (persistent_list == nullptr) {
        return 0;
    }
    if (!fill.index_built) {
        build_index();
    }
    auto found = fill.identities.find(identity);
    if (found == fill.identities.end() || found->second.empty()) {
        return 0;
    }
    int position = found->second.front();
    if (take) {
        fill.persistent_deletions.push_back(position);
        found->second.erase(found->second.begin());
    }
    return position;
}

void flush_left() {
    if (!fill.left_rows.empty() && left_list != nullptr) {
        XmListAddItemsUnselected(left_list, fill.left_rows.data(),
                                 static_cast<int>(fill.left_rows.size()), 0);
        add_hidden_items(shadow_left_list, fill.left_keys);
    }
    free_all(fill.left_rows);
    free_all(fill.left_keys);
}

void select_pending() {
    if (fill.select_positions.empty() || right_list == nullptr) {
        fill.select_positions.clear();
        return;
    }
    // One set of the selected positions instead of one selection call per
    // row: each single selection costs a pass over the list.
    std::vector<int> all = get_selected_positions(right_list);
    all.insert(all.end(), fill.select_positions.begin(), fill.select_positions.end());
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    select_positions(right_list, all);
    fill.select_positions.clear();
}

// Hands the pending rows to the lists; the selections wait for flush_right,
// so that a long fill sets the selected rows once, not once per batch.
void flush_rows() {
    add_shadows();
    if (!fill.rows.empty() && right_list != nullptr) {
        XmListAddItemsUnselected(right_list, fill.rows.data(), static_cast<int>(fill.rows.size()),
                                 0);
    }
    free_all(fill.rows);
}

void flush_right() {
    flush_rows();
    select_pending();
    if (!fill.persistent_deletions.empty() && persistent_list != nullptr) {
        std::vector<int> &d = fill.persistent_deletions;
        std::sort(d.begin(), d.end());
        d.erase(std::unique(d.begin(), d.end()), d.end());
        XmListDeletePositions(persistent_list, d.data(), static_cast<int>(d.size()));
        fill.index_built = false;
    }
    fill.persistent_deletions.clear();
}

void sink_left(void *, const char *line, const char *key) {
    if (left_list == nullptr) {
        return;
    }
    if (fill.left_rows.size() >= static_cast<size_t>(LIST_BATCH)) {
        flush_left();
    }
    std::string companion = std::string(key) + "!";
    fill.left_rows.push_back(plain(line));
    fill.left_keys.push_back(plain(companion.c_str()));
}

// Rows offered one at a time (the local listing) and rows offered through
// the batch (the backed-up tree) both wait in the batch: nothing reads the
// file list while a load fills it, and the loads flush before they return.
// The position reported is the one the row has once the batch is added.
int sink_right(void *, const char *row, const char *name, const char *date_key, const char *extra,
               int batched) {
    if (right_list == nullptr) {
        return 0;
    }
    if (fill.rows.size() >= static_cast<size_t>(LIST_BATCH)) {
        flush_rows();
    }
    if (fill.rows.empty()) {
        fill.right_count = get_item_count(right_list);
        fill.persistent_count = get_item_count(persistent_list);
        if (fill.index_built && fill.persistent_count > 0 && !selection_index_current()) {
            fill.index_built = false;
        }
    }
    int position = fill.right_count + static_cast<int>(fill.rows.size()) + 1;
    fill.rows.push_back(plain(row));
    queue_shadow("", name, date_key, extra);
    if (persistent_list != nullptr && fill.persistent_count > 0 &&
        !is_blank_separator(row, name, date_key, extra)) {
        std::string identity = pad_slash(right_dir);
        identity += name;
        identity += date_key;
        if (remembered(identity, batched != 0) != 0) {
            fill.select_positions.push_back(position);
        }
    }
    return position;
}

void sink_flush(void *) {
    flush_left();
    flush_right();
    fill.filter_read = false;
}

const char *sink_filter(void *) {
    if (filename_filter == nullptr) {
        return nullptr;
    }
    if (!fill.filter_read) {
        fill.filter = UxrGetText(filename_filter);
        fill.filter_read = true;
    }
    return fill.filter.c_str();
}

const row_sink list_sink = {nullptr, sink_left, sink_right, sink_flush, sink_filter};

// The date window of a local listing from the main window's date fields: a
// start that does not parse is the beginning of time, an end that does not
// parse the end of today.
void listing_dates(int32_t *start, int32_t *end) {
    std::string start_text = UxrGetText(start_date);
    std::string end_text = UxrGetText(end_date);
    const date_range r = read_date_range(start_text.c_str(), end_text.c_str(), let_there_be_light);
    *start = r.start;
    *end = r.end;
}

// The header row of a verbose local listing and the blank row under it.
void filesys_header_rows() {
    if (!verbose) {
        return;
    }
    char header[XKP_TEXT_SIZE];
    tmgetmsg(Msg{"CerXkp1014N",
                 "   Mode         Owner      Group       Size       Modified       Filename"},
             tmlcmsg, sizeof header, header);
    add_right_item(header, " ", " ", " ", 0);
    add_right_item(" ", " ", " ", " ", 0);
}

std::string bare_dir(const char *dir) {
    return trim_slash(dir != nullptr ? dir : "");
}

// The first unescaped "?", "*" or "[" at a position of at least 1 cuts the
// text there and then at its last "/"; when that part has no "/" the scan
// goes on after the wildcard. Returns the cut length (the whole text when
// nothing cuts it).
size_t wildcard_free_length(const std::string &path) {
    for (size_t i = 1; i < path.size(); ++i) {
        char c = path[i];
        if ((c == '?' || c == '*' || c == '[') && path[i - 1] != '\\') {
            size_t slash = path.rfind('/', i - 1);
            if (slash != std::string::npos) {
                return slash;
            }
        }
    }
    return path.size();
}

bool initial_load_done = false;
Widget initial_load_list = nullptr;

void destroyCB_initial_load(Widget w, XtPointer, XtPointer) {
    // A new main window (tests build several in one process) loads anew.
    if (w == initial_load_list) {
        initial_load_done = false;
        initial_load_list = nullptr;
    }
}

} // namespace

void install_list_sink() {
    set_row_sink(&list_sink);
}

void flush_list_sink() {
    sink_flush(nullptr);
}

void forget_selection_index() {
    fill.index_built = false;
}

bool selection_index_current() {
    return fill.index_built && persistent_list != nullptr &&
           fill.index_stamp == stamp_of(persistent_list);
}

void index_appended_selections(bool current, const std::vector<std::string> &identities) {
    int count = get_item_count(persistent_list);
    int first = count - static_cast<int>(identities.size()) + 1;
    if (first == 1) {
        fill.identities.clear();
        current = true;
    }
    if (!current || first < 1) {
        fill.index_built = false;
        return;
    }
    for (size_t k = 0; k < identities.size(); ++k) {
        fill.identities[identities[k]].push_back(first + static_cast<int>(k));
    }
    fill.index_built = true;
    fill.index_stamp = stamp_of(persistent_list);
}

void quadruple_add_list(Widget list, int position, const char *line1, const char *line2,
                        const char *line3, const char *line4) {
    if (list == nullptr) {
        return;
    }
    if (list != shadow_right_list || position != 0) {
        quadruple_add_item(list, position, line1, line2, line3, line4);
        return;
    }
    if (fill.shadows.size() >= static_cast<size_t>(LIST_BATCH)) {
        add_shadows();
    }
    queue_shadow(line1, line2, line3, line4);
}

std::vector<std::string> right_companion_lines(const std::vector<int> &positions) {
    if (!mirror_matches()) {
        return get_item_lines(shadow_right_list, &positions, 4);
    }
    std::vector<std::string> lines(positions.size() * 4);
    const size_t count = mirror.items.size();
    for (size_t k = 0; k < positions.size(); ++k) {
        const int p = positions[k];
        if (p < 1 || static_cast<size_t>(p) > count) {
            continue;
        }
        std::copy_n(mirror.lines.begin() + static_cast<ptrdiff_t>(p - 1) * 4, 4,
                    lines.begin() + static_cast<ptrdiff_t>(k) * 4);
    }
    return lines;
}

void load_both_sides(const char *dir) {
    if (dir == nullptr) {
        return;
    }
    // dir may be current_working_directory or another global we rewrite.
    const std::string root = dir;
    install_list_sink();
    put_managed(left_list, false);
    put_managed(right_list, false);
    preserve_right_selections();
    left_selection_pos = 0;
    dual_list_delete_all(left_list, shadow_left_list);
    dual_list_delete_all(right_list, shadow_right_list);
    right_avoidable_pos = 0;
    T_strlcpy(left_dir, bare_dir(root.c_str()).c_str(), sizeof left_dir);
    T_strlcpy(right_dir, left_dir, sizeof right_dir);
    if (browsing_filesys) {
        filesys_header_rows();
        int32_t start = 0;
        int32_t end = 0;
        listing_dates(&start, &end);
        filesys_tree(bare_dir(root.c_str()).c_str(), start, end);
    } else {
        load_backup_sides(root.c_str());
    }
    flush_list_sink();
    put_managed(left_list, true);
    put_managed(right_list, true);
}

void load_right_side(const char *dir) {
    if (dir == nullptr) {
        return;
    }
    const std::string root = dir;
    install_list_sink();
    put_managed(right_list, false);
    dual_list_delete_all(right_list, shadow_right_list);
    right_avoidable_pos = 0;
    T_strlcpy(right_dir, bare_dir(root.c_str()).c_str(), sizeof right_dir);
    if (browsing_filesys) {
        filesys_header_rows();
        int32_t start = 0;
        int32_t end = 0;
        listing_dates(&start, &end);
        filesys_dir(bare_dir(root.c_str()).c_str(), start, end);
    } else {
        load_backup_right(root.c_str());
    }
    flush_list_sink();
    put_managed(right_list, true);
}

void attempt_initial_load() {
    if (initial_load_done || left_list == nullptr || right_list == nullptr ||
        persistent_list == nullptr || shadow_left_list == nullptr || shadow_right_list == nullptr) {
        return;
    }
    initial_load_done = true;
    initial_load_list = left_list;
    XtAddCallback(left_list, XmNdestroyCallback, destroyCB_initial_load, nullptr);
    load_both_sides(current_working_directory);
}

char *get_real(const char *path) {
    static char result[XKP_TEXT_SIZE];
    const std::string typed = path != nullptr ? path : "";
    T_strlcpy(result, typed.c_str(), sizeof result);
    if (!really_get_real) {
        return result;
    }
    // The wildcard-free directory part is resolved; the rest (the pattern)
    // is put back behind it unchanged.
    size_t cut = wildcard_free_length(typed);
    std::string work = typed.substr(0, cut);
    std::string tail = cut < typed.size() ? "/" + typed.substr(cut + 1) : "";
    // realpath gives what a change into the directory and getcwd would
    // give, without moving the process's working directory. A pattern in
    // the first component leaves no directory to change into ("/u*"): the
    // path comes back as typed.
    struct stat st {};
    char resolved[PATH_MAX];
    if (work.empty() || stat(work.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        realpath(work.c_str(), resolved) == nullptr) {
        return result;
    }
    std::string physical = resolved;
    const char *mapped = actual_loop_back_path(physical.c_str());
    if (mapped != nullptr) {
        physical = mapped;
    }
    if (physical.size() > 1 && physical.back() == '/' && !tail.empty()) {
        physical.pop_back();
    }
    physical += tail;
    T_strlcpy(result, physical.c_str(), sizeof result);
    return result;
}

void slide_left_right(int direction, Widget separator, Widget form) {
    if (separator == nullptr || form == nullptr) {
        return;
    }
    Dimension width = UxrGetProp<Dimension>(form, XmNwidth);
    if (width == 0) {
        return;
    }
    Position x = UxrGetProp<Position>(separator, XmNx);
    float ratio = static_cast<float>(x) / static_cast<float>(width);
    ratio += direction > 0 ? 0.1f : -0.1f;
    ratio = std::clamp(ratio, 0.1f, 0.9f);
    int position = static_cast<int>(ratio * static_cast<float>(width));
    XtVaSetValues(separator, XmNx, static_cast<Position>(position), XmNleftOffset, position,
                  nullptr);
}
