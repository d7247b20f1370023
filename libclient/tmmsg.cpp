// Labels from the label file and the status texts of the command programs.

#include "tmmsg.h"

#include "c_owners.h"
#include "cmnutils.h"
#include "tmmsgcache.h"
#include "xkp_root.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

namespace {

// The process-wide label table: key -> the label line from column 13 on.
// Like a system hash table created for 1000 entries, it takes no more than
// that many keys, and a key already present keeps its first data. It is
// loaded from the first label file that opens and never reloaded.
std::unordered_map<std::string, std::string> label_table;
bool label_table_loaded = false;

char localized_ec[TM_LOCALIZED_EC_SIZE];

void load_label_table(FILE *in) {
    label_table.reserve(TM_LABEL_TABLE_ENTRIES);
    char *raw = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = getline(&raw, &cap, in)) >= 0) {
        std::string_view line(raw, static_cast<size_t>(n));
        if (!line.empty() && line.back() == '\n') {
            line.remove_suffix(1);
        }
        if (!line.empty() && line[0] == '#') {
            continue;
        }
        if (label_table.size() >= TM_LABEL_TABLE_ENTRIES) {
            continue; // the table is full: the entry is dropped
        }
        std::string key(line.substr(0, TM_KEY_LEN));
        std::string data(line.size() > 12 ? line.substr(12) : std::string_view());
        label_table.emplace(std::move(key), std::move(data));
    }
    std::unique_ptr<char, FreeDeleter> release(raw);
    label_table_loaded = true;
}

// Copies from data[from] up to the next double quote or the end, bounded.
// Returns the position of that quote (or data.size()).
size_t copy_quoted(const std::string &data, size_t from, char *out) {
    if (from >= data.size()) {
        out[0] = '\0';
        return data.size();
    }
    size_t end = data.find('"', from);
    if (end == std::string::npos) {
        end = data.size();
    }
    std::string piece = data.substr(from, end - from);
    T_strlcpy(out, piece.c_str(), TM_NAME_SIZE);
    return end;
}

} // namespace

void tmlbl_forget() {
    label_table.clear();
    label_table_loaded = false;
}

int tmgetlbl(const char *key, const char *locale, const char *deflabel, const char *defmnemonic,
             char *label, char *mnemonic) {
    T_strlcpy(label, deflabel != nullptr ? deflabel : "", TM_NAME_SIZE);
    T_strlcpy(mnemonic, defmnemonic != nullptr ? defmnemonic : "", TM_NAME_SIZE);
    if (key == nullptr || strlen(key) != TM_KEY_LEN || locale == nullptr || *locale == '\0' ||
        label == nullptr || mnemonic == nullptr) {
        return 0;
    }
    if (strncmp(key, "Gui", 3) != 0) {
        return 0; // only the "Gui" prefix has a label file
    }
    std::string path = product_path("msg") + "/" + locale + "/" +
                       lbl_product_dir(key[TM_KEY_LEN - 1]) + "/" + std::string(key, 3) + "Lbls";
    FilePtr in(fopen(path.c_str(), "r"));
    if (!in) {
        return 0;
    }
    if (!label_table_loaded) {
        load_label_table(in.get());
    }
    in.reset();
    auto it = label_table.find(key);
    if (it == label_table.end()) {
        return 0;
    }
    // The data starts with the label's opening quote; the mnemonic starts
    // three characters after the label's closing quote (quote, separator, quote).
    const std::string &data = it->second;
    size_t close = copy_quoted(data, 1, label);
    copy_quoted(data, close + 3, mnemonic);
    return 0;
}

const char *getECmsgl(int code, const char *locale) {
    if (code < 0 || code > TM_MAX_STATUS) {
        return "invalid error number";
    }
    const char *text = code < 256 ? errmsgstr[code] : ext_errmsgstr[code - 256];
    if (locale == nullptr) {
        return text;
    }
    char key[TM_KEY_LEN + 1];
    snprintf(key, sizeof key, "NecErr%.4dN", code);
    tmgetmsg(key, locale, sizeof localized_ec, localized_ec, nullptr, 0, nullptr, text);
    return localized_ec;
}

