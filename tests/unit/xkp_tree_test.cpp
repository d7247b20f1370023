// The backed-up file tree over recorded kplist listings.
#include <gtest/gtest.h>

#include "timefuncs.h"
#include "xkp_rows.h"
#include "xkp_state.h"
#include "xkp_tree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

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
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%lld %d %d %d", s.size, s.backup, s.mtime,
             s.stated >= 0 ? s.stated : static_cast<int>(s.path.size()));
    char r[256];
    snprintf(r, sizeof r, "%-10s %-9s %-9s %-37s ", s.mode.c_str(), s.owner.c_str(),
             s.group.c_str(), numbers);
    char head[128];
    snprintf(head, sizeof head, "33188 1 100 200 0 0 0 %d 3 ", s.dev);
    return std::string(head) + r + s.path + "\n";
}

std::string listing(const std::vector<line_spec> &lines) {
    std::string out;
    for (const auto &l : lines)
        out += kpline(l);
    return out;
}

void build_from(const std::string &dir, const std::string &text) {
    init_tree();
    FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    ASSERT_NE(f, nullptr);
    build_tree(dir.c_str(), f);
    fclose(f);
}

std::vector<std::string> right_names() {
    std::vector<std::string> out;
    for (const auto &r : collected_rows().right)
        out.push_back(r.name);
    return out;
}

std::vector<std::string> right_keys() {
    std::vector<std::string> out;
    for (const auto &r : collected_rows().right)
        out.push_back(r.date_key);
    return out;
}

std::vector<std::string> left_lines() {
    std::vector<std::string> out;
    for (const auto &r : collected_rows().left)
        out.push_back(r.line);
    return out;
}

std::string date_of(int32_t t) {
    return datestringl(t, tmlctime, 0);
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

    // Dumps the file list of dir (both lists through dump_all).
    void dump(const char *dir) {
        T_strlcpy(left_dir, dir, sizeof left_dir);
        T_strlcpy(right_dir, dir, sizeof right_dir);
        collected_rows().clear();
        dump_all();
    }
};

TEST_F(TreeTest, VersionsNewestFirstAndAllDatesSwitch) {
    build_from("/d", listing({{"/d/", 300},
                              {"/d/f", 100},
                              {"/d/f", 300},
                              {"/d/f", 200},
                              {"/d/e", 200},
                              {"/d/g", 100}}));
    show_all_dates = 1;
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"e", "f", "f", "f", "g"}));
    EXPECT_EQ(right_keys(), (std::vector<std::string>{"200", "300", "200", "100", "100"}));
    show_all_dates = 0;
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"e", "f", "g"}));
    EXPECT_EQ(right_keys(), (std::vector<std::string>{"200", "300", "100"}));
    // Each row carries its date text and the nine numbers of its line.
    const auto &r = collected_rows().right[1];
    EXPECT_EQ(r.row, date_of(300) + "  f");
    EXPECT_EQ(r.extra, "33188 1 100 200 0 0 0 7 3");
    EXPECT_EQ(collected_rows().flushes, 1);
    EXPECT_EQ(collected_rows().pending, 0u);
}

TEST_F(TreeTest, DuplicateLinesStoredOnce) {
    build_from("/d",
               listing({{"/d/f", 100}, {"/d/f", 100}, {"/d/f", 100}, {"/d/", 5}, {"/d/", 5}}));
    tree_node *d = search_node(rootnode, "d");
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->files, nullptr);
    EXPECT_EQ(d->files->next, nullptr);
    ASSERT_NE(d->timelist, nullptr);
    EXPECT_EQ(d->timelist->next, nullptr);
}

