// The selection model: file-list selections remembered in persistent_list
// across directory changes, the rules on which rows may be selected, the
// Edit menu's selection commands and the path of a directory-list line.
#include "xkp_select.h"

#include "timefuncs.h"
#include "uimx_helper.h"
#include "xkp_glue.h"
#include "xkp_glue_list.h"
#include "xkp_handles.h"
#include "xkp_rows.h"
#include "xkp_state.h"

#include <Xm/List.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

bool lists_exist() {
    return persistent_list != nullptr && right_list != nullptr && left_list != nullptr;
}

// Header rows (the heading and the blank row under it) lead the file list
// of every backup listing and of a verbose local listing.
bool header_rows_exist() {
    return !browsing_filesys || verbose;
}

bool unselectable(int position) {
    return position == right_avoidable_pos || (header_rows_exist() && position <= 2);
}

std::string companion_line(int position, int line) {
    return get_line_from_item(shadow_right_list, position, line);
}

bool is_directory_name(const std::string &name) {
    return !name.empty() && name.back() == '/';
}

// A text as get_line_from_item would read it back from a list item.
std::string cut_to_line(const std::string &text) {
    return text.substr(0, std::min(strnlen(text.c_str(), text.size()), size_t{XKP_EOL_MAX}));
}

// Companion lines 2 to 4 (name, date key, extra) of the file-list rows at
// positions, read from one look at the companion list.
struct companion_rows {
    std::vector<std::string> lines;
    explicit companion_rows(const std::vector<int> &positions)
        : lines(right_companion_lines(positions)) {}
    const std::string &name(size_t k) const { return lines[k * 4 + 1]; }
    const std::string &key(size_t k) const { return lines[k * 4 + 2]; }
    const std::string &extra(size_t k) const { return lines[k * 4 + 3]; }
};

// Deletes, in one call, every persistent_list item whose identity is in
// the set.
void delete_identities(const std::unordered_set<std::string> &identities) {
    if (identities.empty() || persistent_list == nullptr) {
        return;
    }
    std::vector<int> doomed;
    const std::vector<std::string> all = persistent_identities();
    for (size_t i = 0; i < all.size(); ++i) {
        if (identities.count(all[i]) != 0) {
            doomed.push_back(static_cast<int>(i) + 1);
        }
    }
    if (!doomed.empty()) {
        XmListDeletePositions(persistent_list, doomed.data(), static_cast<int>(doomed.size()));
        forget_selection_index();
    }
}

} // namespace

std::string row_identity(int position) {
    std::string identity = pad_slash(right_dir);
    identity += companion_line(position, 2);
    identity += companion_line(position, 3);
    return identity;
}

std::string persistent_identity(int position) {
    std::string identity = get_line_from_item(persistent_list, position, 2);
    identity += get_line_from_item(persistent_list, position, 3);
    return identity;
}

std::vector<std::string> persistent_identities() {
    std::vector<std::string> lines = get_item_lines(persistent_list, nullptr, 3);
    std::vector<std::string> out(lines.size() / 3);
    for (size_t k = 0; k < out.size(); ++k) {
        out[k] = std::move(lines[3 * k + 1]);
        out[k] += lines[3 * k + 2];
    }
    return out;
}

void dual_list_delete_all(Widget visible, Widget companion) {
    if (visible != nullptr) {
        list_delete_all(visible);
    }
    if (companion != nullptr) {
        list_delete_all(companion);
    }
}

void kill_persistent_selection(int position) {
    if (persistent_list == nullptr || shadow_right_list == nullptr) {
        return;
    }
    delete_identities({row_identity(position)});
}

void preserve_right_selections() {
    if (!lists_exist()) {
        return;
    }
    std::vector<int> rows = get_selected_positions(right_list);
    if (rows.empty()) {
        return;
    }
    const std::string dir = pad_slash(right_dir);
    struct entry {
        std::string display, path, key, extra;
    };
    std::vector<entry> entries;
    std::unordered_set<std::string> identities;
    const companion_rows companions(rows);
    // The rows of a directory come from a few backups: each date text is
    // made once.
    std::unordered_map<std::string, std::string> dates;
    for (size_t k = 0; k < rows.size(); ++k) {
        entry e;
        e.key = companions.key(k);
        e.extra = companions.extra(k);
        e.path = dir + companions.name(k);
        e.display = e.path;
        if (!browsing_filesys) {
            auto [date, made] = dates.try_emplace(e.key);
            if (made) {
                date->second = datestringl(static_cast<int32_t>(strtol(e.key.c_str(), nullptr, 10)),
                                           tmlctime, 0);
            }
            e.display += ' ';
            e.display += date->second;
        }
        if (!identities.insert(e.path + e.key).second) {
            continue; // the same row cannot be remembered twice
        }
        entries.push_back(std::move(e));
    }
    // Old copies go first, then the selections are appended in row order,
    // all in two list calls however many rows are selected.
    delete_identities(identities);
    const bool index_current = selection_index_current();
    std::vector<XmString> items;
    items.reserve(entries.size());
    for (const entry &e : entries) {
        items.push_back(
            make_quadruple_item(e.display.c_str(), e.path.c_str(), e.key.c_str(), e.extra.c_str()));
    }
    add_hidden_items(persistent_list, items);
    // The identities as they read back from the list's lines (each cut to
    // the line buffer), so that the selection index needs no reading.
    std::vector<std::string> added;
    added.reserve(entries.size());
    for (const entry &e : entries) {
        added.push_back(cut_to_line(e.path) + cut_to_line(e.key));
    }
    index_appended_selections(index_current, added);
}

