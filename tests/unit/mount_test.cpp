// The mount table: which lines are kept, the hosts flag, the three questions,
// refreshes that only add, and the failure codes. Tables are written to
// temporary files named by XKP_MNTTAB.
#include <gtest/gtest.h>

#include "mount.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Strs = std::vector<std::string>;

class MountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/mnttab.XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        table = tmpl;
        setenv("XKP_MNTTAB", table.c_str(), 1);
        discard_mount_list();
    }
    void TearDown() override {
        discard_mount_list();
        unsetenv("XKP_MNTTAB");
        unlink(table.c_str());
    }
    // Writes (or with mode "a" appends to) the table and builds the list.
    int build(const std::string &text, int retries = 2, int mode = MNT_LOFS_AND_HOSTS_ONLY,
              const char *how = "w") {
        FILE *f = fopen(table.c_str(), how);
        EXPECT_NE(f, nullptr);
        if (f == nullptr) {
            return -1;
        }
        fputs(text.c_str(), f);
        fclose(f);
        return create_mount_list(retries, mode);
    }
    // The list from the head: "type unresolved|path|resource|hosts".
    static Strs entries() {
        Strs out;
        const mount_entry *prev = nullptr;
        for (const mount_entry *e = nfs_mount_list.get(); e != nullptr; e = e->next.get()) {
            EXPECT_EQ(e->previous, prev) << "back link of " << e->path;
            EXPECT_EQ(e->path_length, static_cast<int>(e->path.size()));
            out.push_back(std::to_string(e->type) + " " + e->unresolved_path + "|" + e->path + "|" +
                          e->resource + "|" + std::to_string(e->hosts));
            prev = e;
        }
        return out;
    }

    std::string table;
};

const char *kTable = "# mount table\n"
                     "/dev/sda1 / ext4 rw 0 0\n"
                     "server:/export/pub /pub nfs4 rw 0 0\n"
                     "-hosts /net autofs rw,nosuid 0 0\n"
                     "auto_home /home2 autofs rw 0 0\n"
                     "/export/home /home lofs rw 0 0\n"
                     "\n"
                     "-hosts /net/alpha/export autofs rw 0 0\n"
                     "/srv/data/ /mnt/data/ lofs ro 0 0\n"
                     "/export/my\\040files /files lofs rw 0 0\n";

const Strs kKept = {
    "2 /files|/files|/export/my files|0",
    "2 /mnt/data/|/mnt/data|/srv/data/|0",
    "3 /net/alpha/export|/net/alpha/export|-hosts|0",
    "2 /home|/home|/export/home|0",
    "3 /net|/net|-hosts|1",
};

TEST_F(MountTest, KeepsLoopBackAndHostsMapEntriesNewestFirst) {
    ASSERT_EQ(build(kTable), MNT_OK);
    EXPECT_EQ(lofs_and_hosts_mounts_only, 1);
    EXPECT_EQ(lists_already_built, 0);
    EXPECT_EQ(entries(), kKept);
    // A first build in any other mode keeps the nfs line and the other map too.
    discard_mount_list();
    ASSERT_EQ(build(kTable, 0, 0), MNT_OK);
    EXPECT_EQ(lofs_and_hosts_mounts_only, 0);
    Strs want = {"2 /files|/files|/export/my files|0",
                 "2 /mnt/data/|/mnt/data|/srv/data/|0",
                 "3 /net/alpha/export|/net/alpha/export|-hosts|0",
                 "2 /home|/home|/export/home|0",
                 "3 /home2|/home2|auto_home|0",
                 "3 /net|/net|-hosts|1",
                 "1 /pub|/pub|server:/export/pub|0"};
    EXPECT_EQ(entries(), want);
}

TEST_F(MountTest, Questions) {
    ASSERT_EQ(build(kTable), MNT_OK);
    const struct {
        const char *path;
        int hosts_mount_point, automounted;
        const char *loop_back; // null: no translation
    } cases[] = {
        {"/net", 1, 1, nullptr},
        {"/net/", 0, 1, nullptr}, // the listing strips the slash before asking
        {"/net/alpha", 0, 1, nullptr},
        {"/net/alpha/", 0, 1, nullptr},
        {"/net/beta", 0, 0, nullptr},
        {"/net/alp", 0, 0, nullptr},
        {"/net/alpha/export", 0, 0, nullptr},
        {"/home2", 0, 0, nullptr}, // another map is not kept at all
        {"/home", 0, 0, "/export/home"},
        {"/home/", 0, 0, "/export/home/"},
        {"/home/ann", 0, 0, "/export/home/ann"},
        {"/homework", 0, 0, nullptr},
        {"/hom", 0, 0, nullptr},
        {"/mnt/data/x", 0, 0, "/srv/data/x"}, // no doubled slash from the source's own
        {"/mnt/data", 0, 0, "/srv/data/"},
        {"", 0, 1, nullptr}, // "" + "/" is the root, below which /net is mounted
        {nullptr, 0, 0, nullptr},
    };
    for (const auto &q : cases) {
        SCOPED_TRACE(q.path != nullptr ? q.path : "(null)");
        EXPECT_EQ(is_hosts_mount_point(q.path) != 0, q.hosts_mount_point != 0);
        EXPECT_EQ(path_is_automounted(q.path) != 0, q.automounted != 0);
        const char *got = actual_loop_back_path(q.path);
        EXPECT_EQ(std::string(got != nullptr ? got : "(none)"),
                  q.loop_back != nullptr ? q.loop_back : "(none)");
    }
}

