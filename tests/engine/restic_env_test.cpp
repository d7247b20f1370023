// What a server adds to restic: the variables of its env file and the
// options of its options file reach restic (a wrapper named by XKP_RESTIC
// records what it receives), nothing else of the caller's environment
// does; and a run is stopped for connection errors only when they come in
// a row.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "engine_harness.h"
#include "restic.h"

using harness::has;
using harness::read_file;
using harness::run;
using harness::write_file;

namespace {

struct Wrapper {
    explicit Wrapper(const std::string &path, const std::string &body) {
        write_file(path, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0700);
        setenv("XKP_RESTIC", path.c_str(), 1);
    }
    ~Wrapper() { unsetenv("XKP_RESTIC"); }
};

TEST(ResticEnvironment, TheServersEnvAndOptionsFilesReachRestic) {
    harness::Root root;
    ASSERT_EQ(run("kpadmin", {"init-server", "demo"}).status, 0);
    const std::string dir = root.server_dir();
    write_file(dir + "/env", "# object store\nAWS_ACCESS_KEY_ID=key id\nexport B2_ACCOUNT_ID=b2\n"
                             "PATH=/evil\nLD_PRELOAD=/evil.so\nnot a variable\n");
    chmod((dir + "/env").c_str(), 0644);
    write_file(dir + "/options", "--limit-upload 1000\n-o sftp.command=ssh -p 2222 h -s sftp\n"
                                 "--insecure-tls\nnot-an-option\n");
    setenv("AWS_SECRET_ACCESS_KEY", "from the caller", 1);
    const std::string got = root.path("got");
    Wrapper w(root.path("restic.sh"), "env > '" + got + ".env'; printf '%s\\n' \"$@\" > '" + got +
                                          ".args'; exec /usr/bin/restic \"$@\"");
    auto s = run("kpadmin", {"sync", "demo"});
    unsetenv("AWS_SECRET_ACCESS_KEY");
    EXPECT_EQ(s.status, 0) << s.err;
    const std::string env = read_file(got + ".env"), args = read_file(got + ".args");
    for (const char *want :
         {"AWS_ACCESS_KEY_ID=key id\n", "B2_ACCOUNT_ID=b2\n", "PATH=/usr/bin:/bin\n"}) {
        EXPECT_TRUE(has(env, want)) << want << "\n" << env;
    }
    for (const char *never : {"AWS_SECRET", "/evil", "LD_PRELOAD"}) {
        EXPECT_FALSE(has(env, never)) << never;
    }
    EXPECT_TRUE(has(args, "\n--limit-upload\n1000\n-o\nsftp.command=ssh -p 2222 h -s "
                          "sftp\n--insecure-tls\nsnapshots\n"))
        << args;
    EXPECT_FALSE(has(args, "not-an-option"));
    // The env file holds secrets: kept private.
    struct stat st {};
    ASSERT_EQ(stat((dir + "/env").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(ResticEnvironment, ConnectionErrorsStopARunOnlyInARow) {
    harness::Root root;
    struct Case {
        const char *stderr_lines;
        bool aborted;
    } cases[] = {
        // Retried with success between them: restic got on.
        {"dial tcp: connection refused\\nsaved\\ndial tcp: connection refused\\nsaved\\n"
         "dial tcp: connection refused\\n",
         false},
        {"dial tcp: connection refused\\ndial tcp: connection refused\\n"
         "dial tcp: connection refused\\n",
         true},
    };
    for (const auto &c : cases) {
        Wrapper w(root.path("restic.sh"),
                  std::string("printf '") + c.stderr_lines + "' >&2; sleep 3; exit 0");
        KpServer none;
        ResticResult r = run_restic(none, {"backup"}, {}, {}, 3);
        EXPECT_EQ(r.aborted, c.aborted) << c.stderr_lines;
        EXPECT_EQ(r.exit_code, c.aborted ? -1 : 0);
    }
}

} // namespace
