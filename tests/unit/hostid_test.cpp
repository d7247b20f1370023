// Host identity and local addresses, against a recorded name service and
// interface list (kp_netsys) and, at the end, against the real system.

#include <gtest/gtest.h>

#include "kp_misc.h"
#include "kpconf_api.h"
#include "local_addrs.h"
#include "log_capture.h"
#include "run_as.h"
#include "unixconf_api.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include <tuple>

namespace {

struct FakeHost {
    std::vector<std::string> names; // the official name, then the aliases
    std::vector<std::string> addrs;
};

struct FakeNet {
    std::string host_name = "sysname";
    int host_name_errno = 0; // non-zero: the query fails with it
    std::vector<FakeHost> hosts;
    // Lookups of this name fail with h_errno fail_error, fail_times times (-1: always).
    std::string fail_name;
    int fail_error = 0, fail_times = 0;
    std::vector<std::string> interfaces;
    bool interfaces_fail = false;
    int by_name_calls = 0, by_addr_calls = 0, pauses = 0;
    // Storage behind the returned entry, as the system keeps its own.
    hostent ent{};
    std::vector<char *> alias_ptrs, addr_ptrs;
    std::vector<in_addr_t> addr_store;

    hostent *entry(FakeHost &h) {
        alias_ptrs = addr_ptrs = {};
        addr_store = {};
        for (size_t i = 1; i < h.names.size(); ++i) {
            alias_ptrs.push_back(h.names[i].data());
        }
        for (const std::string &a : h.addrs) {
            addr_store.push_back(inet_addr(a.c_str()));
        }
        for (in_addr_t &a : addr_store) {
            addr_ptrs.push_back(reinterpret_cast<char *>(&a));
        }
        alias_ptrs.push_back(nullptr);
        addr_ptrs.push_back(nullptr);
        ent = {h.names[0].data(), alias_ptrs.data(), AF_INET, 4, addr_ptrs.data()};
        return &ent;
    }
};

FakeNet *net = nullptr;

int fake_host_name(char *buf, size_t size) {
    if ((errno = net->host_name_errno) != 0) {
        return -1;
    }
    snprintf(buf, size, "%s", net->host_name.c_str());
    return 0;
}

hostent *fake_by_name(const char *name) {
    ++net->by_name_calls;
    if (net->fail_name == name && net->fail_times != 0) {
        net->fail_times -= net->fail_times > 0;
        h_errno = net->fail_error;
        return nullptr;
    }
    for (FakeHost &h : net->hosts) {
        for (const std::string &n : h.names) {
            if (strcasecmp(n.c_str(), name) == 0) {
                return net->entry(h);
            }
        }
    }
    h_errno = HOST_NOT_FOUND;
    return nullptr;
}

hostent *fake_by_addr(const void *addr, socklen_t len, int family) {
    ++net->by_addr_calls;
    for (FakeHost &h : net->hosts) {
        for (const std::string &s : h.addrs) {
            in_addr_t a = inet_addr(s.c_str());
            if (family == AF_INET && len == sizeof a && memcmp(&a, addr, sizeof a) == 0) {
                return net->entry(h);
            }
        }
    }
    h_errno = HOST_NOT_FOUND;
    return nullptr;
}

int fake_interfaces(std::vector<in_addr_t> *out) {
    if (net->interfaces_fail) {
        return -1;
    }
    for (const std::string &s : net->interfaces) {
        out->push_back(inet_addr(s.c_str()));
    }
    return static_cast<int>(net->interfaces.size());
}

std::vector<std::string> dotted(const local_addr_list &list) {
    std::vector<std::string> out;
    for (in_addr_t a : list.addr) {
        out.emplace_back(inet_ntoa(in_addr{a}));
    }
    return out;
}

using Words = std::vector<std::string>;

// The recorded network: this machine is "sysname" (10.0.0.5) with one more interface
// 192.168.7.1; other hosts are elsewhere. The host file lies below the test's own root.
class HostIdentity : public ::testing::Test {
  protected:
    HostIdentity() {
        net = &fake_;
        net->hosts = {
            {{"sysname.example", "sysname"}, {"10.0.0.5"}},
            {{"if1.example", "ifname", "master1", "myalias"}, {"192.168.7.1"}},
            {{"localhost", "loc1"}, {"127.0.0.1"}},
            {{"remote.example", "remote", "elsewhere"}, {"172.16.0.9"}},
        };
        net->interfaces = {"10.0.0.5", "192.168.7.1"};
        kp_netsys_set(&sys_);
        kp_forget_host_identity();
        HOME = p_.home;
    }
    ~HostIdentity() override {
        kp_netsys_set(nullptr);
        kp_forget_host_identity();
        he_verbose = 0;
        HOME.clear();
    }
    void host_conf(const std::string &text) { write_file(p_.host_file(), text); }
    void user_conf(const std::string &text) { write_file(p_.user_file(), text); }
    std::string hostname() {
        char buf[300];
        int rc = kp_gethostname(buf, sizeof buf);
        return rc == 0 ? std::string(buf) : "(rc " + std::to_string(rc) + ")";
    }

