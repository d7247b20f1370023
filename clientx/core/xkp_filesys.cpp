// The local file-system listing.
#include "xkp_filesys.h"

#include "kppathmatch.h"
#include "mount.h"
#include "timefuncs.h"
#include "xkp_rows.h"
#include "xkp_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <memory>
#include <numeric>
#include <pwd.h>
#include <vector>

int32_t start_time = 0;
int32_t end_time = 0;

namespace {

struct dir_closer {
    void operator()(DIR *d) const { closedir(d); }
};
using dir_handle = std::unique_ptr<DIR, dir_closer>;

bool in_window(time_t t) {
    return t >= start_time && t <= end_time;
}

bool is_dot_or_dotdot(const char *name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// A directory of one component ("/net", "/net/"), the only kind that can be
// the automounter's hosts-map mount point.
bool one_component(const std::string &path) {
    return path.size() > 1 && path[0] == '/' && path.find('/', 1) == std::string::npos;
}

int compare_entries(const std::string &a, const std::string &b) {
    bool da = !a.empty() && a.back() == '/';
    bool db = !b.empty() && b.back() == '/';
    if (da != db) {
        return da ? -1 : 1;
    }
    return strcmp(a.c_str(), b.c_str());
}

// patterned_dir split into elements once for all the entries it is matched
// against; rebuilt when the text changes.
const kp_pathelem &pattern_elements() {
    static std::string text;
    static kp_pathelem elements;
    static bool built = false;
    if (!built || text != patterned_dir) {
        text = patterned_dir;
        kpbuildpe(text.c_str(), &elements, '/');
        built = true;
    }
    return elements;
}

// The name cache of finduname or findgname: the last id and its name.
struct name_cache {
    long id = -993;
    char name[65] = "";
};

name_cache user_cache;
name_cache group_cache;

// Offers one kept entry of right_dir to the file list: its name, or its
// verbose row; the date key is its modification time. Returns 1 when the
// filename filter let it through. (Apart from show so that the row buffer
// does not stay on the stack through the descent.)
int offer_entry(const std::string &name, const struct stat64 &st) {
    char row[XKP_TEXT_SIZE];
    char key[16];
    const char *shown = name.c_str();
    if (verbose) {
        file_stats fs;
        get_stats(&fs, &st);
        verbose_row(row, sizeof row, fs, name.c_str());
        shown = row;
    }
    snprintf(key, sizeof key, "%d", static_cast<int32_t>(st.st_mtime));
    return add_right_item(shown, name.c_str(), key, "", 1);
}

} // namespace

std::string filesys_root(const char *dir) {
    std::string root = dir != nullptr && *dir != '\0' ? dir : "/";
    for (size_t i = 1; i < root.size(); ++i) {
        char c = root[i];
        if ((c != '?' && c != '*' && c != '[') || root[i - 1] == '\\') {
            continue;
        }
        size_t slash = root.rfind('/', i - 1);
        if (slash == std::string::npos) {
            continue; // no directory before the wildcard: go on scanning
        }
        root.resize(slash);
        break;
    }
    if (root.empty()) {
        root = "/";
    }
    return root;
}

void filesys_tree(const char *dir, int32_t start, int32_t end) {
    start_time = start;
    end_time = end;
    const char *typed = dir != nullptr && *dir != '\0' ? dir : "/";
    T_strlcpy(patterned_dir, typed, sizeof patterned_dir);
    std::string root = filesys_root(typed);
    T_strlcpy(right_dir, root.c_str(), sizeof right_dir);
    show(root.c_str(), 1, "", " ", 0);
}

void filesys_dir(const char *dir, int32_t start, int32_t end) {
    start_time = start;
    end_time = end;
    const char *d = dir != nullptr && *dir != '\0' ? dir : "/";
    T_strlcpy(right_dir, d, sizeof right_dir);
    show(d, 1, "", " ", 1);
}

void show(const char *dir, int is_last, const char *prefix, const char *child_prefix,
          int right_only) {
    (void)is_last;
    dir_handle d(opendir(dir));
    if (!d) {
        if (debug_enabled) {
            printf("debug could not open directory:%s!\n", dir);
            fflush(stdout);
        }
        return;
    }

    std::string bare = dir;
    if (bare.size() > 1 && bare.back() == '/') {
        bare.pop_back();
    }
    bool hosts_map = false;
    if (one_component(bare) && is_hosts_mount_point(bare.c_str())) {
        create_mount_list(2, MNT_LOFS_AND_HOSTS_ONLY);
        hosts_map = true;
    }

    const bool listed_right = strcmp(dir, right_dir) == 0;
    const bool ends_in_slash = dir[0] != '\0' && dir[strlen(dir) - 1] == '/';
    std::string full = dir;
    if (!ends_in_slash) {
        full += '/';
    }
    const size_t base_len = full.size();

    const kp_pathelem &pattern = pattern_elements();
    std::vector<std::string> names;
    std::vector<struct stat64> stats;
    struct dirent *ent;
    while (recursion_limit >= 1 && static_cast<int>(names.size()) < FILESYS_MAX_ENTRIES &&
           (ent = readdir(d.get())) != nullptr) {
        if (is_dot_or_dotdot(ent->d_name)) {
            continue;
        }
        // Outside right_dir only directories are kept: an entry the
        // directory says is something else needs no status at all.
        if (!listed_right && ent->d_type != DT_DIR && ent->d_type != DT_UNKNOWN) {
            continue;
        }
        full.resize(base_len);
        full += ent->d_name;
        if (hosts_map && !path_is_automounted(full.c_str())) {
            continue;
        }
        struct stat64 st;
        if (fstatat64(dirfd(d.get()), ent->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            if (kppathmatch(full.c_str(), nullptr, patterned_dir, &pattern, '/', KP_MATCH_DOMATCH,
                            KP_ANY_DEPTH) != 1) {
                continue;
            }
            names.emplace_back(ent->d_name).push_back('/');
        } else {
            if (!listed_right || !in_window(st.st_mtime)) {
                continue;
            }
            names.emplace_back(ent->d_name);
        }
        stats.push_back(st);
    }
    d.reset();

    if (!right_only) {
        std::string line, key;
        if (*prefix == '\0' || graphic_mode == GRAPHIC_FULL_PATHS) {
            line = dir;
        } else {
            const char *slash = strrchr(dir, '/');
            key = std::string(prefix) + "  ";
            line = key + (slash != nullptr ? slash + 1 : dir);
        }
        if (line.size() >= XKP_TEXT_SIZE) {
            line.resize(XKP_TEXT_SIZE - 1);
        }
        add_left_item(line.c_str(), key.c_str());
    }

    const int count = static_cast<int>(names.size());
    ::sort(count, names.data(), stats.data());

    const std::string extended = std::string(child_prefix) + "  ";
    int rows = 0;
    bool previous_was_dir = false;
    std::string child;
    for (int i = 0; i < count; ++i) {
        const std::string &name = names[i];
        const bool is_dir = name.back() == '/';
        if (is_dir) {
            child = dir;
            if (!ends_in_slash && name[0] != '/') {
                child += '/';
            }
            child.append(name, 0, name.size() - 1);
            --recursion_limit;
            if (recursion_limit >= 0 && !right_only) {
                show(child.c_str(), i == count - 1, child_prefix, extended.c_str(), right_only);
            }
            ++recursion_limit;
        } else if (previous_was_dir && listed_right && rows > 0) {
            add_right_item(" ", " ", " ", " ", 0);
        }
        previous_was_dir = is_dir;
        if (!listed_right || (is_dir && !in_window(stats[i].st_mtime))) {
            continue;
        }
        rows += offer_entry(name, stats[i]);
    }
}

void sort(int count, std::string *names, struct stat64 *statuses) {
    if (count < 2 || names == nullptr || statuses == nullptr) {
        return;
    }
    // A stable sort by the same comparison gives exactly the order of the
    // neighbour-swapping bubble sort, without its quadratic cost.
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [names](int a, int b) { return compare_entries(names[a], names[b]) < 0; });
    // Put element order[i] at position i, one cycle of the permutation at a
    // time, so the status records are moved once and not copied wholesale.
    std::vector<bool> placed(static_cast<size_t>(count), false);
    for (int i = 0; i < count; ++i) {
        if (placed[static_cast<size_t>(i)] || order[static_cast<size_t>(i)] == i) {
            continue;
        }
        std::string name = std::move(names[i]);
        struct stat64 status = statuses[i];
        int j = i;
        for (;;) {
            placed[static_cast<size_t>(j)] = true;
            int k = order[static_cast<size_t>(j)];
            if (k == i) {
                names[j] = std::move(name);
                statuses[j] = status;
                break;
            }
            names[j] = std::move(names[k]);
            statuses[j] = statuses[k];
            j = k;
        }
    }
}

char xselect(const mode_choice *choices, int count, char fallback, mode_t mode) {
    for (int i = 0; i < count; ++i) {
        if ((mode & choices[i].mask) == choices[i].mask) {
            return choices[i].letter;
        }
    }
    return fallback;
}

const char *pmode(mode_t mode) {
    struct position {
        mode_choice choices[3];
        int count;
    };
    static const position positions[9] = {
        {{{0400, 'r'}}, 1}, {{{0200, 'w'}}, 1}, {{{04100, 's'}, {0100, 'x'}, {04000, 'S'}}, 3},
        {{{040, 'r'}}, 1},  {{{020, 'w'}}, 1},  {{{02010, 's'}, {010, 'x'}, {02000, 'l'}}, 3},
        {{{04, 'r'}}, 1},   {{{02, 'w'}}, 1},   {{{01001, 't'}, {01, 'x'}, {01000, 'T'}}, 3},
    };
    static char letters[10];
    for (int i = 0; i < 9; ++i) {
        letters[i] = xselect(positions[i].choices, positions[i].count, '-', mode);
    }
    letters[9] = '\0';
    return letters;
}

char printfiletype(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFIFO:
        return 'p';
    case S_IFCHR:
        return 'c';
    case S_IFDIR:
        return 'd';
    case S_IFBLK:
        return 'b';
    case S_IFLNK:
        return 'l';
    case S_IFSOCK:
        return 's';
    default:
        return '-';
    }
}

