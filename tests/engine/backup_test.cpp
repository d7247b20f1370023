// kpbackup and kparchive against faults made real: a restic wrapper (named
// by XKP_RESTIC) that removes or rewrites a file at the wrong moment, or
// never returns so that the run can be killed.
#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "catalog.h"
#include "engine_harness.h"

using harness::counted;
using harness::has;
using harness::read_file;
using harness::run;
using harness::start;
using harness::write_file;

namespace {

// Waits up to 30 s for ready() to hold.
template <class F> bool wait_for(F ready) {
    for (int i = 0; i < 3000; ++i) {
        if (ready()) {
            return true;
        }
        usleep(10000);
    }
    return false;
}

std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
        out.push_back(e.path().filename().string());
    }
    return out;
}

bool has_temp_files(const std::string &dir) {
    for (const auto &n : names_in(dir)) {
        if (n.rfind(".kpbackup.", 0) == 0) {
            return true;
        }
    }
    return false;
}

class Backup : public ::testing::Test {
  protected:
    void SetUp() override {
        auto r = run("kpadmin", {"init-server", "demo"});
        ASSERT_EQ(r.status, 0) << r.err << r.out;
        dir_ = root_.data() + "/d";
        mkdir(dir_.c_str(), 0755);
    }
    void TearDown() override { unsetenv("XKP_RESTIC"); }
    // Runs restic through a wrapper: before and after are shell lines run
    // around "restic WORD ..." (other restic commands run untouched).
    void wrap(const std::string &before, const std::string &after = "",
              const std::string &word = "backup") {
        const std::string w = root_.path("restic-wrapper"),
                          when = "case \" $* \" in *\" " + word + " \"*) ";
        write_file(w, "#!/bin/sh\n" + when + before + " ;; esac\n/usr/bin/restic \"$@\"\nrc=$?\n" +
                          when + after + " ;; esac\nexit $rc\n");
        chmod(w.c_str(), 0755);
        setenv("XKP_RESTIC", w.c_str(), 1);
    }
    harness::Run backup(const std::string &prog = "kpbackup") {
        write_file(root_.path("req"), counted({dir_}));
        write_file(root_.path("log"), "");
        return run(prog, {"-L", root_.path("log"), "-f", root_.path("req")});
    }
    std::string log() { return read_file(root_.path("log")); }
    std::string list() {
        return run("kplist", {"-B", "-R", "9", "-s", "0", "-e", "2147483646", dir_}).out;
    }
    size_t images() {
        return run("kpclimagelist", {"-K", "-ct", "0", "-t", "NOT_ARCHIVE", "-X", "-d", "0", "-e",
                                     "2147483646", "-client", "testhost", "-keyword", ""})
            .out.size();
    }
    harness::Root root_;
    std::string dir_;
};

TEST_F(Backup, AFileThatVanishedBeforeResticReadItIsNotListedAndCountsFailed) {
    write_file(dir_ + "/stays", "s");
    write_file(dir_ + "/goes", "g");
    wrap("rm -f '" + dir_ + "/goes'");
    EXPECT_EQ(backup().status, 1) << log();
    EXPECT_TRUE(has(log(), "goes: vanished before it was backed up")) << log();
    EXPECT_TRUE(has(log(), "2 done, 0 skipped, 1 failed")) << log();
    const std::string l = list();
    EXPECT_TRUE(has(l, dir_ + "/stays")) << l;
    EXPECT_FALSE(has(l, dir_ + "/goes")) << l;
}

TEST_F(Backup, ArchiveKeepsAFileRewrittenInTheSameSecondAfterResticReadIt) {
    // Same size, mtime set back to the same second: only the nanoseconds
    // and the change time tell the new content from the stored one. The
    // rewrite comes as restic's backup ends, or after the image is recorded
    // (as the archive lists the snapshot, just before removing originals).
    const struct {
        const char *restic_word, *why;
    } cases[] = {{"backup", "rewritten: changed while being backed up"},
                 {"ls", "rewritten: kept: changed since the backup"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.restic_word);
        mkdir(dir_.c_str(), 0755);
        write_file(dir_ + "/rewritten", "old!");
        write_file(dir_ + "/same", "s");
        struct timespec ts[2] = {{1500000000, 5000}, {1500000000, 5000}};
        utimensat(AT_FDCWD, (dir_ + "/rewritten").c_str(), ts, 0);
        wrap("",
             "printf 'new!' > '" + dir_ + "/rewritten'; touch -m -d @1500000000 '" + dir_ +
                 "/rewritten'",
             c.restic_word);
        EXPECT_EQ(backup("kparchive").status, 1) << log();
        EXPECT_EQ(read_file(dir_ + "/rewritten"), "new!") << log();
        EXPECT_TRUE(has(log(), c.why)) << log();
        EXPECT_NE(access((dir_ + "/same").c_str(), F_OK), 0) << log();
    }
}

