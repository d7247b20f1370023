// The configuration table of kp.conf and its parser.
//
// kp.conf is a list of "KEY = value" lines. Every known key has a row in
// configDefinition (174 rows) giving its names, the field of the configuration
// record it fills, its data type, attributes, type argument and type table.
// ParseConfigExA reads a text into a kp_config record; every problem is
// reported through logmsg (level 2) with its line number and the line is
// skipped, so one bad line never spoils the rest of a file.
//
// The record owns its texts and lists through standard containers: a String
// field is absent (std::nullopt) when unset, a Struct field is absent until a
// value is read, a List field is a vector of records in file order.
#pragma once

#include "kp_status.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// ---------------------------------------------------------------- value types

using kp_string = std::optional<std::string>;

// One field of a Struct record or of a List element: an integer (Int, Enum,
// Flags, IPAddr) or a text (String).
using kp_value = std::variant<int32_t, kp_string>;

// A Struct value or a List element: its fields in the order of the struct's
// field list.
struct kp_record {
    std::vector<kp_value> field;

    // Field i as an integer; 0 when there is no such integer field.
    int32_t num(size_t i) const;
    // Field i as a text; nullptr when absent or not a text field.
    const char *text(size_t i) const;

    bool operator==(const kp_record &) const = default;
};

using kp_struct = std::optional<kp_record>;
using kp_list = std::vector<kp_record>;

// --------------------------------------------------------- the configuration

