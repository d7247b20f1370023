// Host identity and local addresses, against a recorded name service and
// interface list (kp_netsys) and, at the end, against the real system.

#include <gtest/gtest.h>

#include "kp_misc.h"
#include "kpconf_api.h"
#include "local_addrs.h"
#include "log_capture.h"
#include "unixconf_api.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <grp.h>
#include <map>
#include <memory>
#include <string>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// ------------------------------------------------------ the recorded network

struct FakeHost {
    std::string name;
    std::vector<std::string> aliases, addrs;
};

struct FakeNet {
    std::string host_name = "sysname";
    int host_name_errno = 0; // non-zero: the query fails with it
    std::vector<FakeHost> hosts;
    // name -> the h_errno its lookups fail with, and how often (-1: always).
    std::map<std::string, std::pair<int, int>> failing;
    std::vector<std::string> interfaces;
    bool interfaces_fail = false;
    std::vector<std::string> netstat_paths;
    std::vector<const char *> netstat_ptrs;
    int by_name_calls = 0, by_addr_calls = 0, pauses = 0;

    // Storage behind the returned entry, as the system keeps its own.
    FakeHost found;
    struct hostent ent {};
    std::vector<char *> alias_ptrs, addr_ptrs;
    std::vector<in_addr_t> addr_store;

    struct hostent *entry(const FakeHost &h) {
        found = h;
        alias_ptrs.clear();
        addr_ptrs.clear();
        addr_store.clear();
        for (std::string &a : found.aliases)
            alias_ptrs.push_back(a.data());
        for (const std::string &a : found.addrs)
            addr_store.push_back(inet_addr(a.c_str()));
        for (in_addr_t &a : addr_store)
            addr_ptrs.push_back(reinterpret_cast<char *>(&a));
        alias_ptrs.push_back(nullptr);
        addr_ptrs.push_back(nullptr);
        ent = {found.name.data(), alias_ptrs.data(), AF_INET, 4, addr_ptrs.data()};
        return &ent;
    }
};

FakeNet *net = nullptr;

int fake_host_name(char *buf, size_t size) {
    if (net->host_name_errno != 0) {
        errno = net->host_name_errno;
        return -1;
    }
    snprintf(buf, size, "%s", net->host_name.c_str());
    return 0;
}

struct hostent *fake_by_name(const char *name) {
    ++net->by_name_calls;
    auto f = net->failing.find(name);
    if (f != net->failing.end() && f->second.second != 0) {
        if (f->second.second > 0)
            --f->second.second;
        h_errno = f->second.first;
        return nullptr;
    }
    for (const FakeHost &h : net->hosts) {
        bool match = strcasecmp(h.name.c_str(), name) == 0;
        for (const std::string &a : h.aliases)
            match = match || strcasecmp(a.c_str(), name) == 0;
        if (match)
            return net->entry(h);
    }
    h_errno = HOST_NOT_FOUND;
    return nullptr;
}

struct hostent *fake_by_addr(const void *addr, socklen_t len, int family) {
    ++net->by_addr_calls;
    in_addr_t a;
    if (family == AF_INET && len == sizeof a) {
        memcpy(&a, addr, sizeof a);
        for (const FakeHost &h : net->hosts) {
            for (const std::string &s : h.addrs) {
                if (inet_addr(s.c_str()) == a)
                    return net->entry(h);
            }
        }
    }
    h_errno = HOST_NOT_FOUND;
    return nullptr;
}

int fake_interfaces(std::vector<in_addr_t> *out) {
    if (net->interfaces_fail)
        return -1;
    for (const std::string &s : net->interfaces)
        out->push_back(inet_addr(s.c_str()));
    return static_cast<int>(net->interfaces.size());
}

unsigned fake_pause(unsigned) {
    ++net->pauses;
    return 0;
}

std::vector<std::string> dotted(const local_addr_list &list) {
    std::vector<std::string> out;
    for (in_addr_t a : list.addr) {
        struct in_addr in;
        in.s_addr = a;
        out.emplace_back(inet_ntoa(in));
    }
    return out;
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Runs fn in a child under nobody's effective ids; its result (cut to 4095
// bytes), or "(ids)".
std::string as_nobody(const std::function<std::string()> &fn) {
    constexpr size_t size = 4096;
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return "(mmap)";
    char *shared = static_cast<char *>(map);
    snprintf(shared, size, "(ids)");
    pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) == 0 && setegid(65534) == 0 && seteuid(65534) == 0)
            snprintf(shared, size, "%s", fn().c_str());
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::string out = shared;
    munmap(map, size);
    return out;
}

