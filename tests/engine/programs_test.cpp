// The command programs end to end, against real restic repositories in a
// temporary product root: backup, listing, image list, restore, archive,
// statuses, damaged requests, database scripts and the catalog rebuild.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "catalog.h"
#include "cmnutils.h"
#include "engine_harness.h"

using harness::counted;
using harness::has;
using harness::image_entry;
using harness::read_file;
using harness::run;
using harness::write_file;

namespace {

// An entry as compared after a restore: type ('d', 'l' or 'f'), mode, size,
// modification time, file data or link target; the inode is kept apart.
using Node = std::tuple<char, unsigned, long long, long long, std::string>;
struct Entry {
    Node node;
    ino_t ino;
};

// Every entry below root, by path relative to it.
std::map<std::string, Entry> snapshot_tree(const std::string &root) {
    std::map<std::string, Entry> out;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        const bool file = S_ISREG(st.st_mode);
        out[path.substr(root.size())] = {{S_ISDIR(st.st_mode)   ? 'd'
                                          : S_ISLNK(st.st_mode) ? 'l'
                                                                : 'f',
                                          st.st_mode & 07777u, file ? st.st_size : 0, st.st_mtime,
                                          S_ISLNK(st.st_mode)
                                              ? std::filesystem::read_symlink(path).string()
                                          : file && st.st_size < (1 << 20) ? read_file(path)
                                                                           : ""},
                                         st.st_ino};
    }
    return out;
}

// Parses a kplist output as the client does, returning every path.
std::vector<ListingLine> parse_all(const std::string &out) {
    std::vector<ListingLine> lines;
    for (size_t pos = 0, n = 1; pos < out.size() && n > 0; pos += n) {
        lines.emplace_back();
        n = parse_listing_line(out, pos, lines.back());
        EXPECT_GT(n, 0u) << "unparsable listing at byte " << pos;
    }
    return lines;
}

// The paths of a kplist output.
std::set<std::string> paths_of(const std::string &out) {
    std::set<std::string> paths;
    for (const auto &l : parse_all(out)) {
        paths.insert(l.path);
    }
    return paths;
}