// One field per key, in the order of configDefinition, after the "loaded"
// word. Members carry the key names, so users_config.CLIENT_NAME is the value
// of CLIENT_NAME. Lists of one word or one text (SERVER, Exclude ...) keep the
// word in field 0 of each element: cfg.SERVER[0].text(0) is the master server.
// A default-constructed record is the zeroed record.
struct kp_config {
    int32_t loaded = 0; // set when a parse read a value into the record
    kp_list SERVER;
    kp_list KNOWN_MASTER;
    kp_list MASTER_OF_MASTERS;
    kp_string USEMAIL;
    kp_string KPBACKUP_POLICY;
    kp_string KPBACKUP_SCHED;
    kp_string KPARCHIVE_POLICY;
    kp_string KPARCHIVE_SCHED;
    kp_string CLIENT_NAME;
    kp_string REQUIRED_INTERFACE;
    kp_list COMPRESS_SUFFIX;
    int32_t BELIEVE_MOUNTS = 0;
    int32_t VERBOSE = 0;
    int32_t KPDBM_VERBOSE = 0;
    int32_t KPRD_VERBOSE = 0;
    int32_t KPSCHED_VERBOSE = 0;
    int32_t KPBRM_VERBOSE = 0;
    int32_t KPTM_VERBOSE = 0;
    int32_t KPDM_VERBOSE = 0;
    int32_t HOLDFAST_VERBOSE = 0;
    int32_t MEGABYTES_OF_MEMORY = 0;
    int32_t RESTORE_RETRIES = 0;
    int32_t MUST_USE_LOCAL_DRIVE = 0;
    int32_t WAIT_IN_QUEUE = 0;
    int32_t QUEUE_ON_ERROR = 0;
    int32_t TIMEOUT_IN_QUEUE = 0;
    int32_t RE_READ_INTERVAL = 0;
    kp_string LOCKED_FILE_ACTION;
    int32_t SLAVE_CONNECT_TIMEOUT = 0;
    int32_t CLIENT_CONNECT_TIMEOUT = 0;
    int32_t CLIENT_READ_TIMEOUT = 0;
    int32_t KPTM_QUERY_TIMEOUT = 0;
    int32_t APOLLO_RESTORE_TIMEOUT = 0;
    int32_t KPSTART_TIMEOUT = 0;
    int32_t KPEND_TIMEOUT = 0;
    int32_t LIST_FILES_TIMEOUT = 0;
    int32_t MAX_APOLLO_RESTORE_ARG_CHARS = 0;
    int32_t ALLOW_MEDIA_OVERWRITE = 0;
    int32_t KEEP_DATABASE_COMM_FILE = 0;
    kp_string ORACLE_HOME;
    kp_string INFORMIX_HOME;
    kp_string SYBASE_HOME;
    kp_string EXCHANGE_HOME;
    kp_string SQL_SERVER_HOME;
    kp_string SAP_HOME;
    kp_string DB2_HOME;
    kp_string NDMP_HOME;
    kp_string MEDIA_ID_PREFIX;
    int32_t DISABLE_STANDALONE_DRIVE_EXTENSIONS = 0;
    int32_t ALLOW_MULTIPLE_RETENTIONS_PER_MEDIA = 0;
    int32_t DISALLOW_BACKUPS_SPANNING_MEDIA = 0;
    int32_t MEDIA_REQUEST_DELAY = 0;
    int32_t MEDIA_UNMOUNT_DELAY = 0;
    int32_t MPX_RESTORE_DELAY = 0;
    int32_t DISABLE_JOB_LOGGING = 0;
    int32_t DISALLOW_SERVER_FILE_WRITES = 0;
    int32_t DO_NOT_RESET_FILE_ACCESS_TIME = 0;
    int32_t USE_CTIME_FOR_INCREMENTALS = 0;
    int32_t BUSY_FILE_PROCESSING = 0;
    kp_string BUSY_FILE_DIRECTORY;
    kp_string BUSY_FILE_NOTIFY_USER;
    kp_list BUSY_FILE_ACTION;
    kp_list LIMIT_BANDWIDTH;
    int32_t INITIAL_BROWSE_SEARCH_LIMIT = 0;
    int32_t ALLOW_NON_RESERVED_PORTS = 0;
    kp_string CRYPT_KEYFILE;
    kp_string CRYPT_LIBPATH;
    int32_t CRYPT_OPTION = 0;
    int32_t CRYPT_STRENGTH = 0;
    int32_t DISALLOW_CLIENT_LIST_RESTORE = 0;
    int32_t DISALLOW_CLIENT_RESTORE = 0;
    int32_t ALLOW_BLOCK_INCREMENTALS = 0;
    kp_list FORCE_RESTORE_MEDIA_SERVER;
    kp_list FAILOVER_RESTORE_MEDIA_SERVERS;
    int32_t ALLOW_NDMP = 0;
    int32_t ALLOW_ENCRYPTION = 0;
    int32_t ALLOW_BRISKCOPY = 0;
    int32_t NFS_ACCESS_TIMEOUT = 0;
    int32_t USE_CTIME_FOR_DIRECTORY_INCRS = 0;
    int32_t AUTO_CORRECT_POLICY = 0;
    int32_t SERVER_SENDS_MAIL = 0;
    int32_t Debug_Database = 0;
    int32_t ALLOW_SPLIT_MIRROR = 0;
    int32_t ALLOW_DISASTER_RECOVERY = 0;
    int32_t KEEP_LOGS_DAYS = 0;
    kp_string PREFERRED_GROUP;
    kp_list AUTHORIZE_SERVER;
    int32_t RANDOM_PORTS = 0;
    kp_string LOTUS_NOTES_PATH;
    kp_string LOTUS_NOTES_INI;
    kp_string LOTUS_NOTES_USERID;
    kp_string LOTUS_NOTES_EXECDIR;
    kp_struct CLIENT_RESERVED_PORT_WINDOW;
    kp_struct SERVER_RESERVED_PORT_WINDOW;
    kp_struct CLIENT_PORT_WINDOW;
    kp_struct SERVER_PORT_WINDOW;
    int32_t ALLOW_TPC = 0;
    kp_list CONNECT_OPTIONS;
    int32_t REQUEST_DELIVERY_TIMEOUT = 0;
    kp_list MEDIA_SERVER;
    int32_t DISABLE_SCSI_RESERVE = 0;
    int32_t Time_Overlap = 0;
    int32_t Buffer_Size = 0;
    int32_t Use_Archive_Bit = 0;
    int32_t Perform_Default_Search = 0;
    int32_t Accumulate_Files = 0;
    int32_t User_Directed_Timeout = 0;
    int32_t Announce_DHCP_Interval = 0;
    int32_t Clear_Archive_Bit_Incr_Wait = 0;
    kp_list Exclude;
    kp_list Include;
    kp_string Browser;
    kp_list Clients;
    int32_t Port_KPCD = 0;
    int32_t Port_KPRD = 0;
    int32_t Debug_Flush = 0;
    int32_t Debug_Heap = 0;
    int32_t Debug_Level = 0;
    int32_t Debug_TCP = 0;
    int32_t OTM_Cache_Control = 0;
    kp_string OTM_Cache_File;
    int32_t OTM_Cache_Size_Init = 0;
    int32_t OTM_Cache_Size_Max = 0;
    int32_t OTM_Error_Control = 0;
    int32_t OTM_Logging = 0;
    int32_t OTM_Quiescent_Wait = 0;
    int32_t OTM_Quiescent_Timeout = 0;
    int32_t OTM_Current = 0;
    kp_string OTM_Exclude;
    int32_t OTM_Sync_Timeout = 0;
    int32_t OTM_Use = 0;
    kp_string TSP_CacheVols;
    kp_string TSP_Exclude;
    int32_t TSP_Cache_Size_Init = 0;
    int32_t TSP_Cache_Size_Max = 0;
    int32_t TSP_Error_Control = 0;
    int32_t TSP_Logging = 0;
    int32_t TSP_Quiescent_Wait = 0;
    int32_t TSP_Quiescent_Timeout = 0;
    int32_t TSP_Current = 0;
    int32_t TSP_Sync_Timeout = 0;
    int32_t TSP_Use = 0;
    int32_t Error_Messages_Max = 0;
    int32_t Policy_Type = 0;
    int32_t Client_Version = 0;
    int32_t Case_Sensitive_Exclude_List = 0;
    int32_t Compress_Use = 0;
    int32_t Compress_Buffer_Size = 0;
    int32_t Compress_Minimum_Size = 0;
    int32_t NW_Migrated_Files = 0;
    int32_t NW_Uncompress = 0;
    kp_string EXCHANGE_MAILBOX;
    int32_t Cluster_Database_Force_Restore = 0;
    int32_t Port_KPCD_NCB = 0;
    int32_t GENERATE_ENGLISH_LOGS = 0;
    int32_t KEEP_HOLDFAST_SESSIONS_DAYS = 0;
    int32_t KEEP_JOBS_SUCCESSFUL_HOURS = 0;
    int32_t KEEP_JOBS_HOURS = 0;
    kp_list KPDBJOBS_COLDEFS;
    int32_t DB_PORT = 0;
    int32_t ENABLE_PERFORMANCE_DATA_COLLECTION = 0;
    int32_t CHECKSUM1 = 0;
    int32_t CHECKSUM2 = 0;
    kp_struct DASHBOARD_PORT_WINDOW;
    int32_t UNLINK_ON_OVERWRITE = 0;
    int32_t SKIP_RESTORE_TO_SYMLINK_DIR = 0;
    int32_t CHECK_RESTORE_CLIENT = 0;
    int32_t OLD_TNETD_CALLBACK = 0;