// The recorded network: this machine is "sysname" (10.0.0.5) with one more
// interface 192.168.7.1; other hosts are elsewhere.
class HostIdentity : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_ = std::make_unique<FakeNet>();
        net = fake_.get();
        net->hosts = {
            {"sysname.example", {"sysname"}, {"10.0.0.5"}},
            {"if1.example", {"ifname", "master1", "myalias"}, {"192.168.7.1"}},
            {"localhost", {"loc1"}, {"127.0.0.1"}},
            {"remote.example", {"remote", "elsewhere"}, {"172.16.0.9"}},
        };
        net->interfaces = {"10.0.0.5", "192.168.7.1"};
        sys_ = {fake_host_name, fake_by_name, fake_by_addr, fake_interfaces, nullptr, fake_pause};
        kp_netsys_set(&sys_);
        kp_forget_host_identity();

        char tpl[] = "/tmp/xkp_hostid.XXXXXX";
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
        HOME = home_;
    }
    void TearDown() override {
        kp_netsys_set(nullptr);
        kp_forget_host_identity();
        he_verbose = 0;
        HOME.clear();
        setenv("XKP_ROOT", saved_root_.c_str(), 1);
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
        net = nullptr;
    }
    std::string host_file() const { return dir_ + "/root/sorvane/kp.conf"; }
    void host_conf(const std::string &text) { write_file(host_file(), text); }
    void user_conf(const std::string &text) { write_file(home_ + "/kp.conf", text); }
    void use_netstat(const std::vector<std::string> &paths) {
        net->netstat_paths = paths;
        net->netstat_ptrs.clear();
        for (const std::string &p : net->netstat_paths)
            net->netstat_ptrs.push_back(p.c_str());
        net->netstat_ptrs.push_back(nullptr);
        sys_.netstat_paths = net->netstat_ptrs.data();
    }
    std::string hostname() {
        char buf[300];
        int rc = kp_gethostname(buf, sizeof buf);
        return rc == 0 ? std::string(buf) : "(rc " + std::to_string(rc) + ")";
    }

    std::unique_ptr<FakeNet> fake_;
    kp_netsys sys_{};
    std::string dir_, home_, saved_root_;
};

} // namespace

// ----------------------------------------------------------- local addresses

TEST_F(HostIdentity, LocalAddressesAreGatheredOnceWithoutDuplicates) {
    net->interfaces = {"10.0.0.5", "192.168.7.1", "0.0.0.0", "192.168.7.1"};
    local_addr_list list;
    EXPECT_EQ(list.count, -1);
    ASSERT_EQ(get_local_addrs(&list), 0);
    EXPECT_EQ(dotted(list), (std::vector<std::string>{"10.0.0.5", "127.0.0.1", "192.168.7.1"}));
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(is_local_addr(list, inet_addr("192.168.7.1")), 1);
    EXPECT_EQ(is_local_addr(list, inet_addr("192.168.7.2")), 0);
    EXPECT_EQ(is_local_host(list, "master1"), 1);
    EXPECT_EQ(is_local_host(list, "remote"), 0);
    EXPECT_EQ(is_local_host(list, "unknown"), 0);
    EXPECT_EQ(is_local_host(list, nullptr), 0);

    // Later gatherings copy the process-wide list.
    net->interfaces = {"10.9.9.9"};
    const int lookups = net->by_name_calls;
    local_addr_list again;
    ASSERT_EQ(get_local_addrs(&again), 0);
    EXPECT_EQ(dotted(again), dotted(list));
    EXPECT_EQ(net->by_name_calls, lookups);
    local_addrs_forget();
    ASSERT_EQ(get_local_addrs(&again), 0);
    EXPECT_EQ(dotted(again), (std::vector<std::string>{"10.0.0.5", "127.0.0.1", "10.9.9.9"}));
    EXPECT_EQ(get_local_addrs(nullptr), -1);
}

