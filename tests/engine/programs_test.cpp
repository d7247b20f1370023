// The command programs end to end, against real restic repositories in a
// temporary product root: backup, listing, image list, restore (older
// version, redirected, keeping existing files), archive, statuses, damaged
// requests, database scripts and the catalog rebuild.
#include <gtest/gtest.h>

#include <dirent.h>
#include <filesystem>
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
using harness::image_entry;
using harness::read_file;
using harness::run;
using harness::write_file;

namespace {

struct Node {
    char type = '?';
    unsigned mode = 0;
    long long size = 0;
    long long mtime = 0;
    std::string content; // file data or link target
    ino_t ino = 0;
    bool operator==(const Node &o) const {
        return std::tie(type, mode, size, mtime, content) ==
               std::tie(o.type, o.mode, o.size, o.mtime, o.content);
    }
};

// Every entry below root, by path relative to it.
std::map<std::string, Node> snapshot_tree(const std::string &root) {
    std::map<std::string, Node> out;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        Node node{'f', st.st_mode & 07777u, 0, st.st_mtime, "", st.st_ino};
        if (S_ISDIR(st.st_mode)) {
            node.type = 'd';
        } else if (S_ISLNK(st.st_mode)) {
            node.type = 'l';
            node.content = std::filesystem::read_symlink(path).string();
        } else {
            node.size = st.st_size;
            node.content = st.st_size < (1 << 20) ? read_file(path) : "";
        }
        out[path.substr(root.size())] = node;
    }
    return out;
}

// Parses a kplist output as the client does, returning every path.
std::vector<ListingLine> parse_all(const std::string &out) {
    std::vector<ListingLine> lines;
    size_t pos = 0;
    while (pos < out.size()) {
        ListingLine l;
        size_t n = parse_listing_line(out, pos, l);
        EXPECT_GT(n, 0u) << "unparsable listing at byte " << pos;
        if (n == 0)
            break;
        lines.push_back(l);
        pos += n;
    }
    return lines;
}

std::vector<std::string> image_lines(const std::string &out) {
    std::vector<std::string> v;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t nl = out.find('\n', pos);
        v.push_back(out.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return v;
}

long long first_number(const std::string &s) {
    return atoll(s.c_str());
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
        write_file(t + "/plain.txt", "version 1\n");
        write_file(t + "/with blank", "blank");
        write_file(t + "/new\nline", "nl");
        write_file(t + "/q'uote\"dbl$dollar", "quotes");
        write_file(t + "/bytes\xff\xfe", "latin");
        write_file(t + "/sub dir/star*[x]?", "pattern");
        write_file(t + "/sub dir/star1[x]?", "not the pattern");
        symlink("plain.txt", (t + "/link").c_str());
        link((t + "/with blank").c_str(), (t + "/hard").c_str());
        int fd = open((t + "/sparse").c_str(), O_CREAT | O_WRONLY, 0640);
        EXPECT_EQ(ftruncate(fd, 64 << 20), 0);
        EXPECT_EQ(pwrite(fd, "end", 3, (64 << 20) - 3), 3);
        close(fd);
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
        std::vector<std::string> args = {"-t", "0"};
        args.insert(args.end(), opts.begin(), opts.end());
        args.insert(args.end(), {"-L", root_.path("rlog"), "-W", "-f", root_.path("rreq")});
        return run("kprestore", args);
    }
    std::vector<std::string> images(const char *type = "NOT_ARCHIVE") {
        auto r = run("kpclimagelist", {"-K", "-ct", "0", "-t", type, "-X", "-d", "0", "-e",
                                       "2147483646", "-client", "testhost", "-keyword", ""});
        return image_lines(r.out);
    }
    harness::Root root_;
};

