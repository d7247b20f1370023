// Host identity: the client's name, the master server, host comparison and
// the configured network interface.

#include "kp_misc.h"

#include "cmnutils.h"
#include "kpconf_api.h"
#include "local_addrs.h"
#include "logging.h"
#include "unixconf_api.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <unistd.h>
#include <vector>

int he_verbose = 0;

namespace {

constexpr size_t HOST_NAME_SIZE = 257; // at most 256 characters

// The local host name, empty until first determined.
char cached_host[HOST_NAME_SIZE];

// The local addresses, gathered once (count -1 until then).
local_addr_list local_list;

// The required interface: the value last configured, the name it resolved
// to, its address, and whether it is known to be local or known not to be.
struct required_interface {
    char configured[HOST_NAME_SIZE];
    char name[HOST_NAME_SIZE];
    in_addr_t addr;
    bool resolved;
    bool failed;
} req_if;

__attribute__((format(printf, 2, 3))) void host_log(const char *function, const char *fmt, ...) {
    char text[2048];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    logmsg(LOG_SEV_ERROR, text, function);
}

bool superuser() {
    return geteuid() == 0;
}

void gather_once() {
    if (local_list.count == -1 && get_local_addrs(&local_list) != 0) {
        local_list.count = 0; // a failed gathering counts as none
    }
}

// The host record always; the user's record unless running as the superuser.
void read_configs() {
    ReadHostConfigA(&master_config, nullptr);
    if (!superuser()) {
        ReadUsersConfigA(&users_config, nullptr, nullptr);
    }
}

const char *text_of(const kp_string &s) {
    return s.has_value() && !s->empty() ? s->c_str() : nullptr;
}

const char *first_server(const kp_config &c) {
    if (c.SERVER.empty()) {
        return nullptr;
    }
    const char *s = c.SERVER.front().text(0);
    return s != nullptr && *s != '\0' ? s : nullptr;
}

// A copy of a name-service entry: the next lookup overwrites the system's.
struct host_info {
    std::string name;
    std::vector<std::string> aliases;
    std::vector<in_addr_t> addrs;
};

host_info copy_host(const struct hostent *h) {
    host_info info;
    if (h->h_name != nullptr) {
        info.name = h->h_name;
    }
    for (char **a = h->h_aliases; a != nullptr && *a != nullptr; ++a) {
        info.aliases.emplace_back(*a);
    }
    if (h->h_addrtype == AF_INET && h->h_length == 4) {
        for (char **p = h->h_addr_list; p != nullptr && *p != nullptr; ++p) {
            in_addr_t a;
            memcpy(&a, *p, sizeof a);
            info.addrs.push_back(a);
        }
    }
    return info;
}

// Only digits and dots, and a valid address.
bool dotted_address(const char *text, in_addr_t *addr) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    for (const char *p = text; *p != '\0'; ++p) {
        if ((*p < '0' || *p > '9') && *p != '.') {
            return false;
        }
    }
    struct in_addr in;
    if (inet_aton(text, &in) == 0) {
        return false;
    }
    *addr = in.s_addr;
    return true;
}

