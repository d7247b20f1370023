// The backed-up file tree over recorded kplist listings.
#include <gtest/gtest.h>

#include "timefuncs.h"
#include "xkp_rows.h"
#include "xkp_state.h"
#include "xkp_tree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using Strs = std::vector<std::string>;

struct line_spec {
    std::string path;
    int32_t backup;
    int dev = 7;
    int32_t mtime = 1000000000;
    std::string mode = "-rw-r--r--";
    std::string owner = "ann";
    std::string group = "staff";
    long long size = 42;
    int stated = -1; // path length to state; -1: the real one
};

// One listing line as kplist prints it: nine numbers, then R with the mode
// at column 0, owner at 11, group at 21, the numbers at 31, the path at 69.
std::string kpline(const line_spec &s) {
    char numbers[64], r[256];
    snprintf(numbers, sizeof numbers, "%lld %d %d %d", s.size, s.backup, s.mtime,
             s.stated >= 0 ? s.stated : static_cast<int>(s.path.size()));
    snprintf(r, sizeof r, "%-10s %-9s %-9s %-37s ", s.mode.c_str(), s.owner.c_str(),
             s.group.c_str(), numbers);
    return "33188 1 100 200 0 0 0 " + std::to_string(s.dev) + " 3 " + r + s.path + "\n";
}

class TreeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_program_state();
        set_row_sink(nullptr);
        collected_rows().clear();
        collected_rows().has_filter = false;
        right_avoidable_pos = 0;
    }
    void TearDown() override { free_all(); }

    // The lines of path, one per backup time, the other fields as in line_spec.
    static std::string lines(const std::string &path, std::initializer_list<int32_t> times = {1}) {
        std::string out;
        for (int32_t t : times)
            out += kpline({path, t});
        return out;
    }
    static void build(const std::string &dir, const std::string &text) {
        init_tree();
        FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
        ASSERT_NE(f, nullptr);
        build_tree(dir.c_str(), f);
        fclose(f);
    }
    // Fills both lists for dir through dump_all.
    static void dump(const char *dir) {
        T_strlcpy(left_dir, dir, sizeof left_dir);
        T_strlcpy(right_dir, dir, sizeof right_dir);
        collected_rows().clear();
        dump_all();
    }
    static Strs right(std::string collected_right_row::*field = &collected_right_row::name) {
        Strs out;
        for (const auto &r : collected_rows().right)
            out.push_back(r.*field);
        return out;
    }
    static Strs left(std::string collected_left_row::*field = &collected_left_row::line) {
        Strs out;
        for (const auto &r : collected_rows().left)
            out.push_back(r.*field);
        return out;
    }
    // The files of dir in list order, as "name@backup time" (brief entries).
    static Strs files(const tree_node *dir) {
        Strs out;
        for (const file_node *f = dir != nullptr ? dir->files : nullptr; f; f = f->next)
            out.push_back(std::string(f->entry + 5) + "@" + std::to_string(f->backup_time));
        return out;
    }
    static std::string date_of(int32_t t) { return datestringl(t, tmlctime, 0); }
};

TEST_F(TreeTest, VersionsNewestFirstStoredOnceAndTheAllDatesSwitch) {
    // Repeated lines (same path, same time) are stored once.
    build("/d", lines("/d/", {300}) + lines("/d/sub/", {200, 100, 300, 250, 100}) +
                    lines("/d/f", {100, 300, 200, 300}) + lines("/d/e", {200}) +
                    lines("/d/g", {100}));
    const struct {
        int all_dates;
        Strs names, keys;
        int separator_pos;
    } cases[] = {
        {1,
         {"sub/", "sub/", "sub/", "sub/", " ", "e", "f", "f", "f", "g"},
         {"300", "250", "200", "100", " ", "200", "300", "200", "100", "100"},
         5},
        {0, {"sub/", " ", "e", "f", "g"}, {"300", " ", "200", "300", "100"}, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.all_dates);
        show_all_dates = c.all_dates;
        dump("/d");
        EXPECT_EQ(right(), c.names);
        EXPECT_EQ(right(&collected_right_row::date_key), c.keys);
        EXPECT_EQ(right_avoidable_pos, c.separator_pos);
        EXPECT_EQ(collected_rows().flushes, 1);
        EXPECT_EQ(collected_rows().pending, 0u);
    }
    // Each row carries its date text and the nine numbers of its line.
    const auto &f = collected_rows().right[3];
    EXPECT_EQ(f.row, date_of(300) + "  f");
    EXPECT_EQ(f.extra, "33188 1 100 200 0 0 0 7 3");
}

