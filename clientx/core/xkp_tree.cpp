// The backed-up file tree: kplist output in, directory and file rows out.
#include "xkp_tree.h"

#include "timefuncs.h"
#include "xkp_kplist_line.h"
#include "xkp_rows.h"
#include "xkp_state.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <string>
#include <vector>

tree_node *rootnode = nullptr;
char previous_path[XKP_TEXT_SIZE];
tree_node *previous_node = nullptr;
file_node *final_filenode = nullptr;
int minimum_depth = 1;

namespace {

// ---------------------------------------------------------------------------
// Storage: every node and text of the tree comes from one bump arena that is
// released as a whole. Blocks grow geometrically up to 4 MB and come
// straight from mmap: large ones are 2 MB aligned and offered to the kernel
// as huge pages, which spares most page faults when a million nodes are
// written. Running out of memory throws std::bad_alloc, as new would.
struct block_unmapper {
    size_t size;
    void operator()(char *p) const { munmap(p, size); }
};
using arena_block = std::unique_ptr<char, block_unmapper>;

constexpr size_t HUGE_PAGE = 2u << 20;

arena_block map_block(size_t size) {
    if (size < HUGE_PAGE) {
        void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            throw std::bad_alloc();
        }
        return arena_block(static_cast<char *>(p), block_unmapper{size});
    }
    // Map one huge page more and trim to an aligned run.
    size_t span = size + HUGE_PAGE;
    void *raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        throw std::bad_alloc();
    }
    uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    uintptr_t aligned = (start + HUGE_PAGE - 1) & ~(uintptr_t{HUGE_PAGE} - 1);
    size_t head = aligned - start;
    if (head > 0) {
        munmap(raw, head);
    }
    size_t tail = span - head - size;
    if (tail > 0) {
        munmap(reinterpret_cast<char *>(aligned) + size, tail);
    }
    madvise(reinterpret_cast<void *>(aligned), size, MADV_HUGEPAGE);
    return arena_block(reinterpret_cast<char *>(aligned), block_unmapper{size});
}

class tree_arena {
  public:
    void *alloc(size_t size, size_t align) {
        size_t at = (used_ + align - 1) & ~(align - 1);
        if (blocks_.empty() || at + size > cap_) {
            size_t want = std::max(size + align, next_block_);
            want = (want + 4095) & ~size_t{4095};
            blocks_.push_back(map_block(want));
            total_ += want;
            cap_ = want;
            next_block_ = std::min<size_t>(next_block_ * 2, 4u << 20);
            at = 0;
        }
        used_ = at + size;
        return blocks_.back().get() + at;
    }
    template <typename T> T *make() {
        T *p = static_cast<T *>(alloc(sizeof(T), alignof(T)));
        *p = T{};
        return p;
    }
    const char *copy(const char *text, size_t len) {
        char *p = static_cast<char *>(alloc(len + 1, 1));
        memcpy(p, text, len);
        p[len] = '\0';
        return p;
    }
    const char *copy(const char *text) { return copy(text, strlen(text)); }
    void clear() {
        blocks_.clear();
        used_ = cap_ = total_ = 0;
        next_block_ = 64 << 10;
    }
    size_t bytes() const { return total_; }

  private:
    std::vector<arena_block> blocks_;
    size_t used_ = 0;
    size_t cap_ = 0;
    size_t total_ = 0;
    size_t next_block_ = 64 << 10;
};

// The tree's owner: the arena that holds every node and text, and the
// bookkeeping of one build and one dump that is not part of the interface.
struct backup_tree {
    tree_arena arena;
    // Length of previous_path, so that the cache test is one memcmp.
    size_t previous_len = 0;
    // The directory whose rows go to the file list: right_dir without its
    // trailing slash, taken once per walk.
    std::string dump_right_path;
};
backup_tree tree;

// Writes "%4d " (the stated length of a base name) at out; returns the end.
char *put_entry_head(char *out, int len) {
    char digits[12];
    size_t n = static_cast<size_t>(put_int(digits, len) - digits);
    for (size_t i = n; i < 4; ++i) {
        *out++ = ' ';
    }
    memcpy(out, digits, n);
    out += n;
    *out++ = ' ';
    return out;
}

