// The backed-up file tree over recorded kplist listings.
#include <gtest/gtest.h>

#include "listing_helpers.h"
#include "timefuncs.h"
#include "xkp_tree.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <tuple>

namespace {

struct line_spec {
    std::string path;
    int32_t backup;
    int dev = 7;
    int32_t mtime = 1000000000;
    std::string mode = "-rw-r--r--", owner = "ann", group = "staff";
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
    void SetUp() override { reset_rows(); }
    void TearDown() override { free_all(); }

    // The lines of path, one per backup time, with the path length stated
    // as given; the other fields as in line_spec.
    static std::string lines(const std::string &path, std::initializer_list<int32_t> times = {1},
                             int stated = -1) {
        std::string out;
        for (int32_t t : times) {
            out += kpline({.path = path, .backup = t, .stated = stated});
        }
        return out;
    }
    static void build(const std::string &dir, const std::string &text) {
        init_tree();
        std::unique_ptr<FILE, int (*)(FILE *)> f(
            fmemopen(const_cast<char *>(text.data()), text.size(), "r"), fclose);
        ASSERT_NE(f, nullptr);
        build_tree(dir.c_str(), f.get());
    }
    // Fills both lists for dir through dump_all.
    static void dump(const char *dir) {
        T_strlcpy(left_dir, dir, sizeof left_dir);
        T_strlcpy(right_dir, dir, sizeof right_dir);
        collected_rows().clear();
        dump_all();
    }
    // The files of dir in list order, as "name@backup time" (brief entries).
    static Strs files(const tree_node *dir) {
        Strs out;
        for (const file_node *f = dir != nullptr ? dir->files : nullptr; f; f = f->next) {
            out.push_back(std::string(f->entry + 5) + "@" + std::to_string(f->backup_time));
        }
        return out;
    }
    static std::string date_of(int32_t t) { return datestringl(t, tmlctime, 0); }
};

TEST_F(TreeTest, VersionsNewestFirstStoredOnceAndTheDateAndImageSwitches) {
    // Repeated lines (same path, same time) are stored once; by true_image and
    // show_all_dates, the listed directory's own versions come first as ".",
    // the separator row is " @ ".
    build("/d", lines("/d/", {300, 150}) + lines("/d/sub/", {200, 100, 300, 250, 100}) +
                    lines("/d/f", {100, 300, 200, 300}) + lines("/d/e", {200}) +
                    lines("/d/g", {100}));
    const std::pair<std::pair<int, int>, Strs> cases[] = {
        {{0, 0}, {"sub/@300", " @ ", "e@200", "f@300", "g@100"}},
        {{1, 0}, {".@300", "sub/@300", " @ ", "e@200", "f@300", "g@100"}},
        {{1, 1},
         {".@300", ".@150", "sub/@300", "sub/@250", "sub/@200", "sub/@100", " @ ", "e@200", "f@300",
          "f@200", "f@100", "g@100"}}};
    for (const auto &[flags, rows] : cases) {
        std::tie(true_image, show_all_dates) = flags;
        dump("/d");
        EXPECT_EQ(keyed_rows(), rows);
        EXPECT_EQ(
            std::tuple(right_avoidable_pos, collected_rows().flushes, collected_rows().pending),
            std::tuple(std::find(rows.begin(), rows.end(), " @ ") - rows.begin() + 1, 1, size_t{0}))
            << true_image << show_all_dates;
    }
}

TEST_F(TreeTest, SeparatorOnlyAfterAcceptedDirectoryRows) {
    // A directory known only as part of a longer path has no time entry and
    // no row, so no separator either.
    build("/d", lines("/d/deep/x") + lines("/d/f"));
    dump("/d");
    EXPECT_EQ(std::pair(right_rows(), right_avoidable_pos), std::pair(Strs{"f"}, 0));
    // The separator row itself is never filtered, the others are.
    build("/d", lines("/d/a/") + lines("/d/x.c") + lines("/d/y.h"));
    collected_rows().has_filter = true;
    for (const auto &[filter, names] :
         {std::pair{"*.c  ", Strs{"x.c"}}, {"", Strs{"a/", " ", "x.c", "y.h"}}}) {
        collected_rows().filter = filter;
        dump("/d");
        EXPECT_EQ(right_rows(), names) << filter;
    }
    const auto &sep = collected_rows().right[1];
    EXPECT_EQ(Strs({sep.row, sep.date_key, sep.extra}), Strs(3, " "));
    // dump_dir: nothing for a path that is not a directory of the tree.
    build("/", lines("/a/b/") + lines("/a/b/f"));
    for (const auto &[dir, names] : {std::pair{"/a/b/f", Strs{}}, {"/a", Strs{"b/", " "}}}) {
        collected_rows().clear();
        dump_dir(dir);
        EXPECT_EQ(right_rows(), names) << dir;
    }
}

TEST_F(TreeTest, ListingTextIsReadLeniently) {
    std::string last = lines("/d/last");
    last.pop_back(); // the last line has no newline
    std::vector<std::pair<std::string, Strs>> cases = {
        // The newlines of a name break its line; the stated length joins it again.
        {lines("/d/two\nlines\nhere") + lines("/d/after"), {"after", "two\nlines\nhere"}},
        {lines("/d/name", {100}, 20) + "more", {"name\nmore"}}, // ends with the input
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
    for (int stated : {-5, 0, 1, 5000, 2147483647}) {
        cases.push_back({lines("/d/a", {100}, stated) + lines("/d/b"), {"a", "b"}});
    }
    // A line longer than the read limit continues as the next line; neither
    // piece may crash or end up as a path outside the tree.
    cases.push_back({lines("/d/" + std::string(3000, 'n'), {100}, 10) + lines("/d/x"), {}});
    for (const auto &[text, names] : cases) {
        build("/d", text);
        dump("/d");
        const Strs got = right_rows();
        EXPECT_EQ(names.empty() && !got.empty() ? Strs{got.back()} : got,
                  names.empty() ? Strs{"x"} : names);
        EXPECT_EQ(rootnode->files, nullptr) << text.substr(0, 120);
    }
    // A path with no slash at all is a file of the root, named by all of it.
    build("/", lines("rel") + lines("/rel", {2}));
    EXPECT_EQ(files(rootnode), (Strs{"rel@2", "rel@1"}));
}

TEST_F(TreeTest, RootDeviceTest) {
    // Only lines of the listed root decide (the root without its trailing
    // slash is the root as well); the file line's device has no say.
    const std::tuple<const char *, const char *, std::vector<int>, int, int> cases[] = {
        {"/home/ann/", "/home/ann/", {5, 5}, 1, 5},
        {"/home/ann/", "/home/ann/", {5, 6}, 0, -1},
        {"/home/ann/", "/home/ann/", {5, 6, 5}, 0, -1},
        {"/home/ann/", "/home/ann/", {-1, 5}, 0, -1},
        {"/home/ann/", "/home/ann/", {5, -1}, 0, -1},
        {"/home/ann/", "/home/ann/", {}, 0, -1},
        {"/home/ann", "/home/ann", {8}, 1, 8},
        {"", "/", {4}, 1, 4}};
    for (const auto &[dir, root, devs, possible, device] : cases) {
        std::string text;
        for (int dev : devs) {
            text += kpline({root, 100, dev});
        }
        build(dir, text + kpline({"/home/ann/f", 100, 99}));
        EXPECT_EQ(std::pair(root_filesys_only_possible, device_number), std::pair(possible, device))
            << root << " " << devs.size();
    }
}

TEST_F(TreeTest, LeftListDepthIndentAndFullPath) {
    // Nodes deeper than minimum_depth + recursion_limit + 1 are not visited;
    // each line's key is its indent.
    build("/h", lines("/h/b/y/") + lines("/h/a/") + lines("/h/b/") + lines("/h/b/x/z/"));
    const std::tuple<int, int, Strs> cases[] = {
        {999, 0, {"/h", "  a", "  b", "    x", "      z", "    y"}},
        {999, 3, {"/h", "/h/a", "/h/b", "/h/b/x", "/h/b/x/z", "/h/b/y"}},
        {1, 0, {"/h", "  a", "  b", "    x", "    y"}}};
    for (const auto &[limit, mode, want] : cases) {
        recursion_limit = limit;
        graphic_mode = mode;
        dump("/h");
        EXPECT_EQ(left_rows(), want);
        for (const auto &r : collected_rows().left) {
            EXPECT_EQ(r.key, r.line.substr(0, r.line.find_first_not_of(' '))) << r.line;
        }
    }
    // The root, and a parent with "..": their line is "/"; no node is "/h/..".
    dump("");
    EXPECT_EQ(left_rows()[0], "/");
    dump("/h/..");
    EXPECT_EQ(std::pair(left_rows()[0], collected_rows().right.size()),
              std::pair(std::string("/"), size_t{0}));
    // minimum_depth counts the components of left_dir, ".." going up.
    for (const std::string c : {"=1", "/=1", "/home/user=3", "/home/user/=3", "/home/user/..=2",
                                "/home/./user=3", "/home/../..=1", "/a/../b/c=3"}) {
        dump(c.substr(0, c.find('=')).c_str());
        EXPECT_EQ(minimum_depth, c.back() - '0') << c;
    }
}

TEST_F(TreeTest, ByteOrderForAnyInputOrder) {
    // Files by name in byte order, equal names newest first (the kplist fuzz
    // target checks that subdirectories are in strcmp order).
    const std::set<std::string> names = {
        "a", "ab", "a b", "b", "B", "a\tb", "zz", "\xc3\xa9t\xc3\xa9", "_", "\xff"};
    Strs want, text;
    for (const auto &n : names) {
        text.push_back(lines("/d/" + n, {100, 300, 200}));
        for (const char *t : {"300", "200", "100"}) {
            want.push_back(n + "@" + t);
        }
    }
    std::mt19937 rng(12345);
    for (int round = 0; round < 20; ++round) {
        std::shuffle(text.begin(), text.end(), rng);
        build("/d", std::accumulate(text.begin(), text.end(), std::string()));
        ASSERT_EQ(files(search_node(rootnode, "d")), want) << round;
    }
}

TEST_F(TreeTest, VerboseEntriesAndTrueImageRows) {
    verbose = 1;
    build("/d", kpline({"/d/", 500, 7, 1000, "drwxr-xr-x", "root", "wheel", 4096}) +
                    kpline({"/d/f", 600, 7, 2000, "-rw-------", "x:y", "g:h", 123456}));
    // Rows of the directory and of the file (colons in names shown as blanks);
    // with true_image the "." row is the directory's own line.
    const std::string d_row = date_of(500) + " drwxr-xr-x       root      wheel        4096 " +
                              date_of(1000),
                      f_row = date_of(600) + " -rw-------        x y        g h      123456 " +
                              date_of(2000) + "  f";
    const auto rows = [] { return column(collected_rows().right, &collected_right_row::row); };
    dump("/");
    EXPECT_EQ(rows(), (Strs{d_row + "  d/", " "}));
    dump("/d");
    EXPECT_EQ(rows(), Strs{f_row});
    true_image = 1;
    dump("/d");
    EXPECT_EQ(rows(), (Strs{d_row + "  .", " ", f_row}));
    EXPECT_EQ(collected_rows().right[0].extra, "33188 1 100 200 0 0 0 7 3");
}

TEST_F(TreeTest, NodesAlongThePathAndTheCache) {
    // Intermediate nodes take the numbers of the line that made them, no time.
    build("/", kpline({"/a/b/c/f", 1, 42}));
    tree_node *a = search_node(rootnode, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->numbers, "33188 1 100 200 0 0 0 42 3");
    EXPECT_EQ(a->timelist, nullptr);
    EXPECT_EQ(files(search_node(search_node(a, "b"), "c")), Strs{"f@1"});
    // Numbers not in the form "%d" prints (sign, leading zeros, beyond 32
    // bits) are stored as it would print their value.
    std::string odd = kpline({"/n/f", 1});
    odd.replace(0, 22, "+5 007 -0 -12 99999999999 -99999999999 0 ");
    build("/", odd);
    ASSERT_NE(search_node(rootnode, "n"), nullptr);
    EXPECT_STREQ(search_node(rootnode, "n")->numbers, "5 7 0 -12 2147483647 -2147483648 0 7 3");
    // Lines alternating between directories land where they belong.
    build("/", lines("/x/f1") + lines("/y/f1") + lines("/x/f0") + lines("/y/f0") + lines("/x/f2"));
    EXPECT_EQ(files(search_node(rootnode, "x")), (Strs{"f0@1", "f1@1", "f2@1"}));
    // Two paths longer than the cache that agree in their first 1600
    // characters are different directories; components are cut at 256.
    const std::string base = "/" + std::string(1600, 'L');
    tree_node *la = build_node((base + "/a").c_str(), 0, nullptr, nullptr);
    tree_node *lb = build_node((base + "/b").c_str(), 0, nullptr, nullptr);
    ASSERT_TRUE(la != nullptr && lb != nullptr);
    EXPECT_EQ(std::string(la->name) + std::string(lb->name), "ab");
    tree_node *l = search_node(rootnode, std::string(256, 'L').c_str());
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(search_node(l, "a"), la);
}

} // namespace