void finduname(char *dst, uid_t uid) {
    if (static_cast<long>(uid) != user_cache.id) {
        user_cache.id = static_cast<long>(uid);
        user_cache.name[0] = '\0';
        if (const struct passwd *pw = getpwuid(uid); pw != nullptr && pw->pw_name != nullptr) {
            T_strlcpy(user_cache.name, pw->pw_name, sizeof user_cache.name);
        } else {
            snprintf(user_cache.name, sizeof user_cache.name, "%d", static_cast<int>(uid));
        }
    }
    T_strlcpy(dst, user_cache.name, sizeof user_cache.name);
}

void findgname(char *dst, gid_t gid) {
    if (static_cast<long>(gid) != group_cache.id) {
        group_cache.id = static_cast<long>(gid);
        group_cache.name[0] = '\0';
        setgrent();
        if (const struct group *gr = getgrgid(gid); gr != nullptr && gr->gr_name != nullptr) {
            T_strlcpy(group_cache.name, gr->gr_name, sizeof group_cache.name);
        } else {
            snprintf(group_cache.name, sizeof group_cache.name, "%d", static_cast<int>(gid));
        }
    }
    T_strlcpy(dst, group_cache.name, sizeof group_cache.name);
}

void get_stats(file_stats *record, const struct stat64 *status) {
    const mode_t mode = status->st_mode;
    record->type = S_ISDIR(mode) ? 1 : S_ISLNK(mode) ? 2 : 0;
    record->mtime = static_cast<int32_t>(status->st_mtime);
    char name[65];
    findgname(name, status->st_gid);
    T_strlcpy(record->group, name, sizeof record->group);
    finduname(name, status->st_uid);
    T_strlcpy(record->owner, name, sizeof record->owner);
    record->mode[0] = printfiletype(mode);
    memcpy(record->mode + 1, pmode(mode & ~S_IFMT), 10);
    snprintf(record->size, sizeof record->size, "%lld", static_cast<long long>(status->st_size));
}

void verbose_row(char *row, size_t size, const file_stats &stats, const char *name) {
    char date[64];
    T_strlcpy(date, datestringl(stats.mtime, tmlctime, 0), sizeof date);
    snprintf(row, size, "%s %10s %10s %11s %s %s", stats.mode, stats.owner, stats.group, stats.size,
             date, name);
}