// The texts of the listing line being processed. Every node the line makes
// shares one arena copy of them, made on first use.
//
// The entry text is either given whole (entry) or, for a brief listing
// line, made on first use from its base name: "%4d " and the name. Either
// way `tail` is what follows its first five characters, the text names are
// compared on.
struct line_texts {
    const char *entry = nullptr;   // the whole entry text, or null
    const char *tail = nullptr;    // null when the line has no entry text
    int name_len = 0;              // the length stated in the entry text
    const char *numbers = nullptr; // may be null; numbers_len bytes, no NUL needed
    size_t numbers_len = 0;
    const char *entry_copy = nullptr;
    const char *numbers_copy = nullptr;
    char head[16] = ""; // "%4d " of name_len, made on first use

    // A whole entry text (null for none) and a NUL-terminated numbers text
    // (null for none).
    static line_texts whole(const char *entry, const char *numbers) {
        line_texts t;
        t.entry = entry;
        if (entry != nullptr && strlen(entry) >= 5) {
            t.tail = entry + 5;
            t.name_len = entry_name_length(entry);
        }
        t.numbers = numbers;
        t.numbers_len = numbers != nullptr ? strlen(numbers) : 0;
        return t;
    }

    // The entry text in the arena with `extra` bytes more after its NUL;
    // returns its start, and in *after where the extra bytes go. As a copy
    // of the whole text would be: up to its (or the name's) first NUL.
    char *entry_in_arena(size_t extra, size_t *after) {
        char h[16];
        size_t hn = entry == nullptr ? static_cast<size_t>(put_entry_head(h, name_len) - h) : 0;
        const char *body = entry != nullptr ? entry : tail;
        size_t n = strlen(body);
        char *p = static_cast<char *>(tree.arena.alloc(hn + n + 1 + extra, 1));
        memcpy(p, h, hn);
        memcpy(p + hn, body, n);
        p[hn + n] = '\0';
        *after = hn + n + 1;
        return p;
    }
    const char *own_entry() {
        if (entry_copy == nullptr && (entry != nullptr || tail != nullptr)) {
            size_t after;
            entry_copy = entry_in_arena(0, &after);
        }
        return entry_copy;
    }
    const char *own_numbers() {
        if (numbers == nullptr) {
            return nullptr;
        }
        if (numbers_copy == nullptr) {
            numbers_copy = tree.arena.copy(numbers, numbers_len);
        }
        return numbers_copy;
    }
    // Is text equal to this line's entry text?
    bool same_entry(const char *text) {
        if (entry != nullptr) {
            return strcmp(text, entry) == 0;
        }
        if (head[0] == '\0') {
            *put_entry_head(head, name_len) = '\0';
        }
        return strncmp(text, head, 5) == 0 && strcmp(text + 5, tail) == 0;
    }
    // The text of a file version: the entry text, its NUL, the numbers text
    // ("" for none) and its NUL.
    const char *file_texts() {
        size_t after;
        char *p = entry_in_arena(numbers_len + 1, &after);
        if (numbers_len > 0) {
            memcpy(p + after, numbers, numbers_len);
        }
        p[after + numbers_len] = '\0';
        return p;
    }
    // Is text (NUL-terminated) equal to this line's numbers text, none
    // being ""?
    bool same_file_numbers(const char *text) const {
        return (numbers_len == 0 || memcmp(text, numbers, numbers_len) == 0) &&
               text[numbers_len] == '\0';
    }
    // Is text (NUL-terminated) equal to this line's numbers text?
    bool same_numbers(const char *text) const {
        return numbers != nullptr && text != nullptr && memcmp(text, numbers, numbers_len) == 0 &&
               text[numbers_len] == '\0';
    }
};

// Compares two base names the way the file lists are ordered: strncmp over
// the larger of the two stated lengths, from the sixth character of each
// entry text (a and b point there).
int compare_names(const char *a, int alen, const char *b, int blen) {
    return strncmp(a, b, static_cast<size_t>(std::max(alen, blen)));
}

