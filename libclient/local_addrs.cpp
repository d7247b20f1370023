// The local host's IPv4 addresses and host lookups with retries.

#include "local_addrs.h"

#include "cmnutils.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <ifaddrs.h>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <unistd.h>

FILE *local_addrs_trace = nullptr;

namespace {

void trace_text(const char *function, int line, const char *name, const char *text) {
    if (local_addrs_trace != nullptr) {
        fprintf(local_addrs_trace, "%s.%d: %s = %s\n", function, line, name,
                text != nullptr ? text : "(null)");
        fflush(local_addrs_trace);
    }
}

void trace_num(const char *function, int line, const char *name, unsigned value) {
    if (local_addrs_trace != nullptr) {
        fprintf(local_addrs_trace, "%s.%d: %s = %d 0x%08x\n", function, line, name,
                static_cast<int>(value), value);
        fflush(local_addrs_trace);
    }
}

int system_host_name(char *buf, size_t size) {
    return gethostname(buf, size);
}

struct hostent *system_by_name(const char *name) {
    return gethostbyname(name);
}

struct hostent *system_by_addr(const void *addr, socklen_t len, int family) {
    return gethostbyaddr(addr, len, family);
}

// Every interface's IPv4 address, aliases included.
int system_interface_addrs(std::vector<in_addr_t> *out) {
    struct ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) {
        return -1;
    }
    std::unique_ptr<struct ifaddrs, void (*)(struct ifaddrs *)> owner(list, freeifaddrs);
    int found = 0;
    for (const struct ifaddrs *ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_name == nullptr || ifa->ifa_name[0] == '\0' || ifa->ifa_addr == nullptr ||
            ifa->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        struct sockaddr_in sin;
        memcpy(&sin, ifa->ifa_addr, sizeof sin);
        trace_text("system_interface_addrs", __LINE__, "interface", ifa->ifa_name);
        out->push_back(sin.sin_addr.s_addr);
        ++found;
    }
    return found;
}

unsigned system_pause(unsigned seconds) {
    return sleep(seconds);
}

const char *const system_netstat_paths[] = {"/usr/bin/netstat", "/usr/sbin/netstat",
                                            "/usr/etc/netstat", "/etc/netstat",
                                            "/usr/ucb/netstat", nullptr};

const kp_netsys system_netsys = {system_host_name,       system_by_name,       system_by_addr,
                                 system_interface_addrs, system_netstat_paths, system_pause};

const kp_netsys *netsys = &system_netsys;

// The process-wide copy, kept after the first successful gathering.
std::vector<in_addr_t> process_copy;

void add_addr(local_addr_list *list, in_addr_t a) {
    for (in_addr_t have : list->addr) {
        if (have == a) {
            return;
        }
    }
    list->addr.push_back(a);
    list->count = static_cast<int>(list->addr.size());
    trace_num("add_addr", __LINE__, "address", ntohl(a));
}

struct pipe_closer {
    void operator()(FILE *f) const { pclose(f); }
};

// Runs the first executable netstat as "PATH -i -n" and adds the addresses
// of its lines; the number added.
int netstat_addrs(local_addr_list *list) {
    const char *path = nullptr;
    for (const char *const *p = netsys->netstat_paths; p != nullptr && *p != nullptr; ++p) {
        if (access(*p, X_OK) == 0) {
            path = *p;
            break;
        }
    }
    if (path == nullptr) {
        return 0;
    }
    std::optional<std::string> quoted = apostrophize(path);
    if (!quoted.has_value()) {
        throw std::bad_alloc();
    }
    const std::string command = *quoted + " -i -n 2> /dev/null";
    trace_text("netstat_addrs", __LINE__, "command", command.c_str());
    // A handler of the caller's must not reap netstat behind popen's back;
    // the old disposition comes back however this ends.
    struct sigchld_ignored {
        void (*old)(int) = signal(SIGCHLD, SIG_IGN);
        ~sigchld_ignored() { signal(SIGCHLD, old); }
    } ignored;
    int added = 0;
    {
        std::unique_ptr<FILE, pipe_closer> pipe(popen(command.c_str(), "r"));
        if (pipe) {
            char line[XKP_TEXT_SIZE];
            while (fgets(line, sizeof line, pipe.get()) != nullptr) {
                in_addr_t a;
                if (netstat_line_addr(line, &a) != 0) {
                    add_addr(list, a);
                    ++added;
                }
            }
        }
    }
    return added;
}

} // namespace

const kp_netsys &kp_netsys_get() {
    return *netsys;
}

const kp_netsys &kp_netsys_system() {
    return system_netsys;
}

void kp_netsys_set(const kp_netsys *sys) {
    netsys = sys != nullptr ? sys : &system_netsys;
}

void local_addrs_forget() {
    std::vector<in_addr_t>().swap(process_copy);
}

const char *host_error_name(int err) {
    switch (err) {
    case HOST_NOT_FOUND:
        return "HOST_NOT_FOUND";
    case TRY_AGAIN:
        return "TRY_AGAIN";
    case NO_RECOVERY:
        return "NO_RECOVERY";
    case NO_ADDRESS:
        return "NO_ADDRESS";
    default:
        return "?undefined error?";
    }
}

