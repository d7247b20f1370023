// kpadmin commands of servers shared by many hosts: creating a server or
// attaching to an existing repository, exporting its keys, syncing its
// catalog cache, retention and expiry.
#pragma once

#include <string>
#include <vector>

// Each takes kpadmin's words (the command first) and returns its status.
int admin_init_server(const std::vector<std::string> &words);
int admin_export(const std::vector<std::string> &words);
int admin_sync(const std::vector<std::string> &words);
int admin_set_retention(const std::vector<std::string> &words);
int admin_expire(const std::vector<std::string> &words);
