// A repository on sftp: an sshd of the test's own on a loopback port, with
// its own host key and one key authorized for this user; the server's
// options file gives restic the ssh command (port, key, known hosts), as a
// user of a remote sftp host would.
#include <gtest/gtest.h>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>

#include "catalog.h"
#include "engine_harness.h"
#include "rest_server.h"

using harness::read_file;
using harness::run;
using harness::write_file;

namespace {

struct Sshd {
    pid_t pid = -1;
    ~Sshd() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

TEST(SftpRepository, BacksUpAndRestoresThroughASshServerOnLoopback) {
    const passwd *me = getpwuid(geteuid());
    if (access("/usr/sbin/sshd", X_OK) != 0 || access("/usr/bin/ssh", X_OK) != 0 || me == nullptr) {
        GTEST_SKIP() << "no /usr/sbin/sshd or /usr/bin/ssh (openssh-server, openssh-client): the "
                        "sftp backend is not tested";
    }
    // sshd run by root drops privileges into this directory.
    if (geteuid() == 0 && mkdir("/run/sshd", 0755) != 0 && errno != EEXIST) {
        GTEST_SKIP() << "sshd cannot run: no /run/sshd";
    }
    harness::Root root;
    const std::string ssh = root.path("ssh"), user = me->pw_name;
    mkdir(ssh.c_str(), 0700);
    for (const char *key : {"host", "user"}) {
        ASSERT_EQ(
            run("/usr/bin/ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", ssh + "/" + key})
                .status,
            0);
    }
    write_file(ssh + "/authorized_keys", read_file(ssh + "/user.pub"));
    const int port = harness::free_port();
    write_file(ssh + "/known_hosts",
               "[127.0.0.1]:" + std::to_string(port) + " " + read_file(ssh + "/host.pub"));
    write_file(ssh + "/sshd_config",
               "Port " + std::to_string(port) + "\nListenAddress 127.0.0.1\nHostKey " + ssh +
                   "/host\nAuthorizedKeysFile " + ssh + "/authorized_keys\nAllowUsers " + user +
                   "\nPidFile none\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                   "KbdInteractiveAuthentication no\nPermitRootLogin prohibit-password\n"
                   "Subsystem sftp internal-sftp\n");
    Sshd sshd;
    sshd.pid = harness::start("/usr/sbin/sshd",
                              {"-D", "-f", ssh + "/sshd_config", "-E", ssh + "/sshd.log"});
    for (int i = 0; i < 50 && sshd.pid > 0 && !harness::accepts(port); ++i) {
        usleep(100000);
    }
    if (!harness::accepts(port)) {
        GTEST_SKIP() << "sshd did not start: " << read_file(ssh + "/sshd.log");
    }

    // The options file is in the server directory before the repository is
    // made: init-server uses a directory already there.
    mkdir((root.root() + "/sorvane/servers").c_str(), 0700);
    mkdir(root.server_dir().c_str(), 0700);
    write_file(root.server_dir() + "/options",
               "-o sftp.command=ssh -F /dev/null -p " + std::to_string(port) + " -i " + ssh +
                   "/user -o UserKnownHostsFile=" + ssh +
                   "/known_hosts -o StrictHostKeyChecking=yes -o BatchMode=yes " + user +
                   "@127.0.0.1 -s sftp\n");
    const std::string repo = root.path("repo");
    auto init = run("kpadmin",
                    {"init-server", "demo", "--repository", "sftp:" + user + "@127.0.0.1:" + repo});
    ASSERT_EQ(init.status, 0) << init.err << read_file(ssh + "/sshd.log");
    EXPECT_EQ(access((repo + "/config").c_str(), F_OK), 0);

    const std::string dir = root.data() + "/d";
    mkdir(dir.c_str(), 0755);
    write_file(dir + "/f", "over sftp");
    write_file(root.path("req"), harness::counted({dir}));
    auto b = run("kpbackup", {"-f", root.path("req")});
    ASSERT_EQ(b.status, 0) << b.err;
    harness::remove_tree(dir);
    write_file(root.path("rreq"), harness::image_entry(dir, 0, KP_INFINITY));
    auto r = run("kprestore", {"-f", root.path("rreq")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/f"), "over sftp");
}

} // namespace
