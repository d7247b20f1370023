// The local file-system listing over generated temporary trees.
#include <gtest/gtest.h>

#include "mount.h"
#include "timefuncs.h"
#include "xkp_filesys.h"
#include "xkp_rows.h"
#include "xkp_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t BEGIN = 0;
constexpr int32_t END = 2000000000;

// A scratch directory removed with everything below it.
class temp_tree {
  public:
    temp_tree() {
        char tmpl[] = "/tmp/xkp_filesys_XXXXXX";
        const char *made = mkdtemp(tmpl);
        EXPECT_NE(made, nullptr);
        root_ = made != nullptr ? made : "/nonexistent";
    }
    ~temp_tree() {
        std::string cmd = "chmod -R u+rwx '" + root_ + "' 2>/dev/null; rm -rf '" + root_ + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
    const std::string &root() const { return root_; }
    std::string path(const std::string &rel) const { return root_ + "/" + rel; }

    void dir(const std::string &rel, int32_t mtime = 1500000000, mode_t mode = 0755) {
        ASSERT_EQ(mkdir(path(rel).c_str(), mode), 0) << rel << ": " << strerror(errno);
        chmod(path(rel).c_str(), mode);
        touch_time(rel, mtime);
    }
    void file(const std::string &rel, int32_t mtime = 1500000000, mode_t mode = 0644) {
        int fd = open(path(rel).c_str(), O_CREAT | O_WRONLY | O_EXCL, 0600);
        ASSERT_GE(fd, 0) << rel;
        close(fd);
        ASSERT_EQ(chmod(path(rel).c_str(), mode), 0);
        touch_time(rel, mtime);
    }
    void link(const std::string &target, const std::string &rel) {
        ASSERT_EQ(symlink(target.c_str(), path(rel).c_str()), 0);
    }
    // Parent directories' times change as entries appear: set them last.
    void touch_time(const std::string &rel, int32_t mtime) {
        struct timespec ts[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path(rel).c_str(), ts, AT_SYMLINK_NOFOLLOW), 0);
    }

  private:
    std::string root_;
};

std::vector<std::string> left_lines() {
    std::vector<std::string> out;
    for (const auto &r : collected_rows().left)
        out.push_back(r.line);
    return out;
}

std::vector<std::string> right_names() {
    std::vector<std::string> out;
    for (const auto &r : collected_rows().right)
        out.push_back(r.name);
    return out;
}

class FilesysTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_program_state();
        set_row_sink(nullptr);
        collected_rows().clear();
        collected_rows().has_filter = false;
        right_avoidable_pos = 0;
    }
    void list_tree(const std::string &dir, int32_t start = BEGIN, int32_t end = END) {
        collected_rows().clear();
        right_avoidable_pos = 0;
        filesys_tree(dir.c_str(), start, end);
    }
    void list_dir(const std::string &dir, int32_t start = BEGIN, int32_t end = END) {
        collected_rows().clear();
        right_avoidable_pos = 0;
        filesys_dir(dir.c_str(), start, end);
    }
};

TEST_F(FilesysTest, DepthLimitsTheWalk) {
    temp_tree t;
    t.dir("a");
    t.dir("a/a1");
    t.dir("a/a1/a2");
    t.dir("a/a1/a2/a3");
    t.dir("b");
    t.file("f");
    const std::string r = t.root();
    struct depth_case {
        int limit;
        std::vector<std::string> lines;
    } cases[] = {
        {1, {r, "   a", "   b"}},
        {2, {r, "   a", "     a1", "   b"}},
        {3, {r, "   a", "     a1", "       a2", "   b"}},
        {999, {r, "   a", "     a1", "       a2", "         a3", "   b"}},
    };
    for (const auto &c : cases) {
        recursion_limit = c.limit;
        list_tree(r);
        EXPECT_EQ(left_lines(), c.lines) << c.limit;
        EXPECT_EQ(recursion_limit, c.limit); // restored after every descent
        EXPECT_EQ(right_names(), (std::vector<std::string>{"a/", "b/", " ", "f"})) << c.limit;
        EXPECT_EQ(right_avoidable_pos, 3);
    }
    recursion_limit = 2;
    list_tree(r);
    EXPECT_EQ(collected_rows().left[1].key, "   ");
    EXPECT_EQ(collected_rows().left[2].key, "     ");
    EXPECT_EQ(collected_rows().left[0].key, "");
}

TEST_F(FilesysTest, FullPathView) {
    temp_tree t;
    t.dir("a");
    t.dir("a/x");
    t.dir("b");
    graphic_mode = 3;
    recursion_limit = 999;
    list_tree(t.root() + "/");
    EXPECT_EQ(left_lines(),
              (std::vector<std::string>{t.root() + "/", t.path("a"), t.path("a/x"), t.path("b")}));
    for (const auto &l : collected_rows().left)
        EXPECT_EQ(l.key, "");
}

