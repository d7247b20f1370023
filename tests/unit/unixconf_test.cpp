// The configuration files: reading a whole file, the host file below the
// product root, the user's file under the user's ids, and the two records.

#include <gtest/gtest.h>

#include "kpconf_api.h"
#include "log_capture.h"
#include "unixconf_api.h"
#include "xkp_root.h"

#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <fstream>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t NOBODY = 65534;
constexpr gid_t NOGROUP = 65534;

void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Runs fn in a child process under the given effective ids and returns what
// it returned (cut to 4095 bytes); "(ids)" when the switch failed.
std::string as_user(uid_t uid, gid_t gid, const std::function<std::string()> &fn) {
    constexpr size_t size = 4096;
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return "(mmap)";
    char *shared = static_cast<char *>(map);
    snprintf(shared, size, "(ids)");
    pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) == 0 && setegid(gid) == 0 && seteuid(uid) == 0)
            snprintf(shared, size, "%s", fn().c_str());
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::string out = shared;
    munmap(map, size);
    return out;
}

std::string joined(const std::vector<std::string> &texts) {
    std::string out;
    for (const std::string &t : texts)
        out += (out.empty() ? "" : "\n") + t;
    return out;
}

// A product root and a home directory of their own for each test.
class ConfigFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char tpl[] = "/tmp/xkp_unixconf.XXXXXX";
        ASSERT_NE(mkdtemp(tpl), nullptr);
        dir_ = tpl;
        home_ = dir_ + "/home";
        chmod(tpl, 0755);
        ASSERT_EQ(mkdir(home_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((dir_ + "/root").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((dir_ + "/root/sorvane").c_str(), 0755), 0);
        const char *old = getenv("XKP_ROOT");
        saved_root_ = old != nullptr ? old : "";
        setenv("XKP_ROOT", (dir_ + "/root").c_str(), 1);
        forget();
    }
    void TearDown() override {
        setenv("XKP_ROOT", saved_root_.c_str(), 1);
        forget();
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    static void forget() {
        HOME.clear();
        master_config = kp_config{};
        users_config = kp_config{};
    }
    std::string host_file() const { return dir_ + "/root/sorvane/kp.conf"; }
    std::string user_file() const { return home_ + "/kp.conf"; }

    std::string dir_, home_, saved_root_;
};

} // namespace

TEST_F(ConfigFiles, ReadWholeFiles) {
    write_file(home_ + "/text", "SERVER = a\nVERBOSE\n");
    write_file(home_ + "/empty", "");
    ASSERT_EQ(mkfifo((home_ + "/fifo").c_str(), 0600), 0);
    struct Case {
        std::string path;
        int rc;
        const char *text;
    };
    const Case cases[] = {
        {home_ + "/text", 0, "SERVER = a\nVERBOSE\n"},
        {home_ + "/missing", KP_NO_CONFIG_FILE, "untouched"},
        {home_ + "/empty", KP_NO_CONFIG_FILE, "untouched"},
        {home_, KP_NO_CONFIG_FILE, "untouched"},           // a directory
        {home_ + "/fifo", KP_NO_CONFIG_FILE, "untouched"}, // must not block
    };
    LogCapture log;
    for (const Case &c : cases) {
        std::string text = "untouched";
        EXPECT_EQ(ReadConfigFile(c.path.c_str(), &text), c.rc) << c.path;
        EXPECT_EQ(text, c.text) << c.path;
    }
    EXPECT_EQ(ReadConfigFile(nullptr, nullptr), KP_NO_CONFIG_FILE);
    EXPECT_TRUE(log.texts().empty()); // a missing file is not worth a message
}