// Built-in status texts. Codes without an assigned meaning carry the filler
// "unimplemented error code" and their number.
const char *const errmsgstr[256] = {
    "the requested operation was successfully completed",                       // 0
    "the requested operation was partially successful",                         // 1
    "none of the requested files were backed up",                               // 2
    "the archive image was recorded but some originals could not be removed",   // 3
    "the originals of the archived files could not be removed",                 // 4
    "the restore failed to recover the requested files",                        // 5
    "the backup failed to back up the requested files",                         // 6
    "the archive failed to back up the requested files",                        // 7
    "the outcome of the request could not be determined",                       // 8
    "a required component of the product is not installed",                     // 9
    "memory allocation failed",                                                 // 10
    "a system call failed",                                                     // 11
    "file open failed",                                                         // 12
    "file read failed",                                                         // 13
    "file write failed",                                                        // 14
    "file close failed",                                                        // 15
    "the requested feature is not available",                                   // 16
    "pipe open failed",                                                         // 17
    "pipe close failed",                                                        // 18
    "the service entry could not be found",                                     // 19
    "invalid command parameter",                                                // 20
    "socket open failed",                                                       // 21
    "socket close failed",                                                      // 22
    "socket read failed",                                                       // 23
    "socket write failed",                                                      // 24
    "cannot connect on socket",                                                 // 25
    "client and server could not agree on the protocol",                        // 26
    "a child process was ended by a signal",                                    // 27
    "a new process could not be started",                                       // 28
    "a command could not be executed",                                          // 29
    "user information could not be read",                                       // 30
    "the user id of the process could not be set",                              // 31
    "the group id of the process could not be set",                             // 32
    "the notification mail could not be sent",                                  // 33
    "waiting for a child process failed",                                       // 34
    "a required directory could not be created",                                // 35
    "not enough memory to continue",                                            // 36
    "the request came from a server that is not configured",                    // 37
    "group information could not be read",                                      // 38
    "the client name does not match the configuration",                         // 39
    "network connection broken",                                                // 40
    "network connection timed out",                                             // 41
    "network read failed",                                                      // 42
    "an unexpected message was received",                                       // 43
    "network write failed",                                                     // 44
    "the request did not come from a reserved port",                            // 45
    "the server is not allowed access to this client",                          // 46
    "the host cannot be reached",                                               // 47
    "client hostname could not be found",                                       // 48
    "the client process did not start",                                         // 49
    "the client process ended abnormally",                                      // 50
    "timed out waiting for catalog information",                                // 51
    "timed out waiting for the storage to become ready",                        // 52
    "the request file could not be read",                                       // 53
    "timed out connecting to the client",                                       // 54
    "the client refused the remote command",                                    // 55
    "the client's network cannot be reached",                                   // 56
    "the client refused the connection",                                        // 57
    "can't connect to client",                                                  // 58
    "the client does not allow access from this server",                        // 59
    "the mount table could not be read",                                        // 60
    "the backup process was stopped",                                           // 61
    "the backup process ended abnormally",                                      // 62
    "the process was ended by a signal",                                        // 63
    "timed out waiting for the backup to start",                                // 64
    "timed out waiting for the storage to accept data",                         // 65
    "the storage did not confirm the start of the backup",                      // 66
    "the file list could not be read",                                          // 67
    "timed out waiting for the file list",                                      // 68
    "the file list holds an invalid entry",                                     // 69
    "an entry of the file list expanded to too many characters",                // 70
    "none of the files in the file list exist",                                 // 71
    "the client type does not match the configuration",                         // 72
    "the start notification script failed",                                     // 73
    "timed out waiting for the start notification script",                      // 74
    "timed out waiting for the end notification script",                        // 75
    "timed out reading a file",                                                 // 76
    "the requested system command returned a nonzero status",                   // 77
    "a file system command failed",                                             // 78
    "unimplemented error code 79",                                              // 79
    "the storage service is not running",                                       // 80
    "the storage catalog service is not running",                               // 81
    "the storage process was ended by a signal",                                // 82
    "the repository could not be opened",                                       // 83
    "the repository could not be written",                                      // 84
    "the repository could not be read",                                         // 85
    "the position in the repository could not be found",                        // 86
    "the repository could not be closed",                                       // 87
    "a snapshot of the file system could not be taken",                         // 88
    "shared memory could not be set up",                                        // 89
    "the storage received no data for the backup image",                        // 90
    "fatal SV media database error",                                            // 91
    "the image found in storage is not in the expected format",                 // 92
    "the storage holds a different repository than expected",                   // 93
    "the image could not be located in storage",                                // 94
    "the storage is not assigned to this host",                                 // 95
    "unable to allocate new media for backup, storage unit has none available", // 96
    "the requested storage is in use",                                          // 97
    "storage could not be requested",                                           // 98
    "the network data management backup failed",                                // 99
    "a system error occurred while processing the command",                     // 100
    "the mail pipe could not be opened",                                        // 101
    "the mail pipe could not be closed",                                        // 102
    "initialization failed, check the configuration file",                      // 103
    "invalid file pathname",                                                    // 104
    "file pathname exceeds the maximum length allowed",                         // 105
    "an invalid file pathname was found, the request cannot be processed",      // 106
    "too many arguments specified",                                             // 107
    "invalid date format specified",                                            // 108
    "invalid date specified",                                                   // 109
    "Cannot find the Sorvane configuration information",                        // 110
    "no entry was found in the server list",                                    // 111
    "no files specified in the file list",                                      // 112
    "unimplemented error code 113",                                             // 113
    "unimplemented error code 114",                                             // 114
    "unimplemented error code 115",                                             // 115
    "unimplemented error code 116",                                             // 116
    "unimplemented error code 117",                                             // 117
    "unimplemented error code 118",                                             // 118
    "unimplemented error code 119",                                             // 119
    "no configuration record was found for the requested operation",            // 120
    "no storage is defined for the requested storage unit",                     // 121
    "the specified device path does not exist",                                 // 122
    "the specified disk path is not a directory",                               // 123
    "the label of the storage could not be read",                               // 124
    "another process is using the requested resource",                          // 125
    "the configuration is inconsistent",                                        // 126
    "the configuration record could not be written",                            // 127
    "the image has already expired",                                            // 128
    "unimplemented error code 129",                                             // 129
    "a system error occurred",                                                  // 130
    "client is not validated to use the server",                                // 131
    "the user is not validated to use the server from this client",             // 132
    "invalid request",                                                          // 133
    "the server is too busy to process the request",                            // 134
    "the client is not validated to perform the requested operation",           // 135
    "unimplemented error code 136",                                             // 136
    "unimplemented error code 137",                                             // 137
    "unimplemented error code 138",                                             // 138
    "unimplemented error code 139",                                             // 139
    "the user is not the superuser",                                            // 140
    "the file path is not absolute",                                            // 141
    "the file does not exist",                                                  // 142
    "invalid command protocol",                                                 // 143
    "invalid command usage",                                                    // 144
    "the service is already running",                                           // 145
    "a bound socket could not be obtained",                                     // 146
    "the requested copy of the image was not found",                            // 147
    "the service could not start a process",                                    // 148
    "the request to the master server failed",                                  // 149
    "termination requested by administrator",                                   // 150
    "the backup of the catalog failed",                                         // 151
    "a required value is not set",                                              // 152
    "the server is not the master server",                                      // 153
    "the storage unit does not suit the request",                               // 154
    "the disk is full",                                                         // 155
    "a snapshot error was encountered",                                         // 156
    "suspension requested by administrator",                                    // 157
    "the lock file of the service could not be used",                           // 158
    "the licensed use has been exceeded",                                       // 159
    "authentication failed",                                                    // 160
    "the evaluation period has expired",                                        // 161
    "the license does not cover this server platform",                          // 162
    "the operation was requested by an unauthorized user",                      // 163
    "the storage could not be made available",                                  // 164
    "the image could not be copied",                                            // 165
    "the requested image could not be found",                                   // 166
    "the image could not be verified",                                          // 167
    "the storage is protected and cannot be overwritten",                       // 168
    "the storage has expired or is worn out",                                   // 169
    "the third-party copy failed",                                              // 170
    "the storage id is too long",                                               // 171
    "the storage header cannot be read, the storage may be damaged",            // 172
    "the backup header cannot be read, the storage may be damaged",             // 173
    "the storage manager encountered a system error",                           // 174
    "not all requested files were restored",                                    // 175
    "the storage could not be imported",                                        // 176
    "the storage could not be released",                                        // 177
    "the storage id is not in the storage catalog",                             // 178
    "the storage density does not match",                                       // 179
    "the restore extraction was successful",                                    // 180
    "the restore extraction received an invalid argument",                      // 181
    "the restore extraction received an invalid file name",                     // 182
    "the restore extraction received an invalid image",                         // 183
    "the restore extraction had an unexpected error",                           // 184
    "tar did not find all the files to be restored",                            // 185
    "the restore extraction received no data",                                  // 186
    "unimplemented error code 187",                                             // 187
    "unimplemented error code 188",                                             // 188
    "the server is not allowed to write to the client's file systems",          // 189
    "found no images or media matching the selection criteria",                 // 190
    "no images were processed successfully",                                    // 191
    "unimplemented error code 192",                                             // 192
    "unimplemented error code 193",                                             // 193
    "the client may run no jobs at this time",                                  // 194
    "the client backup was not attempted",                                      // 195
    "client backup was not attempted because backup window closed",             // 196
    "the schedule does not exist in the policy",                                // 197
    "no active policy has a schedule of the requested type for this client",    // 198
    "the operation is not allowed at this time",                                // 199
    "scheduler found no backups due to run",                                    // 200
    "handshaking with the server's request service failed",                     // 201
    "timed out connecting to the server's request service",                     // 202
    "the network of the server's request service cannot be reached",            // 203
    "the server's request service refused the connection",                      // 204
    "cannot connect to the server's request service",                           // 205
    "access to the server's request service was denied",                        // 206
    "the date of the client's last backup could not be found",                  // 207
    "the user's file list could not be read",                                   // 208
    "a message queue could not be created",                                     // 209
    "a message could not be received from the queue",                           // 210
    "the scheduler process was ended by a signal",                              // 211
    "a message could not be sent to the queue",                                 // 212
    "no storage units are available",                                           // 213
    "the scheduler is already running",                                         // 214
    "the global configuration could not be read",                               // 215
    "the retention settings could not be read",                                 // 216
    "the storage unit settings could not be read",                              // 217
    "the policy settings could not be read",                                    // 218
    "the required storage unit is not available",                               // 219
    "catalog system error",                                                     // 220
    "continue",                                                                 // 221
    "done",                                                                     // 222
    "an invalid entry was found",                                               // 223
    "conflicting options were given",                                           // 224
    "a text exceeds the allowed length",                                        // 225
    "the entity already exists",                                                // 226
    "no entity was found",                                                      // 227
    "the request cannot be processed",                                          // 228
    "events arrived out of order, the image is inconsistent",                   // 229
    "the policy does not exist",                                                // 230
    "the schedule windows overlap",                                             // 231
    "a protocol error occurred",                                                // 232
    "premature end of file",                                                    // 233
    "the communication was interrupted",                                        // 234
    "not enough buffer space",                                                  // 235
    "the client is not in any active policy",                                   // 236
    "the schedule is not in any active policy",                                 // 237
    "the catalog holds conflicting or damaged entries",                         // 238
    "the client is not in the policy",                                          // 239
    "the policy has no schedule of the right type",                             // 240
    "the schedule is of the wrong type for this request",                       // 241
    "the operation would duplicate an entry",                                   // 242
    "the client is not configured",                                             // 243
    "the main scheduler is already running",                                    // 244
    "the policy is not of the right client type",                               // 245
    "no active policy is of the right client type",                             // 246
    "the policy is not active",                                                 // 247
    "there are no active policies",                                             // 248
    "the file list is incomplete",                                              // 249
    "the image was not made with true image information",                       // 250
    "the true image information is empty",                                      // 251
    "the error status has been written to stderr",                              // 252
    "the catalog file of the image has been archived",                          // 253
    "server name not found in the kp.conf file",                                // 254
    "unimplemented error code 255",                                             // 255
};

