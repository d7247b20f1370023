// The selection model: the user's file-list selections of every directory
// kept in persistent_list, four-line items (display text, full path, date
// key, extra). A selection's identity is its full path followed by its date
// key; a file-list row has the identity right_dir + "/" + name + date key.
#pragma once

#include <X11/Intrinsic.h>

#include <string>
#include <vector>

// Removes from persistent_list every item with the identity of file-list
// row position.
void kill_persistent_selection(int position);
// Deletes all items of each list that exists.
void dual_list_delete_all(Widget visible, Widget companion);
// The identity of file-list row position (right_dir, companion lines 2, 3).
std::string row_identity(int position);
// The identity of persistent_list item position (its lines 2 and 3).
std::string persistent_identity(int position);
// The identities of all persistent_list items, in list order, from one
// look at the list.
std::vector<std::string> persistent_identities();