TEST_F(HostIdentity, NetstatWhenTheInterfacesYieldNothing) {
    const std::string script = home_ + "/netstat";
    write_file(script, "#!/bin/sh\n"
                       "[ \"$1 $2\" = \"-i -n\" ] || exit 1\n"
                       "echo 'Name  Mtu  Net/Dest      Address        Ipkts'\n"
                       "echo 'lo0   8232 127.0.0.0     127.0.0.1      1234'\n"
                       "echo 'hme0  1500 192.168.9.0   192.168.9.7    99'\n"
                       "echo 'hme1  1500 192.168.9.0   192.168.9.300  99'\n"
                       "echo 'ppp0  1500 10.1.0.0      10.1.0.3'\n"
                       "echo 'error message' >&2\n");
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    use_netstat({home_ + "/not-there", script});
    struct Case {
        bool fail;
        std::vector<std::string> interfaces;
        std::vector<std::string> expect;
    };
    const Case cases[] = {
        {true, {}, {"10.0.0.5", "127.0.0.1", "192.168.9.7", "10.1.0.3"}},
        {false, {"0.0.0.0"}, {"10.0.0.5", "127.0.0.1", "192.168.9.7", "10.1.0.3"}},
        {false, {"192.168.7.1"}, {"10.0.0.5", "127.0.0.1", "192.168.7.1"}},
    };
    for (const Case &c : cases) {
        local_addrs_forget();
        net->interfaces_fail = c.fail;
        net->interfaces = c.interfaces;
        local_addr_list list;
        ASSERT_EQ(get_local_addrs(&list), 0);
        EXPECT_EQ(dotted(list), c.expect);
    }
}

TEST(NetstatLines, FourthFieldWhenItIsAnAddress) {
    struct Case {
        const char *line;
        const char *expect; // nullptr: none
    };
    const Case cases[] = {
        {"lo0 8232 127.0.0.0 127.0.0.1 1234\n", "127.0.0.1"},
        {"  le0\t1500 192.9.200.0\t192.9.200.51 77", "192.9.200.51"},
        {"Name Mtu Net/Dest Address Ipkts", nullptr},
        {"Iface MTU RX-OK RX-ERR RX-DRP", nullptr},
        {"eth0 1500 0 12 0", nullptr},
        {"a b c 1.2.3.999", nullptr},
        {"a b c x1.2.3.4", nullptr},
        {"a b c", nullptr},
        {"", nullptr},
    };
    for (const Case &c : cases) {
        in_addr_t a = 0;
        int got = netstat_line_addr(c.line, &a);
        EXPECT_EQ(got, c.expect != nullptr ? 1 : 0) << c.line;
        if (c.expect != nullptr) {
            EXPECT_EQ(a, inet_addr(c.expect)) << c.line;
        }
    }
    EXPECT_EQ(netstat_line_addr(nullptr, nullptr), 0);
}

// ---------------------------------------------------------- retried lookups

TEST_F(HostIdentity, RetriesOnlyTemporaryFailures) {
    struct Case {
        const char *name;
        int error, times; // the lookups fail with h_errno `error`, `times` times (-1: always)
        int tries;
        bool found;
        int calls, pauses;
        const char *error_name;
    };
    const Case cases[] = {
        {"remote", 0, 0, 3, true, 1, 0, ""},
        {"remote", TRY_AGAIN, 2, 3, true, 3, 2, ""},
        {"remote", TRY_AGAIN, 2, 2, false, 2, 1, "TRY_AGAIN"},
        {"remote", TRY_AGAIN, 5, 0, false, 1, 0, "TRY_AGAIN"}, // at least one try
        {"nosuch", 0, 0, 5, false, 1, 0, "HOST_NOT_FOUND"},
        {"broken", NO_RECOVERY, -1, 5, false, 1, 0, "NO_RECOVERY"},
        {"noaddr", NO_ADDRESS, -1, 5, false, 1, 0, "NO_ADDRESS"},
        {"odd", 99, -1, 5, false, 1, 0, "?undefined error?"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name + std::string(" tries ") + std::to_string(c.tries));
        net->failing = {{c.name, {c.error, c.times}}};
        net->by_name_calls = net->pauses = 0;
        char err[64] = "";
        struct hostent *h = retry_gethostbyname(c.name, c.tries, 1, err, sizeof err);
        EXPECT_EQ(h != nullptr, c.found);
        EXPECT_EQ(net->by_name_calls, c.calls);
        EXPECT_EQ(net->pauses, c.pauses);
        EXPECT_STREQ(err, c.error_name);
    }
    char small[5];
    EXPECT_EQ(retry_gethostbyname("nosuch", 1, 0, small, sizeof small), nullptr);
    EXPECT_STREQ(small, "HOST");
    EXPECT_EQ(retry_gethostbyname(nullptr, 1, 0, small, sizeof small), nullptr);

    in_addr_t a = inet_addr("172.16.0.9");
    struct hostent *h = retry_gethostbyaddr(&a, sizeof a, AF_INET, 3, 1, nullptr, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h->h_name, "remote.example");
    unsigned char too_long[17] = {};
    char err[32] = "";
    const int calls = net->by_addr_calls;
    EXPECT_EQ(retry_gethostbyaddr(too_long, sizeof too_long, AF_INET, 3, 1, err, sizeof err),
              nullptr);
    EXPECT_EQ(net->by_addr_calls, calls);
    EXPECT_STREQ(err, "NO_RECOVERY");
}

