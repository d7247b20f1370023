// What a server adds to its restic runs, for remote backends, and where a
// user keeps servers of their own.
//
// DIR/env      "NAME=VALUE" lines ("#" comments): variables given to restic
//              besides its cleaned environment: credentials of object
//              stores (AWS_*, B2_*, AZURE_*, GOOGLE_*), RESTIC_* settings,
//              SSH_AUTH_SOCK for sftp through an agent. It holds secrets:
//              the programs keep it 0600. PATH and LD_* are not taken.
// DIR/options  extra global restic options, one per line: "--cacert FILE",
//              "-o sftp.command=ssh -p 2222 host -s sftp", "--limit-upload
//              1000". A line "OPTION VALUE" is two arguments, split at the
//              first blank (the value may hold blanks); "--opt=value" or a
//              flag alone is one.
#pragma once

#include <string>
#include <vector>

#include "kpserver.h"

std::string server_env_file(const KpServer &s);
std::string server_options_file(const KpServer &s);

// Parses the texts of the two files (for restic's environment and command
// line).
std::vector<std::string> parse_server_env(const std::string &text);
std::vector<std::string> parse_server_options(const std::string &text);

// Adds the server's options to restic's arguments, its variables to
// restic's environment (replacing a variable of the same name).
void add_server_restic_options(const KpServer &s, std::vector<std::string> &argv);
void add_server_restic_environment(const KpServer &s, std::vector<std::string> &env);

// A user's own servers: $XDG_DATA_HOME/sorvane/servers, by default
// ~/.local/share/sorvane/servers; "" when neither variable is usable.
std::string user_servers_dir();
