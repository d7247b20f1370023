// Widget helpers shared by every xkp window: catalog labels and window
// titles, the busy cursor, widget sensitivity, list item access and
// the four-line compound strings of the hidden lists and the window shell.
#pragma once

#include <X11/Intrinsic.h>
#include <Xm/Xm.h>

#include <string>
#include <utility>
#include <vector>

// The application's top-level widget (from XtAppInitialize); the busy cursor
// flushes pending exposures through it.
extern Widget UxTopLevel;

// The message locale labels are looked up in; the application points it at
// its own locale name (tmlcmsg) before it builds a window. "" until then.
extern const char *ux_message_locale;

// Labels from the message catalog (key looked up in ux_message_locale).
// The widget's current label and mnemonic are the defaults.
void initialize_label(Widget w, const char *key);
// Sets the shell's icon to the program icon and its title, dialog title and
// icon name to the catalog label of key (default_title when there is none).
void re_label_window(Widget shell, const char *key, const char *default_title,
                     const char *default_mnemonic);

// Busy cursor: with busy set, the watch cursor on w's window and pending
// exposures drawn; with busy 0, w's cursor undefined again.
void reshape_cursor(int busy, Widget w);
// How many times the watch cursor was put on a window in this run.
extern int busy_cursor_count;

// Sets each widget sensitive or not, as the pairs say (the menus' rule is
// the application's).
void apply_sensitivity(const std::vector<std::pair<Widget, bool>> &items);

// List items. Texts come back in a static buffer of the routine (at most
// 2047 characters), valid until its next call.
const char *get_item(Widget list, int n);
const char *get_selected_item(Widget list, int n);
// Line `line` (from 1) of item n (from 1); "" outside the list or the item.
const char *get_line_from_item(Widget list, int n, int line);
// Lines 1 to count of the items at positions (all items when positions is
// null), as get_line_from_item gives them, read in one pass per item: line
// L of the k-th item is element k * count + L - 1 (empty for a position
// outside the list). Operations that read many rows use it instead of one
// get_line_from_item per line.
std::vector<std::string> get_item_lines(Widget list, const std::vector<int> *positions, int count);
int get_selection_count(Widget list);
int get_selection_pos(Widget list);
// Every selected position, in list order, from one read of the list's
// selection (each read copies the whole array: read once per operation).
std::vector<int> get_selected_positions(Widget list);
// Makes exactly the rows at positions (1-based, any order, out-of-range
// ones ignored) the selected rows of list, without calling its selection
// callbacks, in time linear in the list's length.
void select_positions(Widget list, const std::vector<int> &positions);
int get_item_count(Widget list);
// The list's own arrays, not copies.
XmStringTable get_all_items(Widget list);
XmStringTable get_all_selected_items(Widget list);
void list_delete_all(Widget list);
// Appends items, unselected, to a list that is never shown, and takes them
// over (the caller does not free them). The items are not measured: their
// widths and heights in the list are those of a blank.
void add_hidden_items(Widget list, std::vector<XmString> &items);
// First line of the widget's labelString, "" when it has none.
const char *get_label_string(Widget w);

// Adds the compound string line1 SEP line2 SEP line3 SEP line4 at position
// (0 = at the end) of list.
void quadruple_add_item(Widget list, int position, const char *line1, const char *line2,
                        const char *line3, const char *line4);
// The same compound string, for callers that add items in batches; the
// caller frees it with XmStringFree.
XmString make_quadruple_item(const char *line1, const char *line2, const char *line3,
                             const char *line4);
// Line `line` (from 1) of a compound string into dst (size bytes); "" when
// the string has fewer lines.
void xmstring_line(XmString s, int line, char *dst, size_t size);
// Lines 1 to count of a compound string, whole, read in one pass ("" for
// the lines it does not have).
std::vector<std::string> xmstring_lines(XmString s, int count);

// A window of the application: a top-level popup shell named name, of the
// given size at x, y, bound to context. Its destruction calls destroy (with
// context as client data) and then frees the context; its title comes from
// the catalog's key, with title as the default.
Widget ux_window_shell(const char *name, int width, int height, int x, int y, void *context,
                       XtCallbackProc destroy, const char *key, const char *title);