    bool operator==(const kp_config &) const = default;
};

constexpr int KPCONF_KEYS = 174;

// Where each key was last defined in the text being parsed: the line number,
// negated when the definition had an empty value, 0 when not seen. Indexed by
// the row of configDefinition.
struct kp_config_lines {
    int32_t loaded = 0; // set when a parse starts
    int32_t line[KPCONF_KEYS] = {};
};

// ---------------------------------------------------------- the type system

enum kp_data_type : int {
    CONF_INT = 0,
    CONF_ENUM = 1,
    CONF_FLAGS = 2,
    CONF_IPADDR = 3,
    CONF_STRING = 4,
    CONF_STRUCT = 5,
    CONF_LIST = 6,
    CONF_OBSOLETE = 255,
};

// Row attributes.
constexpr unsigned CONF_SINGLE = 1;   // a second definition replaces the first and is reported
constexpr unsigned CONF_REQUIRED = 2; // an empty value is not passed to the reader
// Used only when configuration is written: the value is derived from the
// running user (BUSY_FILE_*) and is written out only when set explicitly.
constexpr unsigned CONF_DERIVED = 4;

// Token kinds of getConfigTokenA.
enum kp_token_kind : int {
    TOKEN_WORD = 0,         // ends at white space
    TOKEN_TO_EQUALS = 1,    // ends at "="
    TOKEN_REST_OF_LINE = 2, // ends at a newline
    TOKEN_TO_COMMA = 3,     // ends at ","
    TOKEN_QUOTED = 4,       // "text": must start with a double quote
    TOKEN_PARENS = 5,       // (group): nested pairs balanced
    TOKEN_BRACES = 6,       // {group}: nested pairs balanced
    TOKEN_ALL = 7,          // the whole remaining text
};

// Address classes accepted by an IPAddr value (a set of these bits).
constexpr uint32_t IPCLASS_A_HOST = 1u << 0;
constexpr uint32_t IPCLASS_A_NET = 1u << 1;
constexpr uint32_t IPCLASS_A_BCAST = 1u << 2;
constexpr uint32_t IPCLASS_B_HOST = 1u << 3;
constexpr uint32_t IPCLASS_B_NET = 1u << 4;
constexpr uint32_t IPCLASS_B_BCAST = 1u << 5;
constexpr uint32_t IPCLASS_C_HOST = 1u << 6;
constexpr uint32_t IPCLASS_C_NET = 1u << 7;
constexpr uint32_t IPCLASS_C_BCAST = 1u << 8;
constexpr uint32_t IPCLASS_D = 1u << 9;
constexpr uint32_t IPCLASS_E = 1u << 10;
constexpr uint32_t IPCLASS_LOOPBACK = 1u << 11;
constexpr uint32_t IPCLASS_ZEROS = 1u << 12;
constexpr uint32_t IPCLASS_ONES = 1u << 13;
constexpr uint32_t IPCLASS_ABC_HOST = IPCLASS_A_HOST | IPCLASS_B_HOST | IPCLASS_C_HOST;