bool any_local(const std::vector<in_addr_t> &addrs, size_t limit) {
    for (size_t i = 0; i < addrs.size() && i < limit; ++i) {
        if (is_local_addr(local_list, addrs[i]) != 0) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::string> check_required_interface(in_addr_t *addr) {
    if (addr != nullptr) {
        *addr = 0;
    }
    gather_once();
    if (local_list.count <= 0) {
        return std::nullopt;
    }
    read_configs();
    const char *value = superuser() ? nullptr : text_of(users_config.REQUIRED_INTERFACE);
    if (value == nullptr) {
        value = text_of(master_config.REQUIRED_INTERFACE);
    }
    if (value == nullptr) {
        req_if.resolved = false;
        return std::nullopt;
    }
    if (strcmp(value, req_if.configured) != 0) {
        T_strlcpy(req_if.configured, value, sizeof req_if.configured);
        req_if.name[0] = '\0';
        req_if.addr = 0;
        req_if.resolved = false;
        req_if.failed = false;
    }
    if (req_if.resolved) {
        if (addr != nullptr) {
            *addr = req_if.addr;
        }
        return std::string(req_if.name);
    }
    if (req_if.failed) {
        return std::nullopt;
    }

    in_addr_t a = 0;
    if (!dotted_address(value, &a)) {
        const struct hostent *h = retry_gethostbyname(value, 3, 1, nullptr, 0);
        if (h != nullptr && h->h_addrtype == AF_INET && h->h_length == 4 &&
            h->h_addr_list != nullptr && h->h_addr_list[0] != nullptr) {
            memcpy(&a, h->h_addr_list[0], sizeof a);
            if (is_local_addr(local_list, a) != 0) {
                T_strlcpy(req_if.name, value, sizeof req_if.name);
                req_if.addr = a;
                req_if.resolved = true;
                if (addr != nullptr) {
                    *addr = a;
                }
                return std::string(req_if.name);
            }
        }
    } else if (is_local_addr(local_list, a) != 0) {
        const struct hostent *h = retry_gethostbyaddr(&a, sizeof a, AF_INET, 3, 1, nullptr, 0);
        if (h != nullptr && h->h_name != nullptr) {
            T_strlcpy(req_if.name, h->h_name, sizeof req_if.name);
            req_if.addr = a;
            req_if.resolved = true;
            if (addr != nullptr) {
                *addr = a;
            }
            return std::string(req_if.name);
        }
    }
    req_if.failed = true;
    return std::nullopt;
}

int kp_gethostname(char *buf, size_t size) {
    if (buf == nullptr || size < 1) {
        return -1;
    }
    if (cached_host[0] != '\0') {
        T_strlcpy(buf, cached_host, size);
        return 0;
    }
    const int rc = kp_netsys_get().host_name(cached_host, sizeof cached_host - 1);
    cached_host[sizeof cached_host - 1] = '\0';
    if (rc != 0) {
        cached_host[0] = '\0';
        return rc;
    }
    gather_once();
    if (local_list.count > 0) {
        in_addr_t a = 0;
        std::optional<std::string> required = check_required_interface(&a);
        if (required.has_value()) {
            T_strlcpy(cached_host, required->c_str(), sizeof cached_host);
        } else {
            read_configs();
            const bool user = !superuser();
            const char *candidates[] = {
                user ? first_server(users_config) : nullptr,
                first_server(master_config),
                user ? text_of(users_config.CLIENT_NAME) : nullptr,
                text_of(master_config.CLIENT_NAME),
            };
            for (const char *c : candidates) {
                if (c != nullptr && is_local_host(local_list, c) != 0) {
                    T_strlcpy(cached_host, c, sizeof cached_host);
                    break;
                }
            }
        }
    }
    T_strlcpy(buf, cached_host, size);
    return cached_host[0] != '\0' ? 0 : -1;
}

std::optional<std::string> kp_client_name() {
    read_configs();
    const char *name = superuser() ? nullptr : text_of(users_config.CLIENT_NAME);
    if (name == nullptr) {
        name = text_of(master_config.CLIENT_NAME);
    }
    if (name != nullptr) {
        return std::string(name);
    }
    char host[HOST_NAME_SIZE];
    if (kp_gethostname(host, sizeof host) == 0) {
        return std::string(host);
    }
    return std::nullopt;
}

int db_getservername(char *buf, size_t size) {
    if (buf == nullptr || size == 0) {
        return KP_NO_HOSTNAME;
    }
    ReadHostConfigA(&master_config, nullptr);
    const char *server = first_server(master_config);
    if (server != nullptr) {
        T_strlcpy(buf, server, size);
        return KP_OK;
    }
    char host[HOST_NAME_SIZE];
    errno = 0;
    if (kp_gethostname(host, sizeof host) != 0) {
        const int err = errno;
        host_log("db_getservername", "gethostname(): %s (%d)", strerror(err), err);
        buf[0] = '\0';
        return KP_NO_HOSTNAME;
    }
    T_strlcpy(buf, host, size);
    return KP_OK;
}

int hosts_equal(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) {
        return 0;
    }
    if (strcasecmp(a, b) == 0) {
        return 1;
    }
    char err[32];
    const struct hostent *h = retry_gethostbyname(a, 3, 1, err, sizeof err);
    if (h == nullptr) {
        host_log("hosts_equal", "gethostbyname failed for %s: %s (%d)", a, err, h_errno);
        return 0;
    }
    const host_info ha = copy_host(h);
    h = retry_gethostbyname(b, 3, 1, err, sizeof err);
    if (h == nullptr) {
        host_log("hosts_equal", "gethostbyname failed for %s: %s (%d)", b, err, h_errno);
        return 0;
    }
    const host_info hb = copy_host(h);

    // Up to four addresses of each take part.
    constexpr size_t MAX_ADDRS = 4;
    gather_once();
    if (any_local(ha.addrs, MAX_ADDRS) && any_local(hb.addrs, MAX_ADDRS)) {
        return 1;
    }

    if (strcasecmp(ha.name.c_str(), hb.name.c_str()) == 0) {
        return 1;
    }
    // Each official name against the other's aliases. The entries were
    // copied, so a's aliases need no second lookup.
    auto against_aliases = [](const host_info &one, const host_info &other) {
        if (other.aliases.empty() && he_verbose != 0) {
            host_log("hosts_equal", "there were NO aliases for %s", other.name.c_str());
        }
        for (const std::string &alias : other.aliases) {
            if (he_verbose != 0) {
                host_log("hosts_equal", "compare %s with alias %s", one.name.c_str(),
                         alias.c_str());
            }
            if (strcasecmp(one.name.c_str(), alias.c_str()) == 0) {
                return true;
            }
        }
        return false;
    };
    if (against_aliases(ha, hb) || against_aliases(hb, ha)) {
        return 1;
    }
    if (he_verbose != 0) {
        logmsg(LOG_SEV_ERROR, "hostnames DO NOT compare", "hosts_equal");
        host_log("hosts_equal", "name1=%s  name2=%s", a, b);
        host_log("hosts_equal", "hostbuf=%s  hostentry->h_name=%s", ha.name.c_str(),
                 hb.name.c_str());
    }

    for (size_t i = 0; i < ha.addrs.size() && i < MAX_ADDRS; ++i) {
        for (size_t j = 0; j < hb.addrs.size() && j < MAX_ADDRS; ++j) {
            if (ha.addrs[i] == hb.addrs[j]) {
                return 1;
            }
            if (he_verbose != 0) {
                logmsg(LOG_SEV_ERROR, "addresses DO NOT match", "hosts_equal");
                host_log("hosts_equal", "%s=0x%x %s=0x%x", a, ntohl(ha.addrs[i]), b,
                         ntohl(hb.addrs[j]));
            }
        }
    }
    return 0;
}

void kp_forget_host_identity() {
    cached_host[0] = '\0';
    local_list = local_addr_list{};
    req_if = required_interface{};
    local_addrs_forget();
    master_config = kp_config{};
    users_config = kp_config{};
}