TEST_F(TreeTest, SeparatorOnlyAfterAcceptedDirectoryRows) {
    // A directory known only as part of a longer path has no time entry and
    // no row, so no separator either.
    build("/d", lines("/d/deep/x") + lines("/d/f"));
    dump("/d");
    EXPECT_EQ(right(), Strs{"f"});
    EXPECT_EQ(right_avoidable_pos, 0);
    // The separator row itself is never filtered, the others are.
    build("/d", lines("/d/a/") + lines("/d/x.c") + lines("/d/y.h"));
    collected_rows().has_filter = true;
    collected_rows().filter = "*.c  ";
    dump("/d");
    EXPECT_EQ(right(), Strs{"x.c"});
    collected_rows().filter = "";
    dump("/d");
    EXPECT_EQ(right(), (Strs{"a/", " ", "x.c", "y.h"}));
    const auto &sep = collected_rows().right[1];
    EXPECT_EQ(Strs({sep.row, sep.date_key, sep.extra}), Strs(3, " "));
    // dump_dir: nothing for a path that is not a directory of the tree.
    build("/", lines("/a/b/") + lines("/a/b/f"));
    collected_rows().clear();
    dump_dir("/a/missing");
    dump_dir("/a/b/f");
    EXPECT_TRUE(collected_rows().right.empty());
    dump_dir("/a/b/");
    EXPECT_EQ(right(), Strs{"f"});
    collected_rows().clear();
    dump_dir("/a");
    EXPECT_EQ(right(), (Strs{"b/", " "}));
}

TEST_F(TreeTest, ListingTextIsReadLeniently) {
    const auto stating = [](const std::string &path, int stated) {
        return kpline({.path = path, .backup = 100, .stated = stated});
    };
    std::string last = lines("/d/last");
    last.pop_back(); // the last line has no newline
    std::vector<std::pair<std::string, Strs>> cases = {
        // The newlines of a name break its line; the stated length joins it again.
        {lines("/d/two\nlines\nhere") + lines("/d/after"), {"after", "two\nlines\nhere"}},
        {stating("/d/name", 20) + "more", {"name\nmore"}}, // ends with the input
        // Paths without a slash are taken from column 69 as they stand.
        {lines("/d/f") + lines(".") + lines("..") + lines("/d/.") + lines("/d/.."), {"f"}},
        {"\ngarbage\n"
         "1 2 3 4 5 6 7 8\n"           // eight numbers only
         "1 2 3 4 5 6 7 x 9 rest\n"    // not a number
         "1 2 3 4 5 6 7 8 9 short R\n" // R without a path column
         "1 2 3 4 5 6 7 8 9 " +        // no numbers at 31
             std::string(80, 'z') +
             "\n" + lines("/d/ok") + last,
         {"last", "ok"}},
    };
    // Impossible stated lengths must not swallow the following line.
    for (int stated : {-5, 0, 1, 5000, 2147483647})
        cases.push_back({stating("/d/a", stated) + lines("/d/b"), {"a", "b"}});
    // A line longer than the read limit continues as the next line; neither
    // piece may crash or end up as a path outside the tree.
    cases.push_back({stating("/d/" + std::string(3000, 'n'), 10) + lines("/d/x"), {}});
    for (const auto &[text, names] : cases) {
        SCOPED_TRACE(text.substr(0, 120));
        build("/d", text);
        dump("/d");
        if (names.empty()) {
            ASSERT_FALSE(right().empty());
            EXPECT_EQ(right().back(), "x");
        } else {
            EXPECT_EQ(right(), names);
        }
        EXPECT_EQ(rootnode->files, nullptr);
    }
}