int compare_time(int32_t node_time, int32_t time) {
    return node_time > time ? -1 : node_time < time ? 1 : 0;
}

int compare_file(const file_node *node, int32_t time, const char *tail, int len) {
    int c = compare_names(node->entry + 5, node->name_len, tail, len);
    return c != 0 ? c : compare_time(node->backup_time, time);
}

// Where a file version goes: the last node comparing <= it (null when
// none). The versions of one file share one entry text, so a run of nodes
// holding the same text as the node before needs no name comparison.
struct file_place {
    file_node *last = nullptr;
    bool found = false;     // last compares equal
    bool end = false;       // the walk ran off the end
    bool last_name = false; // last has the same name
    bool next_name = false; // the node after last has the same name
};

file_place closest_file_in(tree_node *dir, int32_t time, const char *tail, int len) {
    file_place at;
    file_node *p = dir->files;
    const char *name_of = nullptr; // entry text whose name compared name_cmp
    int name_cmp = 0;
    int last_cmp = 1;
    auto compare = [&](const file_node *n) {
        if (n->entry != name_of) {
            name_of = n->entry;
            name_cmp = compare_names(n->entry + 5, n->name_len, tail, len);
        }
        return name_cmp != 0 ? name_cmp : compare_time(n->backup_time, time);
    };
    // Start after the last inserted node when it does not pass the new
    // entry: the list is ordered, so the walk ends at the same node.
    if (final_filenode != nullptr) {
        int c = compare(final_filenode);
        if (c <= 0) {
            at.last = final_filenode;
            at.last_name = name_cmp == 0;
            last_cmp = c;
            p = final_filenode->next;
        }
    }
    for (; p != nullptr; p = p->next) {
        int c = compare(p);
        if (c > 0) {
            at.next_name = name_cmp == 0;
            break;
        }
        at.last = p;
        at.last_name = name_cmp == 0;
        last_cmp = c;
    }
    at.end = p == nullptr;
    at.found = at.last != nullptr && last_cmp == 0;
    return at;
}

void add_file_in(tree_node *dir, int32_t time, line_texts &texts) {
    if (dir == nullptr || texts.tail == nullptr) {
        return;
    }
    const int len = texts.name_len;
    file_place at;
    if (dir->files != nullptr) {
        at = closest_file_in(dir, time, texts.tail, len);
        if (at.found) {
            return;
        }
    } else {
        at.end = true;
    }
    // Versions of one file usually repeat the same texts: share the
    // neighbour's copy instead of storing them again.
    file_node *after = at.last;
    const file_node *next = after != nullptr ? after->next : dir->files;
    const std::pair<const file_node *, bool> near[] = {{after, at.last_name}, {next, at.next_name}};
    const char *shared = nullptr;
    for (const auto &[n, same_name] : near) {
        if (n != nullptr && n->name_len == len && same_name && texts.same_entry(n->entry) &&
            texts.same_file_numbers(file_numbers(n))) {
            shared = n->entry;
            break;
        }
    }
    file_node *node = tree.arena.make<file_node>();
    node->backup_time = time;
    node->name_len = len;
    node->entry = shared != nullptr ? shared : texts.file_texts();
    if (after == nullptr) {
        node->next = dir->files;
        dir->files = node;
    } else {
        node->next = after->next;
        after->next = node;
    }
    final_filenode = node;
}

tree_node *closest_node_in(tree_node *parent, const char *name, int *found) {
    *found = 0;
    tree_node *p = parent->child;
    // Start from the last node found here when it does not pass the name:
    // the list is ordered, so the walk ends at the same node.
    if (parent->hint != nullptr && strcmp(parent->hint->name, name) <= 0) {
        p = parent->hint;
    }
    tree_node *last = nullptr;
    for (; p != nullptr; p = p->next) {
        int c = strcmp(p->name, name);
        if (c > 0) {
            break;
        }
        last = p;
        if (c == 0) {
            *found = 1;
            break;
        }
    }
    return last;
}

