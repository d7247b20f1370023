// The catalog database: versions of paths across images, what a listing
// shows over a range and as a true image, what a restore brings back, and
// that an image is all or nothing.
#include <gtest/gtest.h>

#include <map>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "catalog_db.h"
#include "engine_harness.h"

namespace {

// A file (or directory, size < 0) state whose mtime stands for its content.
FileState st(const std::string &name, long long mtime, long long size = 10, unsigned mode = 0644) {
    FileState f;
    f.name = name;
    f.type = size < 0 ? 1 : 0;
    f.mode = (size < 0 ? S_IFDIR : S_IFREG) | mode;
    f.size = size < 0 ? 0 : size;
    f.mtime_ns = mtime * 1000000000LL;
    f.ctime_ns = f.mtime_ns;
    f.inode = 100 + static_cast<long long>(name.size());
    f.owner = f.group = "root";
    return f;
}

class CatalogDbTest : public ::testing::Test {
  protected:
    harness::Root root_;
    CatalogDb db_;
    std::string err_;

    void SetUp() override { ASSERT_TRUE(db_.open(root_.path("catalog.db"), true, err_)) << err_; }

    // One image at t: request path root (a directory /d unless said), the
    // given entries of /d (name -> mtime; size -1 for a directory).
    void image(long long t, const std::string &req, const std::map<std::string, long long> &d,
               bool whole_dir = true) {
        ImageHeader h;
        h.backup_time = t;
        h.client = "c";
        h.snapshot = "snap" + std::to_string(t);
        ImageWriter w;
        ASSERT_TRUE(db_.begin_image(h, w, err_)) << err_;
        ASSERT_TRUE(w.ancestor("/", st("", 1, -1), err_)) << err_;
        if (whole_dir) {
            ASSERT_TRUE(w.root(req, st("d", 1, -1), err_)) << err_;
            std::vector<FileState> stored;
            for (const auto &[n, m] : d) {
                stored.push_back(m < 0 ? st(n, 1, -1) : st(n, m));
            }
            ASSERT_TRUE(w.directory(req, stored, {}, err_)) << err_;
        } else {
            ASSERT_TRUE(w.ancestor("/d", st("d", 1, -1), err_)) << err_;
            for (const auto &[n, m] : d) {
                ASSERT_TRUE(w.root("/d/" + n, st(n, m), err_)) << err_;
            }
        }
        ASSERT_TRUE(w.commit(err_)) << err_;
    }

    // "path@backup_time" of each listing line, in order.
    std::string list(long long s, long long e, bool true_image, const std::string &dir = "/d") {
        ListingQuery q;
        q.history = {"c", false};
        q.dir = dir;
        q.start = s;
        q.end = e;
        q.true_image = true_image;
        std::string out;
        long long n = db_.list(
            q,
            [&](const ListingLine &l) {
                out += (out.empty() ? "" : " ") + l.path + "@" + std::to_string(l.backup_time);
            },
            err_);
        EXPECT_GE(n, 0) << err_;
        return out;
    }

