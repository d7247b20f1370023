// The configuration files: reading a whole file, the host file below the
// product root, the user's file under the user's ids, and the two records.

#include <gtest/gtest.h>

#include "kpconf_api.h"
#include "log_capture.h"
#include "run_as.h"
#include "unixconf_api.h"
#include "xkp_root.h"

#include <sys/stat.h>
#include <tuple>

namespace {

// A product root and home of each test's own; HOME and the records are forgotten after it.
class ConfigFiles : public ::testing::Test {
  protected:
    ~ConfigFiles() override {
        HOME.clear();
        master_config = users_config = kp_config{};
    }
    TempProduct p_;
    const std::string home_ = p_.home, host_file = p_.host_file(), user_file = p_.user_file();
};

} // namespace

TEST_F(ConfigFiles, ReadWholeFiles) {
    write_file(home_ + "/text", "SERVER = a\nVERBOSE\n");
    write_file(home_ + "/empty", "");
    ASSERT_EQ(mkfifo((home_ + "/fifo").c_str(), 0600), 0);
    LogCapture log;
    for (auto [name, rc, want] : {std::tuple("text", 0, "SERVER = a\nVERBOSE\n"),
                                  std::tuple("missing", KP_NO_CONFIG_FILE, "untouched"),
                                  std::tuple("empty", KP_NO_CONFIG_FILE, "untouched"),
                                  std::tuple("fifo", KP_NO_CONFIG_FILE, "untouched")}) { // no block
        std::string text = "untouched";
        EXPECT_EQ(ReadConfigFile((home_ + "/" + name).c_str(), &text), rc) << name;
        EXPECT_EQ(text, want) << name;
    }
    EXPECT_EQ(ReadConfigFile(nullptr, nullptr), KP_NO_CONFIG_FILE);
    EXPECT_TRUE(log.texts().empty()); // a missing file is not worth a message
}

TEST_F(ConfigFiles, HostFileBelowTheProductRoot) {
    EXPECT_EQ(product_host_config(), host_file);
    std::string text;
    kp_config cfg;
    LogCapture log;
    EXPECT_EQ(getLocalHostConfigImage(&text), KP_NO_CONFIG_FILE);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"<2> getLocalHostConfigImage: Unable to read "
                                                    "configuration from " +
                                                    host_file});
    // Missing or empty: the record keeps its defaults and is not loaded.
    EXPECT_EQ(ReadHostConfigA(&cfg, nullptr), KP_NO_CONFIG_FILE);
    EXPECT_EQ(cfg.loaded, 0);
    EXPECT_EQ(cfg.KPBACKUP_POLICY, "any");
    write_file(host_file, "");
    EXPECT_EQ(ReadHostConfigA(&cfg, nullptr), KP_NO_CONFIG_FILE);

    write_file(host_file, "SERVER = master\nSERVER = second\nCLIENT_NAME =\nVERBOSE = 3\n");
    kp_config_lines lines;
    log.clear();
    ASSERT_EQ(ReadHostConfigA(&master_config, &lines), 0);
    EXPECT_EQ(master_config.loaded, 1);
    ASSERT_EQ(master_config.SERVER.size(), 2u);
    EXPECT_STREQ(master_config.SERVER[0].text(0), "master");
    EXPECT_EQ(master_config.KPBACKUP_POLICY, "any"); // defaults underneath
    // Read with mode 1: the empty value is recorded, not reported.
    EXPECT_EQ(lines.line[getConfigIndexA("CLIENT_NAME")], -3);
    EXPECT_TRUE(log.texts().empty());

    // A loaded record is not read again; with the line-number record in use
    // the text continues the earlier one and is not checked for a SERVER.
    write_file(host_file, "VERBOSE = 1\n");
    EXPECT_EQ(ReadHostConfigA(&master_config, &lines), 0);
    EXPECT_STREQ(master_config.SERVER[0].text(0), "master");
    EXPECT_EQ(ReadHostConfigA(&cfg, &lines), 0);
    EXPECT_EQ(ReadHostConfigA(nullptr, nullptr), KP_BAD_VALUE);
}