// ----------------------------------------------------------- host comparison

TEST_F(HostIdentity, HostsEqual) {
    net->hosts.push_back({"web.example", {"www", "web"}, {"172.16.1.1"}});
    // Looked up by name first, so each name finds its own entry.
    net->hosts.push_back({"a.example", {}, {"172.16.2.1"}});
    net->hosts.push_back({"b.example", {"a.example"}, {"172.16.2.2"}});
    net->hosts.push_back({"d.example", {}, {"172.16.3.2"}});
    net->hosts.push_back({"c.example", {"d.example"}, {"172.16.3.1"}});
    net->hosts.push_back({"x.example", {}, {"172.16.4.1"}});
    net->hosts.push_back({"y.example", {}, {"172.16.4.1"}});
    net->hosts.push_back({"z.example", {}, {"172.16.4.2"}});
    net->hosts.push_back({"many.example",
                          {},
                          {"172.16.5.1", "172.16.5.2", "172.16.5.3", "172.16.5.4", "172.16.9.9"}});
    net->hosts.push_back({"nine.example", {}, {"172.16.9.9"}});
    struct Case {
        const char *a, *b;
        int equal;
    };
    const Case cases[] = {
        {"Alpha", "alpha", 1},               // same text, no lookup needed
        {"loc1", "sysname", 1},              // both local
        {"localhost", "master1", 1},         // both local
        {"www", "web", 1},                   // the same official name
        {"a.example", "b.example", 1},       // a's name among b's aliases
        {"c.example", "d.example", 1},       // b's name among a's aliases
        {"x.example", "y.example", 1},       // a shared address
        {"x.example", "z.example", 0},       // nothing in common
        {"many.example", "nine.example", 0}, // only four addresses count
        {"remote", "sysname", 0},            // one local, one not
        {"nosuch", "alpha", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(hosts_equal(c.a, c.b), c.equal) << c.a << " " << c.b;
    net->by_name_calls = 0;
    EXPECT_EQ(hosts_equal("Same", "same"), 1);
    EXPECT_EQ(net->by_name_calls, 0);
    EXPECT_EQ(hosts_equal(nullptr, "x"), 0);
}

TEST_F(HostIdentity, HostsEqualMessages) {
    net->hosts.push_back({"x.example", {}, {"172.16.4.1"}});
    net->hosts.push_back({"z.example", {"zed"}, {"172.16.4.2"}});
    LogCapture log;
    EXPECT_EQ(hosts_equal("nosuch", "x.example"), 0);
    EXPECT_EQ(hosts_equal("x.example", "gone"), 0);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "<2> hosts_equal: gethostbyname failed for nosuch: HOST_NOT_FOUND (1)",
                  "<2> hosts_equal: gethostbyname failed for gone: HOST_NOT_FOUND (1)",
              }));
    log.clear();
    EXPECT_EQ(hosts_equal("x.example", "zed"), 0);
    EXPECT_TRUE(log.texts().empty()); // quiet unless verbose
    he_verbose = 1;
    EXPECT_EQ(hosts_equal("x.example", "zed"), 0);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "compare x.example with alias zed",
                               "there were NO aliases for x.example",
                               "hostnames DO NOT compare",
                               "name1=x.example  name2=zed",
                               "hostbuf=x.example  hostentry->h_name=z.example",
                               "addresses DO NOT match",
                               "x.example=0xac100401 zed=0xac100402",
                           }));
}

