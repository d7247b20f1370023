// Servers of the engine. A server NAME is a directory below the product
// root, sorvane/servers/NAME/ (or a user's own, server_env.h), holding:
//   repository   one line: the restic repository location (a path, or any
//                restic backend such as rest:... or sftp:...), mode 0600 as
//                a location may hold credentials
//   password     the repository password (mode 0600)
//   catalog.db   the catalog database (see catalog_db.h), mode 0600
//   lock         taken by the programs that write the catalog
//   cache/       restic's cache, when the directory is writable
#pragma once

#include <string>
#include <vector>

struct KpServer {
    std::string name;
    std::string dir;
    std::string repository_file;
    std::string password_file;
    std::string catalog_dir; // the catalog files of earlier versions (no longer written)
    std::string catalog_db;  // the catalog database
    std::string cache_dir;
    std::string lock_file;
};

// First value of KEY in the product's host configuration (sorvane/kp.conf,
// "KEY = value" lines, "#" comments), "" when absent.
std::string kpconf_value(const std::string &key);

// The master server: the first SERVER of the host configuration.
std::string default_server_name();

// This host's client name: CLIENT_NAME of the host configuration, else the
// host name.
std::string local_client_name();

// A server name is one path component of letters, digits, ".", "_", "-".
bool valid_server_name(const std::string &name);

// The directory of server NAME: the user's own (server_env.h,
// user_servers_dir) when there is one, else the product's.
std::string server_dir(const std::string &name);

// Resolves a server (the default one when name is empty). Returns 0;
// kpstatus::UNKNOWN_SERVER when no name is given and the configuration
// names none; kpstatus::NO_SERVER when the server has no directory or its
// files are missing. err says which.
int open_server(const std::string &name, KpServer &out, std::string &err,
                bool need_password = true);

// Creates the server directory, a random password and the catalog, and
// records the repository location (default: DIR/repo). Idempotent: an
// existing server is left as it is (created = false) as long as the
// location asked for matches the recorded one. The repository itself is
// initialised by the caller (kpadmin) through restic.
bool create_server_files(const std::string &name, const std::string &repository, bool &created,
                         std::string &err);

// Names of the servers that have a directory.
std::vector<std::string> list_server_names();

// The repository location recorded for a server.
std::string server_repository(const KpServer &s);

// The text without blanks, tabs and line ends at either end (a file of one
// line read whole).
std::string strip_blank_ends(const std::string &s);

// True when p is a directory (links followed).
bool is_directory(const std::string &p);