// The class bit of an address given in host byte order.
uint32_t ipaddr_class(uint32_t host_order);

// Type argument of a row or of a struct field. Which members count depends on
// the type: Int and Enum/Flags take empty_value; String takes kind and
// max_len (0 = unlimited); IPAddr takes ip_classes; Struct and List take size
// (the number of fields of the record or element).
struct kp_type_arg {
    int32_t empty_value = 0;
    kp_token_kind kind = TOKEN_WORD;
    size_t max_len = 0;
    uint32_t ip_classes = 0;
    size_t size = 0;
};

// Range of an Int. Values outside it are replaced by the limit when
// `replace` is set, else they make the value badly formed.
struct kp_int_range {
    bool has_min;
    int32_t min;
    bool has_max;
    int32_t max;
    bool replace;
};

// What an Enum or Flags does with a value that is not one of its names.
enum kp_enum_policy : int {
    ENUM_NAMES_ONLY,     // badly formed
    ENUM_REPLACE_EMPTY,  // replaced by the empty-value argument
    ENUM_TRUTH,          // a number is a truth value: non-zero 1
    ENUM_INVERTED_TRUTH, // a number is an inverted truth value: zero 1
    ENUM_NEAREST,        // the nearest listed value
    ENUM_ANY_NUMBER,     // any number as it is
};

struct kp_enum_name {
    const char *name;
    int32_t value;
};

struct kp_enum_table {
    const kp_enum_name *names;
    size_t count;
    kp_enum_policy policy;
};

struct kp_type_table;

// One field of a Struct: its type, whether it is required, the kind of token
// it is read from, and its own type argument and table.
struct kp_field_def {
    kp_data_type type;
    bool required;
    kp_token_kind token;
    kp_type_arg arg;
    const kp_type_table *table;
};

struct kp_struct_def {
    const kp_field_def *fields;
    size_t count;
};

// A List definition: its element record, and the list being built by the
// current parse (the list tail), so that each definition of the key appends
// and the first one replaces a list that came from elsewhere.
struct kp_list_def {
    const kp_struct_def *element;
    kp_list *building = nullptr;
};

// The type table of a row or field: one member is used, by type.
struct kp_type_table {
    const kp_int_range *range = nullptr;   // Int (nullptr: any value)
    const kp_enum_table *names = nullptr;  // Enum, Flags
    const kp_struct_def *fields = nullptr; // Struct
    kp_list_def *list = nullptr;           // List
    const char *text = nullptr;            // String: the text of an empty value (nullptr: none)
};

// A pointer to one field of a configuration record or of a Struct record.
using kp_slot = std::variant<std::monostate, int32_t *, kp_string *, kp_struct *, kp_list *>;

// The field of kp_config a row fills (monostate for the obsolete keys).
using kp_member = std::variant<std::monostate, int32_t kp_config::*, kp_string kp_config::*,
                               kp_struct kp_config::*, kp_list kp_config::*>;

struct kp_config_def {
    const char *name;                // compared without regard to case
    const char *const *alternatives; // null-terminated, often empty
    kp_member field;
    kp_data_type type;
    unsigned attrs;
    kp_type_arg arg;
    kp_type_table table;
    int32_t default_num;      // Int, Enum, Flags, IPAddr
    const char *default_text; // String: the text; Struct: the value as written
};

extern const kp_config_def configDefinition[KPCONF_KEYS];

// The slot of row `row` in record cfg (monostate for obsolete rows).
kp_slot config_slot(kp_config *cfg, int row);

// ------------------------------------------------------------- the tokenizer

// A position in a text being read, and the last token cut out of it.
struct kp_cursor {
    char *next = nullptr;  // where reading continues
    char *token = nullptr; // the last token, terminated in place
    char *cut = nullptr;   // where its terminator was written
};

