// Rows of the main window's two lists, without X.
//
// The file trees (the backed-up tree and the local listing) produce the lines
// of the directory list (left) and the rows of the file list (right) through
// add_left_item, add_right_item and add_right_list. Those functions live here,
// in the display-free core, and hand every row to a process-wide row sink:
//
//   - The GUI installs a sink (set_row_sink) whose callbacks append to the Motif
//     lists and their hidden companions: `left` appends the line to left_list
//     and key + "!" to shadow_left_list; `right` appends the row to right_list
//     and the four-line item ("", name, date key, extra) to shadow_right_list,
//     either at once (batched == 0) or into the pending batch of 2000
//     (batched == 1), and restores a remembered selection; `flush` adds the
//     pending batch (companions first, then the rows unselected, then the
//     selections); `filter` returns the text of the filename-filter field.
//   - Without an installed sink the default one collects the rows into the
//     vectors of collected_rows(), which is what the unit tests read.
//
// Row texts are passed as const char * valid only during the call: a sink
// copies what it keeps (an XmString, a std::string), nothing else is
// allocated per row on this side.
//
// The filename filter is applied here, before the sink sees a row: a row
// offered with filter set and a non-empty name reaches the sink only when
// kppathmatch matches the name against the trimmed filter text ("*" when the
// text is empty or there is no filter field), with "/" as separator, mode 0
// and any depth. The position of the blank separator row is recorded here in
// right_avoidable_pos, from the position the sink reports for it.
#pragma once

#include <string>
#include <vector>

// The process-wide row sink. Every callback gets ctx as its first argument.
struct row_sink {
    void *ctx;
    // Appends a line to the directory list; key is the line's indentation
    // key (the companion item is key + "!").
    void (*left)(void *ctx, const char *line, const char *key);
    // Appends one file-list row that passed the filename filter. batched: 0
    // for add_right_item (the row is in the list when this returns), 1 for
    // add_right_list (the row may wait in a pending batch until `flush`).
    // Returns the 1-based position the row has, or will have once the
    // pending batch is added, in the file list.
    int (*right)(void *ctx, const char *row, const char *name, const char *date_key,
                 const char *extra, int batched);
    // Adds every pending batched row to the list.
    void (*flush)(void *ctx);
    // The filename-filter text as typed (null when there is no filter field).
    const char *(*filter)(void *ctx);
};

// Installs sink (copied); null puts the default collecting sink back.
void set_row_sink(const row_sink *sink);

// Appends line to the directory list with its indentation key.
void add_left_item(const char *line, const char *key);

// Appends one row to the file list at once. Returns 1 when it was added, 0
// when the filename filter rejected it.
int add_right_item(const char *row, const char *name, const char *date_key, const char *extra,
                   int filter);

// The same through the pending batch of the file list; call
// flush_right_list() after the last row.
int add_right_list(const char *row, const char *name, const char *date_key, const char *extra,
                   int filter);

// Adds the pending batch to the file list.
void flush_right_list();

// Position (1-based) of the blank separator row in the file list, 0 when
// there is none. The loader resets it to 0 whenever it empties the file list.
extern int right_avoidable_pos;

// True when row, name, date key and extra are the four blanks of the blank
// separator row.
bool is_blank_separator(const char *row, const char *name, const char *date_key, const char *extra);

// The default sink's store.
struct collected_left_row {
    std::string line;
    std::string key;
};
struct collected_right_row {
    std::string row;
    std::string name;
    std::string date_key;
    std::string extra;
    bool batched;
};
struct row_collector {
    std::vector<collected_left_row> left;
    std::vector<collected_right_row> right;
    size_t pending = 0; // batched rows not yet flushed
    int flushes = 0;    // calls of flush
    bool has_filter = false;
    std::string filter; // the filter field's text when has_filter
    void clear();       // empties the rows and the counters; keeps the filter
};
row_collector &collected_rows();
