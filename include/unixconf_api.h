// The configuration files: the host file below the product root and the
// user's own kp.conf in the home directory, read under the user's own ids.
//
// Texts are handed over whole in a std::string (terminated, writable through
// data(), so ParseConfigExA can cut it while it reads). Results are the
// client-library status codes of kp_status.h.
#pragma once

#include "kp_status.h"
#include "kpconf_api.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// The two process-wide configuration records: the host file's and the
// user's (the host file's values again when the user has no file). Each is
// read once, by ReadHostConfigA(&master_config, nullptr) and
// ReadUsersConfigA(&users_config, nullptr, nullptr).
extern kp_config master_config;
extern kp_config users_config;

// A home-directory override for the user file, empty unless the embedding
// program sets it (xkp never does).
extern std::string HOME;

// Reads the whole file. 0 with *text; 110 when it cannot be opened, is not a
// regular file or is empty; 10 when memory runs out; 13 when it cannot be
// read completely ("Cannot read file %s" is logged).
int ReadConfigFile(const char *path, std::string *text);

// The host file, product_host_config() (".../sorvane/kp.conf").
int getLocalHostConfigImage(std::string *text);

// The user's kp.conf (user nullptr: the effective user), read under the
// user's ids, or the host file when the user has no home directory or no
// file there. 12 when the user file cannot be examined for another reason
// than its absence; 30, 31 or 32 when the switch to the user fails.
int getLocalUsersConfigImage(const char *user, std::string *text);

// The effective user's name from the password database.
std::optional<std::string> TgetUserName();

// The user's home directory (user nullptr: HOME when set, else the
// effective user's). "root" has none for this purpose.
std::optional<std::string> getUserHome(const char *user);

// Switches the effective group id and then the effective user id (and, when
// permitted, the supplementary groups) to those of the user; nullptr: no
// switch, 0. 30 unknown user, 32 group id, 31 user id. Effective ids only,
// so that restoreUser can switch back.
int becomeUser(const char *user);

// The ids to return to after becomeUser.
struct kp_saved_ids {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
    bool groups_saved;
};
kp_saved_ids rememberUser();
void restoreUser(const kp_saved_ids &saved);