    TempProduct p_;
    FakeNet fake_;
    kp_netsys sys_{
        fake_host_name, fake_by_name,
        fake_by_addr,   fake_interfaces,
        nullptr,        [](unsigned) { return static_cast<unsigned>(++net->pauses * 0); }};
};

} // namespace

TEST_F(HostIdentity, LocalAddressesAreGatheredOnceWithoutDuplicates) {
    net->interfaces = {"10.0.0.5", "192.168.7.1", "0.0.0.0", "192.168.7.1"};
    local_addr_list list;
    EXPECT_EQ(list.count, -1);
    ASSERT_EQ(get_local_addrs(&list), 0);
    EXPECT_EQ(dotted(list), (Words{"10.0.0.5", "127.0.0.1", "192.168.7.1"}));
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(is_local_addr(list, inet_addr("192.168.7.1")), 1);
    EXPECT_EQ(is_local_addr(list, inet_addr("192.168.7.2")), 0);
    for (auto [name, local] : {std::pair<const char *, int>("master1", 1),
                               {"remote", 0},
                               {"unknown", 0},
                               {nullptr, 0}}) {
        EXPECT_EQ(is_local_host(list, name), local) << (name != nullptr ? name : "(null)");
    }

    // Later gatherings copy the process-wide list.
    net->interfaces = {"10.9.9.9"};
    const int lookups = net->by_name_calls;
    local_addr_list again;
    ASSERT_EQ(get_local_addrs(&again), 0);
    EXPECT_EQ(dotted(again), dotted(list));
    EXPECT_EQ(net->by_name_calls, lookups);
    local_addrs_forget();
    ASSERT_EQ(get_local_addrs(&again), 0);
    EXPECT_EQ(dotted(again), (Words{"10.0.0.5", "127.0.0.1", "10.9.9.9"}));
    EXPECT_EQ(get_local_addrs(nullptr), -1);
}

TEST_F(HostIdentity, NetstatWhenTheInterfacesYieldNothing) {
    // Line shapes netstat_line_addr refuses are left to its own table.
    const std::string script = p_.home + "/netstat", missing = p_.home + "/not-there";
    write_file(script, "#!/bin/sh\n"
                       "[ \"$1 $2\" = \"-i -n\" ] || exit 1\n"
                       "echo 'lo0   8232 127.0.0.0     127.0.0.1      1234'\n"
                       "echo 'hme0  1500 192.168.9.0   192.168.9.7    99'\n"
                       "echo 'ppp0  1500 10.1.0.0      10.1.0.3'\n"
                       "echo 'error message' >&2\n");
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    const char *paths[] = {missing.c_str(), script.c_str(), nullptr};
    sys_.netstat_paths = paths;
    const Words from_netstat = {"10.0.0.5", "127.0.0.1", "192.168.9.7", "10.1.0.3"};
    // Whether the interface query fails, what it gives, the addresses found.
    for (auto [fail, interfaces, expect] :
         {std::tuple(true, Words{}, from_netstat),
          {false, Words{"0.0.0.0", "127.0.0.1"}, from_netstat}, // nothing new added
          {false, Words{"192.168.7.1"}, Words{"10.0.0.5", "127.0.0.1", "192.168.7.1"}}}) {
        local_addrs_forget();
        net->interfaces_fail = fail;
        net->interfaces = interfaces;
        local_addr_list list;
        ASSERT_EQ(get_local_addrs(&list), 0);
        EXPECT_EQ(dotted(list), expect);
    }
}

