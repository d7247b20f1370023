// An ordinary user on a host where root installed the product: the
// product's server directory is not theirs, so kpadmin init-server makes a
// server of their own under ~/.local/share/sorvane/servers, and the
// programs find it there: the user backs up, lists and restores their own
// files with nothing from root but the installed product.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>

#include "catalog.h"
#include "engine_harness.h"

using harness::has;
using harness::read_file;
using harness::write_file;

namespace {

TEST(OwnServer, AnOrdinaryUserBacksUpAndRestoresThroughAServerOfTheirOwn) {
    const passwd *nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "needs root and the user nobody to run the programs as another user";
    }
    harness::Root root;
    chmod(root.base().c_str(), 0755);
    const std::string home = root.path("home"), files = home + "/files";
    mkdir(home.c_str(), 0700);
    mkdir(files.c_str(), 0700);
    write_file(files + "/mine", "nobody's file");
    write_file(home + "/req", harness::counted({files}));
    write_file(home + "/rreq", harness::image_entry(files + "/mine", 0, KP_INFINITY));
    for (const char *p : {"", "/files", "/files/mine", "/req", "/rreq"}) {
        ASSERT_EQ(chown((home + p).c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    auto as_user = [&](const std::string &prog, const std::vector<std::string> &args) {
        std::vector<std::string> words = {"-u",
                                          "nobody",
                                          "--",
                                          "/usr/bin/env",
                                          "-u",
                                          "XDG_DATA_HOME",
                                          "HOME=" + home,
                                          "XKP_ROOT=" + root.root(),
                                          harness::bin_dir() + "/" + prog};
        words.insert(words.end(), args.begin(), args.end());
        return harness::run("/usr/sbin/runuser", words);
    };

    auto made = as_user("kpadmin", {"init-server", "demo"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string own = home + "/.local/share/sorvane/servers/demo";
    struct stat st {};
    ASSERT_EQ(stat(own.c_str(), &st), 0) << made.out;
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_NE(access(root.server_dir().c_str(), F_OK), 0);

    auto b = as_user("kpbackup", {"-w", "-f", home + "/req"});
    ASSERT_EQ(b.status, 0) << b.err;
    auto l = as_user("kplist", {"-B", files});
    EXPECT_EQ(l.status, 0) << l.err;
    EXPECT_TRUE(has(l.out, files + "/mine"));
    unlink((files + "/mine").c_str());
    auto r = as_user("kprestore", {"-w", "-f", home + "/rreq"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(files + "/mine"), "nobody's file");
}

} // namespace