TEST_F(Programs, BackupListRestoreKeepsEveryNameAndAttribute) {
    std::string t = make_tree();
    std::map<std::string, Node> before = snapshot_tree(t);
    auto b = backup({t + "/"}, "first \"run\"");
    ASSERT_EQ(b.status, 0) << read_file(root_.path("log"));
    std::string log = read_file(root_.path("log"));
    EXPECT_NE(log.find("EXIT STATUS 0"), std::string::npos);
    EXPECT_NE(log.find("13 done, 0 skipped, 0 failed"), std::string::npos) << log;

    // The image list: one user backup with its keyword and counts.
    auto imgs = images();
    ASSERT_EQ(imgs.size(), 1u);
    std::istringstream fields(imgs[0]);
    std::vector<std::string> f(8);
    for (auto &word : f)
        fields >> word;
    ASSERT_FALSE(fields.fail()) << imgs[0];
    long long t1 = first_number(f[0]);
    EXPECT_EQ(f[2], "13");
    EXPECT_EQ(f[5], "2");
    EXPECT_NE(imgs[0].find("first \"run\""), std::string::npos);
    EXPECT_EQ(
        first_number(
            run("kpclimagelist", {"-likelydate", "-t", "NOT_ARCHIVE", "-client", "testhost"}).out),
        t1);

    // Every listed line parses back to an exact path of the tree.
    auto l = run("kplist", {"-t", "0", "-B", "-l", "-b", "-U", "-W", "-R", "999", "-X", "-s", "0",
                            "-e", "2147483646", "-keyword", "", t + "/"});
    ASSERT_EQ(l.status, 0) << l.err;
    std::set<std::string> listed;
    for (const auto &line : parse_all(l.out)) {
        listed.insert(line.path);
        EXPECT_EQ(line.backup_time, t1);
    }
    std::set<std::string> want = {t + "/"};
    for (const auto &[rel, node] : before)
        want.insert(t + rel + (node.type == 'd' ? "/" : ""));
    EXPECT_EQ(listed, want);
    // Depth 0: the directory and its entries only.
    auto shallow = parse_all(run("kplist", {"-B", "-R", "0", t}).out);
    for (const auto &line : shallow)
        EXPECT_LE(path_depth(line.path), path_depth(t) + 1) << line.path;
    EXPECT_EQ(shallow.size(), 11u); // the directory and its ten entries

    // A second version of one file, then the first one brought back.
    write_file(t + "/plain.txt", "version 2, longer\n");
    ASSERT_EQ(backup({t + "/plain.txt"}, "second").status, 0);
    imgs = images();
    ASSERT_EQ(imgs.size(), 2u);
    long long t2 = first_number(imgs[0]);
    EXPECT_GT(t2, t1);
    // The second image holds the file and, as its ancestor, the directory.
    auto k1 = parse_all(run("kplist", {"-B", "-R", "0", "-keyword", "second", t}).out);
    ASSERT_EQ(k1.size(), 2u);
    EXPECT_EQ(k1[1].path, t + "/plain.txt");
    EXPECT_EQ(k1[1].backup_time, t2);
    EXPECT_EQ(run("kplist", {"-B", "-R", "0", "-keyword", "no such words", t}).status, 227);

    // -K keeps the changed file; without it the old version comes back.
    auto r = restore(image_entry(t + "/plain.txt", t1, t1), {"-K"});
    EXPECT_EQ(r.status, 0) << read_file(root_.path("rlog"));
    EXPECT_EQ(read_file(t + "/plain.txt"), "version 2, longer\n");
    EXPECT_NE(read_file(root_.path("rlog")).find("exists, kept (-K)"), std::string::npos);
    r = restore(image_entry(t + "/plain.txt", t1, t1));
    EXPECT_EQ(r.status, 0) << read_file(root_.path("rlog"));
    EXPECT_EQ(read_file(t + "/plain.txt"), "version 1\n");
    struct stat st {};
    ASSERT_EQ(stat((t + "/plain.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(st.st_mtime, 1500000000);
    // The newest version in a range that holds both.
    r = restore(image_entry(t + "/plain.txt", t1, t2));
    EXPECT_EQ(read_file(t + "/plain.txt"), "version 2, longer\n");
    // A name holding pattern characters restores only itself.
    unlink((t + "/sub dir/star*[x]?").c_str());
    unlink((t + "/sub dir/star1[x]?").c_str());
    r = restore(image_entry(t + "/sub dir/star*[x]?", t1, t1));
    EXPECT_EQ(r.status, 0) << read_file(root_.path("rlog"));
    EXPECT_EQ(read_file(t + "/sub dir/star*[x]?"), "pattern");
    EXPECT_NE(access((t + "/sub dir/star1[x]?").c_str(), F_OK), 0);
    write_file(t + "/sub dir/star1[x]?", "not the pattern");

    // The whole directory redirected: every name, mode, time, link and
    // hard link as backed up.
    write_file(root_.path("rename"), "change " + t + " to " + root_.data() + "/moved here\n");
    r = restore(image_entry(t + "/", t1, t1), {"-R", root_.path("rename"), "-l"});
    ASSERT_EQ(r.status, 0) << read_file(root_.path("rlog"));
    std::map<std::string, Node> after = snapshot_tree(root_.data() + "/moved here");
    ASSERT_EQ(after.size(), before.size());
    for (const auto &[rel, node] : before) {
        ASSERT_TRUE(after.count(rel)) << rel;
        if (node.type == 'd')
            EXPECT_EQ(after[rel].mode, node.mode)
                << rel; // directory times change as entries move in
        else
            EXPECT_TRUE(after[rel] == node) << rel;
    }
    EXPECT_EQ(after["/hard"].ino, after["/with blank"].ino);
    EXPECT_EQ(after["/sparse"].size, 64 << 20);
    EXPECT_NE(read_file(root_.path("rlog")).find("sparse"), std::string::npos);
    // Nothing of the staging is left behind.
    DIR *d = opendir(root_.data().c_str());
    while (dirent *e = readdir(d))
        EXPECT_EQ(std::string(e->d_name).find(".kprestore"), std::string::npos);
    closedir(d);
}

TEST_F(Programs, DirectoryOperandAndTransferEncodedLog) {
    std::string dir = root_.data() + "/op dir";
    mkdir(dir.c_str(), 0755);
    write_file(dir + "/f", "x");
    std::string log = root_.path("my log");
    write_file(log, "");
    std::string enc(log.size() * 2 + 1, '\0');
    ucs1_to_utf8(log.c_str(), enc.data());
    auto r = run("kpbackup", {"-8", "-L", enc.c_str(), dir});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read_file(log).find("EXIT STATUS 0"), std::string::npos);
    EXPECT_EQ(parse_all(run("kplist", {"-B", dir}).out).size(), 2u);
}

TEST_F(Programs, ArchiveRemovesOriginalsOnlyAfterARecordedVerifiedImage) {
    std::string a = root_.data() + "/arch";
    mkdir(a.c_str(), 0755);
    mkdir((a + "/in").c_str(), 0755);
    write_file(a + "/one", "1");
    write_file(a + "/in/two", "2");

    // A repository that cannot be reached, then one that refuses the
    // password: nothing is removed.
    std::string repo = root_.server_dir() + "/repo";
    ASSERT_EQ(rename(repo.c_str(), (repo + ".away").c_str()), 0);
    auto r = backup({a}, "k", "kparchive");
    EXPECT_EQ(r.status, 25);
    ASSERT_EQ(rename((repo + ".away").c_str(), repo.c_str()), 0);
    std::string pw = read_file(root_.server_dir() + "/password");
    write_file(root_.server_dir() + "/password", "not the password\n");
    r = backup({a}, "k", "kparchive");
    EXPECT_EQ(r.status, 6) << read_file(root_.path("log"));
    write_file(root_.server_dir() + "/password", pw);
    EXPECT_EQ(read_file(a + "/one"), "1");
    EXPECT_EQ(read_file(a + "/in/two"), "2");
    EXPECT_EQ(images("UARC").size(), 0u);

    r = backup({a}, "archived", "kparchive");
    ASSERT_EQ(r.status, 0) << read_file(root_.path("log"));
    EXPECT_NE(read_file(root_.path("log")).find("verified"), std::string::npos);
    EXPECT_NE(access(a.c_str(), F_OK), 0);
    auto imgs = images("UARC");
    ASSERT_EQ(imgs.size(), 1u);
    long long t = first_number(imgs[0]);
    EXPECT_EQ(images("NOT_ARCHIVE").size(), 0u);
    EXPECT_EQ(parse_all(run("kplist", {"-A", "-R", "999", a}).out).size(), 4u);
    EXPECT_EQ(run("kplist", {"-B", "-R", "999", a}).status, 227);
    // Archives come back with -A only.
    EXPECT_EQ(restore(image_entry(a + "/", t, t)).status, 190);
    r = restore(image_entry(a + "/", t, t), {"-A"});
    EXPECT_EQ(r.status, 0) << read_file(root_.path("rlog"));
    EXPECT_EQ(read_file(a + "/in/two"), "2");
}

TEST_F(Programs, StatusesAndDamagedRequestsLoseNothing) {
    std::string d = root_.data() + "/s";
    mkdir(d.c_str(), 0755);
    write_file(d + "/keep", "keep");
    EXPECT_EQ(run("kplist", {"-B", "-R", "2", d}).status, 227);
    EXPECT_EQ(run("kpclimagelist", {"-likelydate", "-t", "NOT_ARCHIVE"}).status, 227);
    EXPECT_EQ(run("kplist", {"-S", "elsewhere", "-B", d}).status, 25);
    EXPECT_EQ(run("kpclimagelist", {"-server", "elsewhere", "-t", "UARC"}).status, 25);
    auto u = run("kpbackup", {"-Z", d});
    EXPECT_EQ(u.status, 252);
    EXPECT_NE(u.err.find("usage:"), std::string::npos);
    EXPECT_EQ(run("kprestore", {"-W"}).status, 252);

    EXPECT_EQ(backup({d + "/not there", d + "/nor this"}, "").status, 71);
    EXPECT_NE(read_file(root_.path("log")).find("does not exist"), std::string::npos);
    EXPECT_EQ(backup({}, "").status, 112);
    // A truncated request: refused whole, no image made.
    write_file(root_.path("req"), "5 /a/b\n40 " + d + "/ke");
    write_file(root_.path("log"), "");
    EXPECT_EQ(run("kparchive", {"-L", root_.path("log"), "-f", root_.path("req")}).status, 252);
    EXPECT_NE(read_file(root_.path("log")).find("damaged"), std::string::npos);
    EXPECT_EQ(run("kpbackup", {"-f", root_.path("no such request")}).status, 12);
    EXPECT_EQ(images().size(), 0u);
    EXPECT_EQ(read_file(d + "/keep"), "keep");

    ASSERT_EQ(backup({d}, "").status, 0);
    long long t = first_number(images()[0]);
    write_file(d + "/keep", "changed");
    EXPECT_EQ(restore("0 0 0 0 0 0 0 0 0 40 " + d + "/keep 1 2\n").status, 252);
    EXPECT_EQ(restore(image_entry(d + "/keep", t + 10, t + 20)).status, 190);
    EXPECT_EQ(read_file(d + "/keep"), "changed");
    // One entry found, one not: 175.
    auto r = restore(image_entry(d + "/keep", t, t) + image_entry(d + "/never", t, t));
    EXPECT_EQ(r.status, 175);
    EXPECT_EQ(read_file(d + "/keep"), "keep");
    EXPECT_EQ(restore(image_entry(d + "/keep", t, t), {"-D", "otherhost"}).status, 58);

    // A server whose repository vanished.
    harness::remove_tree(root_.server_dir() + "/repo");
    EXPECT_EQ(backup({d}, "").status, 25);
    EXPECT_EQ(restore(image_entry(d + "/keep", t, t)).status, 25);
}

TEST_F(Programs, DatabaseScriptsRunWithTheirEnvironment) {
    std::string ok = root_.path("ok.sh"), bad = root_.path("bad.sh");
    write_file(ok, "#!/bin/sh\necho \"$SORVANE_RDBMS $SORVANE_ACTION $SORVANE_POLICY "
                   "$SORVANE_SCHEDULE $SORVANE_KEYWORD $SORVANE_SERVER\" > \"$0.out\"\n"
                   "echo done here\n");
    write_file(bad, "#!/bin/sh\necho failing >&2\nexit 3\n");
    chmod(ok.c_str(), 0755);
    chmod(bad.c_str(), 0755);
    auto hdb = [&](const std::string &list, const char *action) {
        write_file(root_.path("scripts"), list);
        write_file(root_.path("hlog"), "");
        return run("kphdb",
                   {action, "-fork", "-rdbms", "oracle", "-S", "demo", "-c", "pol", "-s", "daily",
                    "-k", "kw", "-L", root_.path("hlog"), "-f", root_.path("scripts")});
    };
    EXPECT_EQ(hdb(ok + "\n", "-ub").status, 0);
    EXPECT_EQ(read_file(ok + ".out"), "oracle backup pol daily kw demo\n");
    EXPECT_NE(read_file(root_.path("hlog")).find("| done here"), std::string::npos);
    EXPECT_EQ(hdb(ok + "\n" + bad + "\n", "-r").status, 1);
    EXPECT_NE(read_file(root_.path("hlog")).find("exit status 3"), std::string::npos);
    EXPECT_EQ(hdb(bad + "\n", "-ub").status, 6);
    EXPECT_EQ(hdb(bad + "\n", "-r").status, 5);
    EXPECT_EQ(hdb(root_.path("missing.sh") + "\n", "-ub").status, 71);
    EXPECT_EQ(run("kphdb", {"-ub", "-r", "-rdbms", "x", "-f", ok}).status, 252);
}

TEST_F(Programs, CatalogRebuiltFromTheRepositoryKeepsRawNames) {
    std::string d = root_.data() + "/rb";
    mkdir(d.c_str(), 0755);
    write_file(d + "/bytes\xff", "a");
    write_file(d + "/new\nline", "b");
    ASSERT_EQ(backup({d}, "kw,with comma").status, 0);
    auto before = run("kplist", {"-B", "-R", "999", d}).out;
    std::string cat = root_.server_dir() + "/catalog";
    harness::remove_tree(cat);
    mkdir(cat.c_str(), 0755);
    EXPECT_EQ(run("kplist", {"-B", "-R", "999", d}).status, 227);
    auto rb = run("kpadmin", {"rebuild-catalog", "demo"});
    ASSERT_EQ(rb.status, 0) << rb.err;
    std::set<std::string> p1, p2;
    for (const auto &l : parse_all(before))
        p1.insert(l.path);
    for (const auto &l : parse_all(run("kplist", {"-B", "-R", "999", d}).out))
        p2.insert(l.path);
    EXPECT_EQ(p1, p2);
    auto imgs = images();
    ASSERT_EQ(imgs.size(), 1u);
    EXPECT_NE(imgs[0].find("kw,with comma"), std::string::npos);
    // Running it again records nothing twice.
    EXPECT_NE(run("kpadmin", {"rebuild-catalog", "demo"}).out.find("0 images recorded"),
              std::string::npos);
}

} // namespace