TEST_F(MountTest, LaterOfNestedLoopBackMountsWins) {
    const struct {
        const char *table, *path, *expected;
    } cases[] = {
        {"/export/a /data lofs rw 0 0\n/export/b /data/sub lofs rw 0 0\n", "/data/sub/x",
         "/export/b/x"},
        {"/export/b /data/sub lofs rw 0 0\n/export/a /data lofs rw 0 0\n", "/data/sub/x",
         "/export/a/sub/x"},
        {"/export/a /data lofs rw 0 0\n/export/c /data lofs rw 0 0\n", "/data/y", "/export/c/y"},
        {"/export/root / lofs rw 0 0\n", "/etc/passwd", "(none)"}, // not at a boundary
        {"/export/root / lofs rw 0 0\n", "/", "/export/root"},
    };
    for (const auto &c : cases) {
        discard_mount_list();
        ASSERT_EQ(build(c.table, 0), MNT_OK);
        const char *got = actual_loop_back_path(c.path);
        EXPECT_STREQ(got != nullptr ? got : "(none)", c.expected) << c.table;
    }
}

TEST_F(MountTest, RefreshAddsOnlyNewLines) {
    ASSERT_EQ(build("-hosts /net autofs rw 0 0\n/export/home /home lofs rw 0 0\n"), MNT_OK);
    ASSERT_EQ(entries().size(), 2u);
    // A host reached since, a new loop-back mount, and the same mount point
    // again with another source: only the first two are new.
    ASSERT_EQ(build("-hosts /net/beta/pub autofs rw 0 0\n"
                    "/export/proj /proj lofs rw 0 0\n"
                    "/elsewhere /home lofs rw 0 0\n",
                    2, MNT_LOFS_AND_HOSTS_ONLY, "a"),
              MNT_OK);
    EXPECT_EQ(lists_already_built, 1);
    EXPECT_EQ(entries(),
              (Strs{"2 /proj|/proj|/export/proj|0", "3 /net/beta/pub|/net/beta/pub|-hosts|0",
                    "2 /home|/home|/export/home|0", "3 /net|/net|-hosts|1"}));
    EXPECT_STREQ(actual_loop_back_path("/home/ann"), "/export/home/ann");
    EXPECT_NE(path_is_automounted("/net/beta"), 0);
    // Lines gone from the table stay in the list.
    ASSERT_EQ(build(""), MNT_OK);
    EXPECT_EQ(entries().size(), 4u);
}

TEST_F(MountTest, UnreadableTable) {
    // Missing file: 60 on a first build, with or without retries.
    setenv("XKP_MNTTAB", (table + ".missing").c_str(), 1);
    EXPECT_EQ(create_mount_list(0, MNT_LOFS_AND_HOSTS_ONLY), MNT_TABLE_UNREADABLE);
    EXPECT_EQ(create_mount_list(1, MNT_LOFS_AND_HOSTS_ONLY), MNT_TABLE_UNREADABLE);
    EXPECT_EQ(nfs_mount_list, nullptr);
    EXPECT_EQ(actual_loop_back_path("/home/ann"), nullptr);
    // A directory opens but cannot be read: the read error is a failure too.
    char dtmpl[] = "/tmp/mnttabdir.XXXXXX";
    ASSERT_NE(mkdtemp(dtmpl), nullptr);
    setenv("XKP_MNTTAB", dtmpl, 1);
    EXPECT_EQ(build_mount_list(), MNT_TABLE_UNREADABLE);
    rmdir(dtmpl);
    // A refresh that fails leaves the list as it was and reports success.
    setenv("XKP_MNTTAB", table.c_str(), 1);
    ASSERT_EQ(build("/export/home /home lofs rw 0 0\n", 0), MNT_OK);
    setenv("XKP_MNTTAB", (table + ".missing").c_str(), 1);
    EXPECT_EQ(create_mount_list(0, MNT_LOFS_AND_HOSTS_ONLY), MNT_OK);
    EXPECT_STREQ(actual_loop_back_path("/home/ann"), "/export/home/ann");
}

TEST(MountList, LongListIsReleasedWithoutRecursion) {
    for (int i = 0; i < 300000; ++i) {
        ASSERT_EQ(add_to_mount_list(MNT_KIND_LOFS, "/m", "/m", "/src"), MNT_OK);
    }
    discard_mount_list();
    EXPECT_EQ(nfs_mount_list, nullptr);
}

} // namespace