// --------------------------------------------------------- local host name

TEST_F(HostIdentity, HostNameFromConfigurationWhenItIsThisMachine) {
    struct Case {
        const char *host_conf; // nullptr: no host file
        const char *expect;
    };
    const Case cases[] = {
        {nullptr, "sysname"},
        {"SERVER = remote\n", "sysname"},
        {"SERVER = master1\nSERVER = remote\n", "master1"},
        {"SERVER = remote\nCLIENT_NAME = myalias\n", "myalias"},
        {"SERVER = remote\nSERVER = master1\n", "sysname"}, // only the first SERVER counts
        {"SERVER = remote\nCLIENT_NAME = elsewhere\n", "sysname"},
        {"SERVER = master1\nREQUIRED_INTERFACE = 192.168.7.1\n", "if1.example"},
        {"SERVER = master1\nREQUIRED_INTERFACE = ifname\n", "ifname"},
        {"SERVER = master1\nREQUIRED_INTERFACE = 172.16.0.9\n", "master1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host_conf != nullptr ? c.host_conf : "(none)");
        kp_forget_host_identity();
        unlink(host_file().c_str());
        if (c.host_conf != nullptr)
            host_conf(c.host_conf);
        EXPECT_EQ(hostname(), c.expect);
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

    // By name: its first address must be local.
    kp_forget_host_identity();
    host_conf("SERVER = m\nREQUIRED_INTERFACE = ifname\n");
    EXPECT_EQ(check_required_interface(&a), "ifname");
}

// -------------------------------------------------- client and server names

TEST_F(HostIdentity, ClientAndServerNamesOfTheSuperuser) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs to run as the superuser";
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
    unlink(host_file().c_str());
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
    if (geteuid() != 0)
        GTEST_SKIP() << "needs to run as the superuser to become another user";
    host_conf("SERVER = remote\nCLIENT_NAME = hostcn\n");
    auto names = [this] {
        return as_nobody([this] {
            HOME = home_;
            std::optional<std::string> client = kp_client_name();
            return (client.has_value() ? *client : "(none)") + " " + hostname();
        });
    };
    // Another machine's name: the client name, but not this host's name.
    user_conf("CLIENT_NAME = elsewhere\n");
    EXPECT_EQ(names(), "elsewhere sysname");
    // A name of this machine: both.
    user_conf("CLIENT_NAME = myalias\n");
    EXPECT_EQ(names(), "myalias myalias");
    // The user's first SERVER comes before every CLIENT_NAME.
    user_conf("SERVER = ifname\nCLIENT_NAME = myalias\n");
    EXPECT_EQ(names(), "myalias ifname");
    // No user file: the host file's values apply.
    unlink((home_ + "/kp.conf").c_str());
    EXPECT_EQ(names(), "hostcn sysname");
}

// ---------------------------------------------------------- the real system

TEST(HostIdentitySystem, LocalAddressesAndLoopbackNames) {
    kp_netsys_set(nullptr);
    kp_forget_host_identity();
    local_addr_list list;
    ASSERT_EQ(get_local_addrs(&list), 0);
    ASSERT_GE(list.count, 1);
    EXPECT_EQ(static_cast<size_t>(list.count), list.addr.size());
    EXPECT_EQ(is_local_addr(list, htonl(INADDR_LOOPBACK)), 1);
    for (size_t i = 0; i < list.addr.size(); ++i) {
        for (size_t j = i + 1; j < list.addr.size(); ++j)
            EXPECT_NE(list.addr[i], list.addr[j]);
    }
    EXPECT_EQ(hosts_equal("localhost", "LOCALHOST"), 1);
    // The machine's own name and localhost both resolve to local addresses.
    char name[300];
    ASSERT_EQ(gethostname(name, sizeof name), 0);
    if (gethostbyname(name) != nullptr && is_local_host(list, name)) {
        EXPECT_EQ(hosts_equal("localhost", name), 1);
    }
    char buf[300];
    EXPECT_EQ(kp_gethostname(buf, sizeof buf), 0);
    EXPECT_NE(buf[0], '\0');
    kp_forget_host_identity();
}