TEST_F(Backup, AKilledRunLeavesNoImageAndTheNextRunCleansUpAfterIt) {
    write_file(dir_ + "/f", "f");
    const std::string sdir = root_.server_dir(), pidfile = root_.path("restic.pid");
    wrap("echo $$ > '" + pidfile + "'; exec sleep 60");
    write_file(root_.path("req"), counted({dir_}));
    // Accepted at once; the job is the one killed.
    ASSERT_EQ(harness::run_detached("kpbackup", {"-f", root_.path("req")}).status, 0);
    ASSERT_TRUE(wait_for([&] { return !read_file(pidfile).empty(); }));
    EXPECT_TRUE(has_temp_files(sdir));
    const std::string jobs = run("kpadmin", {"jobs"}).out;
    ASSERT_TRUE(has(jobs, " running kpbackup ")) << jobs;
    kill(std::stoi(jobs), SIGKILL);
    kill(std::stoi(read_file(pidfile)), SIGKILL);
    EXPECT_TRUE(wait_for([&] { return run("kpadmin", {"jobs"}).out.empty(); }));
    EXPECT_EQ(images(), 0u);

    // A restic killed while it held the repository's exclusive lock (a
    // password change blocked on a pipe that never delivers).
    unsetenv("XKP_RESTIC");
    const std::string fifo = root_.path("never");
    mkfifo(fifo.c_str(), 0600);
    pid_t holder =
        start("/usr/bin/restic",
              {"--password-file", sdir + "/password", "--repository-file", sdir + "/repository",
               "--cache-dir", root_.path("cache"), "key", "passwd", "--new-password-file", fifo});
    ASSERT_TRUE(wait_for([&] {
        for (const auto &n : names_in(sdir + "/repo/locks")) {
            if (!read_file(sdir + "/repo/locks/" + n).empty()) {
                return true;
            }
        }
        return false;
    }));
    sleep(1); // the lock is written whole and restic waits on the pipe
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);

    EXPECT_EQ(backup().status, 0) << log();
    EXPECT_TRUE(has(log(), "stale locks")) << log();
    EXPECT_GT(images(), 0u);
    EXPECT_FALSE(has_temp_files(sdir));
    EXPECT_TRUE(names_in(sdir + "/repo/locks").empty());
}

// A small file system mounted for one test, unmounted when it ends.
struct SmallMount {
    std::string dir;
    bool mounted = false;
    explicit SmallMount(const std::string &d) : dir(d) {
        std::filesystem::create_directories(dir);
        mounted = mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=8m,mode=0700") == 0;
    }
    ~SmallMount() {
        if (mounted) {
            umount2(dir.c_str(), MNT_DETACH);
        }
    }
};

TEST_F(Backup, ACatalogWriteOnAFullDiskKeepsThePreviousCatalog) {
    // The server directory (catalog, temporary files, restic's cache) on a
    // small file system that fills up once restic has stored the snapshot;
    // the repository elsewhere.
    SmallMount small(root_.server_dir("small"));
    if (!small.mounted) {
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    }
    ASSERT_EQ(
        run("kpadmin", {"init-server", "small", "--repository", root_.path("small-repo")}).status,
        0);
    write_file(dir_ + "/first", "1");
    auto backup_small = [&] {
        write_file(root_.path("req"), counted({dir_}));
        write_file(root_.path("log"), "");
        return run("kpbackup", {"-S", "small", "-L", root_.path("log"), "-f", root_.path("req")})
            .status;
    };
    auto listed = [&] { return run("kplist", {"-S", "small", "-B", "-R", "9", dir_}).out; };
    ASSERT_EQ(backup_small(), 0) << log();
    write_file(dir_ + "/second", "2");
    wrap("", "cat /dev/zero > '" + small.dir + "/filler' 2>/dev/null");
    EXPECT_EQ(backup_small(), 6) << log();
    EXPECT_TRUE(has(log(), "is stored but could not be recorded")) << log();
    unlink((small.dir + "/filler").c_str());
    const std::string l = listed();
    EXPECT_TRUE(has(l, dir_ + "/first")) << l;
    EXPECT_FALSE(has(l, dir_ + "/second")) << l;
    unsetenv("XKP_RESTIC");
    EXPECT_EQ(backup_small(), 0) << log();
    EXPECT_TRUE(has(listed(), dir_ + "/second"));
}

TEST_F(Backup, AnUnchangedFileIsOneVersionAcrossBackups) {
    write_file(dir_ + "/changes", "1");
    write_file(dir_ + "/unchanged", "u");
    ASSERT_EQ(backup().status, 0) << log();
    write_file(dir_ + "/changes", "22");
    ASSERT_EQ(backup().status, 0) << log();
    int changes = 0, unchanged = 0;
    const std::string l = list();
    for (size_t pos = 0, n = 1; pos < l.size() && n > 0; pos += n) {
        ListingLine line;
        n = parse_listing_line(l, pos, line);
        changes += line.path == dir_ + "/changes";
        unchanged += line.path == dir_ + "/unchanged";
    }
    EXPECT_EQ(changes, 2) << l;
    EXPECT_EQ(unchanged, 1) << l;
}

} // namespace

namespace {

TEST_F(Backup, ServerFilesAreTheOwnersAloneAndListingsNeedNoPassword) {
    write_file(dir_ + "/f", "f");
    ASSERT_EQ(backup().status, 0) << log();
    const std::string s = root_.server_dir();
    std::string modes;
    for (const char *f : {"", "/repository", "/password", "/catalog.db", "/jobs"}) {
        struct stat sb {};
        ASSERT_EQ(stat((s + f).c_str(), &sb), 0) << f;
        modes += std::to_string(sb.st_mode & 0777) + " ";
    }
    EXPECT_EQ(modes, "448 384 384 384 448 "); // 0700 0600 0600 0600 0700
    // The listing programs read the catalog only.
    unlink((s + "/password").c_str());
    EXPECT_TRUE(has(list(), dir_ + "/f")) << list();
    EXPECT_GT(images(), 0u);
}

} // namespace
