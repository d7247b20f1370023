// The local file-system listing over generated temporary trees.
#include <gtest/gtest.h>

#include "listing_helpers.h"
#include "mount.h"
#include "timefuncs.h"
#include "xkp_filesys.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sys/stat.h>

namespace {

constexpr int32_t END = 2000000000;
constexpr int32_t T0 = 1500000000; // the default modification time

class FilesysTest : public ::testing::Test {
  protected:
    void SetUp() override { reset_rows(); }
    std::string path(const std::string &rel) const { return dir.path(rel); }
    void add(std::initializer_list<std::string> rels, int32_t mtime = T0, int mode = -1) {
        for (const auto &rel : rels) {
            dir.add(rel, mtime, mode);
        }
    }
    // Lists d into both lists (tree) or the file list only.
    static void list(const std::string &d, int32_t start = 0, int32_t end = END, bool tree = true) {
        collected_rows().clear();
        right_avoidable_pos = 0;
        (tree ? filesys_tree : filesys_dir)(d.c_str(), start, end);
    }
    static void list_files(const std::string &d) { list(d, 0, END, false); }

    ScratchDir dir;
    const std::string &root = dir.root;
};

TEST_F(FilesysTest, DepthLimitsTheWalkAndFullPathView) {
    add({"a/", "a/a1/", "a/a1/a2/", "a/a1/a2/a3/", "b/", "f"});
    // By depth limit and full-path view (typed with a trailing "/"); each
    // line's key is its indent.
    const std::tuple<int, int, Strs> cases[] = {
        {1, 0, {root, "   a", "   b"}},
        {2, 0, {root, "   a", "     a1", "   b"}},
        {999, 0, {root, "   a", "     a1", "       a2", "         a3", "   b"}},
        {2, 3, {root + "/", path("a"), path("a/a1"), path("b")}}};
    for (const auto &[limit, mode, lines] : cases) {
        recursion_limit = limit;
        graphic_mode = mode;
        list(mode == 3 ? root + "/" : root);
        EXPECT_EQ(left_rows(), lines);
        for (const auto &r : collected_rows().left) {
            EXPECT_EQ(r.key, r.line.substr(0, r.line.find_first_not_of(' ')));
        }
        EXPECT_EQ(recursion_limit, limit); // restored after every descent
        EXPECT_EQ(std::pair(right_rows(), right_avoidable_pos),
                  std::pair(Strs{"a/", "b/", " ", "f"}, 3));
    }
}

TEST_F(FilesysTest, ListingRootOfTypedText) {
    // "typed|root": the directory part before the first unescaped wildcard.
    for (const std::string c : {"|/", "/|/", "/home|/home", "/home/u*|/home", "/home/u*/docs|/home",
                                "/home/[ab]x|/home", "/h/x?/y*|/h", "/home/a\\*b|/home/a\\*b",
                                "/home/a\\*b/c*|/home/a\\*b", "/u*|/", "*|*", "ab*/c/d*|ab*/c"}) {
        const size_t bar = c.find('|');
        EXPECT_EQ(filesys_root(c.substr(0, bar).c_str()), c.substr(bar + 1)) << c;
    }
}

TEST_F(FilesysTest, WildcardSelectsSubdirectories) {
    add({"u1/", "u1/deep/", "u2/", "v/", "file"});
    recursion_limit = 999;
    list(root + "/u*");
    EXPECT_EQ(Strs({right_dir, patterned_dir}), (Strs{root, root + "/u*"}));
    EXPECT_EQ(left_rows(), (Strs{root, "   u1", "     deep", "   u2"}));
    EXPECT_EQ(right_rows(), (Strs{"u1/", "u2/", " ", "file"}));
    // A pattern deeper than the subdirectories keeps none of them.
    list(root + "/u*/docs");
    EXPECT_EQ(std::pair(left_rows(), right_rows()), std::pair(Strs{root}, Strs{"file"}));
    // A right-only listing keeps filtering with the last full listing's pattern.
    list(root + "/u*");
    list_files(root);
    EXPECT_EQ(std::tuple(left_rows(), std::string(patterned_dir), right_rows()),
              std::tuple(Strs{}, root + "/u*", Strs{"u1/", "u2/", " ", "file"}));
}

TEST_F(FilesysTest, DateWindowIsInclusive) {
    const int32_t s = 1400000000, e = 1600000000;
    const std::pair<const char *, int32_t> entries[] = {
        {"before", s - 1}, {"at_start", s},       {"inside", s + 5},    {"at_end", e},
        {"after", e + 1},  {"old_dir/", s - 100}, {"new_dir/", s + 100}};
    for (const auto &[name, time] : entries) {
        add({name}, time);
    }
    list(root, s, e);
    EXPECT_EQ(right_rows(), (Strs{"new_dir/", " ", "at_end", "at_start", "inside"}));
    EXPECT_EQ(collected_rows().right[2].date_key, std::to_string(e));
    // The directory outside the window is still in the directory list.
    EXPECT_EQ(left_rows(), (Strs{root, "   new_dir", "   old_dir"}));
}

TEST_F(FilesysTest, VerboseRowsModesAndLinks) {
    add({"real/", "real/inside/", "alias>real", "dangling>/nonexistent/target"});
    const std::pair<const char *, int> special[] = {{"setuid", 04644},
                                                    {"setgid", 02644},
                                                    {"exec", 06755},
                                                    {"sticky/", 01754},
                                                    {"tmpish/", 01777}};
    for (const auto &[name, mode] : special) {
        add({name}, T0, mode);
    }
    verbose = 1;
    recursion_limit = 999;
    list(root);
    // Links are listed as entries, never descended.
    EXPECT_EQ(left_rows(), (Strs{root, "   real", "     inside", "   sticky", "   tmpish"}));
    // Each row's mode letters and name.
    Strs modes;
    for (const auto &r : collected_rows().right) {
        modes.push_back(r.row.substr(0, 10) + " " + r.name);
    }
    EXPECT_EQ(modes, (Strs{"drwxr-xr-x real/", "drwxr-xr-T sticky/", "drwxrwxrwt tmpish/", "   ",
                           "lrwxrwxrwx alias", "lrwxrwxrwx dangling", "-rwsr-sr-x exec",
                           "-rw-r-lr-- setgid", "-rwSr--r-- setuid"}));
    if (geteuid() == 0) { // the owner's name
        EXPECT_EQ(collected_rows().right[8].row, "-rwSr--r--       root       root           0 " +
                                                     std::string(datestringl(T0, tmlctime, 0)) +
                                                     " setuid");
    }
}

TEST_F(FilesysTest, PermissionAndTypeLetters) {
    const std::pair<mode_t, const char *> cases[] = {
        {0000, "---------"},  {0777, "rwxrwxrwx"},  {04100, "--s------"}, {04000, "--S------"},
        {02010, "-----s---"}, {02000, "-----l---"}, {01001, "--------t"}, {01000, "--------T"},
        {07777, "rwsrwsrwt"}, {07000, "--S--l--T"}, {0421, "r---w---x"},  {0142, "--xr---w-"},
    };
    for (const auto &[mode, letters] : cases) {
        EXPECT_STREQ(pmode(mode), letters) << std::oct << mode;
    }
    const std::pair<mode_t, char> types[] = {{S_IFIFO, 'p'}, {S_IFCHR, 'c'}, {S_IFDIR, 'd'},
                                             {S_IFBLK, 'b'}, {S_IFLNK, 'l'}, {S_IFSOCK, 's'},
                                             {S_IFREG, '-'}, {0, '-'}};
    for (const auto &[type, letter] : types) {
        EXPECT_EQ(printfiletype(type | 0644), letter) << std::oct << type;
    }
}

TEST_F(FilesysTest, OwnerAndGroupNames) {
    // "u" for a user, "g" for a group, the id, "=" and the name; the caches
    // move to each new id.
    char name[65];
    for (const std::string c :
         {"u0=root", "u3999999=3999999", "u0=root", "g0=root", "g3999998=3999998"}) {
        (c[0] == 'u' ? finduname : findgname)(name, static_cast<unsigned>(std::stoul(c.substr(1))));
        EXPECT_EQ(name, c.substr(c.find('=') + 1));
    }
    struct stat64 st {};
    st.st_mode = S_IFREG | 0640;
    st.st_uid = 1234567890; // no such user: ten digits, cut to nine
    st.st_size = 12345678901LL;
    st.st_mtime = 77;
    file_stats fs;
    get_stats(&fs, &st);
    EXPECT_EQ(Strs({fs.owner, fs.group, fs.mode, fs.size, std::to_string(fs.mtime)}),
              (Strs{"123456789", "root", "-rw-r-----", "12345678901", "77"}));
    for (const auto &[mode, type] :
         {std::pair{S_IFREG | 0640, 0}, {S_IFDIR | 0755, 1}, {S_IFLNK | 0777, 2}}) {
        st.st_mode = mode;
        get_stats(&fs, &st);
        EXPECT_EQ(fs.type, type) << std::oct << mode;
    }
}

TEST_F(FilesysTest, UnopenableDirectoriesAreLeftOut) {
    const auto listed = [](const std::string &d, bool tree) {
        testing::internal::CaptureStdout();
        list(d, 0, END, tree);
        return testing::internal::GetCapturedStdout();
    };
    debug_enabled = 1;
    EXPECT_EQ(listed("/nonexistent/xkp/dir", false),
              "debug could not open directory:/nonexistent/xkp/dir!\n");
    EXPECT_TRUE(collected_rows().right.empty() && collected_rows().left.empty());
    add({"open/"});
    add({"closed/"}, T0, 0000);
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    recursion_limit = 999;
    // Root reads every directory: look at the tree as an ordinary user.
    const bool was_root = geteuid() == 0;
    ASSERT_TRUE(!was_root || seteuid(65534) == 0);
    const std::string out = listed(root, true);
    ASSERT_TRUE(!was_root || seteuid(0) == 0);
    EXPECT_EQ(out, "debug could not open directory:" + path("closed") + "!\n");
    // The parent still lists it as a subdirectory; it has no line of its own.
    EXPECT_EQ(std::pair(left_rows(), right_rows()),
              std::pair(Strs{root, "   open"}, Strs{"closed/", "open/"}));
    debug_enabled = 0;
    EXPECT_EQ(listed("/nonexistent/xkp/dir", false), "");
}

TEST_F(FilesysTest, HostsMapEntriesFilteredByTheMountTable) {
    // A mount table that makes /tmp the hosts-map mount point, with one host
    // mounted below the scratch directory.
    add({"host/", "host/export/", "f"});
    const std::string table = path("mnttab");
    std::ofstream(table) << "-hosts /tmp autofs rw 0 0\n-hosts " + path("host/export") +
                                " autofs rw 0 0\n";
    setenv("XKP_MNTTAB", table.c_str(), 1);
    discard_mount_list();
    ASSERT_EQ(create_mount_list(2, MNT_LOFS_AND_HOSTS_ONLY), 0);
    recursion_limit = 1;
    list("/tmp");
    const std::string name = root.substr(5);
    // Of everything in /tmp only the directory with a mounted host is examined.
    EXPECT_EQ(std::pair(left_rows(), right_rows()),
              std::pair(Strs{"/tmp", "   " + name}, Strs{name + "/"}));
    // Deeper directories are listed as usual.
    list(root);
    EXPECT_EQ(right_rows(), (Strs{"host/", " ", "f", "mnttab"}));
    discard_mount_list();
    unsetenv("XKP_MNTTAB");
}

TEST_F(FilesysTest, EmptyDirectoryMeansRoot) {
    // The real root, as a smoke case.
    recursion_limit = 1;
    list("");
    EXPECT_EQ(Strs({right_dir, patterned_dir, left_rows().at(0)}), Strs(3, "/"));
    const auto names = right_rows();
    EXPECT_NE(std::find(names.begin(), names.end(), "tmp/"), names.end());
    list_files("");
    EXPECT_EQ(std::pair(std::string(right_dir), right_rows().empty()),
              std::pair(std::string("/"), false));
}

TEST_F(FilesysTest, EntriesPerDirectoryAreCappedAndSortedStably) {
    for (int i = 0; i < FILESYS_MAX_ENTRIES + 20; ++i) {
        dir.add("f" + std::to_string(i));
    }
    list_files(root);
    const auto names = right_rows();
    EXPECT_EQ(names.size(), static_cast<size_t>(FILESYS_MAX_ENTRIES));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    // sort: directories ("/" last) first, then byte order; stable, and each
    // status follows its name.
    const auto key = [](const std::string &n) { return std::pair(n.back() != '/', n); };
    std::mt19937 rng(99);
    const char *alphabet[] = {"a", "B", "b", "_", ".", "a/", "\xe9", "Z", "1", "/"};
    for (int round = 0; round < 200; ++round) {
        Strs names(rng() % 40);
        for (auto &s : names) {
            for (int k = 0, len = 1 + static_cast<int>(rng() % 4); k < len; ++k) {
                s += alphabet[rng() % 10];
            }
        }
        std::vector<struct stat64> stats(names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            stats[i].st_ino = i;
        }
        Strs want = names, original = names;
        std::stable_sort(want.begin(), want.end(),
                         [&](auto &a, auto &b) { return key(a) < key(b); });
        sort(static_cast<int>(names.size()), names.data(), stats.data());
        ASSERT_EQ(names, want);
        for (size_t i = 0; i < names.size(); ++i) {
            ASSERT_EQ(original[stats[i].st_ino], names[i]);
        }
    }
}

} // namespace