const char *const ext_errmsgstr[57] = {
    "logic error encountered",                                   // 256
    "the job data could not be read",                            // 257
    "a child process failed for an unknown reason",              // 258
    "the duplication configuration file was not found",          // 259
    "a signal could not be sent",                                // 260
    "internal error in the duplication service",                 // 261
    "internal error in the duplication session",                 // 262
    "a session id could not be assigned",                        // 263
    "<unused error code>",                                       // 264
    "the session id file is empty or damaged",                   // 265
    "the duplication profile is not in the configuration",       // 266
    "the local host name could not be found",                    // 267
    "the session directory is missing or cannot be used",        // 268
    "no session id was found",                                   // 269
    "the process id could not be obtained",                      // 270
    "the configuration version does not match",                  // 271
    "a notification script failed",                              // 272
    "invalid job id",                                            // 273
    "no profile was specified",                                  // 274
    "a session is already running for this profile",             // 275
    "invalid session id",                                        // 276
    "the reports could not be printed",                          // 277
    "unimplemented error code",                                  // 278
    "unimplemented error code",                                  // 279
    "unimplemented error code",                                  // 280
    "the duplication failed",                                    // 281
    "cannot connect to the duplication service",                 // 282
    "errors occurred while the reports were made",               // 283
    "errors occurred while the reports were sent",               // 284
    "the duplication directory could not be found",              // 285
    "internal duplication error",                                // 286
    "the storage could not be ejected",                          // 287
    "only part of the storage was ejected",                      // 288
    "reports of sessions of different kinds cannot be combined", // 289
    "errors were found while ejecting storage",                  // 290
    "more storage was selected than the eject port holds",       // 291
    "the eject process could not start",                         // 292
    "the eject process was stopped",                             // 293
    "the backup of the catalog during duplication failed",       // 294
    "the eject process could not read the library's state",      // 295
    "nothing to do",                                             // 296
    "not all volumes are available to eject",                    // 297
    "the library is not ready to eject volumes",                 // 298
    "no eject port is available",                                // 299
    "the eject was not confirmed in time",                       // 300
    "the eject command failed",                                  // 301
    "the catalog backup on several volumes failed",              // 302
    "a storage manager command failed",                          // 303
    "the profile was not found",                                 // 304
    "more than one profile matches",                             // 305
    "the duplication was only partly successful",                // 306
    "the eject has already run for this session",                // 307
    "no images were duplicated",                                 // 308
    "a report was requested without an eject",                   // 309
    "invalid configuration for duplication to disk",             // 310
    "", // 311: never reached, codes above 310 are invalid
    "", // 312
};