void unpreserve_right_selections() {
    if (!lists_exist() || shadow_right_list == nullptr) {
        return;
    }
    // Nothing can be removed from an empty persistent_list (the usual case
    // after the rows came back selected from it).
    if (get_item_count(persistent_list) == 0) {
        return;
    }
    std::unordered_set<std::string> identities;
    const std::vector<int> rows = get_selected_positions(right_list);
    const companion_rows companions(rows);
    const std::string dir = pad_slash(right_dir);
    for (size_t k = 0; k < rows.size(); ++k) {
        identities.insert(dir + companions.name(k) + companions.key(k));
    }
    delete_identities(identities);
}

void validate_right_selection(int position, int selected_count, int *selected) {
    if (position < 1 || right_list == nullptr) {
        return;
    }
    if (unselectable(position)) {
        XmListDeselectPos(right_list, position);
        return;
    }
    bool now_selected = false;
    for (int i = 0; selected != nullptr && i < selected_count; ++i) {
        if (selected[i] == position) {
            now_selected = true;
            break;
        }
    }
    if (!now_selected) {
        kill_persistent_selection(position);
        return;
    }
    // At most one version of a file: a neighbouring row of the same name
    // that is already selected wins. Directories may be selected at several
    // dates, except in true-image mode.
    const std::string name = companion_line(position, 2);
    if (is_directory_name(name) && !true_image) {
        return;
    }
    int count = get_item_count(right_list);
    bool conflict = false;
    for (int p = position - 1; p >= 1 && !conflict; --p) {
        if (companion_line(p, 2) != name) {
            break;
        }
        conflict = XmListPosSelected(right_list, p);
    }
    for (int p = position + 1; p <= count && !conflict; ++p) {
        if (companion_line(p, 2) != name) {
            break;
        }
        conflict = XmListPosSelected(right_list, p);
    }
    if (conflict) {
        XmListDeselectPos(right_list, position);
        kill_persistent_selection(position);
    }
}

void select_all_filenames() {
    if (right_list == nullptr || shadow_right_list == nullptr) {
        return;
    }
    unpreserve_right_selections();
    XmListDeselectAllItems(right_list);
    int count = get_item_count(right_list);
    std::vector<int> all(static_cast<size_t>(std::max(count, 0)));
    std::iota(all.begin(), all.end(), 1);
    const companion_rows companions(all);
    std::vector<int> chosen;
    std::string above;
    for (int p = 1; p <= count; ++p) {
        const std::string &name = companions.name(static_cast<size_t>(p) - 1);
        bool skip =
            unselectable(p) || (p > 1 && !true_image && !is_directory_name(name) && name == above);
        above = name;
        if (!skip) {
            chosen.push_back(p);
        }
    }
    // One set of the positions: selecting row by row costs a pass over the
    // list per row, and the selection callback is not called either way.
    select_positions(right_list, chosen);
}

void extract_selection_path(char *out) {
    if (out == nullptr) {
        return;
    }
    T_strlcpy(out, current_working_directory, XKP_TEXT_SIZE);
    left_selection_pos = left_list != nullptr ? get_selection_pos(left_list) : 0;
    if (left_selection_pos <= 0) {
        left_selection_pos = 0;
        return;
    }
    std::string path;
    size_t limit = 999;
    for (int p = left_selection_pos; p > 0 && limit > 0; --p) {
        std::string key = get_item(shadow_left_list, p);
        size_t bang = key.find('!');
        if (bang != std::string::npos) {
            key.resize(bang);
        }
        if (key.size() >= limit) {
            continue;
        }
        std::string line = get_item(left_list, p);
        std::string name = line.size() > key.size() ? line.substr(key.size()) : std::string();
        if (name.empty() || name.back() != '/') {
            name += '/';
        }
        path = name + path;
        limit = static_cast<size_t>(leading_blanks(key.c_str()));
    }
    T_strlcpy(out, path.c_str(), XKP_TEXT_SIZE);
}