tree_node *build_node_in(const char *path, size_t path_len, line_texts &texts) {
    if (previous_node != nullptr && tree.previous_len == path_len &&
        memcmp(previous_path, path, path_len) == 0) {
        return previous_node;
    }
    tree_node *node = rootnode;
    if (true_image && strcmp(path, "/") == 0 && rootnode->numbers == nullptr) {
        rootnode->numbers = texts.own_numbers();
        if (verbose) {
            rootnode->verbose_text = texts.own_entry();
        }
    }
    char component[TREE_COMPONENT_MAX + 1];
    const char *p = path;
    const char *start;
    size_t len;
    while (next_path_component(p, start, len)) {
        size_t used = std::min(len, TREE_COMPONENT_MAX);
        memcpy(component, start, used);
        component[used] = '\0';
        int found;
        tree_node *near = closest_node_in(node, component, &found);
        if (found) {
            node->hint = near;
            node = near;
            continue;
        }
        tree_node *made = tree.arena.make<tree_node>();
        made->name = tree.arena.copy(component, used);
        made->numbers = texts.own_numbers();
        made->verbose_text = verbose ? texts.own_entry() : nullptr;
        if (near == nullptr) {
            made->next = node->child;
            node->child = made;
        } else {
            made->next = near->next;
            near->next = made;
        }
        node->hint = made;
        node = made;
    }
    // Only a path that fits the cache is remembered: a cut copy could match
    // a different long path.
    if (path_len < sizeof previous_path) {
        memcpy(previous_path, path, path_len + 1);
        tree.previous_len = path_len;
        previous_node = node;
    } else {
        previous_path[0] = '\0';
        tree.previous_len = 0;
        previous_node = nullptr;
    }
    final_filenode = nullptr;
    return node;
}

// ---------------------------------------------------------------------------
// Dumping.

// Date texts of the backup times met in one dump. A directory's rows come
// from a few backups, often interleaved, so a handful of slots by time
// spares almost every conversion.
struct date_cache {
    struct slot {
        int32_t time = 0;
        bool valid = false;
        char text[64];
    };
    slot slots[64];
    const char *get(int32_t t) {
        slot &s = slots[static_cast<uint32_t>(t) % 64];
        if (!s.valid || s.time != t) {
            T_strlcpy(s.text, datestringl(t, tmlctime, 0), sizeof s.text);
            s.time = t;
            s.valid = true;
        }
        return s.text;
    }
};

// Appends text to the row being written at *at, never past the row's last
// byte (the row is cut as snprintf into XKP_TEXT_SIZE would cut it).
void append_cut(char *row, size_t &at, const char *text) {
    size_t room = XKP_TEXT_SIZE - 1 - at;
    size_t n = strnlen(text, room);
    memcpy(row + at, text, n);
    at += n;
}

// The row of a file-list entry: its date, in verbose mode the verbose
// columns of entry, and its name.
void put_row(char *row, const char *date, const char *entry, const char *name) {
    size_t at = 0;
    append_cut(row, at, date);
    if (verbose) {
        append_cut(row, at, " ");
        append_cut(row, at, entry_verbose_columns(entry));
    }
    append_cut(row, at, "  ");
    append_cut(row, at, name);
    row[at] = '\0';
}

void dump_tree_in(tree_node *node, int depth, std::string &path) {
    // On entry path holds the parent's path; it is restored on return.
    size_t parent_len = path.size();
    if (depth >= minimum_depth) {
        std::string line, key;
        if (depth == minimum_depth || graphic_mode == GRAPHIC_FULL_PATHS) {
            line.reserve(parent_len + 1 + strlen(node->name));
            line.append(path).append("/").append(node->name);
        } else {
            key.assign(static_cast<size_t>(2 * (depth - minimum_depth)), ' ');
            line.append(key).append(node->name);
        }
        if (line.size() >= XKP_TEXT_SIZE) {
            line.resize(XKP_TEXT_SIZE - 1);
        }
        add_left_item(line.c_str(), key.c_str());
    }
    if (depth > 1) {
        path.append("/");
    }
    path.append(node->name);
    if (path == tree.dump_right_path) {
        dump_filelist(node);
    }
    if (depth <= minimum_depth + recursion_limit) {
        for (tree_node *c = node->child; c != nullptr; c = c->next) {
            dump_tree_in(c, depth + 1, path);
        }
    }
    path.resize(parent_len);
}

} // namespace

