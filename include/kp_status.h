// Status codes returned by the client library (configuration, configuration
// files, host identity). Functions return them as plain integers.
#pragma once

constexpr int KP_OK = 0;
constexpr int KP_NO_MEMORY = 10;       // an allocation failed
constexpr int KP_NO_HOSTNAME = 11;     // the local host name cannot be determined
constexpr int KP_CANT_STAT_FILE = 12;  // the user file cannot be examined (not absent)
constexpr int KP_SHORT_READ = 13;      // a file could not be read completely
constexpr int KP_BAD_VALUE = 20;       // badly formed configuration value or key
constexpr int KP_UNKNOWN_USER = 30;    // no password entry for the user
constexpr int KP_CANT_SET_UID = 31;    // switching the user id failed
constexpr int KP_CANT_SET_GID = 32;    // switching the group id failed
constexpr int KP_NO_CONFIG_FILE = 110; // configuration file missing, unopenable or empty
constexpr int KP_NO_SERVER = 111;      // the host configuration names no SERVER