class Programs : public ::testing::Test {
  protected:
    void SetUp() override {
        auto r = run("kpadmin", {"init-server", "demo"});
        ASSERT_EQ(r.status, 0) << r.err << r.out;
    }
    // Creates the awkward tree at data/t.
    std::string make_tree() {
        std::string t = root_.data() + "/t";
        mkdir(t.c_str(), 0750);
        mkdir((t + "/sub dir").c_str(), 0755);
        mkdir((t + "/empty").c_str(), 0700);
        // "name|data" of each file.
        for (const std::string f :
             {"plain.txt|version 1\n", "with blank|blank", "new\nline|nl",
              "q'uote\"dbl$dollar|quotes", "bytes\xff\xfe|latin", "sub dir/star*[x]?|pattern",
              "sub dir/star1[x]?|not the pattern"}) {
            write_file(t + "/" + f.substr(0, f.find('|')), f.substr(f.find('|') + 1));
        }
        symlink("plain.txt", (t + "/link").c_str());
        link((t + "/with blank").c_str(), (t + "/hard").c_str());
        std::ofstream(t + "/sparse").seekp((64 << 20) - 3) << "end"; // a hole, then "end"
        chmod((t + "/plain.txt").c_str(), 0604);
        struct timespec ts[2] = {{1500000000, 0}, {1500000000, 0}};
        utimensat(AT_FDCWD, (t + "/plain.txt").c_str(), ts, 0);
        return t;
    }
    harness::Run backup(const std::vector<std::string> &paths, const std::string &kw,
                        const std::string &prog = "kpbackup") {
        write_file(root_.path("req"), counted(paths));
        write_file(root_.path("log"), "");
        return run(prog, {"-k", kw, "-L", root_.path("log"), "-f", root_.path("req")});
    }
    harness::Run restore(const std::string &entries, std::vector<std::string> opts = {}) {
        write_file(root_.path("rreq"), entries);
        write_file(root_.path("rlog"), "");
        opts.insert(opts.begin(), {"-t", "0"});
        opts.insert(opts.end(), {"-L", root_.path("rlog"), "-W", "-f", root_.path("rreq")});
        return run("kprestore", opts);
    }
    // The image list's lines, newest first.
    std::vector<std::string> images(const char *type = "NOT_ARCHIVE") {
        std::istringstream in(
            run("kpclimagelist", {"-K", "-ct", "0", "-t", type, "-X", "-d", "0", "-e", "2147483646",
                                  "-client", "testhost", "-keyword", ""})
                .out);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    std::string log() { return read_file(root_.path("log")); }
    std::string rlog() { return read_file(root_.path("rlog")); }
    harness::Root root_;
};

TEST_F(Programs, BackupListRestoreKeepsEveryNameAndAttribute) {
    const std::string t = make_tree();
    const auto before = snapshot_tree(t);
    ASSERT_EQ(backup({t + "/"}, "first \"run\"").status, 0) << log();
    EXPECT_TRUE(has(log(), "EXIT STATUS 0") && has(log(), "13 done, 0 skipped, 0 failed")) << log();

    // The image list: one user backup with its keyword and counts.
    auto imgs = images();
    ASSERT_EQ(imgs.size(), 1u);
    std::istringstream fields(imgs[0]);
    std::string f[8];
    ASSERT_TRUE(
        static_cast<bool>(fields >> f[0] >> f[1] >> f[2] >> f[3] >> f[4] >> f[5] >> f[6] >> f[7]))
        << imgs[0];
    const long long t1 = std::stoll(f[0]);
    EXPECT_EQ(f[2] + " " + f[5], "13 2");
    EXPECT_TRUE(has(imgs[0], "first \"run\""));
    EXPECT_EQ(
        std::stoll(
            run("kpclimagelist", {"-likelydate", "-t", "NOT_ARCHIVE", "-client", "testhost"}).out),
        t1);

    // Every listed line parses back to an exact path of the tree.
    auto l = run("kplist", {"-t", "0", "-B", "-l", "-b", "-U", "-W", "-R", "999", "-X", "-s", "0",
                            "-e", "2147483646", "-keyword", "", t + "/"});
    ASSERT_EQ(l.status, 0) << l.err;
    std::set<std::string> want = {t + "/"};
    for (const auto &[rel, e] : before) {
        want.insert(t + rel + (std::get<0>(e.node) == 'd' ? "/" : ""));
    }
    EXPECT_EQ(paths_of(l.out), want);
    for (const auto &line : parse_all(l.out)) {
        EXPECT_EQ(line.backup_time, t1) << line.path;
    }

    // A second version of one file; the newest version in a range that holds
    // both comes back. (Keeping a changed file and bringing an older version
    // back in place: tests/e2e/restore.sh.)
    write_file(t + "/plain.txt", "version 2, longer\n");
    ASSERT_EQ(backup({t + "/plain.txt"}, "second").status, 0);
    imgs = images();
    ASSERT_EQ(imgs.size(), 2u);
    const long long t2 = std::stoll(imgs[0]);
    EXPECT_GT(t2, t1);
    // The second image holds the new version of the file.
    auto k1 = parse_all(run("kplist", {"-B", "-R", "0", "-keyword", "second", t}).out);
    ASSERT_GE(k1.size(), 2u);
    EXPECT_EQ(std::pair(k1.back().path, k1.back().backup_time), std::pair(t + "/plain.txt", t2));
    EXPECT_EQ(run("kplist", {"-B", "-R", "0", "-keyword", "no such words", t}).status, 227);
    write_file(t + "/plain.txt", "version 3\n");
    EXPECT_EQ(restore(image_entry(t + "/plain.txt", t1, t2)).status, 0) << rlog();
    EXPECT_EQ(read_file(t + "/plain.txt"), "version 2, longer\n");
    // A name holding pattern characters restores only itself.
    unlink((t + "/sub dir/star*[x]?").c_str());
    unlink((t + "/sub dir/star1[x]?").c_str());
    EXPECT_EQ(restore(image_entry(t + "/sub dir/star*[x]?", t1, t1)).status, 0) << rlog();
    EXPECT_EQ(read_file(t + "/sub dir/star*[x]?"), "pattern");
    EXPECT_NE(access((t + "/sub dir/star1[x]?").c_str(), F_OK), 0);

    // The whole directory redirected: every name, mode, time, link and
    // hard link as backed up (directory times change as entries move in).
    write_file(root_.path("rename"), "change " + t + " to " + root_.data() + "/moved here\n");
    ASSERT_EQ(restore(image_entry(t + "/", t1, t1), {"-R", root_.path("rename"), "-l"}).status, 0)
        << rlog();
    auto after = snapshot_tree(root_.data() + "/moved here");
    ASSERT_EQ(after.size(), before.size());
    for (const auto &[rel, e] : before) {
        ASSERT_TRUE(after.count(rel)) << rel;
        if (std::get<0>(e.node) == 'd') {
            EXPECT_EQ(std::get<1>(after[rel].node), std::get<1>(e.node)) << rel;
        } else {
            EXPECT_EQ(after[rel].node, e.node) << rel;
        }
    }
    EXPECT_EQ(after["/hard"].ino, after["/with blank"].ino);
    EXPECT_EQ(std::get<2>(after["/sparse"].node), 64 << 20);
    EXPECT_TRUE(has(rlog(), "sparse"));
    // Nothing of the staging is left behind.
    for (const auto &entry : std::filesystem::directory_iterator(root_.data())) {
        EXPECT_FALSE(has(entry.path().filename().string(), ".kprestore")) << entry.path();
    }
}

TEST_F(Programs, DirectoryOperandAndTransferEncodedLog) {
    const std::string dir = root_.data() + "/op dir", log = root_.path("my log");
    mkdir(dir.c_str(), 0755);
    write_file(dir + "/f", "x");
    write_file(log, "");
    std::string enc(log.size() * 2 + 1, '\0');
    ucs1_to_utf8(log.c_str(), enc.data());
    auto r = run("kpbackup", {"-8", "-L", enc.c_str(), dir});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(read_file(log), "EXIT STATUS 0"));
    EXPECT_EQ(parse_all(run("kplist", {"-B", dir}).out).size(), 2u);
}