TEST_F(TreeTest, DirectoryTimesListedPerDateSetting) {
    build_from("/d", listing({{"/d/sub/", 100},
                              {"/d/sub/", 300},
                              {"/d/sub/", 200},
                              {"/d/sub/", 300},
                              {"/d/f", 100}}));
    tree_node *sub = search_node(search_node(rootnode, "d"), "sub");
    ASSERT_NE(sub, nullptr);
    std::vector<int32_t> times;
    for (time_entry *t = sub->timelist; t != nullptr; t = t->next)
        times.push_back(t->time);
    EXPECT_EQ(times, (std::vector<int32_t>{300, 200, 100}));

    show_all_dates = 1;
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"sub/", "sub/", "sub/", " ", "f"}));
    EXPECT_EQ(right_avoidable_pos, 4);
    show_all_dates = 0;
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"sub/", " ", "f"}));
    EXPECT_EQ(right_keys()[0], "300");
    EXPECT_EQ(right_avoidable_pos, 2);
}

TEST_F(TreeTest, SeparatorOnlyAfterAcceptedDirectoryRows) {
    // A directory known only as part of a longer path has no time entry and
    // no row, so no separator either.
    build_from("/d", listing({{"/d/deep/x", 100}, {"/d/f", 100}}));
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"f"}));
    EXPECT_EQ(right_avoidable_pos, 0);
    // The separator row itself is never filtered, the others are.
    build_from("/d", listing({{"/d/a/", 1}, {"/d/x.c", 1}, {"/d/y.h", 1}}));
    collected_rows().has_filter = true;
    collected_rows().filter = "*.c  ";
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"x.c"}));
    collected_rows().filter = "";
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"a/", " ", "x.c", "y.h"}));
    const auto &sep = collected_rows().right[1];
    EXPECT_EQ(sep.row, " ");
    EXPECT_EQ(sep.date_key, " ");
    EXPECT_EQ(sep.extra, " ");
}

TEST_F(TreeTest, ContinuationLinesCarryEmbeddedNewlines) {
    std::string name = "/d/two\nlines\nhere";
    line_spec s{name, 100};
    std::string text = kpline(s); // the newlines of the name break the line
    text += kpline({"/d/after", 100});
    build_from("/d", text);
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"after", "two\nlines\nhere"}));
}

TEST_F(TreeTest, ContinuationStopsAtEndOfInput) {
    // The stated length exceeds what follows: the path ends with the input.
    std::string text = kpline({"/d/name", 100, 7, 1000000000, "-rw-r--r--", "a", "b", 1, 20});
    text += "more";
    build_from("/d", text);
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"name\nmore"}));
}

TEST_F(TreeTest, ImpossibleLengthsDoNotSwallowInput) {
    for (int stated : {-5, 0, 1, 5000, 2147483647}) {
        std::string text = kpline({"/d/a", 100, 7, 1, "-rw-r--r--", "a", "b", 1, stated});
        text += kpline({"/d/b", 100});
        build_from("/d", text);
        dump("/d");
        EXPECT_EQ(right_names(), (std::vector<std::string>{"a", "b"})) << stated;
    }
}

TEST_F(TreeTest, DotAndDotDotLinesIgnored) {
    std::string text = listing({{"/d/f", 1}});
    // Paths without a slash are taken from column 69 as they stand.
    text += kpline({".", 1}) + kpline({"..", 1}) + kpline({"/d/.", 1}) + kpline({"/d/..", 1});
    build_from("/d", text);
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"f"}));
    EXPECT_EQ(rootnode->files, nullptr);
}

TEST_F(TreeTest, GarbledLinesSkippedGoodOnesKept) {
    std::string good = kpline({"/d/ok", 1});
    std::string text = "\n"
                       "garbage\n"
                       "1 2 3 4 5 6 7 8\n" +                     // eight numbers only
                       std::string("1 2 3 4 5 6 7 x 9 rest\n") + // not a number
                       "1 2 3 4 5 6 7 8 9 short R\n" +           // R without a path column
                       "1 2 3 4 5 6 7 8 9 " +
                       std::string(80, 'z') + "\n" + // no numbers at 31
                       good;
    text += kpline({"/d/last", 2});
    text.pop_back(); // the last line has no newline
    build_from("/d", text);
    dump("/d");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"last", "ok"}));
}