// Skips leading white space at cur->next and cuts out one token of `kind`:
// cur->token points at it, its trailing white space is cut off, and the
// character that ended it is replaced by a terminator and returned (0 at the
// end of the text) so the caller can put it back with putBackConfigTokenA;
// cur->next moves past the token and its delimiter. Returns -1 on error
// (a quoted text without quotes, unbalanced groups), leaving the text and
// cur->next as they were.
int getConfigTokenA(kp_cursor *cur, int kind);

// Writes back the character getConfigTokenA returned (nothing for 0 or -1).
void putBackConfigTokenA(kp_cursor *cur, int saved);

// ----------------------------------------------------------------- readers

// Every reader takes the cursor on the value text, the field to fill, the
// type argument, the type table and the line number (for messages). Result
// 0 (read), 10 (no memory) or 20 (badly formed). On success the cursor is left
// on whatever follows the value.
int readInt(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
            int line);
int readEnum(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
             int line);
int readFlags(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
              int line);
int readIPAddr(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
               int line);
int readString(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
               int line);
int readStruct(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
               int line);
int readList(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
             int line);

// Deep copies (0, or 10 when memory runs out) and deletions of owned values.
int copyString(kp_slot dst, kp_slot src);
int copyStruct(kp_slot dst, kp_slot src);
int copyList(kp_slot dst, kp_slot src);
void delString(kp_slot field);
void delStruct(kp_slot field);
void delList(kp_slot field);

// Type methods, indexed by kp_data_type (0 to 6). Int, Enum, Flags and IPAddr
// have no copy or delete. `format` appends the complete "KEY = value" lines
// that define the field's value (one per List element or Flags bit, none for
// an absent value); 0, or 10 when memory runs out.
struct kp_data_methods {
    int (*copy)(kp_slot dst, kp_slot src);
    int (*read)(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
                int line);
    void (*del)(kp_slot field);
    int (*format)(const char *key, kp_slot field, const kp_type_arg *arg,
                  const kp_type_table *table, std::string *out);
};

extern const kp_data_methods configDataMethods[7];

// ------------------------------------------------------------ the interface

// Enables the redefinition warning; initially 1.
extern int VERBOSE_kpconf;

// The record the last non-continuing parse filled.
extern kp_config *prev_kp_config;

// Parse modes.
constexpr int PARSE_EMPTY_DEFINES = 1; // an empty value of a value-required key is recorded
constexpr int PARSE_CONTINUE = 2;      // keep the line numbers and list tails of the last parse
constexpr int PARSE_STRICT = 4;        // report errors through the result

// Parses text into cfg (nullptr: the record of the previous call) recording
// line numbers into lines (nullptr: an internal record). The text is cut
// while it is read and restored before returning. Result 0; with
// PARSE_STRICT 20 for an unknown or obsolete key, or the reader's code for a
// failed value; 10 (no memory) always. With no record at all, 20.
int ParseConfigExA(char *text, kp_config *cfg, kp_config_lines *lines, int mode);

// Row of the key (name or alternative, case ignored); -1 unknown, -2 obsolete.
int getConfigIndexA(const char *name);

// Fills BUSY_FILE_NOTIFY_USER and BUSY_FILE_DIRECTORY of the default record
// from the running user when they are still empty, then copies the default
// record into cfg. 0, or 10 when memory runs out.
int getDefaultConfig(kp_config *cfg);

// Zeroes lines (when given) and copies the defaults into cfg.
int InitConfig(kp_config *cfg, kp_config_lines *lines);

// Deep copy; on failure dst is zeroed and the result is 10.
int CopyConfig(kp_config *dst, const kp_config *src);

// Deletes every owned value and zeroes the record. The process-wide records
// (master_config, users_config, the default record) are left alone while
// they are not loaded.
void FreeConfig(kp_config *cfg);

// Appends the "KEY = value" lines of every key whose value differs from the
// default record (every key when all is set) to out; 0 or 10.
int FormatConfigA(const kp_config *cfg, bool all, std::string *out);

// ------------------------------------------------------ the configuration files

// When cfg is not loaded yet: fills it with the defaults, reads the host file
// (unixconf_api.h) and parses it with PARSE_EMPTY_DEFINES. 0; 111 when the
// host file names no SERVER; 110, 10 or 13 when it cannot be read (cfg then
// stays at its defaults and not loaded). A loaded record is left as it is: 0.
int ReadHostConfigA(kp_config *cfg, kp_config_lines *lines);

// The same with the user's file (user nullptr: the effective user), read
// under the user's ids; a user without a file gets the host file. A missing
// or empty file counts as success and marks cfg loaded with the defaults.
int ReadUsersConfigA(kp_config *cfg, kp_config_lines *lines, const char *user);
