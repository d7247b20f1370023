// kprestore against real restic repositories: a directory merged from
// several images, a mount point, a damaged pack, missing parents and -K.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "catalog_db.h"
#include "engine_harness.h"
#include "kpserver.h"

using harness::has;
using harness::image_entry;
using harness::read_file;
using harness::run;
using harness::write_file;

namespace {

unsigned mode_of(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto &c : s) {
        c = static_cast<char>(gen());
    }
    return s;
}

std::set<std::string> data_packs(const std::string &repo) {
    std::set<std::string> out;
    for (const auto &e : std::filesystem::recursive_directory_iterator(repo + "/data")) {
        if (e.is_regular_file()) {
            out.insert(e.path().string());
        }
    }
    return out;
}

class RestoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto r = run("kpadmin", {"init-server", "demo"});
        ASSERT_EQ(r.status, 0) << r.err << r.out;
        std::string err;
        ASSERT_EQ(open_server("demo", server_, err), 0) << err;
    }

    // One image of paths by kpbackup; returns its backup time.
    long long backup(const std::vector<std::string> &paths) {
        write_file(root_.path("req"), harness::counted(paths));
        auto r = run("kpbackup", {"-f", root_.path("req")});
        EXPECT_EQ(r.status, 0) << r.err;
        CatalogDb db;
        std::string err;
        EXPECT_TRUE(db.open(catalog_db_path(server_.dir), false, err)) << err;
        auto images = db.images(err);
        return images.empty() ? 0 : images.back().backup_time;
    }

    harness::Run restore(const std::string &entries, std::vector<std::string> opts = {}) {
        write_file(root_.path("rreq"), entries);
        write_file(root_.path("rlog"), "");
        opts.insert(opts.end(), {"-L", root_.path("rlog"), "-W", "-f", root_.path("rreq")});
        return run("kprestore", opts);
    }
    std::string rlog() { return read_file(root_.path("rlog")); }

    harness::Root root_;
    KpServer server_;
};

// Back up d/ holding a and b, change a and back up d/a alone, then d/
// without b: each range brings back every path alive in it, newest version.
TEST_F(RestoreTest, DirectoryMergesVersionsAcrossImages) {
    const std::string d = root_.data() + "/d";
    mkdir(d.c_str(), 0755);
    write_file(d + "/a", "old a");
    write_file(d + "/b", "old b");
    const long long t1 = backup({d});
    write_file(d + "/a", "new a, longer");
    const long long t2 = backup({d + "/a"});
    unlink((d + "/b").c_str());
    const long long t3 = backup({d});
    struct Case {
        std::string entry;
        long long start, end;
        std::vector<std::string> opts;
        std::string a, b; // "" when absent
    };
    const Case cases[] = {
        {d + "/", t1, t2, {}, "new a, longer", "old b"},
        {d + "/", t2, t2, {}, "new a, longer", "old b"},
        {d + "/", t1, t3, {}, "new a, longer", "old b"},
        {d + "/", t1, t3, {"-T"}, "new a, longer", ""},
        {d + "/a", t1, t1, {}, "old a", ""},
    };
    for (const auto &c : cases) {
        harness::remove_tree(d);
        auto r = restore(image_entry(c.entry, c.start, c.end), c.opts);
        EXPECT_EQ(r.status, 0) << c.entry << " " << c.start << " " << c.end << "\n" << rlog();
        EXPECT_EQ(read_file(d + "/a"), c.a) << c.entry << " " << c.start << " " << c.end;
        EXPECT_EQ(access((d + "/b").c_str(), F_OK) == 0 ? read_file(d + "/b") : "", c.b)
            << c.entry << " " << c.start << " " << c.end;
    }
}

// Staging on the destination's own file system: a tmpfs mount point, and a
// bind mount of the same file system (rename refuses it: the entry is
// copied across); -O leaves the tmpfs out.
TEST_F(RestoreTest, MountPointsRestoreOnTheirOwnFileSystem) {
    const std::string data = root_.data(), mnt = data + "/mnt", bind = data + "/bind";
    mkdir(mnt.c_str(), 0755);
    mkdir(bind.c_str(), 0755);
    mkdir((data + "/bsrc").c_str(), 0755);
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=16m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << strerror(errno) << "): not tested";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount_tmpfs{mnt};
    ASSERT_EQ(mount((data + "/bsrc").c_str(), bind.c_str(), nullptr, MS_BIND, nullptr), 0)
        << strerror(errno);
    Unmount unmount_bind{bind};
    mkdir((mnt + "/sub").c_str(), 0750);
    write_file(mnt + "/one", "1");
    write_file(mnt + "/sub/two", "22");
    symlink("one", (mnt + "/link").c_str());
    write_file(bind + "/three", "333");
    write_file(data + "/top", "4");
    const long long t = backup({data});
    harness::remove_tree(mnt + "/sub");
    for (const auto &f : {mnt + "/one", mnt + "/link", bind + "/three", data + "/top"}) {
        unlink(f.c_str());
    }
    EXPECT_EQ(restore(image_entry(data + "/", t, t)).status, 0) << rlog();
    EXPECT_EQ(read_file(mnt + "/one") + read_file(mnt + "/sub/two") + read_file(bind + "/three") +
                  read_file(data + "/top"),
              "1223334");
    EXPECT_EQ(std::filesystem::read_symlink(mnt + "/link").string(), "one");
    EXPECT_EQ(mode_of(mnt + "/sub"), 0750u);
    EXPECT_TRUE(has(rlog(), " 0 failed")) << rlog();
    for (const auto &e : std::filesystem::recursive_directory_iterator(data)) {
        EXPECT_FALSE(has(e.path().string(), ".kprestore")) << e.path();
    }
    // -O stays on the directory's own file system: the tmpfs is left out.
    unlink((mnt + "/one").c_str());
    unlink((data + "/top").c_str());
    EXPECT_EQ(restore(image_entry(data + "/", t, t), {"-O"}).status, 0) << rlog();
    EXPECT_EQ(read_file(data + "/top"), "4");
    EXPECT_NE(access((mnt + "/one").c_str(), F_OK), 0);
    EXPECT_TRUE(has(rlog(), "skipped " + mnt + ": on another file system")) << rlog();
}