TEST_F(TreeTest, LongLinesAreCutAtTheLineLimit) {
    // A line longer than the read limit continues as the next line; neither
    // piece may crash or end up as a path outside the tree.
    std::string big = "/d/" + std::string(3000, 'n');
    std::string text = kpline({big, 1, 7, 1, "-rw-r--r--", "a", "b", 1, 10});
    text += kpline({"/d/x", 1});
    build_from("/d", text);
    dump("/d");
    auto names = right_names();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "x");
}

struct device_case {
    std::vector<int> root_devs;
    int expect_possible;
    int expect_device;
};

TEST_F(TreeTest, RootDeviceTest) {
    const device_case cases[] = {
        {{5, 5, 5}, 1, 5}, {{5, 6}, 0, -1},    {{-1}, 0, -1}, {{-1, 5}, 0, -1},
        {{5, -1}, 0, -1},  {{5, 6, 5}, 0, -1}, {{}, 0, -1},
    };
    for (const auto &c : cases) {
        std::vector<line_spec> lines;
        for (int dev : c.root_devs) {
            lines.push_back({"/home/ann/", 100, dev});
            lines.push_back({"/home/ann/f", 100, 99}); // not the root: no say
        }
        build_from("/home/ann/", listing(lines));
        EXPECT_EQ(root_filesys_only_possible, c.expect_possible) << c.root_devs.size();
        EXPECT_EQ(device_number, c.expect_device) << c.root_devs.size();
    }
    // The root without its trailing slash counts as the root as well.
    build_from("/home/ann", listing({{"/home/ann", 1, 8}, {"/home/ann/", 1, 8}}));
    EXPECT_EQ(root_filesys_only_possible, 1);
    EXPECT_EQ(device_number, 8);
    // The root directory itself.
    build_from("", listing({{"/", 1, 4}, {"/etc/", 1, 9}}));
    EXPECT_EQ(root_filesys_only_possible, 1);
    EXPECT_EQ(device_number, 4);
}

TEST_F(TreeTest, DumpDirOfMissingPathAddsNothing) {
    build_from("/", listing({{"/a/b/", 1}, {"/a/b/f", 1}}));
    collected_rows().clear();
    dump_dir("/a/missing");
    EXPECT_TRUE(collected_rows().right.empty());
    dump_dir("/a/b/f"); // a file is not a directory of the tree
    EXPECT_TRUE(collected_rows().right.empty());
    dump_dir("/a/b/");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"f"}));
    collected_rows().clear();
    dump_dir("/a");
    // Directory rows are always followed by the separator row.
    EXPECT_EQ(right_names(), (std::vector<std::string>{"b/", " "}));
}

struct depth_case {
    const char *left;
    int depth;
};

