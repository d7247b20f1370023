// The row seam between the file trees and the lists of the main window.
#include "xkp_rows.h"

#include "kppathmatch.h"

#include <cstring>

int right_avoidable_pos = 0;

namespace {

row_collector collector;

void collect_left(void *, const char *line, const char *key) {
    collector.left.push_back({line, key});
}

int collect_right(void *, const char *row, const char *name, const char *date_key,
                  const char *extra, int batched) {
    collector.right.push_back({row, name, date_key, extra, batched != 0});
    if (batched) {
        ++collector.pending;
    }
    return static_cast<int>(collector.right.size());
}

void collect_flush(void *) {
    collector.pending = 0;
    ++collector.flushes;
}

const char *collect_filter(void *) {
    return collector.has_filter ? collector.filter.c_str() : nullptr;
}

constexpr row_sink default_sink = {nullptr, collect_left, collect_right, collect_flush,
                                   collect_filter};

row_sink sink = default_sink;

// The filter pattern and its split form, rebuilt only when the text changes
// (it changes when the user edits the field, not from row to row).
struct filter_cache {
    std::string pattern;
    kp_pathelem elements;
    bool built = false;
};

const filter_cache &current_filter() {
    static filter_cache cache;
    const char *text = sink.filter != nullptr ? sink.filter(sink.ctx) : nullptr;
    size_t len = text != nullptr ? strlen(text) : 0;
    while (len > 0 && (text[len - 1] == ' ' || text[len - 1] == '\t')) {
        --len;
    }
    if (len == 0) {
        text = "*";
        len = 1;
    }
    if (!cache.built || cache.pattern.compare(0, std::string::npos, text, len) != 0) {
        cache.pattern.assign(text, len);
        kpbuildpe(cache.pattern.c_str(), &cache.elements, '/');
        cache.built = true;
    }
    return cache;
}

bool filter_rejects(const char *name, int filter) {
    if (!filter || name == nullptr || *name == '\0') {
        return false;
    }
    const filter_cache &f = current_filter();
    return kppathmatch(name, nullptr, f.pattern.c_str(), &f.elements, '/', KP_MATCH_DOMATCH,
                       KP_ANY_DEPTH) != 1;
}

int offer_right(const char *row, const char *name, const char *date_key, const char *extra,
                int filter, int batched) {
    if (filter_rejects(name, filter)) {
        return 0;
    }
    int pos =
        sink.right(sink.ctx, row != nullptr ? row : "", name != nullptr ? name : "",
                   date_key != nullptr ? date_key : "", extra != nullptr ? extra : "", batched);
    if (is_blank_separator(row, name, date_key, extra)) {
        right_avoidable_pos = pos;
    }
    return 1;
}

} // namespace

void row_collector::clear() {
    left.clear();
    right.clear();
    pending = 0;
    flushes = 0;
}

row_collector &collected_rows() {
    return collector;
}

void set_row_sink(const row_sink *s) {
    sink = s != nullptr ? *s : default_sink;
}

bool is_blank_separator(const char *row, const char *name, const char *date_key,
                        const char *extra) {
    auto blank = [](const char *s) { return s != nullptr && s[0] == ' ' && s[1] == '\0'; };
    return blank(row) && blank(name) && blank(date_key) && blank(extra);
}

void add_left_item(const char *line, const char *key) {
    sink.left(sink.ctx, line != nullptr ? line : "", key != nullptr ? key : "");
}

int add_right_item(const char *row, const char *name, const char *date_key, const char *extra,
                   int filter) {
    return offer_right(row, name, date_key, extra, filter, 0);
}

int add_right_list(const char *row, const char *name, const char *date_key, const char *extra,
                   int filter) {
    return offer_right(row, name, date_key, extra, filter, 1);
}

void flush_right_list() {
    sink.flush(sink.ctx);
}