// One damaged pack fails only the files whose data it damaged; the rest of
// the same image's call comes back.
TEST_F(RestoreTest, DamagedPackFailsOnlyItsFiles) {
    const std::string d1 = root_.data() + "/d1", d2 = root_.data() + "/d2",
                      repo = server_.dir + "/repo";
    mkdir(d1.c_str(), 0755);
    mkdir(d2.c_str(), 0755);
    write_file(d1 + "/big", random_bytes(300000, 1));
    write_file(d1 + "/small", "intact");
    write_file(d2 + "/big", random_bytes(300000, 2));
    write_file(d2 + "/small", "small");
    const auto before = data_packs(repo);
    const long long t1 = backup({d1});
    std::string damaged;
    for (const auto &p : data_packs(repo)) {
        if (!before.count(p) && (damaged.empty() || std::filesystem::file_size(p) >
                                                        std::filesystem::file_size(damaged))) {
            damaged = p;
        }
    }
    const long long t2 = backup({d2});
    ASSERT_FALSE(damaged.empty());
    chmod(damaged.c_str(), 0600);
    {
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(std::filesystem::file_size(damaged) / 2));
        f << "damaged damaged damaged";
    }
    harness::remove_tree(d1);
    harness::remove_tree(d2);
    auto r = restore(image_entry(d1 + "/", t1, t2) + image_entry(d2 + "/", t1, t2));
    EXPECT_EQ(r.status, 175) << rlog();
    EXPECT_EQ(read_file(d2 + "/big"), random_bytes(300000, 2));
    EXPECT_EQ(read_file(d2 + "/small") + read_file(d1 + "/small"), "smallintact");
    EXPECT_NE(access((d1 + "/big").c_str(), F_OK), 0);
    EXPECT_TRUE(has(rlog(), "FAILED " + d1 + "/big: restic could not restore it")) << rlog();
}

// Missing parents come back with their recorded mode, private where the
// catalog has none (above a rename destination).
TEST_F(RestoreTest, MissingParentsGetTheirRecordedMode) {
    const std::string p = root_.data() + "/priv", moved = root_.data() + "/new/deep";
    mkdir(p.c_str(), 0700);
    mkdir((p + "/sub").c_str(), 0751);
    write_file(p + "/sub/f", "f");
    const long long t = backup({p});
    harness::remove_tree(p);
    ASSERT_EQ(restore(image_entry(p + "/sub/f", t, t)).status, 0) << rlog();
    write_file(root_.path("rename"), "change " + p + " to " + moved + "\n");
    ASSERT_EQ(restore(image_entry(p + "/sub/f", t, t), {"-R", root_.path("rename")}).status, 0)
        << rlog();
    const std::pair<std::string, unsigned> want[] = {{p, 0700},
                                                     {p + "/sub", 0751},
                                                     {root_.data() + "/new", 0700},
                                                     {moved, 0700},
                                                     {moved + "/sub", 0751}};
    for (const auto &[dir, mode] : want) {
        EXPECT_EQ(mode_of(dir), mode) << dir;
    }
    EXPECT_EQ(read_file(p + "/sub/f") + read_file(moved + "/sub/f"), "ff");
}

// -K keeps what exists and restores the rest.
TEST_F(RestoreTest, KeepLeavesExistingFiles) {
    const std::string d = root_.data() + "/k";
    mkdir(d.c_str(), 0755);
    write_file(d + "/a", "backed up a");
    write_file(d + "/b", "backed up b");
    const long long t = backup({d});
    write_file(d + "/a", "mine");
    unlink((d + "/b").c_str());
    EXPECT_EQ(restore(image_entry(d + "/", t, t), {"-K"}).status, 0) << rlog();
    EXPECT_EQ(read_file(d + "/a") + "|" + read_file(d + "/b"), "mine|backed up b");
    EXPECT_TRUE(has(rlog(), "2 done, 1 skipped, 0 failed")) << rlog();
}

} // namespace