TEST_F(TreeTest, MinimumDepthCountsComponents) {
    const depth_case cases[] = {
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
    build_from("/", listing({{"/home/user/f", 1}}));
    for (const auto &c : cases) {
        T_strlcpy(left_dir, c.left, sizeof left_dir);
        right_dir[0] = '\0';
        dump_all();
        EXPECT_EQ(minimum_depth, c.depth) << c.left;
    }
}

TEST_F(TreeTest, LeftListIndentedAndFullPath) {
    build_from("/h", listing({{"/h/b/y/", 1}, {"/h/a/", 1}, {"/h/b/", 1}, {"/h/b/x/z/", 1}}));
    recursion_limit = 999;
    dump("/h");
    EXPECT_EQ(left_lines(),
              (std::vector<std::string>{"/h", "  a", "  b", "    x", "      z", "    y"}));
    EXPECT_EQ(collected_rows().left[3].key, "    ");
    EXPECT_EQ(collected_rows().left[0].key, "");
    graphic_mode = 3;
    dump("/h");
    EXPECT_EQ(left_lines(),
              (std::vector<std::string>{"/h", "/h/a", "/h/b", "/h/b/x", "/h/b/x/z", "/h/b/y"}));
    for (const auto &l : collected_rows().left)
        EXPECT_EQ(l.key, "");
    // Depth: nodes deeper than minimum_depth + recursion_limit + 1 are not visited.
    graphic_mode = 0;
    recursion_limit = 1;
    dump("/h");
    EXPECT_EQ(left_lines(), (std::vector<std::string>{"/h", "  a", "  b", "    x", "    y"}));
    // The root directory: its line is "/".
    dump("");
    EXPECT_EQ(left_lines()[0], "/");
    // A parent directory with "..": the line of /h's parent is the root.
    dump("/h/..");
    EXPECT_EQ(left_lines()[0], "/");
    EXPECT_TRUE(collected_rows().right.empty()); // no node is called "/h/.."
}

TEST_F(TreeTest, FileOrderMatchesCompareFilesForAnyInputOrder) {
    std::mt19937 rng(12345);
    const char *names[] = {"a", "ab", "a b", "b", "B", "a\tb", "zz", "\xc3\xa9t\xc3\xa9", "_"};
    for (int round = 0; round < 20; ++round) {
        std::vector<line_spec> lines;
        for (const char *n : names)
            for (int t : {100, 300, 200})
                lines.push_back({std::string("/d/") + n, t});
        std::shuffle(lines.begin(), lines.end(), rng);
        build_from("/d", listing(lines));
        tree_node *d = search_node(rootnode, "d");
        ASSERT_NE(d, nullptr);
        int count = 0;
        for (file_node *f = d->files; f != nullptr; f = f->next, ++count) {
            if (f->next != nullptr) {
                ASSERT_LT(compare_files(f, f->next->backup_time, f->next->entry), 0)
                    << f->entry << " / " << f->next->entry;
            }
        }
        EXPECT_EQ(count, 27);
    }
}

TEST_F(TreeTest, SubdirectoriesInByteOrderAnyInputOrder) {
    std::mt19937 rng(7);
    std::vector<std::string> names = {"b", "a", "B", "aa", "a-", "z", "0", "\xff"};
    for (int round = 0; round < 20; ++round) {
        std::shuffle(names.begin(), names.end(), rng);
        std::vector<line_spec> lines;
        for (const auto &n : names)
            lines.push_back({"/r/" + n + "/", 1});
        build_from("/r", listing(lines));
        std::vector<std::string> got;
        for (tree_node *c = search_node(rootnode, "r")->child; c != nullptr; c = c->next)
            got.push_back(c->name);
        auto want = names;
        std::sort(want.begin(), want.end(), [](const std::string &a, const std::string &b) {
            return strcmp(a.c_str(), b.c_str()) < 0;
        });
        EXPECT_EQ(got, want);
    }
}

TEST_F(TreeTest, VerboseEntriesAndRows) {
    verbose = 1;
    build_from("/d", listing({{"/d/", 500, 7, 1000, "drwxr-xr-x", "root", "wheel", 4096},
                              {"/d/f", 600, 7, 2000, "-rw-------", "x:y", "g:h", 123456}}));
    tree_node *d = search_node(rootnode, "d");
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->files, nullptr);
    std::string date = date_of(2000);
    char want[512];
    snprintf(want, sizeof want, "   1 f %s %10s %10s %11s %s", "-rw-------", "x y", "g h", "123456",
             date.c_str());
    EXPECT_STREQ(d->files->entry, want);
    EXPECT_EQ(entry_name_length(d->files->entry), 1);
    EXPECT_STREQ(entry_verbose_columns(d->files->entry), want + 7);

    dump("/");
    const auto &rows = collected_rows().right;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "d/");
    EXPECT_EQ(rows[0].row, date_of(500) + " " + entry_verbose_columns(d->timelist->text) + "  d/");
    EXPECT_NE(rows[0].row.find("drwxr-xr-x       root      wheel"), std::string::npos);
    dump("/d");
    ASSERT_EQ(collected_rows().right.size(), 1u);
    EXPECT_EQ(collected_rows().right[0].row, date_of(600) + " " + std::string(want + 7) + "  f");
}

