// The IPv4 addresses of the local host, and host lookups with retries.
//
// The system calls behind them (host name, name service, interface list,
// netstat) go through kp_netsys, so tests can put recorded answers in their
// place; by default they are the system's own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

// The local addresses in network byte order, without duplicates; count is
// -1 until the list has been gathered, then the number of addresses.
struct local_addr_list {
    std::vector<in_addr_t> addr;
    int count = -1;
};

// Gathers the local addresses: the host name's addresses, 127.0.0.1, every
// configured interface's address (netstat when the interfaces yield none).
// After the first successful gathering a process-wide copy answers instead.
// 0, or -1 when memory runs out (list emptied, count 0).
int get_local_addrs(local_addr_list *list);

// 1 when addr (network byte order) is in the list, else 0.
int is_local_addr(const local_addr_list &list, in_addr_t addr);

// 1 when any IPv4 address of name is in the list (one lookup), else 0.
int is_local_host(const local_addr_list &list, const char *name);

// The system's lookups, tried up to `tries` times (at least once) while the
// failure is temporary, `pause` seconds apart. On failure errbuf (when given)
// receives the error's name, cut to errsize. The reverse lookup takes at
// most 16 address bytes. The result is the system's static entry.
struct hostent *retry_gethostbyname(const char *name, int tries, int pause, char *errbuf,
                                    size_t errsize);
struct hostent *retry_gethostbyaddr(const void *addr, socklen_t len, int family, int tries,
                                    int pause, char *errbuf, size_t errsize);

// "HOST_NOT_FOUND", "TRY_AGAIN", "NO_RECOVERY", "NO_ADDRESS" or
// "?undefined error?".
const char *host_error_name(int err);

// The address of a netstat -i -n line: its fourth field when it starts with a
// digit, holds a dot and parses as a dotted address. 1 with *addr, else 0.
int netstat_line_addr(const char *line, in_addr_t *addr);

// Diagnostic stream of the address functions; nullptr (the default) is off.
// Lines read "function.line: name = text" or "... = number 0xnumber".
extern FILE *local_addrs_trace;

// The system interface behind host identity.
struct kp_netsys {
    int (*host_name)(char *buf, size_t size);     // gethostname
    struct hostent *(*by_name)(const char *name); // sets h_errno
    struct hostent *(*by_addr)(const void *addr, socklen_t len, int family);
    // Appends every configured interface's IPv4 address (network order,
    // zeros included); the number appended, or -1 when the query fails.
    int (*interface_addrs)(std::vector<in_addr_t> *out);
    const char *const *netstat_paths;    // null-terminated candidates
    unsigned (*pause)(unsigned seconds); // sleep
};

// The interface in force; kp_netsys_set(nullptr) restores the system's.
const kp_netsys &kp_netsys_get();
void kp_netsys_set(const kp_netsys *sys);
const kp_netsys &kp_netsys_system();

// Drops the process-wide copy of the local addresses.
void local_addrs_forget();