TEST_F(Programs, ArchiveRemovesOriginalsOnlyAfterARecordedVerifiedImage) {
    const std::string a = root_.data() + "/arch", repo = root_.server_dir() + "/repo",
                      password = root_.server_dir() + "/password";
    mkdir(a.c_str(), 0755);
    mkdir((a + "/in").c_str(), 0755);
    write_file(a + "/one", "1");
    write_file(a + "/in/two", "2");
    // A repository that cannot be reached, then one that refuses the
    // password: nothing is removed.
    ASSERT_EQ(rename(repo.c_str(), (repo + ".away").c_str()), 0);
    EXPECT_EQ(backup({a}, "k", "kparchive").status, 25);
    ASSERT_EQ(rename((repo + ".away").c_str(), repo.c_str()), 0);
    const std::string pw = read_file(password);
    write_file(password, "not the password\n");
    EXPECT_EQ(backup({a}, "k", "kparchive").status, 6) << log();
    write_file(password, pw);
    EXPECT_EQ(read_file(a + "/one") + read_file(a + "/in/two"), "12");
    EXPECT_EQ(images("UARC").size(), 0u);

    ASSERT_EQ(backup({a}, "archived", "kparchive").status, 0) << log();
    EXPECT_TRUE(has(log(), "verified"));
    EXPECT_NE(access(a.c_str(), F_OK), 0);
    const auto imgs = images("UARC");
    ASSERT_EQ(imgs.size(), 1u);
    const long long t = std::stoll(imgs[0]);
    EXPECT_EQ(images("NOT_ARCHIVE").size(), 0u);
    EXPECT_EQ(parse_all(run("kplist", {"-A", "-R", "999", a}).out).size(), 4u);
    EXPECT_EQ(run("kplist", {"-B", "-R", "999", a}).status, 227);
    // Archives come back with -A only.
    EXPECT_EQ(restore(image_entry(a + "/", t, t)).status, 190);
    EXPECT_EQ(restore(image_entry(a + "/", t, t), {"-A"}).status, 0) << rlog();
    EXPECT_EQ(read_file(a + "/in/two"), "2");
}