TEST_F(FilesysTest, ListingRootOfTypedText) {
    struct root_case {
        const char *typed;
        const char *root;
    } cases[] = {
        {"", "/"},
        {"/", "/"},
        {"/home", "/home"},
        {"/home/u*", "/home"},
        {"/home/u*/docs", "/home"},
        {"/home/[ab]x", "/home"},
        {"/h/x?/y*", "/h"},
        {"/home/a\\*b", "/home/a\\*b"},
        {"/home/a\\*b/c*", "/home/a\\*b"},
        {"/u*", "/"},
        {"*", "*"},
        {"ab*", "ab*"},
        {"ab*/c/d*", "ab*/c"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(filesys_root(c.typed), c.root) << c.typed;
}

TEST_F(FilesysTest, WildcardSelectsSubdirectories) {
    temp_tree t;
    t.dir("u1");
    t.dir("u1/deep");
    t.dir("u2");
    t.dir("v");
    t.file("file");
    recursion_limit = 999;
    list_tree(t.root() + "/u*");
    EXPECT_STREQ(right_dir, t.root().c_str());
    EXPECT_EQ(std::string(patterned_dir), t.root() + "/u*");
    EXPECT_EQ(left_lines(), (std::vector<std::string>{t.root(), "   u1", "     deep", "   u2"}));
    EXPECT_EQ(right_names(), (std::vector<std::string>{"u1/", "u2/", " ", "file"}));

    // A pattern deeper than the subdirectories keeps none of them.
    list_tree(t.root() + "/u*/docs");
    EXPECT_EQ(left_lines(), (std::vector<std::string>{t.root()}));
    EXPECT_EQ(right_names(), (std::vector<std::string>{"file"}));

    // A right-only listing keeps filtering with the last full listing's pattern.
    list_tree(t.root() + "/u*");
    list_dir(t.root());
    EXPECT_TRUE(collected_rows().left.empty());
    EXPECT_EQ(std::string(patterned_dir), t.root() + "/u*");
    EXPECT_EQ(right_names(), (std::vector<std::string>{"u1/", "u2/", " ", "file"}));
}

TEST_F(FilesysTest, DateWindowIsInclusive) {
    temp_tree t;
    const int32_t s = 1400000000, e = 1600000000;
    t.file("before", s - 1);
    t.file("at_start", s);
    t.file("inside", s + 5);
    t.file("at_end", e);
    t.file("after", e + 1);
    t.dir("old_dir", s - 100);
    t.dir("new_dir", s + 100);
    t.touch_time("old_dir", s - 100);
    list_tree(t.root(), s, e);
    EXPECT_EQ(right_names(),
              (std::vector<std::string>{"new_dir/", " ", "at_end", "at_start", "inside"}));
    // The directory outside the window is still in the directory list.
    EXPECT_EQ(left_lines(), (std::vector<std::string>{t.root(), "   new_dir", "   old_dir"}));
    EXPECT_EQ(collected_rows().right[2].date_key, std::to_string(e));
}

TEST_F(FilesysTest, SeparatorNeedsDirectoryRowsAndAFollowingEntry) {
    {
        temp_tree t; // directories only
        t.dir("a");
        list_tree(t.root());
        EXPECT_EQ(right_names(), (std::vector<std::string>{"a/"}));
        EXPECT_EQ(right_avoidable_pos, 0);
    }
    {
        temp_tree t; // files only
        t.file("f");
        list_tree(t.root());
        EXPECT_EQ(right_names(), (std::vector<std::string>{"f"}));
        EXPECT_EQ(right_avoidable_pos, 0);
    }
    {
        temp_tree t; // the directory row is outside the window
        t.dir("a", 100);
        t.file("f", 1500000000);
        list_tree(t.root(), 1000, END);
        EXPECT_EQ(right_names(), (std::vector<std::string>{"f"}));
    }
    {
        temp_tree t; // the filter hides the directory rows
        t.dir("a");
        t.file("x.c");
        t.file("y.h");
        collected_rows().has_filter = true;
        collected_rows().filter = "*.c";
        list_tree(t.root());
        EXPECT_EQ(right_names(), (std::vector<std::string>{"x.c"}));
        EXPECT_EQ(left_lines().size(), 2u); // the left list is not filtered
    }
}

TEST_F(FilesysTest, VerboseRowsAndModeLetters) {
    temp_tree t;
    t.file("setuid", 1500000000, 04644);
    t.file("setgid", 1500000000, 02644);
    t.file("exec", 1500000000, 06755);
    t.dir("sticky", 1500000000, 01754);
    t.dir("tmpish", 1500000000, 01777);
    t.link("sticky", "link");
    verbose = 1;
    list_tree(t.root());
    std::vector<std::string> modes;
    for (const auto &r : collected_rows().right)
        modes.push_back(r.row.substr(0, 10));
    EXPECT_EQ(modes, (std::vector<std::string>{"drwxr-xr-T", "drwxrwxrwt", " ", "-rwsr-sr-x",
                                               "lrwxrwxrwx", "-rw-r-lr--", "-rwSr--r--"}));
    const auto &row = collected_rows().right[6];
    EXPECT_EQ(row.name, "setuid");
    std::string date = datestringl(1500000000, tmlctime, 0);
    char want[256];
    snprintf(want, sizeof want, "-rwSr--r-- %10s %10s %11s %s setuid", "root", "root", "0",
             date.c_str());
    if (geteuid() == 0) {
        EXPECT_EQ(row.row, want);
    }
    EXPECT_EQ(collected_rows().right[0].name, "sticky/");
    EXPECT_EQ(collected_rows().right[0].row.substr(collected_rows().right[0].row.size() - 8),
              " sticky/");
}

TEST_F(FilesysTest, SymbolicLinkToDirectoryIsNotDescended) {
    temp_tree t;
    t.dir("real");
    t.dir("real/inside");
    t.link("real", "alias");
    t.link("/nonexistent/target", "dangling");
    recursion_limit = 999;
    list_tree(t.root());
    EXPECT_EQ(left_lines(), (std::vector<std::string>{t.root(), "   real", "     inside"}));
    EXPECT_EQ(right_names(), (std::vector<std::string>{"real/", " ", "alias", "dangling"}));
}

TEST_F(FilesysTest, PermissionLetters) {
    struct mode_case {
        mode_t mode;
        const char *letters;
    } cases[] = {
        {0000, "---------"},  {0777, "rwxrwxrwx"},  {04100, "--s------"}, {04000, "--S------"},
        {02010, "-----s---"}, {02000, "-----l---"}, {01001, "--------t"}, {01000, "--------T"},
        {07777, "rwsrwsrwt"}, {07000, "--S--l--T"}, {0421, "r---w---x"},  {0142, "--xr---w-"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(pmode(c.mode), c.letters) << std::oct << c.mode;
    struct type_case {
        mode_t mode;
        char letter;
    } types[] = {{S_IFIFO, 'p'}, {S_IFCHR, 'c'},  {S_IFDIR, 'd'}, {S_IFBLK, 'b'},
                 {S_IFLNK, 'l'}, {S_IFSOCK, 's'}, {S_IFREG, '-'}, {0, '-'}};
    for (const auto &c : types)
        EXPECT_EQ(printfiletype(c.mode | 0644), c.letter) << std::oct << c.mode;
}

TEST_F(FilesysTest, OwnerAndGroupNames) {
    char name[65];
    finduname(name, 0);
    EXPECT_STREQ(name, "root");
    finduname(name, 3999999);
    EXPECT_STREQ(name, "3999999");
    finduname(name, 0); // the cache moves to the new id
    EXPECT_STREQ(name, "root");
    findgname(name, 0);
    EXPECT_STREQ(name, "root");
    findgname(name, 3999998);
    EXPECT_STREQ(name, "3999998");

    struct stat64 st {};
    st.st_mode = S_IFREG | 0640;
    st.st_uid = 1234567890; // no such user: ten digits, cut to nine
    st.st_gid = 0;
    st.st_size = 12345678901LL;
    st.st_mtime = 77;
    file_stats fs;
    get_stats(&fs, &st);
    EXPECT_STREQ(fs.owner, "123456789");
    EXPECT_STREQ(fs.group, "root");
    EXPECT_STREQ(fs.mode, "-rw-r-----");
    EXPECT_STREQ(fs.size, "12345678901");
    EXPECT_EQ(fs.mtime, 77);
    EXPECT_EQ(fs.type, 0);
    st.st_mode = S_IFDIR | 0755;
    get_stats(&fs, &st);
    EXPECT_EQ(fs.type, 1);
    st.st_mode = S_IFLNK | 0777;
    get_stats(&fs, &st);
    EXPECT_EQ(fs.type, 2);
}

TEST_F(FilesysTest, UnopenableDirectoriesAreLeftOut) {
    debug_enabled = 1;
    testing::internal::CaptureStdout();
    list_dir("/nonexistent/xkp/dir");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "debug could not open directory:/nonexistent/xkp/dir!\n");
    EXPECT_TRUE(collected_rows().right.empty());
    EXPECT_TRUE(collected_rows().left.empty());

    temp_tree t;
    t.dir("open");
    t.dir("closed", 1500000000, 0000);
    t.dir("closed/hidden");
    ASSERT_EQ(chmod(t.root().c_str(), 0755), 0);
    recursion_limit = 999;
    // Root reads every directory: look at the tree as an ordinary user.
    const bool was_root = geteuid() == 0;
    if (was_root) {
        ASSERT_EQ(seteuid(65534), 0);
    }
    testing::internal::CaptureStdout();
    list_tree(t.root());
    if (was_root) {
        ASSERT_EQ(seteuid(0), 0);
    }
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "debug could not open directory:" + t.path("closed") + "!\n");
    // The parent still lists it as a subdirectory; it has no line of its own.
    EXPECT_EQ(left_lines(), (std::vector<std::string>{t.root(), "   open"}));
    EXPECT_EQ(right_names(), (std::vector<std::string>{"closed/", "open/"}));

    debug_enabled = 0;
    testing::internal::CaptureStdout();
    list_dir("/nonexistent/xkp/dir");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(FilesysTest, HostsMapEntriesFilteredByTheMountTable) {
    // A mount table that makes /tmp the hosts-map mount point, with one host
    // mounted below our scratch directory.
    temp_tree t;
    t.dir("host");
    t.dir("host/export");
    t.file("f");
    char table[] = "/tmp/xkp_mnttab_XXXXXX";
    int fd = mkstemp(table);
    ASSERT_GE(fd, 0);
    std::string text =
        "-hosts /tmp autofs rw 0 0\n-hosts " + t.path("host/export") + " autofs rw 0 0\n";
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    setenv("XKP_MNTTAB", table, 1);
    discard_mount_list();
    ASSERT_EQ(create_mount_list(2, MNT_LOFS_AND_HOSTS_ONLY), 0);

    recursion_limit = 1;
    list_tree("/tmp");
    const std::string name = t.root().substr(5);
    // Of everything in /tmp only the directory with a mounted host is examined.
    EXPECT_EQ(left_lines(), (std::vector<std::string>{"/tmp", "   " + name}));
    EXPECT_EQ(right_names(), (std::vector<std::string>{name + "/"}));
    // Deeper directories are listed as usual.
    list_tree(t.root());
    EXPECT_EQ(right_names(), (std::vector<std::string>{"host/", " ", "f"}));

    discard_mount_list();
    unsetenv("XKP_MNTTAB");
    unlink(table);
}

TEST_F(FilesysTest, EmptyDirectoryMeansRoot) {
    recursion_limit = 1;
    list_tree("");
    EXPECT_STREQ(right_dir, "/");
    EXPECT_STREQ(patterned_dir, "/");
    ASSERT_FALSE(collected_rows().left.empty());
    EXPECT_EQ(left_lines()[0], "/");
    const auto names = right_names();
    EXPECT_NE(std::find(names.begin(), names.end(), "tmp/"), names.end());
    list_dir("");
    EXPECT_STREQ(right_dir, "/");
    EXPECT_FALSE(collected_rows().right.empty());
}

TEST_F(FilesysTest, EntriesPerDirectoryAreCapped) {
    temp_tree t;
    for (int i = 0; i < FILESYS_MAX_ENTRIES + 20; ++i)
        t.file("f" + std::to_string(i));
    list_dir(t.root());
    EXPECT_EQ(collected_rows().right.size(), static_cast<size_t>(FILESYS_MAX_ENTRIES));
    auto names = right_names();
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

// The documented order: count-1 passes of neighbour swaps on a positive comparison.
void bubble(std::vector<std::string> &names) {
    auto cmp = [](const std::string &a, const std::string &b) {
        bool da = !a.empty() && a.back() == '/', db = !b.empty() && b.back() == '/';
        if (da && !db)
            return -1;
        if (db && !da)
            return 1;
        return strcmp(a.c_str(), b.c_str());
    };
    for (size_t pass = 0; pass + 1 < names.size(); ++pass)
        for (size_t i = 0; i + 1 < names.size() - pass; ++i)
            if (cmp(names[i], names[i + 1]) > 0)
                std::swap(names[i], names[i + 1]);
}

TEST_F(FilesysTest, SortMatchesTheBubbleOrder) {
    std::mt19937 rng(99);
    const char *alphabet[] = {"a", "B", "b", "_", ".", "a/", "\xe9", "Z", "1", "/"};
    for (int round = 0; round < 200; ++round) {
        size_t n = rng() % 40;
        std::vector<std::string> names;
        for (size_t i = 0; i < n; ++i) {
            std::string s;
            for (int k = 0, len = 1 + static_cast<int>(rng() % 4); k < len; ++k)
                s += alphabet[rng() % 10];
            names.push_back(s);
        }
        std::vector<struct stat64> stats(n);
        for (size_t i = 0; i < n; ++i)
            stats[i].st_ino = i; // follows its name
        std::vector<std::string> want = names;
        bubble(want);
        std::vector<std::string> original = names;
        sort(static_cast<int>(n), names.data(), stats.data());
        ASSERT_EQ(names, want);
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(original[stats[i].st_ino], names[i]);
    }
}

} // namespace