TEST_F(TreeTest, RootDeviceTest) {
    // Only lines of the listed root decide (the root without its trailing
    // slash is the root as well); the file line's device has no say.
    const struct {
        const char *dir, *root;
        std::vector<int> devs;
        int possible, device;
    } cases[] = {
        {"/home/ann/", "/home/ann/", {5, 5}, 1, 5},
        {"/home/ann/", "/home/ann/", {5, 6}, 0, -1},
        {"/home/ann/", "/home/ann/", {5, 6, 5}, 0, -1},
        {"/home/ann/", "/home/ann/", {-1}, 0, -1},
        {"/home/ann/", "/home/ann/", {-1, 5}, 0, -1},
        {"/home/ann/", "/home/ann/", {5, -1}, 0, -1},
        {"/home/ann/", "/home/ann/", {}, 0, -1},
        {"/home/ann", "/home/ann", {8}, 1, 8},
        {"", "/", {4}, 1, 4},
    };
    for (const auto &c : cases) {
        std::string text;
        for (int dev : c.devs)
            text += kpline({c.root, 100, dev});
        build(c.dir, text + kpline({"/home/ann/f", 100, 99}));
        EXPECT_EQ(root_filesys_only_possible, c.possible) << c.root << " " << c.devs.size();
        EXPECT_EQ(device_number, c.device) << c.root << " " << c.devs.size();
    }
}

TEST_F(TreeTest, LeftListDepthIndentAndFullPath) {
    build("/h", lines("/h/b/y/") + lines("/h/a/") + lines("/h/b/") + lines("/h/b/x/z/"));
    recursion_limit = 999;
    dump("/h");
    EXPECT_EQ(left(), (Strs{"/h", "  a", "  b", "    x", "      z", "    y"}));
    EXPECT_EQ(left(&collected_left_row::key), (Strs{"", "  ", "  ", "    ", "      ", "    "}));
    graphic_mode = 3;
    dump("/h");
    EXPECT_EQ(left(), (Strs{"/h", "/h/a", "/h/b", "/h/b/x", "/h/b/x/z", "/h/b/y"}));
    EXPECT_EQ(left(&collected_left_row::key), Strs(6, ""));
    // Depth: nodes deeper than minimum_depth + recursion_limit + 1 are not visited.
    graphic_mode = 0;
    recursion_limit = 1;
    dump("/h");
    EXPECT_EQ(left(), (Strs{"/h", "  a", "  b", "    x", "    y"}));
    // The root directory, and a parent directory with "..": their line is "/".
    dump("");
    EXPECT_EQ(left()[0], "/");
    dump("/h/..");
    EXPECT_EQ(left()[0], "/");
    EXPECT_TRUE(collected_rows().right.empty()); // no node is called "/h/.."
    // minimum_depth counts the components of left_dir, ".." going up.
    const std::pair<const char *, int> depths[] = {
        {"", 1},
        {"/", 1},
        {"/home", 2},
        {"/home/user", 3},
        {"/home/user/", 3},
        {"/home/user/..", 2},
        {"/home/./user", 3},
        {"/..", 1},
        {"/home/../..", 1},
        {"/a/../b/c", 3},
    };
    for (const auto &[dir, depth] : depths) {
        T_strlcpy(left_dir, dir, sizeof left_dir);
        right_dir[0] = '\0';
        dump_all();
        EXPECT_EQ(minimum_depth, depth) << dir;
    }
}

TEST_F(TreeTest, ByteOrderForAnyInputOrder) {
    // Files by name in byte order, equal names newest first; subdirectories
    // by name in byte order.
    const Strs names = {"a", "ab", "a b", "b", "B", "a\tb", "zz", "\xc3\xa9t\xc3\xa9", "_"};
    const Strs dirs = {"b", "a", "B", "aa", "a-", "z", "0", "\xff"};
    const auto bytewise = [](Strs s) {
        std::sort(s.begin(), s.end(),
                  [](auto &a, auto &b) { return strcmp(a.c_str(), b.c_str()) < 0; });
        return s;
    };
    Strs want, text;
    for (const auto &n : bytewise(names))
        for (const char *t : {"300", "200", "100"})
            want.push_back(n + "@" + t);
    for (const auto &n : names)
        text.push_back(lines("/d/" + n, {100, 300, 200}));
    for (const auto &n : dirs)
        text.push_back(lines("/d/" + n + "/"));
    std::mt19937 rng(12345);
    for (int round = 0; round < 20; ++round) {
        std::shuffle(text.begin(), text.end(), rng);
        build("/d", std::accumulate(text.begin(), text.end(), std::string()));
        tree_node *d = search_node(rootnode, "d");
        ASSERT_NE(d, nullptr);
        Strs got_dirs;
        for (tree_node *c = d->child; c != nullptr; c = c->next)
            got_dirs.push_back(c->name);
        ASSERT_EQ(files(d), want) << round;
        ASSERT_EQ(got_dirs, bytewise(dirs)) << round;
    }
}

