// Host identity: the client's name, the master server, whether two names
// denote the same host, and the configured network interface.
//
// The answers come from the configuration (master_config, users_config of
// unixconf_api.h), the name service and the local addresses
// (local_addrs.h). They are worked out on first use and kept for the run.
#pragma once

#include <cstddef>
#include <netinet/in.h>
#include <optional>
#include <string>

// When set, hosts_equal logs its steps (debug log, level 2). Off by default.
extern int he_verbose;

// The client's name: CLIENT_NAME of the user's file (read only when the
// effective user is not the superuser), else CLIENT_NAME of the host file,
// else kp_gethostname; nothing when even that fails.
std::optional<std::string> kp_client_name();

// The local host name into buf (at most size-1 characters, terminated): a
// configured name that denotes this machine (REQUIRED_INTERFACE, then the
// user's and the host's first SERVER, then their CLIENT_NAME) when there is
// one, else the system's name. 0; -1 for a size below 1; otherwise the
// failure of the system's host-name query. Cached after the first call.
int kp_gethostname(char *buf, size_t size);

// The host name of the configured REQUIRED_INTERFACE when it denotes a local
// address, with that address (network byte order) in *addr; nothing (and
// *addr 0) otherwise.
std::optional<std::string> check_required_interface(in_addr_t *addr);

// The master server's name into buf (cut to size-1): the first SERVER of the
// host file, else the local host name. 0, or 11 when the host name cannot be
// determined ("gethostname(): %s (%d)" is logged).
int db_getservername(char *buf, size_t size);

// 1 when both names denote the same host, else 0.
int hosts_equal(const char *a, const char *b);

// Forgets every cached answer: the host name, the local addresses (and
// their process-wide copy), the required interface, and both configuration
// records. For tests and for a program that changes its configuration.
void kp_forget_host_identity();
