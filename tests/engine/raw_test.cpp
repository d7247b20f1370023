// Raw partitions against real loop devices (root only; skipped where loop
// devices cannot be attached): a block device named by a backup comes
// back byte for byte with kprestore -r, in place, through a rename file,
// and on another host from the records; targets that are mounted, too
// small or no device are refused and left as they were.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <random>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "catalog.h"
#include "engine_harness.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "stream_store.h"

using harness::has;
using harness::read_file;
using harness::run;
using harness::write_file;

namespace {

std::string tool(const char *name) {
    for (const char *dir : {"/usr/sbin/", "/sbin/", "/usr/bin/"}) {
        if (access((std::string(dir) + name).c_str(), X_OK) == 0) {
            return std::string(dir) + name;
        }
    }
    return "";
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto &c : s) {
        c = static_cast<char>(gen());
    }
    return s;
}

// A loop device over a file of the test's directory, detached (and
// unmounted) whatever happens to the test.
class Loop {
  public:
    Loop(const std::string &file, const std::string &content) {
        write_file(file, content);
        auto r = harness::run_detached(tool("losetup"), {"--find", "--show", file});
        if (r.status == 0 && !r.out.empty()) {
            dev_ = r.out.substr(0, r.out.find('\n'));
        } else {
            why_ = r.err.empty() ? "losetup failed" : r.err;
        }
    }
    ~Loop() {
        if (!mount_point_.empty()) {
            umount2(mount_point_.c_str(), MNT_DETACH);
        }
        if (!dev_.empty()) {
            harness::run_detached(tool("losetup"), {"-d", dev_});
        }
    }
    Loop(const Loop &) = delete;
    Loop &operator=(const Loop &) = delete;

    const std::string &dev() const { return dev_; }
    const std::string &why() const { return why_; }
    std::string content() const { return read_file(dev_); }
    void overwrite(const std::string &data) const {
        int fd = open(dev_.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        fsync(fd);
        close(fd);
    }
    // An ext2 file system on the device, mounted on dir.
    bool mount_on(const std::string &dir) {
        if (tool("mkfs.ext2").empty() ||
            harness::run_detached(tool("mkfs.ext2"), {"-q", "-F", dev_}).status != 0) {
            return false;
        }
        mkdir(dir.c_str(), 0700);
        if (mount(dev_.c_str(), dir.c_str(), "ext2", 0, nullptr) != 0) {
            return false;
        }
        mount_point_ = dir;
        return true;
    }

  private:
    std::string dev_, why_, mount_point_;
};

constexpr size_t MIB = 1 << 20;

class RawPartition : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0 || tool("losetup").empty()) {
            GTEST_SKIP() << "raw partitions need root and losetup to attach loop devices";
        }
        ASSERT_EQ(run("kpadmin", {"init-server", "demo"}).status, 0);
        source_ = loop("a.img", original_);
        if (source_ == nullptr) {
            GTEST_SKIP() << "cannot attach a loop device: " << why_;
        }
        // Named through a symbolic link, as /dev/disk/by-id names a disk.
        link_ = root_.data() + "/disk";
        ASSERT_EQ(symlink(source_->dev().c_str(), link_.c_str()), 0);
    }

    Loop *loop(const std::string &name, const std::string &content) {
        loops_.push_back(std::make_unique<Loop>(root_.path(name), content));
        if (loops_.back()->dev().empty()) {
            why_ = loops_.back()->why();
            return nullptr;
        }
        return loops_.back().get();
    }

    harness::Run backup(const std::string &path, std::vector<std::string> opts = {}) {
        write_file(root_.path("req"), harness::counted({path}));
        write_file(root_.path("blog"), "");
        opts.insert(opts.end(), {"-L", root_.path("blog"), "-f", root_.path("req")});
        return run("kpbackup", opts);
    }
    // kprestore -r of path's newest raw entry, redirected to `to` when given.
    harness::Run restore(const std::string &path, const std::string &to = "",
                         std::vector<std::string> opts = {}) {
        write_file(root_.path("rreq"), harness::image_entry(path, 0, KP_INFINITY));
        write_file(root_.path("rlog"), "");
        if (!to.empty()) {
            write_file(root_.path("ren"), "change " + path + " to " + to + "\n");
            opts.insert(opts.end(), {"-R", root_.path("ren")});
        }
        opts.insert(opts.end(), {"-L", root_.path("rlog"), "-W", "-r", "-f", root_.path("rreq")});
        return run("kprestore", opts);
    }
    std::string blog() { return read_file(root_.path("blog")); }
    std::string rlog() { return read_file(root_.path("rlog")); }

    harness::Root root_;
    const std::string original_ = random_bytes(MIB, 16);
    std::vector<std::unique_ptr<Loop>> loops_; // detached in reverse order
    Loop *source_ = nullptr;
    std::string link_, why_;
};