TEST_F(ConfigFiles, HostFileChecks) {
    // Text, result, DO_NOT_RESET_FILE_ACCESS_TIME's field, the message if any.
    const std::tuple<const char *, int, int, const char *> cases[] = {
        {"VERBOSE = 1\n", KP_NO_SERVER, 1, "SERVER not specified in Sorvane configuration"},
        {"SERVER = m\nUSE_CTIME_FOR_INCREMENTALS = yes\n", 0, 0,
         "USE_CTIME_FOR_INCREMENTALS specified without DO_NOT_RESET_FILE_ACCESS_TIME.  "
         "DO_NOT_RESET_FILE_ACCESS_TIME set also"},
        {"SERVER = m\nUSE_CTIME_FOR_INCREMENTALS\nDO_NOT_RESET_FILE_ACCESS_TIME = yes\n", 0, 0, ""},
        {"SERVER = m\nUSE_CTIME_FOR_INCREMENTALS = no\n", 0, 1, ""},
    };
    for (auto [text, rc, keep_atime, want] : cases) {
        SCOPED_TRACE(text);
        write_file(host_file, text);
        kp_config cfg;
        LogCapture log;
        EXPECT_EQ(ReadHostConfigA(&cfg, nullptr), rc);
        EXPECT_EQ(cfg.DO_NOT_RESET_FILE_ACCESS_TIME, keep_atime);
        EXPECT_EQ(log.texts(), std::vector<std::string>(*want != '\0', want));
    }
}

TEST_F(ConfigFiles, UserFileAndItsFallbacks) {
    write_file(host_file, "SERVER = master\nCLIENT_NAME = fromhost\n");
    HOME = home_;
    // The user's text (nullptr: no file), CLIENT_NAME, whether SERVER is set.
    for (auto [user_text, client_name, has_server] :
         {std::tuple<const char *, kp_string, bool>("CLIENT_NAME = fromuser\n", "fromuser", false),
          {nullptr, "fromhost", true},  // no user file: the host file's values
          {"", std::nullopt, false}}) { // empty user file: defaults only, but loaded
        SCOPED_TRACE(user_text != nullptr ? user_text : "(no file)");
        unlink(user_file.c_str());
        if (user_text != nullptr) {
            write_file(user_file, user_text);
        }
        kp_config cfg;
        EXPECT_EQ(ReadUsersConfigA(&cfg, nullptr, nullptr), 0);
        EXPECT_EQ(cfg.loaded, 1);
        EXPECT_EQ(cfg.CLIENT_NAME, client_name);
        EXPECT_EQ(!cfg.SERVER.empty(), has_server);
    }
}

TEST_F(ConfigFiles, UserFileMessages) {
    HOME = home_;
    write_file(user_file, "");
    std::string text;
    LogCapture log;
    EXPECT_EQ(getLocalUsersConfigImage(nullptr, &text), KP_NO_CONFIG_FILE);
    const std::string unable = "<8> getLocalUsersConfigImage: Unable to ";
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               unable + "read user configuration file (" + user_file + ")",
                               unable + "open user configuration file (" + user_file + ")"}));
    // No home directory (the superuser) and no host file.
    HOME.clear();
    log.clear();
    if (geteuid() == 0) {
        EXPECT_EQ(getLocalUsersConfigImage(nullptr, &text), KP_NO_CONFIG_FILE);
        EXPECT_TRUE(log.has("Unable to read master configuration file"));
    }
    // A user file that cannot even be examined.
    HOME = home_;
    unlink(user_file.c_str());
    ASSERT_EQ(symlink("kp.conf", user_file.c_str()), 0); // a loop
    EXPECT_EQ(getLocalUsersConfigImage(nullptr, &text), KP_CANT_STAT_FILE);
    kp_config cfg;
    EXPECT_EQ(ReadUsersConfigA(&cfg, nullptr, nullptr), KP_CANT_STAT_FILE);
    EXPECT_EQ(cfg.loaded, 0);
    // A home that is not a directory has no user file.
    unlink(user_file.c_str());
    write_file(host_file, "SERVER = m\n");
    HOME = host_file;
    EXPECT_EQ(getLocalUsersConfigImage(nullptr, &text), 0);
    EXPECT_EQ(text, "SERVER = m\n");
}