// ---------------------------------------------------------------------------

void free_all() {
    tree.arena.clear();
    rootnode = nullptr;
    previous_node = nullptr;
    final_filenode = nullptr;
    previous_path[0] = '\0';
    tree.previous_len = 0;
}

void init_tree() {
    free_all();
    rootnode = tree.arena.make<tree_node>();
    rootnode->name = tree.arena.copy("");
    rootnode->verbose_text = verbose ? tree.arena.copy("") : nullptr;
}

size_t tree_memory_bytes() {
    return tree.arena.bytes();
}

int entry_name_length(const char *entry) {
    if (entry == nullptr) {
        return 0;
    }
    const char *p = entry;
    while (*p == ' ') {
        ++p;
    }
    int v = 0;
    while (*p >= '0' && *p <= '9' && v < 100000) {
        v = v * 10 + (*p++ - '0');
    }
    return v;
}

const char *entry_verbose_columns(const char *entry) {
    if (entry == nullptr) {
        return "";
    }
    size_t len = strlen(entry);
    size_t at = 5 + static_cast<size_t>(entry_name_length(entry)) + 1;
    return at <= len ? entry + at : "";
}

int compare_files(const file_node *node, int32_t time, const char *entry) {
    return compare_file(node, time, entry + 5, entry_name_length(entry));
}

file_node *closest_file(tree_node *dir, int32_t time, const char *entry, int *found, int *end) {
    file_place at;
    if (dir != nullptr && entry != nullptr && strlen(entry) >= 5) {
        at = closest_file_in(dir, time, entry + 5, entry_name_length(entry));
    }
    if (found != nullptr) {
        *found = at.found;
    }
    if (end != nullptr) {
        *end = at.end;
    }
    return at.last;
}

tree_node *closest_node(tree_node *parent, const char *name, int *found) {
    int f = 0;
    tree_node *r =
        parent != nullptr && name != nullptr ? closest_node_in(parent, name, &f) : nullptr;
    if (found != nullptr) {
        *found = f;
    }
    return r;
}

tree_node *search_node(tree_node *parent, const char *name) {
    if (parent == nullptr || name == nullptr) {
        return nullptr;
    }
    for (tree_node *p = parent->child; p != nullptr; p = p->next) {
        if (strcmp(p->name, name) == 0) {
            return p;
        }
    }
    return nullptr;
}

tree_node *build_node(const char *path, int32_t, const char *entry, const char *numbers) {
    if (rootnode == nullptr) {
        init_tree();
    }
    line_texts texts = line_texts::whole(entry, numbers);
    const char *p = path != nullptr ? path : "";
    return build_node_in(p, strlen(p), texts);
}

void add_file(tree_node *dir, int32_t time, const char *entry, const char *numbers) {
    line_texts texts = line_texts::whole(entry, numbers);
    add_file_in(dir, time, texts);
}

void build_timelist(time_entry **list, int32_t time, const char *text) {
    if (list == nullptr) {
        return;
    }
    time_entry **at = list;
    while (*at != nullptr && (*at)->time > time) {
        at = &(*at)->next;
    }
    if (*at != nullptr && (*at)->time == time) {
        return;
    }
    time_entry *e = tree.arena.make<time_entry>();
    e->time = time;
    e->text = text != nullptr ? tree.arena.copy(text) : nullptr;
    e->next = *at;
    *at = e;
}