TEST_F(TreeTest, TrueImageDotRows) {
    true_image = 1;
    verbose = 1;
    build_from("/", listing({{"/", 100, 3, 1, "drwxr-xr-x", "root", "root", 1},
                             {"/", 200, 3, 1, "drwxr-xr-x", "root", "root", 1},
                             {"/etc/", 200, 3, 1, "drwxr-xr-x", "root", "root", 1},
                             {"/f", 200}}));
    ASSERT_NE(rootnode->numbers, nullptr);
    EXPECT_STREQ(rootnode->numbers, "33188 1 100 200 0 0 0 3 3");
    show_all_dates = 1;
    dump("/");
    EXPECT_EQ(right_names(), (std::vector<std::string>{".", ".", "etc/", " ", "f"}));
    EXPECT_EQ(right_keys()[0], "200");
    EXPECT_EQ(right_keys()[1], "100");
    EXPECT_NE(collected_rows().right[0].row.find("drwxr-xr-x"), std::string::npos);
    EXPECT_EQ(collected_rows().right[0].extra, rootnode->numbers);
    show_all_dates = 0;
    dump("/");
    EXPECT_EQ(right_names(), (std::vector<std::string>{".", "etc/", " ", "f"}));
    true_image = 0;
    dump("/");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"etc/", " ", "f"}));
}

TEST_F(TreeTest, IntermediateNodesTakeTheLinesNumbers) {
    build_from("/", listing({{"/a/b/c/f", 1, 42}}));
    tree_node *a = search_node(rootnode, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->numbers, "33188 1 100 200 0 0 0 42 3");
    EXPECT_EQ(a->timelist, nullptr);
    tree_node *c = search_node(search_node(a, "b"), "c");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->files->backup_time, 1);
}

TEST_F(TreeTest, CacheAndHintDoNotMisplaceNodes) {
    // Lines alternating between directories land where they belong.
    build_from("/",
               listing({{"/x/f1", 1}, {"/y/f1", 1}, {"/x/f0", 1}, {"/y/f0", 1}, {"/x/f2", 1}}));
    std::vector<std::string> xs;
    for (file_node *f = search_node(rootnode, "x")->files; f != nullptr; f = f->next)
        xs.push_back(f->entry + 5);
    EXPECT_EQ(xs, (std::vector<std::string>{"f0", "f1", "f2"}));
    // Two paths longer than the cache that agree in their first 1600
    // characters are different directories.
    std::string base = "/" + std::string(1600, 'L');
    tree_node *a = build_node((base + "/a").c_str(), 0, nullptr, nullptr);
    tree_node *b = build_node((base + "/b").c_str(), 0, nullptr, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_STREQ(a->name, "a");
    EXPECT_STREQ(b->name, "b");
    // Components are cut at 256 characters.
    tree_node *l = search_node(rootnode, std::string(256, 'L').c_str());
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(search_node(l, "a"), a);
}

TEST_F(TreeTest, LowLevelInsertionApi) {
    init_tree();
    tree_node *d = build_node("/p/q", 0, "   0 ", "1 2 3 4 5 6 7 8 9");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(build_node("/p/q", 0, nullptr, nullptr), d);
    int found = 0;
    EXPECT_EQ(closest_node(rootnode, "p", &found), search_node(rootnode, "p"));
    EXPECT_EQ(found, 1);
    EXPECT_EQ(closest_node(rootnode, "a", &found), nullptr);
    EXPECT_EQ(found, 0);
    add_file(d, 10, "   1 m", "n");
    add_file(d, 20, "   1 m", "n");
    add_file(d, 20, "   1 m", "n");
    add_file(d, 5, "   1 a", "n");
    int end = 0;
    file_node *at = closest_file(d, 15, "   1 m", &found, &end);
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(at->backup_time, 20);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(end, 0);
    at = closest_file(d, 10, "   1 m", &found, &end);
    EXPECT_EQ(at->backup_time, 10);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(end, 1);
    time_entry *list = nullptr;
    for (int t : {5, 9, 1, 9, 7})
        build_timelist(&list, t, nullptr);
    std::vector<int> ts;
    for (time_entry *t = list; t != nullptr; t = t->next)
        ts.push_back(t->time);
    EXPECT_EQ(ts, (std::vector<int>{9, 7, 5, 1}));
}

} // namespace