TEST(NetstatLines, FourthFieldWhenItIsAnAddress) {
    for (auto [line, expect] :
         {std::pair<const char *, const char *>("lo0 8232 127.0.0.0 127.0.0.1 1234\n", "127.0.0.1"),
          {"  le0\t1500 192.9.200.0\t192.9.200.51 77", "192.9.200.51"},
          {"Name Mtu Net/Dest Address Ipkts", nullptr},
          {"eth0 1500 0 12 0", nullptr},
          {"a b c 1.2.3.999", nullptr},
          {"a b c", nullptr}}) {
        in_addr_t a = 0;
        EXPECT_EQ(netstat_line_addr(line, &a), expect != nullptr ? 1 : 0) << line;
        EXPECT_EQ(a, expect != nullptr ? inet_addr(expect) : 0) << line;
    }
    EXPECT_EQ(netstat_line_addr(nullptr, nullptr), 0);
}

TEST_F(HostIdentity, RetriesOnlyTemporaryFailures) {
    // Name, its failing h_errno and times (-1: always), tries; found, lookups, pauses, error name.
    const std::tuple<const char *, int, int, int, bool, int, int, const char *> cases[] = {
        {"remote", 0, 0, 3, true, 1, 0, ""},
        {"remote", TRY_AGAIN, 2, 3, true, 3, 2, ""},
        {"remote", TRY_AGAIN, 2, 2, false, 2, 1, "TRY_AGAIN"},
        {"remote", TRY_AGAIN, 5, 0, false, 1, 0, "TRY_AGAIN"}, // at least one try
        {"nosuch", 0, 0, 5, false, 1, 0, "HOST_NOT_FOUND"},
        {"noaddr", NO_ADDRESS, -1, 5, false, 1, 0, "NO_ADDRESS"},
        {"odd", 99, -1, 5, false, 1, 0, "?undefined error?"},
    };
    for (auto [name, error, times, tries, found, calls, pauses, error_name] : cases) {
        SCOPED_TRACE(name + std::string(" tries ") + std::to_string(tries));
        std::tie(net->fail_name, net->fail_error, net->fail_times) = std::tuple(name, error, times);
        net->by_name_calls = net->pauses = 0;
        char err[64] = "";
        EXPECT_EQ(retry_gethostbyname(name, tries, 1, err, sizeof err) != nullptr, found);
        EXPECT_EQ(std::pair(net->by_name_calls, net->pauses), std::pair(calls, pauses));
        EXPECT_STREQ(err, error_name);
    }
    char small[5];
    EXPECT_EQ(retry_gethostbyname("nosuch", 1, 0, small, sizeof small), nullptr);
    EXPECT_STREQ(small, "HOST");
    EXPECT_EQ(retry_gethostbyname(nullptr, 1, 0, small, sizeof small), nullptr);

    // Reverse lookups that succeed are seen through REQUIRED_INTERFACE below.
    unsigned char too_long[17] = {};
    char err[32] = "";
    EXPECT_EQ(retry_gethostbyaddr(too_long, sizeof too_long, AF_INET, 3, 1, err, sizeof err),
              nullptr);
    EXPECT_EQ(net->by_addr_calls, 0);
    EXPECT_STREQ(err, "NO_RECOVERY");
}