TEST_F(RawPartition, BackedUpDeviceIsListedAsRawAndComesBackInPlaceAndRedirected) {
    auto b = backup(link_);
    ASSERT_EQ(b.status, 0) << blog();
    EXPECT_TRUE(has(blog(), "read 1048576 bytes of block device " + source_->dev())) << blog();
    // An image of type 12 (the Auspex client type) of the device itself.
    ASSERT_EQ(backup(source_->dev(), {"-t", "12"}).status, 0) << blog();

    struct Listing {
        std::vector<std::string> opts;
        int status;
        bool disk, dev; // the link's entry, the device's entry
    };
    const Listing listings[] = {
        {{"-r"}, 0, true, true},
        {{"-t", "0", "-r"}, 0, true, false},
        {{"-t", "12", "-r"}, 0, false, true},
        {{}, 0, false, false}, // file listings leave raw entries out
    };
    for (const auto &l : listings) {
        std::vector<std::string> a = l.opts;
        a.insert(a.end(), {"-B", "-R", "999", "/"});
        auto r = run("kplist", a);
        SCOPED_TRACE(r.out);
        EXPECT_EQ(r.status, l.status);
        std::vector<ListingLine> lines;
        for (size_t pos = 0, n;
             pos < r.out.size() && (n = parse_listing_line(r.out, pos, lines.emplace_back()));
             pos += n) {
        }
        bool disk = false, dev = false;
        for (const auto &line : lines) {
            bool raw = line.path == link_ || line.path == source_->dev();
            if (raw) {
                EXPECT_EQ(line.size, static_cast<long long>(MIB));
                EXPECT_EQ(line.mode[0], 'b');
                EXPECT_EQ(line.numbers[LN_TYPE], 3);
            }
            disk = disk || line.path == link_;
            dev = dev || line.path == source_->dev();
        }
        EXPECT_EQ(disk, l.disk);
        EXPECT_EQ(dev, l.dev);
    }

    // A file restore never puts the content where the device node is.
    source_->overwrite(std::string(MIB, '\0'));
    write_file(root_.path("rreq"), harness::image_entry(link_, 0, KP_INFINITY));
    auto f = run("kprestore", {"-W", "-f", root_.path("rreq")});
    EXPECT_EQ(f.status, kpstatus::NO_IMAGES) << f.err;
    struct stat st {};
    EXPECT_TRUE(lstat(link_.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_TRUE(source_->content() == std::string(MIB, '\0'));

    // The link's entry is in no image of type 12.
    EXPECT_EQ(restore(link_, "", {"-t", "12"}).status, kpstatus::NO_IMAGES) << rlog();
    EXPECT_TRUE(source_->content() == std::string(MIB, '\0'));

    // In place, through the link, over zeros.
    auto r = restore(link_, "", {"-K"});
    EXPECT_EQ(r.status, 0) << rlog();
    EXPECT_TRUE(source_->content() == original_) << rlog();
    EXPECT_TRUE(has(rlog(), "wrote 1048576 bytes to " + source_->dev())) << rlog();

    // Redirected to a larger device: its first MiB, the rest untouched.
    Loop *big = loop("b.img", std::string(2 * MIB, 'x'));
    ASSERT_NE(big, nullptr) << why_;
    r = restore(link_, big->dev());
    EXPECT_EQ(r.status, 0) << rlog();
    std::string got = big->content();
    EXPECT_TRUE(got.substr(0, MIB) == original_) << rlog();
    EXPECT_EQ(got.substr(MIB), std::string(MIB, 'x'));
}

TEST_F(RawPartition, MountedSmallOrMissingTargetsAreRefusedAndLeftAsTheyWere) {
    ASSERT_EQ(backup(link_).status, 0) << blog();
    Loop *small = loop("small.img", std::string(MIB / 2, 's'));
    Loop *mounted = loop("mounted.img", std::string(2 * MIB, '\0'));
    ASSERT_TRUE(small != nullptr && mounted != nullptr) << why_;
    if (!mounted->mount_on(root_.path("mnt"))) {
        GTEST_SKIP() << "cannot make and mount an ext2 file system on " << mounted->dev();
    }
    const std::string mounted_link = root_.data() + "/mounted";
    ASSERT_EQ(symlink(mounted->dev().c_str(), mounted_link.c_str()), 0);
    write_file(root_.data() + "/plain", "not a device");

    struct Case {
        std::string target;
        Loop *dev; // whose content must stay
        int status;
        std::string log;
    };
    const Case cases[] = {
        {small->dev(), small, kpstatus::DEVICE_TOO_SMALL,
         "holds 524288 bytes, the entry needs 1048576"},
        {mounted->dev(), mounted, kpstatus::DEVICE_IN_USE, "is mounted on " + root_.path("mnt")},
        {mounted_link, mounted, kpstatus::DEVICE_IN_USE, "is mounted on " + root_.path("mnt")},
        {root_.data() + "/plain", nullptr, kpstatus::NO_DEVICE, "is not a block device"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        std::string before = c.dev != nullptr ? c.dev->content() : "";
        auto r = restore(link_, c.target);
        EXPECT_EQ(r.status, c.status) << rlog();
        EXPECT_TRUE(has(rlog(), "refused: ")) << rlog();
        EXPECT_TRUE(has(rlog(), c.log)) << rlog();
        EXPECT_TRUE(has(rlog(), "nothing was written")) << rlog();
        if (c.dev != nullptr) {
            EXPECT_TRUE(c.dev->content() == before);
        }
    }
    EXPECT_EQ(read_file(root_.data() + "/plain"), "not a device");
}

// The entry travels in the image's record: another host attached to the
// repository lists it and writes it to a device of its own.
TEST_F(RawPartition, AnotherHostRestoresTheEntryFromTheRecords) {
    ASSERT_EQ(backup(link_).status, 0) << blog();
    ASSERT_EQ(run("kpadmin", {"export", "demo", root_.path("keys")}).status, 0);
    Loop *target = loop("other.img", std::string(MIB, '\0'));
    ASSERT_NE(target, nullptr) << why_;

    harness::Root other;
    write_file(other.root() + "/sorvane/kp.conf",
               "SERVER = demo\nCLIENT_NAME = otherhost\nCATALOG_SYNC_SECONDS = 0\n");
    auto a = run("kpadmin", {"init-server", "demo", "--password-file", root_.path("keys")});
    ASSERT_EQ(a.status, 0) << a.err << a.out;
    auto l = run("kplist", {"-C", "testhost", "-r", "-B", "-R", "999", "/"});
    EXPECT_EQ(l.status, 0) << l.err;
    EXPECT_TRUE(has(l.out, " " + link_ + "\n")) << l.out;
    auto r = restore(link_, target->dev(), {"-C", "testhost"});
    EXPECT_EQ(r.status, 0) << rlog();
    EXPECT_TRUE(target->content() == original_) << rlog();
}

// The stream module alone: what it stores comes back whole, and a dump
// that cannot write everything, or gives another count than expected, or
// names no entry, is never a success.
TEST(StreamStore, StoresOneEntryAndNeverClaimsWhatWasNotWritten) {
    harness::Root root;
    ASSERT_EQ(run("kpadmin", {"init-server", "demo"}).status, 0);
    KpServer server;
    std::string err;
    ASSERT_EQ(open_server("demo", server, err), 0) << err;
    const std::string content = random_bytes(300000, 7);
    write_file(root.path("in"), content);
    int in = open(root.path("in").c_str(), O_RDONLY);
    ASSERT_GE(in, 0);
    ImageHeader h;
    h.client = "testhost";
    h.backup_time = 1700000000;
    h.policy = "p";
    StreamResult st = store_stream(server, h, in, "db/dump.sql");
    close(in);
    ASSERT_EQ(st.status, 0) << st.error;
    EXPECT_EQ(st.bytes, 300000);
    EXPECT_EQ(store_stream(server, h, -1, "db/../x").status, kpstatus::USAGE);

    struct Case {
        std::string name, out;
        long long expected;
        int status;
    };
    const Case cases[] = {
        {"/db/dump.sql", root.path("out"), 300000, 0},
        {"db/dump.sql", root.path("out"), 299999, kpstatus::RESTORE_FAILED},
        {"db/dump.sql", "/dev/full", -1, kpstatus::RESTORE_FAILED},
        {"db/other", root.path("out"), -1, kpstatus::RESTORE_FAILED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name + " " + c.out);
        int out = open(c.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(out, 0);
        StreamResult d = dump_stream(server, st.snapshot, c.name, out, c.expected);
        close(out);
        EXPECT_EQ(d.status, c.status) << d.error;
        EXPECT_EQ(d.error.empty(), c.status == 0) << d.error;
        if (c.status == 0) {
            EXPECT_TRUE(read_file(c.out) == content);
        }
    }
}

} // namespace