TEST_F(ConfigFiles, HostFileBelowTheProductRoot) {
    EXPECT_EQ(product_host_config(), host_file());
    std::string text;
    kp_config cfg;
    LogCapture log;
    EXPECT_EQ(getLocalHostConfigImage(&text), KP_NO_CONFIG_FILE);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"<2> getLocalHostConfigImage: Unable to read "
                                                    "configuration from " +
                                                    host_file()});
    // Missing or empty: the record keeps its defaults and is not loaded.
    EXPECT_EQ(ReadHostConfigA(&cfg, nullptr), KP_NO_CONFIG_FILE);
    EXPECT_EQ(cfg.loaded, 0);
    EXPECT_EQ(cfg.KPBACKUP_POLICY, "any");
    write_file(host_file(), "");
    EXPECT_EQ(ReadHostConfigA(&cfg, nullptr), KP_NO_CONFIG_FILE);

    const char *file = "SERVER = master\nSERVER = second\nCLIENT_NAME =\nVERBOSE = 3\n";
    write_file(host_file(), file);
    EXPECT_EQ(getLocalHostConfigImage(&text), 0);
    EXPECT_EQ(text, file);
    kp_config_lines lines;
    log.clear();
    ASSERT_EQ(ReadHostConfigA(&master_config, &lines), 0);
    EXPECT_EQ(master_config.loaded, 1);
    ASSERT_EQ(master_config.SERVER.size(), 2u);
    EXPECT_STREQ(master_config.SERVER[0].text(0), "master");
    EXPECT_EQ(master_config.VERBOSE, 3);
    EXPECT_EQ(master_config.KPBACKUP_POLICY, "any"); // defaults underneath
    // Read with mode 1: the empty value is recorded, not reported.
    EXPECT_EQ(lines.line[getConfigIndexA("CLIENT_NAME")], -3);
    EXPECT_TRUE(log.texts().empty());

    // A loaded record is not read again.
    write_file(host_file(), "SERVER = changed\n");
    EXPECT_EQ(ReadHostConfigA(&master_config, &lines), 0);
    EXPECT_STREQ(master_config.SERVER[0].text(0), "master");
    EXPECT_EQ(ReadHostConfigA(nullptr, nullptr), KP_BAD_VALUE);
}

TEST_F(ConfigFiles, HostFileChecks) {
    struct Case {
        const char *text;
        int rc;
        int32_t keep_atime_field;
        const char *log;
    };
    const Case cases[] = {
        {"VERBOSE = 1\n", KP_NO_SERVER, 1, "SERVER not specified in Sorvane configuration"},
        {"SERVER = m\nUSE_CTIME_FOR_INCREMENTALS = yes\n", 0, 0,
         "USE_CTIME_FOR_INCREMENTALS specified without DO_NOT_RESET_FILE_ACCESS_TIME.  "
         "DO_NOT_RESET_FILE_ACCESS_TIME set also"},
        {"SERVER = m\nUSE_CTIME_FOR_INCREMENTALS\nDO_NOT_RESET_FILE_ACCESS_TIME = yes\n", 0, 0, ""},
        {"SERVER = m\nUSE_CTIME_FOR_INCREMENTALS = no\n", 0, 1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        write_file(host_file(), c.text);
        kp_config cfg;
        LogCapture log;
        EXPECT_EQ(ReadHostConfigA(&cfg, nullptr), c.rc);
        EXPECT_EQ(cfg.DO_NOT_RESET_FILE_ACCESS_TIME, c.keep_atime_field);
        EXPECT_EQ(joined(log.texts()), c.log);
    }
    // A line-number record already in use means the text continues an
    // earlier one: no checks.
    write_file(host_file(), "VERBOSE = 1\n");
    kp_config cfg;
    kp_config_lines used;
    used.loaded = 1;
    EXPECT_EQ(ReadHostConfigA(&cfg, &used), 0);
}

TEST_F(ConfigFiles, UserFileAndItsFallbacks) {
    write_file(host_file(), "SERVER = master\nCLIENT_NAME = fromhost\n");
    HOME = home_;
    struct Case {
        const char *user_text; // nullptr: no user file
        const char *client_name;
        bool has_server;
    };
    const Case cases[] = {
        {"CLIENT_NAME = fromuser\n", "fromuser", false},
        {nullptr, "fromhost", true}, // no user file: the host file's values
        {"", nullptr, false},        // empty user file: defaults only, but loaded
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.user_text != nullptr ? c.user_text : "(no file)");
        unlink(user_file().c_str());
        if (c.user_text != nullptr)
            write_file(user_file(), c.user_text);
        kp_config cfg;
        EXPECT_EQ(ReadUsersConfigA(&cfg, nullptr, nullptr), 0);
        EXPECT_EQ(cfg.loaded, 1);
        EXPECT_EQ(cfg.CLIENT_NAME,
                  c.client_name != nullptr ? kp_string(c.client_name) : kp_string());
        EXPECT_EQ(!cfg.SERVER.empty(), c.has_server);
    }
}