    // "path:mtime" of what a restore of path brings back.
    std::string restore(const std::string &path, long long s, long long e, bool true_image) {
        std::string out;
        for (const auto &v : db_.restore_set({"c", false}, path, s, e, true_image, err_)) {
            out += (out.empty() ? "" : " ") + v.path + ":" +
                   std::to_string(v.st.mtime_ns / 1000000000LL);
        }
        return out;
    }
};

// d/ holds a and b; then d/a alone is backed up changed; then d/ again
// without b. The one-file backup says nothing of b.
TEST_F(CatalogDbTest, VersionsAcrossImagesListAndRestoreMerged) {
    image(100, "/d", {{"a", 1}, {"b", 1}});
    image(200, "/d/a", {{"a", 2}}, false);
    image(300, "/d", {{"a", 2}});

    struct Row {
        long long s, e;
        bool ti;
        const char *listing;
    } rows[] = {
        // Every version alive in the range, once, dated by its first image;
        // the directory once per image that touched it.
        {0, 1000, false, "/d/@300 /d/@200 /d/@100 /d/a@200 /d/a@100 /d/b@100"},
        // The range of the one-file backup alone: b is alive then.
        {200, 200, false, "/d/@200 /d/@100 /d/a@200 /d/b@100"},
        // True image: the directory as the newest image of the range saw it.
        {0, 250, true, "/d/@200 /d/a@200 /d/b@100"},
        {0, 1000, true, "/d/@300 /d/a@200"},
        {301, 1000, false, ""},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(list(r.s, r.e, r.ti), r.listing) << r.s << ".." << r.e << " -T " << r.ti;
    }

    // Restoring d/: dated by the one-file backup, the new a and the old b;
    // over everything, the deleted b comes back in its newest version;
    // as the true image of the last backup it stays deleted.
    EXPECT_EQ(restore("/d", 200, 200, false), "/d:1 /d/a:2 /d/b:1");
    EXPECT_EQ(restore("/d", 0, 1000, false), "/d:1 /d/a:2 /d/b:1");
    EXPECT_EQ(restore("/d", 0, 1000, true), "/d:1 /d/a:2");
    EXPECT_EQ(restore("/d/a", 100, 100, false), "/d/a:1");
    EXPECT_EQ(restore("/d/x", 0, 1000, false), "");

    // Each version from the newest image that holds it: a from the last
    // backup of d/, b (gone there) from the first; an image that could not
    // read b (kept) does not hold it although its version stays alive.
    {
        ImageHeader h;
        h.backup_time = 400;
        h.client = "c";
        ImageWriter w;
        ASSERT_TRUE(db_.begin_image(h, w, err_));
        ASSERT_TRUE(w.root("/e", st("e", 1, -1), err_));
        ASSERT_TRUE(w.directory("/e", {st("x", 1)}, {}, err_));
        ASSERT_TRUE(w.commit(err_));
        h.backup_time = 500;
        ASSERT_TRUE(db_.begin_image(h, w, err_));
        ASSERT_TRUE(w.root("/e", st("e", 1, -1), err_));
        ASSERT_TRUE(w.directory("/e", {}, {"x"}, err_));
        ASSERT_TRUE(w.commit(err_));
    }
    std::string held;
    for (const char *p : {"/d", "/e"}) {
        auto set = db_.restore_set({"c", false}, p, 0, 1000, false, err_);
        auto holders = db_.newest_holders({"c", false}, set);
        for (size_t i = 0; i < set.size(); ++i) {
            held += set[i].path + "@" + std::to_string(holders[i]) + " ";
        }
    }
    EXPECT_EQ(held, "/d@300 /d/a@300 /d/b@100 /e@500 /e/x@400 ");
    // Without the image of 100, nothing holds b: no image is named for it,
    // though its version starts there.
    auto d = db_.restore_set({"c", false}, "/d", 0, 1000, false, err_);
    EXPECT_EQ(db_.newest_holders({"c", false}, d, {100}), (std::vector<long long>{300, 300, 0}));

    Version parent;
    ASSERT_TRUE(db_.version_before({"c", false}, "/d", 1000, parent));
    EXPECT_EQ(parent.st.type, 1);
    EXPECT_FALSE(db_.version_before({"c", true}, "/d", 1000, parent));
}

TEST_F(CatalogDbTest, UnchangedFilesAreStoredOnceAndGoneDirectoriesEndWithTheirContent) {
    for (long long t : {100, 200, 300}) {
        image(t, "/d", {{"a", 1}, {"sub", -1}});
    }
    EXPECT_EQ(list(0, 1000, false),
              "/d/@300 /d/@200 /d/@100 /d/a@100 /d/sub/@300 /d/sub/@200 /d/sub/@100");
    // sub's content, then sub gone: its file ends with it.
    {
        ImageHeader h;
        h.backup_time = 400;
        h.client = "c";
        ImageWriter w;
        ASSERT_TRUE(db_.begin_image(h, w, err_));
        ASSERT_TRUE(w.root("/d/sub", st("sub", 1, -1), err_));
        ASSERT_TRUE(w.directory("/d/sub", {st("f", 5)}, {}, err_));
        ASSERT_TRUE(w.commit(err_));
    }
    image(500, "/d", {{"a", 1}});
    EXPECT_EQ(list(450, 1000, true), "/d/@500 /d/a@100");
    EXPECT_EQ(list(0, 450, true, "/d/sub"), "/d/sub/@400 /d/sub/f@400");
    sqlite3_stmt *s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db_.handle(), "SELECT COUNT(*) FROM versions", -1, &s, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    // "/", d, a, sub, f: one version each, whatever the number of images.
    EXPECT_EQ(sqlite3_column_int(s, 0), 5);
    sqlite3_finalize(s);
}

TEST_F(CatalogDbTest, AnImageNotCommittedLeavesNoTrace) {
    image(100, "/d", {{"a", 1}});
    {
        ImageHeader h;
        h.backup_time = 200;
        h.client = "c";
        ImageWriter w;
        ASSERT_TRUE(db_.begin_image(h, w, err_));
        ASSERT_TRUE(w.root("/d", st("d", 1, -1), err_));
        ASSERT_TRUE(w.directory("/d", {st("a", 9), st("new", 9)}, {}, err_));
    }
    EXPECT_EQ(db_.images(err_).size(), 1u);
    EXPECT_EQ(list(0, 1000, false), "/d/@100 /d/a@100");
    EXPECT_EQ(db_.next_backup_time(50), 101);
    EXPECT_EQ(db_.next_backup_time(150), 150);
    // A reader opens the same database while it is written to.
    CatalogDb reader;
    ASSERT_TRUE(reader.open(root_.path("catalog.db"), false, err_)) << err_;
    struct stat sb {};
    ASSERT_EQ(stat(root_.path("catalog.db").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0600u);
}

} // namespace