TEST_F(HostIdentity, HostsEqualAndItsMessages) {
    // Looked up by name first, so each name finds its own entry.
    net->hosts.insert(
        net->hosts.end(),
        {{{"web.example", "www", "web"}, {"172.16.1.1"}},
         {{"a.example"}, {"172.16.2.1"}},
         {{"b.example", "a.example"}, {"172.16.2.2"}},
         {{"d.example"}, {"172.16.3.2"}},
         {{"c.example", "d.example"}, {"172.16.3.1"}},
         {{"x.example"}, {"172.16.4.1"}},
         {{"y.example"}, {"172.16.4.1"}},
         {{"z.example", "zed"}, {"172.16.4.2"}},
         {{"many.example"}, {"172.16.5.1", "172.16.5.2", "172.16.5.3", "172.16.5.4", "172.16.9.9"}},
         {{"nine.example"}, {"172.16.9.9"}}});
    LogCapture log;
    for (auto [a, b, equal] :
         {std::tuple<const char *, const char *, int>("loc1", "sysname", 1), // both local
          {"www", "web", 1},                   // the same official name
          {"a.example", "b.example", 1},       // a's name among b's aliases
          {"c.example", "d.example", 1},       // b's name among a's aliases
          {"x.example", "y.example", 1},       // a shared address
          {"x.example", "z.example", 0},       // nothing in common
          {"many.example", "nine.example", 0}, // only four addresses count
          {"remote", "sysname", 0},            // one local, one not
          {"nosuch", "x.example", 0},
          {"x.example", "gone", 0},
          {nullptr, "x", 0}}) {
        EXPECT_EQ(hosts_equal(a, b), equal) << (a != nullptr ? a : "(null)") << " " << b;
    }
    EXPECT_EQ(log.lines(),
              (Words{"<2> hosts_equal: gethostbyname failed for nosuch: HOST_NOT_FOUND (1)",
                     "<2> hosts_equal: gethostbyname failed for gone: HOST_NOT_FOUND (1)"}));
    // The same text needs no lookup.
    net->by_name_calls = 0;
    EXPECT_EQ(hosts_equal("Same", "same"), 1);
    EXPECT_EQ(net->by_name_calls, 0);
    // Quiet unless verbose.
    log.clear();
    EXPECT_EQ(hosts_equal("x.example", "zed"), 0);
    EXPECT_TRUE(log.texts().empty());
    he_verbose = 1;
    EXPECT_EQ(hosts_equal("x.example", "zed"), 0);
    EXPECT_EQ(log.texts(),
              (Words{"compare x.example with alias zed", "there were NO aliases for x.example",
                     "hostnames DO NOT compare", "name1=x.example  name2=zed",
                     "hostbuf=x.example  hostentry->h_name=z.example", "addresses DO NOT match",
                     "x.example=0xac100401 zed=0xac100402"}));
}

TEST_F(HostIdentity, HostNameFromConfigurationWhenItIsThisMachine) {
    // The host file (nullptr: none) and the name this machine goes by.
    for (auto [conf, expect] :
         {std::pair<const char *, const char *>(nullptr, "sysname"),
          {"SERVER = master1\nSERVER = remote\n", "master1"},
          {"SERVER = remote\nCLIENT_NAME = myalias\n", "myalias"},
          {"SERVER = remote\nSERVER = master1\n", "sysname"}, // first only
          {"SERVER = remote\nCLIENT_NAME = elsewhere\n", "sysname"},
          {"SERVER = master1\nREQUIRED_INTERFACE = 192.168.7.1\n", "if1.example"},
          {"SERVER = master1\nREQUIRED_INTERFACE = ifname\n", "ifname"},
          {"SERVER = master1\nREQUIRED_INTERFACE = 172.16.0.9\n", "master1"}}) {
        SCOPED_TRACE(conf != nullptr ? conf : "(none)");
        kp_forget_host_identity();
        unlink(p_.host_file().c_str());
        if (conf != nullptr) {
            host_conf(conf);
        }
        EXPECT_EQ(hostname(), expect);
    }
}

