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

using Strs = std::vector<std::string>;
constexpr int32_t END = 2000000000;
constexpr int32_t T0 = 1500000000; // the default modification time

// Each test gets a scratch directory, root, removed with everything below it.
class FilesysTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_program_state();
        set_row_sink(nullptr);
        collected_rows().clear();
        collected_rows().has_filter = false;
        right_avoidable_pos = 0;
        char tmpl[] = "/tmp/xkp_filesys_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
    }
    void TearDown() override {
        std::string cmd = "chmod -R u+rwx '" + root + "' 2>/dev/null; rm -rf '" + root + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
    std::string path(const std::string &rel) const { return root + "/" + rel; }

    // Makes "name/" a directory (mode 0755), "name" a file (0644) or
    // "name>target" a symbolic link below root; mode -1 keeps the default.
    void add(const std::string &rel, int32_t mtime = T0, int mode = -1) {
        const std::string p = path(rel);
        if (size_t arrow = rel.find('>'); arrow != std::string::npos) {
            ASSERT_EQ(symlink(rel.substr(arrow + 1).c_str(), path(rel.substr(0, arrow)).c_str()),
                      0);
            return;
        }
        const bool dir = rel.back() == '/';
        if (dir) {
            ASSERT_EQ(mkdir(p.c_str(), 0700), 0) << rel << ": " << strerror(errno);
        } else {
            int fd = open(p.c_str(), O_CREAT | O_WRONLY | O_EXCL, 0600);
            ASSERT_GE(fd, 0) << rel;
            close(fd);
        }
        ASSERT_EQ(chmod(p.c_str(), mode >= 0 ? mode : dir ? 0755 : 0644), 0);
        touch(rel, mtime);
    }
    void add(std::initializer_list<std::string> rels) {
        for (const auto &rel : rels)
            add(rel);
    }
    // Parent directories' times change as entries appear: set them last.
    void touch(const std::string &rel, int32_t mtime) {
        struct timespec ts[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path(rel).c_str(), ts, AT_SYMLINK_NOFOLLOW), 0);
    }
    static void list_tree(const std::string &dir, int32_t start = 0, int32_t end = END) {
        collected_rows().clear();
        right_avoidable_pos = 0;
        filesys_tree(dir.c_str(), start, end);
    }
    static void list_dir(const std::string &dir) {
        collected_rows().clear();
        right_avoidable_pos = 0;
        filesys_dir(dir.c_str(), 0, END);
    }
    static Strs left(std::string collected_left_row::*field = &collected_left_row::line) {
        Strs out;
        for (const auto &r : collected_rows().left)
            out.push_back(r.*field);
        return out;
    }
    static Strs right(std::string collected_right_row::*field = &collected_right_row::name) {
        Strs out;
        for (const auto &r : collected_rows().right)
            out.push_back(r.*field);
        return out;
    }

    std::string root;
};

