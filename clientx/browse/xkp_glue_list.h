// The Motif side of the two lists' row seam (xkp_rows.h): rows from the
// file trees go to left_list and right_list with their hidden companions in
// batches, and remembered selections come back selected.
#pragma once

#include <X11/Intrinsic.h>

#include <string>
#include <vector>

// Installs the row sink that fills the main window's lists (load_both_sides
// and load_right_side do this themselves; tests that drive the trees
// directly call it).
void install_list_sink();
// Adds every pending directory line, file row and companion item to the
// lists, selects the rows that match remembered selections and drops the
// remembered entries that batched rows took over.
void flush_list_sink();
// Forgets the index of persistent_list the sink keeps for selection restore;
// whoever changes persistent_list outside a load calls it. (An index that
// no longer matches the list's items is also noticed and built again.)
void forget_selection_index();
// Whether that index matches persistent_list as it is now.
bool selection_index_current();
// persistent_list has just gained items with these identities at its end.
// When the index matched the list before (current) or the list held nothing
// else, the index takes them in instead of being built again from the list.
void index_appended_selections(bool current, const std::vector<std::string> &identities);

// quadruple_add_item through the file-list companion batch when list is
// shadow_right_list and position is 0 (at once otherwise).
void quadruple_add_list(Widget list, int position, const char *line1, const char *line2,
                        const char *line3, const char *line4);

// Lines 1 to 4 of shadow_right_list's items at positions (four per
// position, empty for a position outside the list), as get_item_lines
// reads them; what the fill added is answered without reading the items.
std::vector<std::string> right_companion_lines(const std::vector<int> &positions);

// At most this many rows wait before they are handed to Motif in one call.
constexpr int LIST_BATCH = 2000;