TEST_F(TreeTest, VerboseEntriesAndTrueImageRows) {
    verbose = 1;
    build("/d", kpline({"/d/", 500, 7, 1000, "drwxr-xr-x", "root", "wheel", 4096}) +
                    kpline({"/d/f", 600, 7, 2000, "-rw-------", "x:y", "g:h", 123456}));
    tree_node *d = search_node(rootnode, "d");
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->files, nullptr);
    char want[512];
    snprintf(want, sizeof want, "   1 f %s %10s %10s %11s %s", "-rw-------", "x y", "g h", "123456",
             date_of(2000).c_str());
    EXPECT_STREQ(d->files->entry, want);
    EXPECT_EQ(entry_name_length(d->files->entry), 1);
    EXPECT_STREQ(entry_verbose_columns(d->files->entry), want + 7);
    dump("/");
    const auto &rows = collected_rows().right;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "d/");
    EXPECT_EQ(rows[0].row, date_of(500) + " drwxr-xr-x       root      wheel        4096 " +
                               date_of(1000) + "  d/");
    dump("/d");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].row, date_of(600) + " " + std::string(want + 7) + "  f");

    // With true_image the listed directory's own versions come first as ".".
    true_image = 1;
    std::string text = lines("/f", {200});
    for (const auto &[path, t] : {std::pair{"/", 100}, {"/", 200}, {"/etc/", 200}})
        text += kpline({path, t, 3, 1, "drwxr-xr-x", "root", "root", 1});
    build("/", text);
    EXPECT_STREQ(rootnode->numbers, "33188 1 100 200 0 0 0 3 3");
    show_all_dates = 1;
    dump("/");
    EXPECT_EQ(right(), (Strs{".", ".", "etc/", " ", "f"}));
    EXPECT_EQ(right(&collected_right_row::date_key)[0], "200");
    EXPECT_EQ(right(&collected_right_row::date_key)[1], "100");
    EXPECT_NE(rows[0].row.find("drwxr-xr-x"), std::string::npos);
    EXPECT_EQ(rows[0].extra, "33188 1 100 200 0 0 0 3 3");
    show_all_dates = 0;
    dump("/");
    EXPECT_EQ(right(), (Strs{".", "etc/", " ", "f"}));
    true_image = 0;
    dump("/");
    EXPECT_EQ(right(), (Strs{"etc/", " ", "f"}));
}

TEST_F(TreeTest, NodesAlongThePathAndTheCache) {
    // Intermediate nodes take the numbers of the line that made them, no time.
    build("/", kpline({"/a/b/c/f", 1, 42}));
    tree_node *a = search_node(rootnode, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->numbers, "33188 1 100 200 0 0 0 42 3");
    EXPECT_EQ(a->timelist, nullptr);
    EXPECT_EQ(files(search_node(search_node(a, "b"), "c")), Strs{"f@1"});
    // Lines alternating between directories land where they belong.
    build("/", lines("/x/f1") + lines("/y/f1") + lines("/x/f0") + lines("/y/f0") + lines("/x/f2"));
    EXPECT_EQ(files(search_node(rootnode, "x")), (Strs{"f0@1", "f1@1", "f2@1"}));
    // Two paths longer than the cache that agree in their first 1600
    // characters are different directories; components are cut at 256.
    std::string base = "/" + std::string(1600, 'L');
    tree_node *la = build_node((base + "/a").c_str(), 0, nullptr, nullptr);
    tree_node *lb = build_node((base + "/b").c_str(), 0, nullptr, nullptr);
    ASSERT_NE(la, nullptr);
    ASSERT_NE(lb, nullptr);
    EXPECT_STREQ(la->name, "a");
    EXPECT_STREQ(lb->name, "b");
    tree_node *l = search_node(rootnode, std::string(256, 'L').c_str());
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(search_node(l, "a"), la);
}

} // namespace