namespace {

template <typename Lookup>
struct hostent *retry_lookup(Lookup lookup, int tries, int pause, char *errbuf, size_t errsize) {
    if (tries < 1) {
        tries = 1;
    }
    int err = 0;
    for (int i = 0; i < tries; ++i) {
        h_errno = 0;
        struct hostent *h = lookup();
        if (h != nullptr) {
            return h;
        }
        err = h_errno;
        if (err != TRY_AGAIN) {
            break;
        }
        if (i + 1 < tries && pause > 0) {
            netsys->pause(static_cast<unsigned>(pause));
        }
    }
    if (errbuf != nullptr && errsize > 0) {
        T_strlcpy(errbuf, host_error_name(err), errsize);
    }
    h_errno = err;
    return nullptr;
}

} // namespace

struct hostent *retry_gethostbyname(const char *name, int tries, int pause, char *errbuf,
                                    size_t errsize) {
    if (name == nullptr) {
        if (errbuf != nullptr && errsize > 0) {
            T_strlcpy(errbuf, host_error_name(HOST_NOT_FOUND), errsize);
        }
        h_errno = HOST_NOT_FOUND;
        return nullptr;
    }
    return retry_lookup([name] { return netsys->by_name(name); }, tries, pause, errbuf, errsize);
}

struct hostent *retry_gethostbyaddr(const void *addr, socklen_t len, int family, int tries,
                                    int pause, char *errbuf, size_t errsize) {
    // The address is copied into a buffer of the largest address size.
    unsigned char copy[16];
    if (addr == nullptr || len == 0 || len > sizeof copy) {
        if (errbuf != nullptr && errsize > 0) {
            T_strlcpy(errbuf, host_error_name(NO_RECOVERY), errsize);
        }
        h_errno = NO_RECOVERY;
        return nullptr;
    }
    memcpy(copy, addr, len);
    return retry_lookup([&] { return netsys->by_addr(copy, len, family); }, tries, pause, errbuf,
                        errsize);
}

int netstat_line_addr(const char *line, in_addr_t *addr) {
    if (line == nullptr || addr == nullptr) {
        return 0;
    }
    char field[XKP_FIELD_MAX + 1];
    field_copy(field, line, 4);
    if (field[0] < '0' || field[0] > '9' || strchr(field, '.') == nullptr) {
        return 0;
    }
    struct in_addr in;
    if (inet_aton(field, &in) == 0) {
        return 0;
    }
    *addr = in.s_addr;
    return 1;
}

int get_local_addrs(local_addr_list *list) {
    if (list == nullptr) {
        return -1;
    }
    try {
        list->addr.clear();
        list->count = 0;
        if (!process_copy.empty()) {
            list->addr = process_copy;
            list->count = static_cast<int>(list->addr.size());
            return 0;
        }
        // The host's own name and its addresses.
        char name[257] = "";
        if (netsys->host_name(name, sizeof name - 1) == 0) {
            name[sizeof name - 1] = '\0';
            trace_text("get_local_addrs", __LINE__, "hostname", name);
            const struct hostent *h = retry_gethostbyname(name, 5, 1, nullptr, 0);
            if (h != nullptr && h->h_addrtype == AF_INET && h->h_length == 4) {
                for (char **p = h->h_addr_list; p != nullptr && *p != nullptr; ++p) {
                    in_addr_t a;
                    memcpy(&a, *p, sizeof a);
                    add_addr(list, a);
                }
            }
        }
        add_addr(list, htonl(INADDR_LOOPBACK));
        // Every configured interface.
        std::vector<in_addr_t> found;
        const int n = netsys->interface_addrs(&found);
        trace_num("get_local_addrs", __LINE__, "interfaces", static_cast<unsigned>(n));
        const int before = list->count;
        for (in_addr_t a : found) {
            if (a != 0) {
                add_addr(list, a);
            }
        }
        // netstat too when the interfaces added nothing new: addresses the
        // host name or the loopback already gave do not count.
        if (n < 0 || list->count == before) {
            netstat_addrs(list);
        }
        if (list->count >= 1) {
            process_copy = list->addr;
        }
        return 0;
    } catch (const std::exception &) {
        std::vector<in_addr_t>().swap(list->addr);
        list->count = 0;
        return -1;
    }
}

int is_local_addr(const local_addr_list &list, in_addr_t addr) {
    for (int i = 0; i < list.count && static_cast<size_t>(i) < list.addr.size(); ++i) {
        if (list.addr[static_cast<size_t>(i)] == addr) {
            return 1;
        }
    }
    return 0;
}

int is_local_host(const local_addr_list &list, const char *name) {
    if (name == nullptr || *name == '\0') {
        return 0;
    }
    const struct hostent *h = retry_gethostbyname(name, 1, 0, nullptr, 0);
    if (h == nullptr || h->h_addrtype != AF_INET || h->h_length != 4) {
        return 0;
    }
    for (char **p = h->h_addr_list; p != nullptr && *p != nullptr; ++p) {
        in_addr_t a;
        memcpy(&a, *p, sizeof a);
        if (is_local_addr(list, a) != 0) {
            return 1;
        }
    }
    return 0;
}