void build_tree(const char *dir, FILE *stream) {
    root_filesys_only_possible = 0;
    filesystem_only_restore_possible = 0;
    device_number = -1;
    if (rootnode == nullptr) {
        init_tree();
    }
    std::string root_text = dir != nullptr ? dir : "";
    if (root_text.size() > 1 && root_text.back() == '/') {
        root_text.pop_back();
    }
    if (root_text.empty() || root_text.back() != '/') {
        root_text.push_back('/');
    }
    bool mixed = false;
    if (stream == nullptr) {
        return;
    }

    line_reader reader(stream);
    // A path continued on further lines is put together here.
    char joined[TREE_PATH_MAX + 1];
    // Verbose entry texts: "%4d " + base name + the verbose columns.
    char entry[TREE_PATH_MAX + 512];
    listing_line parsed;
    char *line;
    size_t len;
    while ((line = reader.next(len)) != nullptr) {
        if (!parse_listing_line(line, len, parsed, verbose != 0)) {
            continue;
        }
        char *path = parsed.path;
        size_t plen = parsed.first_len;
        // A name holding newlines continues on the following lines. A
        // stated length beyond the longest path is not believed.
        if (parsed.path_len > 0 && static_cast<size_t>(parsed.path_len) <= TREE_PATH_MAX &&
            plen < static_cast<size_t>(parsed.path_len)) {
            // The numbers text may lie in the line, which the next read
            // overwrites.
            if (parsed.numbers != parsed.numbers_buf) {
                memcpy(parsed.numbers_buf, parsed.numbers, parsed.numbers_len);
                parsed.numbers = parsed.numbers_buf;
            }
            memcpy(joined, path, plen);
            path = joined;
            size_t want = static_cast<size_t>(parsed.path_len);
            const char *more;
            size_t more_len;
            while (plen < want && plen < TREE_PATH_MAX &&
                   (more = reader.next(more_len)) != nullptr) {
                path[plen++] = '\n';
                size_t n = std::min(more_len, TREE_PATH_MAX - plen);
                memcpy(path + plen, more, n);
                plen += n;
            }
            path[plen] = '\0';
        }
        if (plen == 0) {
            continue;
        }

        int32_t dev = parsed.device;
        if (is_root_line(root_text, path, plen)) {
            if (dev != -1) {
                root_filesys_only_possible = !mixed;
            }
            if (device_number == -1 && !mixed) {
                device_number = dev;
                if (dev == -1) {
                    root_filesys_only_possible = 0;
                    mixed = true;
                }
            } else if (dev != device_number) {
                device_number = -1;
                root_filesys_only_possible = 0;
                mixed = true;
            }
        }

        bool is_dir = path[plen - 1] == '/';
        const char *base = path + plen; // empty for a directory
        size_t base_len = 0;
        size_t dir_len = 0;
        if (!is_dir) {
            char *slash = static_cast<char *>(memrchr(path, '/', plen));
            base = slash != nullptr ? slash + 1 : path;
            base_len = plen - static_cast<size_t>(base - path);
            dir_len = slash != nullptr ? static_cast<size_t>(slash - path) : 0;
            // "." and ".." name no file of their own.
            if ((base_len == 1 && base[0] == '.') ||
                (base_len == 2 && base[0] == '.' && base[1] == '.')) {
                continue;
            }
        }
        line_texts texts;
        texts.numbers = parsed.numbers;
        texts.numbers_len = parsed.numbers_len;
        texts.name_len = static_cast<int>(base_len);
        if (verbose) {
            char *e = put_entry_head(entry, static_cast<int>(base_len));
            memcpy(e, base, base_len);
            e += base_len;
            char date[64];
            T_strlcpy(date, datestringl(parsed.mod_time, tmlctime, 0), sizeof date);
            snprintf(e, sizeof entry - static_cast<size_t>(e - entry), " %s %10s %10s %11s %s",
                     parsed.mode, parsed.owner, parsed.group, parsed.size, date);
            texts.entry = entry;
            texts.tail = entry + 5;
        } else {
            // The base name ends the path, so it ends with the path's NUL.
            texts.tail = base;
        }
        if (!is_dir) {
            // Without a slash the directory part is empty and the base name
            // starts the path: it must not be cut.
            if (base != path) {
                path[dir_len] = '\0';
            }
            tree_node *node = build_node_in(base != path ? path : "", dir_len, texts);
            add_file_in(node, parsed.backup_time, texts);
        } else {
            if (plen > 1) {
                path[--plen] = '\0';
            }
            tree_node *node = build_node_in(path, plen, texts);
            time_entry **at = &node->timelist;
            while (*at != nullptr && (*at)->time > parsed.backup_time) {
                at = &(*at)->next;
            }
            if (*at == nullptr || (*at)->time != parsed.backup_time) {
                time_entry *t = tree.arena.make<time_entry>();
                t->time = parsed.backup_time;
                t->text = verbose ? texts.own_entry() : nullptr;
                t->next = *at;
                *at = t;
            }
        }
    }
}

