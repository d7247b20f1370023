// One repository shared by several hosts: each backup stores its image's
// catalog record in the repository, so that another host attaches with the
// password and browses every client's images (tests/e2e/browse_client.sh
// restores them through the window), a host whose disk died gets its
// catalog back, and an expiry removes exactly what expired and never the
// only copy of a current file. Two product roots with different client
// names stand for two hosts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "catalog.h"
#include "engine_harness.h"
#include "rest_server.h"

using harness::counted;
using harness::has;
using harness::read_file;
using harness::run;
using harness::write_file;

namespace {

size_t lines(const std::string &text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

size_t counted_lines(const std::string &text, const std::string &ending) {
    size_t n = 0;
    for (size_t at = text.find(ending); at != std::string::npos; at = text.find(ending, at + 1)) {
        ++n;
    }
    return n;
}

class SharedRepository : public ::testing::Test {
  protected:
    SharedRepository() {
        // A user's own servers would come before the roots' ones.
        setenv("XDG_DATA_HOME", a_.path("xdg").c_str(), 1);
        write_file(a_.root() + "/sorvane/kp.conf", "SERVER = demo\nCLIENT_NAME = hostA\n");
        write_file(b_.root() + "/sorvane/kp.conf",
                   "SERVER = demo\nCLIENT_NAME = hostB\nCATALOG_SYNC_SECONDS = 0\n");
        dir_ = a_.data() + "/proj";
        mkdir(dir_.c_str(), 0755);
        mkdir((dir_ + "/sub").c_str(), 0700);
        write_file(dir_ + "/a", "first a");
        write_file(dir_ + "/sub/b", "b stays");
        write_file(dir_ + "/gone", "deleted before the second backup");
        write_file(a_.path("req"), counted({dir_}));
    }
    ~SharedRepository() override { unsetenv("XDG_DATA_HOME"); }

    // Programs run as host A or host B.
    harness::Run as(const harness::Root &host, const std::string &prog,
                    const std::vector<std::string> &args) {
        setenv("XKP_ROOT", host.root().c_str(), 1);
        return run(prog, args);
    }
    void backup_a() {
        auto r = as(a_, "kpbackup", {"-f", a_.path("req")});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // An image of another directory: it holds nothing of dir_.
    void backup_elsewhere() {
        const std::string other = a_.data() + "/other";
        mkdir(other.c_str(), 0755);
        write_file(other + "/o", "o");
        write_file(a_.path("req2"), counted({other}));
        auto r = as(a_, "kpbackup", {"-f", a_.path("req2")});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // Expires as of two days after the oldest image (kept a day).
    harness::Run expire_two_days_on(const std::string &images) {
        long long t1 = 0;
        sscanf(images.c_str() + images.rfind('\n', images.size() - 2) + 1, "%lld", &t1);
        setenv("XKP_NOW", std::to_string(t1 + 2 * 86400).c_str(), 1);
        auto ex = as(a_, "kpadmin", {"expire", "demo"});
        unsetenv("XKP_NOW");
        return ex;
    }
    std::string listing(const harness::Root &host, std::vector<std::string> opts) {
        opts.insert(opts.end(), {"-B", "-R", "999", dir_});
        return as(host, "kplist", opts).out;
    }
    void restore_into(const harness::Root &host, const std::string &client, const std::string &to) {
        write_file(host.path("rreq"), harness::image_entry(dir_, 0, KP_INFINITY));
        write_file(host.path("ren"), "change " + dir_ + " to " + to + "\n");
        auto r =
            as(host, "kprestore", {"-C", client, "-R", host.path("ren"), "-f", host.path("rreq")});
        EXPECT_EQ(r.status, 0) << r.err << read_file(host.path("rlog"));
        EXPECT_EQ(read_file(to + "/a"), "second a");
        EXPECT_EQ(read_file(to + "/sub/b"), "b stays");
    }

    harness::Root a_, b_;
    std::string dir_;
};

TEST_F(SharedRepository, AnotherHostAttachesWithThePasswordAndBrowsesEveryClient) {
    mkdir(a_.path("served").c_str(), 0700);
    harness::RcloneServer rest(a_.path("served"), harness::free_port());
    ASSERT_TRUE(rest.running());
    const std::string loc = rest.location("shared");
    auto made = as(a_, "kpadmin", {"init-server", "demo", "--repository", loc});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_TRUE(has(made.out, "without it nobody can\nread these backups")) << made.out;
    backup_a();
    write_file(dir_ + "/a", "second a");
    unlink((dir_ + "/gone").c_str());
    backup_a();
    ASSERT_EQ(as(a_, "kpadmin", {"export", "demo", a_.path("keys")}).status, 0);
    struct stat st {};
    ASSERT_EQ(stat(a_.path("keys").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Attaching needs the password that opens the repository; a refusal
    // leaves nothing behind.
    write_file(b_.path("wrong"), "not the password\n");
    for (const std::vector<std::string> &words :
         {std::vector<std::string>{"init-server", "demo", "--repository", loc},
          {"init-server", "demo", "--repository", loc, "--password-file", b_.path("wrong")}}) {
        auto r = as(b_, "kpadmin", words);
        EXPECT_EQ(r.status, 25) << r.out;
        EXPECT_TRUE(has(r.err, "nothing was written")) << r.err;
        EXPECT_TRUE(std::filesystem::is_empty(b_.root() + "/sorvane/servers"));
    }
    auto attach = as(b_, "kpadmin", {"init-server", "demo", "--password-file", a_.path("keys")});
    ASSERT_EQ(attach.status, 0) << attach.err;
    EXPECT_TRUE(has(attach.out, "holds 2 images of 1 clients")) << attach.out;

    // B lists A's images and files as A does; its own history is empty.
    auto images = as(b_, "kpclimagelist", {"-client", "hostA", "-t", "NOT_ARCHIVE"});
    EXPECT_EQ(images.out, as(a_, "kpclimagelist", {"-t", "NOT_ARCHIVE"}).out);
    EXPECT_EQ(lines(images.out), 2u);
    for (const std::vector<std::string> &opts : {std::vector<std::string>{}, {"-T"}}) {
        std::vector<std::string> other = opts;
        other.insert(other.end(), {"-C", "hostA"});
        EXPECT_EQ(listing(b_, other), listing(a_, opts)) << opts.size();
    }
    EXPECT_TRUE(has(listing(b_, {"-C", "hostA"}), dir_ + "/sub/b"));
    EXPECT_EQ(as(b_, "kplist", {"-B", dir_}).status, 227);

    // A's next backups reach B: any number of new records are read with
    // one restore (two calls with the listing of record snapshots), a sync
    // with nothing new costs one call, and B's listings sync each time.
    for (const char *name : {"/c", "/d"}) {
        write_file(dir_ + name, "new");
        backup_a();
    }
    for (const char *calls : {"2 records imported, 0 images removed, 0 records stored, 0 "
                              "refused (2 restic calls)",
                              "0 records imported, 0 images removed, 0 records stored, 0 "
                              "refused (1 restic calls)"}) {
        auto s = as(b_, "kpadmin", {"sync", "demo"});
        EXPECT_TRUE(has(s.out, calls)) << s.out;
    }
    write_file(dir_ + "/e", "new");
    backup_a();
    EXPECT_TRUE(has(listing(b_, {"-C", "hostA"}), dir_ + "/e"));

    // A restore to another client is refused with its status, at once.
    write_file(b_.path("rreq"), harness::image_entry(dir_, 0, KP_INFINITY));
    setenv("XKP_ROOT", b_.root().c_str(), 1);
    auto other = harness::run_detached(
        "kprestore", {"-C", "hostA", "-D", "hostA", "-L", b_.path("dlog"), "-f", b_.path("rreq")});
    EXPECT_EQ(other.status, 58);
    EXPECT_TRUE(has(read_file(b_.path("dlog")), "can only be restored to this client"));
}

TEST_F(SharedRepository, AHostWhoseDiskDiedReattachesAndRestores) {
    ASSERT_EQ(as(a_, "kpadmin", {"init-server", "demo", "--repository", a_.path("repo")}).status,
              0);
    backup_a();
    write_file(dir_ + "/a", "second a");
    unlink((dir_ + "/gone").c_str());
    backup_a();
    const std::string before = listing(a_, {}), true_before = listing(a_, {"-T"});
    ASSERT_EQ(as(a_, "kpadmin", {"export", "demo", a_.path("keys")}).status, 0);

    harness::remove_tree(a_.server_dir());
    auto back = as(a_, "kpadmin", {"init-server", "demo", "--password-file", a_.path("keys")});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(listing(a_, {}), before);
    EXPECT_EQ(listing(a_, {"-T"}), true_before);
    harness::remove_tree(dir_);
    restore_into(a_, "hostA", dir_);
}

TEST_F(SharedRepository, ExpiryRemovesExactlyTheExpiredImages) {
    ASSERT_EQ(as(a_, "kpadmin", {"init-server", "demo", "--repository", a_.path("repo")}).status,
              0);
    // One image kept a day, two kept three days; the second one covers
    // another directory.
    ASSERT_EQ(as(a_, "kpadmin", {"set-retention", "demo", "--backups", "1"}).status, 0);
    backup_a();
    ASSERT_EQ(as(a_, "kpadmin", {"set-retention", "demo", "--backups", "3"}).status, 0);
    backup_elsewhere();
    write_file(dir_ + "/a", "second a");
    unlink((dir_ + "/gone").c_str());
    backup_a();
    auto images = as(a_, "kpclimagelist", {"-t", "NOT_ARCHIVE"}).out;
    ASSERT_EQ(lines(images), 3u);
    // Newest first: backup time, then its expiration.
    long long t3 = 0, e3 = 0, t1 = 0, e1 = 0;
    sscanf(images.c_str(), "%lld %lld", &t3, &e3);
    sscanf(images.c_str() + images.rfind('\n', images.size() - 2) + 1, "%lld %lld", &t1, &e1);
    EXPECT_EQ(e1, t1 + 86400);
    EXPECT_EQ(e3, t3 + 3 * 86400);

    auto ex = expire_two_days_on(images);
    ASSERT_EQ(ex.status, 0) << ex.err;
    EXPECT_TRUE(has(ex.out, "1 images removed")) << ex.out;
    auto left = as(a_, "kpclimagelist", {"-t", "NOT_ARCHIVE"}).out;
    EXPECT_EQ(left, images.substr(0, images.rfind('\n', images.size() - 2) + 1));
    // sub/b, first stored by the expired image, is still listed: the third
    // image held it too. gone and the first a, which only the expired image
    // held, are not, though they were alive at the second image's time. A
    // host attaching now gets the same catalog from the records left.
    const std::string now = listing(a_, {});
    EXPECT_TRUE(has(now, dir_ + "/sub/b"));
    EXPECT_FALSE(has(now, dir_ + "/gone")) << now;
    EXPECT_EQ(counted_lines(now, dir_ + "/a\n"), 1u) << now;
    EXPECT_FALSE(has(now, std::to_string(t1)));
    ASSERT_EQ(as(a_, "kpadmin", {"export", "demo", a_.path("keys")}).status, 0);
    ASSERT_EQ(as(b_, "kpadmin", {"init-server", "demo", "--password-file", a_.path("keys")}).status,
              0);
    EXPECT_EQ(listing(b_, {"-C", "hostA"}), now);
    EXPECT_EQ(as(b_, "kpclimagelist", {"-client", "hostA", "-t", "NOT_ARCHIVE"}).out, left);
}

TEST_F(SharedRepository, AnExpiredImageWithTheOnlyCopyOfACurrentFileStays) {
    ASSERT_EQ(as(a_, "kpadmin", {"init-server", "demo", "--repository", a_.path("repo")}).status,
              0);
    ASSERT_EQ(as(a_, "kpadmin", {"set-retention", "demo", "--backups", "1"}).status, 0);
    backup_a();
    ASSERT_EQ(as(a_, "kpadmin", {"set-retention", "demo", "--backups", "3"}).status, 0);
    backup_elsewhere();
    auto images = as(a_, "kpclimagelist", {"-t", "NOT_ARCHIVE"}).out;
    auto ex = expire_two_days_on(images);
    ASSERT_EQ(ex.status, 0) << ex.err;
    EXPECT_TRUE(has(ex.out, "kept image")) << ex.out;
    EXPECT_EQ(as(a_, "kpclimagelist", {"-t", "NOT_ARCHIVE"}).out, images);
    harness::remove_tree(dir_);
    write_file(a_.path("rreq"), harness::image_entry(dir_, 0, KP_INFINITY));
    auto r = as(a_, "kprestore", {"-f", a_.path("rreq")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir_ + "/a"), "first a");
    EXPECT_EQ(read_file(dir_ + "/sub/b"), "b stays");
}

TEST_F(SharedRepository, UsersOfOneRestServerWithPrivateRepositoriesStayApart) {
    std::string users;
    for (const char *u : {"alice", "bob"}) {
        auto hash = run("/usr/bin/openssl", {"passwd", "-apr1", std::string("pw-") + u});
        ASSERT_EQ(hash.status, 0);
        users += std::string(u) + ":" + hash.out;
    }
    write_file(a_.path("htpasswd"), users);
    mkdir(a_.path("served").c_str(), 0700);
    harness::RcloneServer rest(a_.path("served"), harness::free_port(),
                               {"--private-repos", "--htpasswd", a_.path("htpasswd")});
    ASSERT_TRUE(rest.running());
    const std::string alices = rest.location("alice", "alice", "pw-alice");
    ASSERT_EQ(as(a_, "kpadmin", {"init-server", "demo", "--repository", alices}).status, 0);
    backup_a();
    ASSERT_EQ(as(a_, "kpadmin", {"export", "demo", a_.path("keys")}).status, 0);

    // Even with alice's repository password, bob's login does not reach
    // alice's repository; his own holds none of her images.
    auto other = as(b_, "kpadmin",
                    {"init-server", "demo", "--repository", rest.location("alice", "bob", "pw-bob"),
                     "--password-file", a_.path("keys")});
    EXPECT_NE(other.status, 0);
    EXPECT_TRUE(has(other.err, "nothing was written")) << other.err;
    EXPECT_TRUE(std::filesystem::is_empty(b_.root() + "/sorvane/servers"));
    ASSERT_EQ(as(b_, "kpadmin",
                 {"init-server", "demo", "--repository", rest.location("bob", "bob", "pw-bob")})
                  .status,
              0);
    EXPECT_EQ(as(b_, "kpclimagelist", {"-client", "hostA", "-t", "NOT_ARCHIVE"}).status, 227);
}

} // namespace