TEST_F(Programs, StatusesAndDamagedRequestsLoseNothing) {
    // (An unreachable repository, 25: the archive and rclone tests.)
    const std::string d = root_.data() + "/s";
    mkdir(d.c_str(), 0755);
    write_file(d + "/keep", "keep");
    EXPECT_EQ(run("kplist", {"-B", "-R", "2", d}).status, 227);
    EXPECT_EQ(run("kpclimagelist", {"-likelydate", "-t", "NOT_ARCHIVE"}).status, 227);
    EXPECT_EQ(run("kplist", {"-S", "elsewhere", "-B", d}).status, 25);
    EXPECT_EQ(run("kpclimagelist", {"-server", "elsewhere", "-t", "UARC"}).status, 25);
    auto u = run("kpbackup", {"-Z", d});
    EXPECT_EQ(u.status, 252);
    EXPECT_TRUE(has(u.err, "usage:"));
    EXPECT_EQ(run("kprestore", {"-W"}).status, 252);
    EXPECT_EQ(backup({d + "/not there", d + "/nor this"}, "").status, 71);
    EXPECT_TRUE(has(log(), "does not exist"));
    EXPECT_EQ(backup({}, "").status, 112);
    EXPECT_EQ(run("kpbackup", {"-f", root_.path("no such request")}).status, 12);
    EXPECT_EQ(images().size(), 0u);
    EXPECT_EQ(read_file(d + "/keep"), "keep");

    ASSERT_EQ(backup({d}, "").status, 0);
    const long long t = std::stoll(images()[0]);
    write_file(d + "/keep", "changed");
    EXPECT_EQ(restore("0 0 0 0 0 0 0 0 0 40 " + d + "/keep 1 2\n").status, 252);
    // A range before the first backup holds no version.
    EXPECT_EQ(restore(image_entry(d + "/keep", t - 20, t - 10)).status, 190);
    EXPECT_EQ(read_file(d + "/keep"), "changed");
    // One entry found, one not: 175.
    EXPECT_EQ(restore(image_entry(d + "/keep", t, t) + image_entry(d + "/never", t, t)).status,
              175);
    EXPECT_EQ(read_file(d + "/keep"), "keep");
    EXPECT_EQ(restore(image_entry(d + "/keep", t, t), {"-D", "otherhost"}).status, 58);
}