TEST_F(FilesysTest, DepthLimitsTheWalkAndFullPathView) {
    add({"a/", "a/a1/", "a/a1/a2/", "a/a1/a2/a3/", "b/", "f"});
    const std::string &r = root;
    const struct {
        int limit;
        Strs lines;
    } cases[] = {
        {1, {r, "   a", "   b"}},
        {2, {r, "   a", "     a1", "   b"}},
        {3, {r, "   a", "     a1", "       a2", "   b"}},
        {999, {r, "   a", "     a1", "       a2", "         a3", "   b"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.limit);
        recursion_limit = c.limit;
        list_tree(r);
        EXPECT_EQ(left(), c.lines);
        EXPECT_EQ(recursion_limit, c.limit); // restored after every descent
        EXPECT_EQ(right(), (Strs{"a/", "b/", " ", "f"}));
        EXPECT_EQ(right_avoidable_pos, 3);
    }
    recursion_limit = 2;
    list_tree(r);
    EXPECT_EQ(left(&collected_left_row::key), (Strs{"", "   ", "     ", "   "}));
    graphic_mode = 3;
    list_tree(r + "/");
    EXPECT_EQ(left(), (Strs{r + "/", path("a"), path("a/a1"), path("b")}));
    EXPECT_EQ(left(&collected_left_row::key), Strs(4, ""));
}

TEST_F(FilesysTest, ListingRootOfTypedText) {
    const std::pair<const char *, const char *> cases[] = {
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
    for (const auto &[typed, root] : cases)
        EXPECT_EQ(filesys_root(typed), root) << typed;
}

TEST_F(FilesysTest, WildcardSelectsSubdirectories) {
    add({"u1/", "u1/deep/", "u2/", "v/", "file"});
    const std::string &r = root;
    recursion_limit = 999;
    list_tree(r + "/u*");
    EXPECT_STREQ(right_dir, r.c_str());
    EXPECT_EQ(std::string(patterned_dir), r + "/u*");
    EXPECT_EQ(left(), (Strs{r, "   u1", "     deep", "   u2"}));
    EXPECT_EQ(right(), (Strs{"u1/", "u2/", " ", "file"}));
    // A pattern deeper than the subdirectories keeps none of them.
    list_tree(r + "/u*/docs");
    EXPECT_EQ(left(), Strs{r});
    EXPECT_EQ(right(), Strs{"file"});
    // A right-only listing keeps filtering with the last full listing's pattern.
    list_tree(r + "/u*");
    list_dir(r);
    EXPECT_TRUE(collected_rows().left.empty());
    EXPECT_EQ(std::string(patterned_dir), r + "/u*");
    EXPECT_EQ(right(), (Strs{"u1/", "u2/", " ", "file"}));
}

TEST_F(FilesysTest, DateWindowIsInclusive) {
    const int32_t s = 1400000000, e = 1600000000;
    for (const auto &[name, time] : {std::pair{"before", s - 1},
                                     {"at_start", s},
                                     {"inside", s + 5},
                                     {"at_end", e},
                                     {"after", e + 1},
                                     {"old_dir/", s - 100},
                                     {"new_dir/", s + 100}})
        add(name, time);
    list_tree(root, s, e);
    EXPECT_EQ(right(), (Strs{"new_dir/", " ", "at_end", "at_start", "inside"}));
    EXPECT_EQ(collected_rows().right[2].date_key, std::to_string(e));
    // The directory outside the window is still in the directory list.
    EXPECT_EQ(left(), (Strs{root, "   new_dir", "   old_dir"}));
}

TEST_F(FilesysTest, SeparatorNeedsDirectoryRowsAndAFollowingEntry) {
    const struct {
        const char *what;
        std::initializer_list<const char *> entries;
        int32_t start;      // when not 0, "a" is dated before it
        const char *filter; // null: no filter field
        Strs names;
        size_t left_lines; // the left list is neither dated nor filtered
    } cases[] = {
        {"directories only", {"a/"}, 0, nullptr, {"a/"}, 2},
        {"files only", {"f"}, 0, nullptr, {"f"}, 1},
        {"directory row outside the window", {"a/", "f"}, 1000, nullptr, {"f"}, 2},
        {"filter hides the directory rows", {"a/", "x.c", "y.h"}, 0, "*.c", {"x.c"}, 2},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = "case" + std::to_string(++n);
        add(dir + "/");
        for (const char *e : c.entries)
            add(dir + "/" + e, c.start != 0 && e[0] == 'a' ? 100 : T0);
        collected_rows().has_filter = c.filter != nullptr;
        collected_rows().filter = c.filter != nullptr ? c.filter : "";
        list_tree(path(dir), c.start);
        EXPECT_EQ(right(), c.names);
        EXPECT_EQ(right_avoidable_pos, 0);
        EXPECT_EQ(left().size(), c.left_lines);
    }
}

TEST_F(FilesysTest, VerboseRowsModesAndLinks) {
    add({"real/", "real/inside/", "alias>real", "dangling>/nonexistent/target"});
    add("setuid", T0, 04644);
    add("setgid", T0, 02644);
    add("exec", T0, 06755);
    add("sticky/", T0, 01754);
    add("tmpish/", T0, 01777);
    verbose = 1;
    recursion_limit = 999;
    list_tree(root);
    // Links are listed as entries, never descended.
    EXPECT_EQ(left(), (Strs{root, "   real", "     inside", "   sticky", "   tmpish"}));
    Strs modes;
    for (const auto &row : right(&collected_right_row::row))
        modes.push_back(row.substr(0, 10));
    EXPECT_EQ(right(), (Strs{"real/", "sticky/", "tmpish/", " ", "alias", "dangling", "exec",
                             "setgid", "setuid"}));
    EXPECT_EQ(modes, (Strs{"drwxr-xr-x", "drwxr-xr-T", "drwxrwxrwt", " ", "lrwxrwxrwx",
                           "lrwxrwxrwx", "-rwsr-sr-x", "-rw-r-lr--", "-rwSr--r--"}));
    const std::string sticky = collected_rows().right[1].row;
    EXPECT_EQ(sticky.substr(sticky.size() - 8), " sticky/");
    char want[256];
    snprintf(want, sizeof want, "-rwSr--r-- %10s %10s %11s %s setuid", "root", "root", "0",
             datestringl(T0, tmlctime, 0));
    if (geteuid() == 0) {
        EXPECT_EQ(collected_rows().right[8].row, want);
    }
}

TEST_F(FilesysTest, PermissionAndTypeLetters) {
    const std::pair<mode_t, const char *> cases[] = {
        {0000, "---------"},  {0777, "rwxrwxrwx"},  {04100, "--s------"}, {04000, "--S------"},
        {02010, "-----s---"}, {02000, "-----l---"}, {01001, "--------t"}, {01000, "--------T"},
        {07777, "rwsrwsrwt"}, {07000, "--S--l--T"}, {0421, "r---w---x"},  {0142, "--xr---w-"},
    };
    for (const auto &[mode, letters] : cases)
        EXPECT_STREQ(pmode(mode), letters) << std::oct << mode;
    const std::pair<mode_t, char> types[] = {{S_IFIFO, 'p'}, {S_IFCHR, 'c'}, {S_IFDIR, 'd'},
                                             {S_IFBLK, 'b'}, {S_IFLNK, 'l'}, {S_IFSOCK, 's'},
                                             {S_IFREG, '-'}, {0, '-'}};
    for (const auto &[type, letter] : types)
        EXPECT_EQ(printfiletype(type | 0644), letter) << std::oct << type;
}

TEST_F(FilesysTest, OwnerAndGroupNames) {
    char name[65];
    for (const auto &[id, want] : {std::pair{0u, "root"}, {3999999u, "3999999"}, {0u, "root"}}) {
        finduname(name, id); // the cache moves to each new id
        EXPECT_STREQ(name, want);
    }
    for (const auto &[id, want] : {std::pair{0u, "root"}, {3999998u, "3999998"}}) {
        findgname(name, id);
        EXPECT_STREQ(name, want);
    }
    struct stat64 st {};
    st.st_mode = S_IFREG | 0640;
    st.st_uid = 1234567890; // no such user: ten digits, cut to nine
    st.st_size = 12345678901LL;
    st.st_mtime = 77;
    file_stats fs;
    get_stats(&fs, &st);
    EXPECT_EQ(Strs({fs.owner, fs.group, fs.mode, fs.size}),
              (Strs{"123456789", "root", "-rw-r-----", "12345678901"}));
    EXPECT_EQ(fs.mtime, 77);
    for (const auto &[mode, type] :
         {std::pair{S_IFREG | 0640, 0}, {S_IFDIR | 0755, 1}, {S_IFLNK | 0777, 2}}) {
        st.st_mode = mode;
        get_stats(&fs, &st);
        EXPECT_EQ(fs.type, type) << std::oct << mode;
    }
}

TEST_F(FilesysTest, UnopenableDirectoriesAreLeftOut) {
    const auto listed = [](auto list, const std::string &dir) {
        testing::internal::CaptureStdout();
        list(dir);
        return testing::internal::GetCapturedStdout();
    };
    debug_enabled = 1;
    EXPECT_EQ(listed(list_dir, "/nonexistent/xkp/dir"),
              "debug could not open directory:/nonexistent/xkp/dir!\n");
    EXPECT_TRUE(collected_rows().right.empty());
    EXPECT_TRUE(collected_rows().left.empty());

    add({"open/"});
    add("closed/", T0, 0000);
    add("closed/hidden/");
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    recursion_limit = 999;
    // Root reads every directory: look at the tree as an ordinary user.
    const bool was_root = geteuid() == 0;
    if (was_root) {
        ASSERT_EQ(seteuid(65534), 0);
    }
    const std::string out = listed([](const std::string &d) { list_tree(d); }, root);
    if (was_root) {
        ASSERT_EQ(seteuid(0), 0);
    }
    EXPECT_EQ(out, "debug could not open directory:" + path("closed") + "!\n");
    // The parent still lists it as a subdirectory; it has no line of its own.
    EXPECT_EQ(left(), (Strs{root, "   open"}));
    EXPECT_EQ(right(), (Strs{"closed/", "open/"}));
    debug_enabled = 0;
    EXPECT_EQ(listed(list_dir, "/nonexistent/xkp/dir"), "");
}

TEST_F(FilesysTest, HostsMapEntriesFilteredByTheMountTable) {
    // A mount table that makes /tmp the hosts-map mount point, with one host
    // mounted below our scratch directory.
    add({"host/", "host/export/", "f"});
    char table[] = "/tmp/xkp_mnttab_XXXXXX";
    int fd = mkstemp(table);
    ASSERT_GE(fd, 0);
    std::string text =
        "-hosts /tmp autofs rw 0 0\n-hosts " + path("host/export") + " autofs rw 0 0\n";
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    setenv("XKP_MNTTAB", table, 1);
    discard_mount_list();
    ASSERT_EQ(create_mount_list(2, MNT_LOFS_AND_HOSTS_ONLY), 0);
    recursion_limit = 1;
    list_tree("/tmp");
    const std::string name = root.substr(5);
    // Of everything in /tmp only the directory with a mounted host is examined.
    EXPECT_EQ(left(), (Strs{"/tmp", "   " + name}));
    EXPECT_EQ(right(), Strs{name + "/"});
    // Deeper directories are listed as usual.
    list_tree(root);
    EXPECT_EQ(right(), (Strs{"host/", " ", "f"}));
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
    EXPECT_EQ(left()[0], "/");
    const auto names = right();
    EXPECT_NE(std::find(names.begin(), names.end(), "tmp/"), names.end());
    list_dir("");
    EXPECT_STREQ(right_dir, "/");
    EXPECT_FALSE(collected_rows().right.empty());
}

TEST_F(FilesysTest, EntriesPerDirectoryAreCapped) {
    for (int i = 0; i < FILESYS_MAX_ENTRIES + 20; ++i)
        add("f" + std::to_string(i));
    list_dir(root);
    const auto names = right();
    EXPECT_EQ(names.size(), static_cast<size_t>(FILESYS_MAX_ENTRIES));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

TEST_F(FilesysTest, SortIsStableDirectoriesFirstThenBytes) {
    const auto before = [](const std::string &a, const std::string &b) {
        const bool da = !a.empty() && a.back() == '/', db = !b.empty() && b.back() == '/';
        return da != db ? da : strcmp(a.c_str(), b.c_str()) < 0;
    };
    std::mt19937 rng(99);
    const char *alphabet[] = {"a", "B", "b", "_", ".", "a/", "\xe9", "Z", "1", "/"};
    for (int round = 0; round < 200; ++round) {
        Strs names(rng() % 40);
        for (auto &s : names)
            for (int k = 0, len = 1 + static_cast<int>(rng() % 4); k < len; ++k)
                s += alphabet[rng() % 10];
        std::vector<struct stat64> stats(names.size());
        for (size_t i = 0; i < names.size(); ++i)
            stats[i].st_ino = i; // follows its name
        Strs want = names, original = names;
        std::stable_sort(want.begin(), want.end(), before);
        sort(static_cast<int>(names.size()), names.data(), stats.data());
        ASSERT_EQ(names, want);
        for (size_t i = 0; i < names.size(); ++i)
            ASSERT_EQ(original[stats[i].st_ino], names[i]);
    }
}

} // namespace