TEST_F(HostIdentity, HostNameIsCachedAndCut) {
    EXPECT_EQ(hostname(), "sysname");
    net->host_name = "renamed";
    EXPECT_EQ(hostname(), "sysname");
    char small[4];
    EXPECT_EQ(kp_gethostname(small, sizeof small), 0);
    EXPECT_STREQ(small, "sys");
    EXPECT_EQ(kp_gethostname(small, 0), -1);
    kp_forget_host_identity();
    EXPECT_EQ(hostname(), "renamed");
    kp_forget_host_identity();
    net->host_name_errno = EFAULT;
    EXPECT_EQ(hostname(), "(rc -1)");
}

TEST_F(HostIdentity, RequiredInterface) {
    in_addr_t a = 123;
    EXPECT_FALSE(check_required_interface(&a).has_value());
    EXPECT_EQ(a, 0u);

    host_conf("SERVER = m\nREQUIRED_INTERFACE = 192.168.7.1\n");
    kp_forget_host_identity();
    EXPECT_EQ(check_required_interface(&a), "if1.example");
    EXPECT_EQ(a, inet_addr("192.168.7.1"));
    const int reverse = net->by_addr_calls;
    EXPECT_EQ(check_required_interface(nullptr), "if1.example"); // remembered
    EXPECT_EQ(net->by_addr_calls, reverse);

    // Not local: known to fail, not looked up again.
    host_conf("SERVER = m\nREQUIRED_INTERFACE = remote\n");
    kp_forget_host_identity();
    EXPECT_FALSE(check_required_interface(&a).has_value());
    const int lookups = net->by_name_calls;
    EXPECT_FALSE(check_required_interface(&a).has_value());
    EXPECT_EQ(net->by_name_calls, lookups);
}

TEST_F(HostIdentity, ClientAndServerNamesOfTheSuperuser) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs to run as the superuser";
    }
    user_conf("CLIENT_NAME = fromuser\n"); // never read by the superuser
    host_conf("SERVER = master1\nSERVER = backup2\nCLIENT_NAME = hostcn\n");
    EXPECT_EQ(kp_client_name(), "hostcn");
    char buf[64];
    EXPECT_EQ(db_getservername(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "master1");
    EXPECT_EQ(db_getservername(buf, 4), 0);
    EXPECT_STREQ(buf, "mas");

    kp_forget_host_identity();
    host_conf("CLIENT_NAME = remote\n");
    EXPECT_EQ(kp_client_name(), "remote");
    EXPECT_EQ(db_getservername(buf, sizeof buf), 0); // no SERVER: this host
    EXPECT_STREQ(buf, "sysname");

    kp_forget_host_identity();
    unlink(p_.host_file().c_str());
    EXPECT_EQ(kp_client_name(), "sysname");

    kp_forget_host_identity();
    net->host_name_errno = EFAULT;
    EXPECT_FALSE(kp_client_name().has_value());
    LogCapture log;
    EXPECT_EQ(db_getservername(buf, sizeof buf), KP_NO_HOSTNAME);
    EXPECT_TRUE(log.has("gethostname(): " + std::string(strerror(EFAULT)) + " (" +
                        std::to_string(EFAULT) + ")"));
}

TEST_F(HostIdentity, UsersClientNameWins) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs to run as the superuser to become another user";
    }
    host_conf("SERVER = remote\nCLIENT_NAME = hostcn\n");
    // The user's file (nullptr: none); the client name and this host's name.
    // Another machine's name is the client name only, one of this machine's both; the
    // user's first SERVER comes before every CLIENT_NAME; without a user file the host's apply.
    for (auto [conf, expect] :
         {std::pair<const char *, const char *>("CLIENT_NAME = elsewhere\n", "elsewhere sysname"),
          {"CLIENT_NAME = myalias\n", "myalias myalias"},
          {"SERVER = ifname\nCLIENT_NAME = myalias\n", "myalias ifname"},
          {nullptr, "hostcn sysname"}}) {
        unlink(p_.user_file().c_str());
        if (conf != nullptr) {
            user_conf(conf);
        }
        EXPECT_EQ(as_user([this] {
                      HOME = p_.home;
                      return kp_client_name().value_or("(none)") + " " + hostname();
                  }),
                  expect);
    }
}
