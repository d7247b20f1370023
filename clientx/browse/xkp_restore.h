// Restore requests and the host options of the restore road.
#pragma once

// Host options: the names of the non-blank fields become current; -C, -D,
// -S and -server name those that differ from this client and the master
// server; the client type is set and -t, -ct rebuilt.
void set_special_options(const char *browse_client, const char *restore_client, const char *server,
                         int client_type);
// Browsing of the AFS name space: depth 3 from "/AFS/".
void set_AFS_options();