void dump_all() {
    if (rootnode == nullptr) {
        init_tree();
    }
    int depth = 1;
    const char *p = left_dir;
    const char *s;
    size_t n;
    while (next_path_component(p, s, n)) {
        if (n == 1 && s[0] == '.') {
            continue;
        }
        if (n == 2 && s[0] == '.' && s[1] == '.') {
            // ".." climbs, but never above the root.
            if (depth > 1) {
                --depth;
            }
            continue;
        }
        ++depth;
    }
    minimum_depth = depth;
    dump_tree(rootnode, 1, rootnode->name);
}

void dump_tree(tree_node *node, int depth, const char *parent_path) {
    if (node == nullptr) {
        return;
    }
    std::string path = parent_path != nullptr ? parent_path : "";
    tree.dump_right_path = trim_slash(right_dir);
    dump_tree_in(node, depth, path);
}

void dump_filelist(tree_node *node) {
    if (node == nullptr) {
        return;
    }
    date_cache dates;
    char row[XKP_TEXT_SIZE];
    char key[16];
    std::string name;
    int accepted = 0;
    if (true_image) {
        for (time_entry *t = node->timelist; t != nullptr; t = t->next) {
            *put_int(key, t->time) = '\0';
            put_row(row, dates.get(t->time), node->verbose_text, ".");
            accepted +=
                add_right_list(row, ".", key, node->numbers != nullptr ? node->numbers : "", 1);
            if (!show_all_dates) {
                break;
            }
        }
    }
    for (tree_node *c = node->child; c != nullptr; c = c->next) {
        name.assign(c->name).append("/");
        for (time_entry *t = c->timelist; t != nullptr; t = t->next) {
            *put_int(key, t->time) = '\0';
            put_row(row, dates.get(t->time), t->text, name.c_str());
            accepted +=
                add_right_list(row, name.c_str(), key, c->numbers != nullptr ? c->numbers : "", 1);
            if (!show_all_dates) {
                break;
            }
        }
    }
    if (accepted > 0) {
        add_right_list(" ", " ", " ", " ", 0);
    }
    const file_node *prev = nullptr;
    for (const file_node *f = node->files; f != nullptr; f = f->next) {
        bool same = prev != nullptr && prev->name_len == f->name_len &&
                    compare_names(prev->entry + 5, prev->name_len, f->entry + 5, f->name_len) == 0;
        prev = f;
        if (same && !show_all_dates) {
            continue;
        }
        name.assign(f->entry + 5, std::min(strlen(f->entry + 5), static_cast<size_t>(f->name_len)));
        *put_int(key, f->backup_time) = '\0';
        put_row(row, dates.get(f->backup_time), f->entry, name.c_str());
        add_right_list(row, name.c_str(), key, file_numbers(f), 1);
    }
    flush_right_list();
}

void dump_dir(const char *path) {
    if (rootnode == nullptr || path == nullptr) {
        return;
    }
    tree_node *node = rootnode;
    char component[TREE_COMPONENT_MAX + 1];
    const char *p = path;
    const char *s;
    size_t len;
    while (next_path_component(p, s, len)) {
        size_t n = std::min(len, TREE_COMPONENT_MAX);
        memcpy(component, s, n);
        component[n] = '\0';
        node = search_node(node, component);
        if (node == nullptr) {
            return;
        }
    }
    dump_filelist(node);
}