TEST(UserIdentity, NamesHomesBecomeAndReturn) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs to run as the superuser";
    }
    EXPECT_EQ(TgetUserName(), "root");
    EXPECT_FALSE(getUserHome(nullptr).has_value()); // root has none
    EXPECT_EQ(getUserHome("nobody"), "/nonexistent");
    HOME = "/somewhere";
    EXPECT_EQ(getUserHome(nullptr), "/somewhere");
    EXPECT_EQ(getUserHome("daemon"), "/usr/sbin"); // a named user ignores the override
    HOME.clear();
    LogCapture log;
    EXPECT_FALSE(getUserHome("no_such_user_xkp").has_value());
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "<2> getUserHome: couldn't do getpwnam for no_such_user_xkp"});

    EXPECT_EQ(becomeUser(nullptr), 0);
    EXPECT_EQ(becomeUser("no_such_user_xkp"), KP_UNKNOWN_USER);
    const kp_saved_ids saved = rememberUser();
    ASSERT_EQ(becomeUser("nobody"), 0);
    EXPECT_EQ(std::tuple(geteuid(), getegid(), getuid()), std::tuple(NOBODY, NOGROUP, 0u));
    restoreUser(saved);
    EXPECT_EQ(std::pair(geteuid(), getegid()), std::pair(0u, saved.gid));
    // Without privilege the switch fails, group first.
    for (auto [gid, user, rc] : {std::tuple(NOGROUP, "daemon", KP_CANT_SET_GID),
                                 {1, "daemon", KP_CANT_SET_UID},
                                 {NOGROUP, "nobody", 0}}) {
        auto become = [user = user] { return std::to_string(becomeUser(user)); };
        EXPECT_EQ(as_user(become, NOBODY, gid), std::to_string(rc)) << user << " " << gid;
    }
}

TEST_F(ConfigFiles, UserFilesOfOtherUsers) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs to run as the superuser";
    }
    // A named user without a file gets the host file, and our ids stay.
    write_file(host_file, "SERVER = m\n");
    std::string text;
    EXPECT_EQ(getLocalUsersConfigImage("nobody", &text), 0);
    EXPECT_EQ(text, "SERVER = m\n");
    EXPECT_EQ(std::pair(geteuid(), getegid()), std::pair(0u, 0u));
    kp_config cfg;
    EXPECT_EQ(ReadUsersConfigA(&cfg, nullptr, "root"), 0); // root: no home, host file
    EXPECT_STREQ(cfg.SERVER.at(0).text(0), "m");

    // Read under the user's ids: a file only root can read is not read, the user's own is.
    write_file(user_file, "CLIENT_NAME = mine\n");
    auto read_as_nobody = [this] {
        return as_user([this] {
            HOME = home_;
            std::string text;
            int rc = getLocalUsersConfigImage(nullptr, &text);
            return std::to_string(rc) + ":" + text;
        });
    };
    ASSERT_EQ(chmod(user_file.c_str(), 0600), 0);
    EXPECT_EQ(read_as_nobody(), "110:");
    ASSERT_EQ(chown(user_file.c_str(), NOBODY, NOGROUP), 0);
    ASSERT_EQ(chmod(user_file.c_str(), 0400), 0);
    EXPECT_EQ(read_as_nobody(), "0:CLIENT_NAME = mine\n");
}
