// Fuzzes build_tree over arbitrary listing text, then dumps the tree, and
// checks the orders the tree promises.
#include "xkp_rows.h"
#include "xkp_state.h"
#include "xkp_tree.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

void check_orders(const tree_node *node, int depth) {
    if (depth > 4096) {
        __builtin_trap();
    }
    for (const time_entry *t = node->timelist; t != nullptr && t->next != nullptr; t = t->next) {
        if (t->time <= t->next->time) {
            __builtin_trap();
        }
    }
    for (const file_node *f = node->files; f != nullptr && f->next != nullptr; f = f->next) {
        if (compare_files(f, f->next->backup_time, f->next->entry) >= 0) {
            __builtin_trap();
        }
    }
    for (const tree_node *c = node->child; c != nullptr; c = c->next) {
        if (c->next != nullptr && strcmp(c->name, c->next->name) >= 0) {
            __builtin_trap();
        }
        if (strlen(c->name) > TREE_COMPONENT_MAX || strchr(c->name, '/') != nullptr) {
            __builtin_trap();
        }
        check_orders(c, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte picks the settings the parse and the dump depend on.
    const uint8_t flags = data[0];
    verbose = flags & 1;
    true_image = (flags >> 1) & 1;
    show_all_dates = (flags >> 2) & 1;
    graphic_mode = (flags & 8) ? 3 : 0;
    recursion_limit = (flags & 16) ? 999 : 2;
    const char *dirs[] = {"", "/", "/home/ann", "/home/ann/.."};
    const char *dir = dirs[(flags >> 5) & 3];

    init_tree();
    if (size > 1) {
        FILE *f = fmemopen(const_cast<uint8_t *>(data + 1), size - 1, "r");
        if (f == nullptr) {
            return 0;
        }
        build_tree(dir, f);
        fclose(f);
    } else {
        build_tree(dir, nullptr);
    }
    if (device_number != -1 && !root_filesys_only_possible) {
        __builtin_trap(); // a known device is only kept while the root agrees on it
    }
    check_orders(rootnode, 0);

    collected_rows().clear();
    T_strlcpy(left_dir, dir, sizeof left_dir);
    T_strlcpy(right_dir, dir, sizeof right_dir);
    dump_all();
    dump_dir("/home/ann");
    for (const auto &r : collected_rows().right) {
        if (r.row.size() >= XKP_TEXT_SIZE) {
            __builtin_trap();
        }
    }
    collected_rows().clear();
    free_all();
    return 0;
}