TEST_F(Programs, DatabaseScriptsRunWithTheirEnvironment) {
    const std::string ok = root_.path("ok.sh"), bad = root_.path("bad.sh"),
                      hlog = root_.path("hlog");
    write_file(ok, "#!/bin/sh\necho \"$SORVANE_RDBMS $SORVANE_ACTION $SORVANE_POLICY "
                   "$SORVANE_SCHEDULE $SORVANE_KEYWORD $SORVANE_SERVER $SORVANE_CLIENT "
                   "$SORVANE_LOG\" > \"$0.out\"\n"
                   "echo done here\n");
    write_file(bad, "#!/bin/sh\necho failing >&2\nexit 3\n");
    chmod(ok.c_str(), 0755);
    chmod(bad.c_str(), 0755);
    auto hdb = [&](const std::string &list, const char *action) {
        write_file(root_.path("scripts"), list);
        write_file(hlog, "");
        return run("kphdb", {action, "-fork", "-rdbms", "oracle", "-S", "demo", "-c", "pol", "-s",
                             "daily", "-k", "kw", "-L", hlog, "-f", root_.path("scripts")})
            .status;
    };
    EXPECT_EQ(hdb(ok + "\n", "-ub"), 0);
    EXPECT_EQ(read_file(ok + ".out"), "oracle backup pol daily kw demo testhost " + hlog + "\n");
    EXPECT_TRUE(has(read_file(hlog), "| done here"));
    // One failing script fails the request, and its output is logged.
    EXPECT_EQ(hdb(ok + "\n" + bad + "\n", "-r"), 5);
    EXPECT_TRUE(has(read_file(hlog), "| failing"));
    EXPECT_TRUE(has(read_file(hlog), "exit status 3"));
    // A script's end is its exit, even when a process it left behind still
    // holds its output.
    const std::string bg = root_.path("bg.sh");
    write_file(bg, "#!/bin/sh\n(sleep 20; echo late) &\necho early\n");
    chmod(bg.c_str(), 0755);
    EXPECT_EQ(hdb(bg + "\n", "-ub"), 0);
    EXPECT_TRUE(has(read_file(hlog), "| early"));
    EXPECT_FALSE(has(read_file(hlog), "| late"));
    EXPECT_TRUE(has(read_file(hlog), "left processes running"));
    EXPECT_EQ(hdb(root_.path("missing.sh") + "\n", "-ub"), 71);
    // A cancelled request stops the script and what it started.
    const std::string slow = root_.path("slow.sh");
    write_file(slow, "#!/bin/sh\necho started\nsleep 60\necho after\n");
    chmod(slow.c_str(), 0755);
    write_file(root_.path("scripts"), slow + "\n");
    write_file(hlog, "");
    ASSERT_EQ(harness::run_detached("kphdb", {"-ub", "-fork", "-rdbms", "db2", "-L", hlog, "-f",
                                              root_.path("scripts")})
                  .status,
              0);
    for (int i = 0; i < 300 && !has(read_file(hlog), "| started"); ++i) {
        usleep(100000);
    }
    const std::string jobs = run("kpadmin", {"jobs"}).out;
    ASSERT_FALSE(jobs.empty());
    EXPECT_EQ(run("kpadmin", {"cancel", std::to_string(std::stoll(jobs))}).status, 0);
    EXPECT_TRUE(has(read_file(hlog), "EXIT STATUS 150")) << read_file(hlog);
    EXPECT_EQ(run("kphdb", {"-ub", "-r", "-rdbms", "x", "-f", ok}).status, 252);
}

TEST_F(Programs, CatalogRebuiltFromTheRepositoryKeepsRawNames) {
    const std::string d = root_.data() + "/rb", cat = root_.server_dir() + "/catalog.db";
    mkdir(d.c_str(), 0755);
    write_file(d + "/bytes\xff", "a");
    write_file(d + "/new\nline", "b");
    ASSERT_EQ(backup({d}, "kw,with comma").status, 0);
    const auto before = paths_of(run("kplist", {"-B", "-R", "999", d}).out);
    for (const char *suffix : {"", "-wal", "-shm"}) {
        unlink((cat + suffix).c_str());
    }
    EXPECT_EQ(run("kplist", {"-B", "-R", "999", d}).status, 227);
    auto rb = run("kpadmin", {"rebuild-catalog", "demo"});
    ASSERT_EQ(rb.status, 0) << rb.err;
    EXPECT_EQ(paths_of(run("kplist", {"-B", "-R", "999", d}).out), before);
    const auto imgs = images();
    ASSERT_EQ(imgs.size(), 1u);
    EXPECT_TRUE(has(imgs[0], "kw,with comma"));
    // Running it again rebuilds the same catalog, not a second copy.
    EXPECT_TRUE(has(run("kpadmin", {"rebuild-catalog", "demo"}).out, "1 images recorded"));
    EXPECT_EQ(images().size(), 1u);
}

} // namespace