TEST_F(ConfigFiles, UserFileMessages) {
    HOME = home_;
    write_file(user_file(), "");
    std::string text;
    LogCapture log;
    EXPECT_EQ(getLocalUsersConfigImage(nullptr, &text), KP_NO_CONFIG_FILE);
    EXPECT_EQ(joined(log.lines()),
              "<8> getLocalUsersConfigImage: Unable to read user configuration file (" +
                  user_file() +
                  ")\n"
                  "<8> getLocalUsersConfigImage: Unable to open user configuration file (" +
                  user_file() + ")");
    // No home directory (the superuser) and no host file.
    HOME.clear();
    log.clear();
    if (geteuid() == 0) {
        EXPECT_EQ(getLocalUsersConfigImage(nullptr, &text), KP_NO_CONFIG_FILE);
        EXPECT_TRUE(log.has("Unable to read master configuration file"));
    }
    // A user file that cannot even be examined.
    HOME = home_;
    unlink(user_file().c_str());
    ASSERT_EQ(symlink("kp.conf", user_file().c_str()), 0); // a loop
    EXPECT_EQ(getLocalUsersConfigImage(nullptr, &text), KP_CANT_STAT_FILE);
    kp_config cfg;
    EXPECT_EQ(ReadUsersConfigA(&cfg, nullptr, nullptr), KP_CANT_STAT_FILE);
    EXPECT_EQ(cfg.loaded, 0);
    // A home that is not a directory has no user file.
    unlink(user_file().c_str());
    write_file(host_file(), "SERVER = m\n");
    HOME = host_file();
    EXPECT_EQ(getLocalUsersConfigImage(nullptr, &text), 0);
    EXPECT_EQ(text, "SERVER = m\n");
}

TEST(UserIdentity, NamesAndHomes) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs to run as the superuser";
    EXPECT_EQ(TgetUserName(), "root");
    HOME.clear();
    EXPECT_FALSE(getUserHome(nullptr).has_value()); // root has none
    EXPECT_FALSE(getUserHome("root").has_value());
    EXPECT_EQ(getUserHome("nobody"), "/nonexistent");
    HOME = "/somewhere";
    EXPECT_EQ(getUserHome(nullptr), "/somewhere");
    EXPECT_EQ(getUserHome("daemon"), "/usr/sbin"); // a named user ignores the override
    HOME.clear();
    LogCapture log;
    EXPECT_FALSE(getUserHome("no_such_user_xkp").has_value());
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "<2> getUserHome: couldn't do getpwnam for no_such_user_xkp"});
}

TEST(UserIdentity, BecomeAndReturn) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs to run as the superuser";
    EXPECT_EQ(becomeUser(nullptr), 0);
    EXPECT_EQ(becomeUser("no_such_user_xkp"), KP_UNKNOWN_USER);
    const kp_saved_ids saved = rememberUser();
    ASSERT_EQ(becomeUser("nobody"), 0);
    EXPECT_EQ(geteuid(), NOBODY);
    EXPECT_EQ(getegid(), NOGROUP);
    EXPECT_EQ(getuid(), 0u); // only the effective ids move
    restoreUser(saved);
    EXPECT_EQ(geteuid(), 0u);
    EXPECT_EQ(getegid(), saved.gid);

    // Without privilege the switch fails, group first.
    auto become = [](gid_t gid, const char *user) {
        return as_user(NOBODY, gid, [user] { return std::to_string(becomeUser(user)); });
    };
    EXPECT_EQ(become(NOGROUP, "daemon"), std::to_string(KP_CANT_SET_GID));
    EXPECT_EQ(become(1, "daemon"), std::to_string(KP_CANT_SET_UID));
    EXPECT_EQ(become(NOGROUP, "nobody"), "0");
}

TEST_F(ConfigFiles, UserFilesOfOtherUsers) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs to run as the superuser";
    // A named user without a file gets the host file, and our ids stay.
    write_file(host_file(), "SERVER = m\n");
    std::string text;
    EXPECT_EQ(getLocalUsersConfigImage("nobody", &text), 0);
    EXPECT_EQ(text, "SERVER = m\n");
    EXPECT_EQ(geteuid(), 0u);
    EXPECT_EQ(getegid(), 0u);
    kp_config cfg;
    EXPECT_EQ(ReadUsersConfigA(&cfg, nullptr, "root"), 0); // root: no home, host file
    EXPECT_STREQ(cfg.SERVER.at(0).text(0), "m");

    // The user's file is read under the user's ids.
    write_file(user_file(), "CLIENT_NAME = mine\n");
    auto read_as_nobody = [this] {
        return as_user(NOBODY, NOGROUP, [this] {
            HOME = home_;
            std::string text;
            int rc = getLocalUsersConfigImage(nullptr, &text);
            return std::to_string(rc) + ":" + text;
        });
    };
    // Readable by root only: the user cannot read it, so neither do we.
    ASSERT_EQ(chmod(user_file().c_str(), 0600), 0);
    EXPECT_EQ(read_as_nobody(), "110:");
    // The user's own file, readable by the user only.
    ASSERT_EQ(chown(user_file().c_str(), NOBODY, NOGROUP), 0);
    ASSERT_EQ(chmod(user_file().c_str(), 0400), 0);
    EXPECT_EQ(read_as_nobody(), "0:CLIENT_NAME = mine\n");
}
