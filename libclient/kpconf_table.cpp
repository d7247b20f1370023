// The key table of kp.conf: one row per key with its names, the field it
// fills, its data type and the type tables, and the lookup of a key by name.

#include "kpconf_api.h"

#include <algorithm>
#include <cctype>
#include <cstring>

// ------------------------------------------------------- the type tables

namespace {

constexpr const char *const no_alternatives[] = {nullptr};
constexpr const char *const alts_KPBACKUP_POLICY[] = {"KPBACKUP_CLASS", nullptr};
constexpr const char *const alts_KPARCHIVE_POLICY[] = {"KPARCHIVE_CLASS", nullptr};
constexpr const char *const alts_AUTO_CORRECT_POLICY[] = {"AUTO_CORRECT_CLASS", nullptr};
constexpr const char *const alts_Policy_Type[] = {"Class_Type", nullptr};

constexpr const kp_enum_name yes_no[] = {{"YES", 1}, {"NO", 0}, {"TRUE", 1}, {"FALSE", 0}};
// The inverted keys (DISALLOW_SERVER_FILE_WRITES, DO_NOT_RESET_FILE_ACCESS_TIME,
// USE_CTIME_FOR_INCREMENTALS, DISALLOW_CLIENT_LIST_RESTORE, DISALLOW_CLIENT_RESTORE)
// can be read two ways: the record holds the truth of the word written with
// only the default inverted, or the record holds the inverse of the word.
// We take the second: a field holds what this table gives ("YES" 0, "NO" 1),
// a number is the word's truth inverted the same way ("1" stores what "YES"
// stores), and the default 1 stands for "NO", the key's setting when it is
// absent (writes allowed, access times reset). Read the first way, the
// default 1 would make every host without the key behave as if it said YES.
// Neither xkp nor the engine reads these fields; a reader must take a field
// of 1 as the key's "NO".
constexpr const kp_enum_name no_yes[] = {{"YES", 0}, {"NO", 1}, {"TRUE", 0}, {"FALSE", 1}};
constexpr const kp_enum_name media_overwrite[] = {{"DBR", 1},      {"TAR", 2},      {"CPIO", 4},
                                                  {"ANSI", 8},     {"AOS/VS", 16},  {"MTF1", 32},
                                                  {"RS-MTF1", 64}, {"BE-MTF1", 128}};
constexpr const kp_enum_name crypt_option[] = {{"DENIED", -1}, {"ALLOWED", 0}, {"REQUIRED", 1}};
constexpr const kp_enum_name crypt_strength[] = {
    {"DES_40", 40}, {"DES40", 40}, {"DES_56", 56}, {"DES56", 56}};
constexpr const kp_enum_name otm_current[] = {{"YES", 1},   {"TRUE", 1},          {"NO", 0},
                                              {"FALSE", 0}, {"ALL_AVAILABLE", 2}, {"ALL", 2}};

template <size_t N> constexpr kp_enum_table names_of(const kp_enum_name (&n)[N], kp_enum_policy p) {
    return kp_enum_table{n, N, p};
}

constexpr const kp_enum_table yes_no_names = names_of(yes_no, ENUM_TRUTH);
constexpr const kp_enum_table no_yes_names = names_of(no_yes, ENUM_INVERTED_TRUTH);
constexpr const kp_enum_table media_overwrite_names = names_of(media_overwrite, ENUM_NAMES_ONLY);
constexpr const kp_enum_table crypt_option_names = names_of(crypt_option, ENUM_NEAREST);
constexpr const kp_enum_table crypt_strength_names = names_of(crypt_strength, ENUM_NEAREST);
constexpr const kp_enum_table otm_current_names = names_of(otm_current, ENUM_NEAREST);

constexpr const kp_int_range restore_retries_range{true, 0, true, 3, true};
constexpr const kp_int_range media_unmount_delay_range{false, 0, true, 1800, true};
constexpr const kp_int_range apollo_arg_chars_range{true, 1000, true, 26000, true};
constexpr const kp_int_range keep_jobs_hours_range{true, 3, true, 720, true};
constexpr const kp_int_range port_range{true, 0, true, 65535, true};
constexpr const kp_type_table port_table{.range = &port_range};

// Elements and records.
constexpr const kp_field_def word_fields[] = {
    {CONF_STRING, true, TOKEN_WORD, {.kind = TOKEN_WORD, .max_len = 256}, nullptr}};
constexpr const kp_field_def line_fields[] = {
    {CONF_STRING, true, TOKEN_REST_OF_LINE, {.kind = TOKEN_REST_OF_LINE}, nullptr}};
constexpr const kp_field_def known_master_fields[] = {
    {CONF_STRING, true, TOKEN_TO_COMMA, {.kind = TOKEN_TO_COMMA, .max_len = 256}, nullptr},
    {CONF_STRING,
     false,
     TOKEN_REST_OF_LINE,
     {.kind = TOKEN_REST_OF_LINE, .max_len = 256},
     nullptr}};
constexpr const kp_field_def server_pair_fields[] = {
    {CONF_STRING, true, TOKEN_WORD, {.kind = TOKEN_WORD, .max_len = 256}, nullptr},
    {CONF_STRING, true, TOKEN_WORD, {.kind = TOKEN_WORD, .max_len = 256}, nullptr}};
constexpr const kp_field_def bandwidth_fields[] = {
    {CONF_IPADDR, true, TOKEN_WORD, {.ip_classes = IPCLASS_ABC_HOST}, nullptr},
    {CONF_IPADDR, true, TOKEN_WORD, {.ip_classes = IPCLASS_ABC_HOST}, nullptr},
    {CONF_INT, true, TOKEN_WORD, {}, nullptr}};
constexpr const kp_field_def port_window_fields[] = {{CONF_INT, true, TOKEN_WORD, {}, &port_table},
                                                     {CONF_INT, true, TOKEN_WORD, {}, &port_table}};

template <size_t N> constexpr kp_struct_def struct_of(const kp_field_def (&f)[N]) {
    return kp_struct_def{f, N};
}

constexpr const kp_struct_def word_element = struct_of(word_fields);
constexpr const kp_struct_def line_element = struct_of(line_fields);
constexpr const kp_struct_def known_master = struct_of(known_master_fields);
constexpr const kp_struct_def server_pair = struct_of(server_pair_fields);
constexpr const kp_struct_def bandwidth_limit = struct_of(bandwidth_fields);
constexpr const kp_struct_def port_window = struct_of(port_window_fields);

// One list definition per List key: each holds that key's list tail.
kp_list_def list_SERVER{&word_element};
kp_list_def list_KNOWN_MASTER{&known_master};
kp_list_def list_MASTER_OF_MASTERS{&word_element};
kp_list_def list_COMPRESS_SUFFIX{&line_element};
kp_list_def list_BUSY_FILE_ACTION{&line_element};
kp_list_def list_LIMIT_BANDWIDTH{&bandwidth_limit};
kp_list_def list_FORCE_RESTORE_MEDIA_SERVER{&server_pair};
kp_list_def list_FAILOVER_RESTORE_MEDIA_SERVERS{&line_element};
kp_list_def list_AUTHORIZE_SERVER{&word_element};
kp_list_def list_CONNECT_OPTIONS{&line_element};
kp_list_def list_MEDIA_SERVER{&word_element};
kp_list_def list_Exclude{&line_element};
kp_list_def list_Include{&line_element};
kp_list_def list_Clients{&word_element};
kp_list_def list_KPDBJOBS_COLDEFS{&line_element};

} // namespace

// ------------------------------------------------------------------ the table
//
// Row shapes. The member of kp_config and the key name are spelled once, so
// they cannot drift apart.

namespace {

constexpr kp_type_arg empty_arg(int32_t value) {
    kp_type_arg a;
    a.empty_value = value;
    return a;
}
constexpr kp_type_arg string_arg(kp_token_kind kind, size_t max_len) {
    kp_type_arg a;
    a.kind = kind;
    a.max_len = max_len;
    return a;
}
constexpr kp_type_arg size_arg(size_t size) {
    kp_type_arg a;
    a.size = size;
    return a;
}
constexpr kp_type_table names_table(const kp_enum_table *names) {
    kp_type_table t;
    t.names = names;
    return t;
}
constexpr kp_type_table range_table(const kp_int_range *range) {
    kp_type_table t;
    t.range = range;
    return t;
}
constexpr kp_type_table fields_table(const kp_struct_def *fields) {
    kp_type_table t;
    t.fields = fields;
    return t;
}
constexpr kp_type_table list_table(kp_list_def *list) {
    kp_type_table t;
    t.list = list;
    return t;
}

} // namespace

#define ROW(name_, alts_, type_, attrs_, arg_, table_, num_, text_)                                \
    { #name_, alts_, &kp_config::name_, type_, attrs_, arg_, table_, num_, text_ }
// Lists: each definition of the key appends one element.
#define LIST_OF(name_, size_)                                                                      \
    ROW(name_, no_alternatives, CONF_LIST, CONF_REQUIRED, size_arg(size_),                         \
        list_table(&list_##name_), 0, nullptr)
#define LIST_WORD(name_) LIST_OF(name_, 1)
#define LIST_LINE(name_) LIST_OF(name_, 1)
#define STRING_A(name_, alts_, kind_, max_, def_)                                                  \
    ROW(name_, alts_, CONF_STRING, CONF_SINGLE | CONF_REQUIRED, string_arg(kind_, max_),           \
        kp_type_table{}, 0, def_)
#define STRING(name_, kind_, max_, def_) STRING_A(name_, no_alternatives, kind_, max_, def_)
// Filled from the running user by getDefaultConfig.
#define DERIVED(name_)                                                                             \
    ROW(name_, no_alternatives, CONF_STRING, CONF_SINGLE | CONF_REQUIRED | CONF_DERIVED,           \
        string_arg(TOKEN_REST_OF_LINE, 0), kp_type_table{}, 0, nullptr)
// YES/NO; the key alone on its line means yes.
#define YESNO_A(name_, alts_, def_)                                                                \
    ROW(name_, alts_, CONF_ENUM, CONF_SINGLE, empty_arg(1), names_table(&yes_no_names), def_,      \
        nullptr)
#define YESNO(name_, def_) YESNO_A(name_, no_alternatives, def_)
// The field holds the opposite of the key's meaning: YES stores 0.
#define NOYES(name_)                                                                               \
    ROW(name_, no_alternatives, CONF_ENUM, CONF_SINGLE, empty_arg(0), names_table(&no_yes_names),  \
        1, nullptr)
// Verbosity levels; the key alone on its line means 1.
#define LEVEL(name_)                                                                               \
    ROW(name_, no_alternatives, CONF_INT, CONF_SINGLE, empty_arg(1), kp_type_table{}, 0, nullptr)
#define INT_A(name_, alts_, def_)                                                                  \
    ROW(name_, alts_, CONF_INT, CONF_SINGLE | CONF_REQUIRED, kp_type_arg{}, kp_type_table{}, def_, \
        nullptr)
#define INT(name_, def_) INT_A(name_, no_alternatives, def_)
#define RANGED(name_, range_, empty_, def_)                                                        \
    ROW(name_, no_alternatives, CONF_INT, CONF_SINGLE | CONF_REQUIRED, empty_arg(empty_),          \
        range_table(&range_), def_, nullptr)
#define ENUM(name_, names_, def_)                                                                  \
    ROW(name_, no_alternatives, CONF_ENUM, CONF_SINGLE | CONF_REQUIRED, kp_type_arg{},             \
        names_table(&names_), def_, nullptr)
#define FLAGS(name_, names_)                                                                       \
    ROW(name_, no_alternatives, CONF_FLAGS, CONF_REQUIRED, kp_type_arg{}, names_table(&names_), 0, \
        nullptr)
#define STRUCT(name_, fields_, def_)                                                               \
    ROW(name_, no_alternatives, CONF_STRUCT, CONF_REQUIRED, size_arg(fields_.count),               \
        fields_table(&fields_), 0, def_)
#define OBSOLETE(name_)                                                                            \
    {                                                                                              \
        #name_, no_alternatives, std::monostate{}, CONF_OBSOLETE, 0, kp_type_arg{},                \
            kp_type_table{}, 0, nullptr                                                            \
    }

constinit const kp_config_def configDefinition[KPCONF_KEYS] = {
    LIST_WORD(SERVER),
    LIST_OF(KNOWN_MASTER, 2),
    LIST_WORD(MASTER_OF_MASTERS),
    STRING(USEMAIL, TOKEN_WORD, 256, nullptr),
    STRING_A(KPBACKUP_POLICY, alts_KPBACKUP_POLICY, TOKEN_WORD, 128, "any"),
    STRING(KPBACKUP_SCHED, TOKEN_WORD, 128, "any"),
    STRING_A(KPARCHIVE_POLICY, alts_KPARCHIVE_POLICY, TOKEN_WORD, 128, "any"),
    STRING(KPARCHIVE_SCHED, TOKEN_WORD, 128, "any"),
    STRING(CLIENT_NAME, TOKEN_WORD, 256, nullptr),
    STRING(REQUIRED_INTERFACE, TOKEN_WORD, 256, nullptr),
    LIST_LINE(COMPRESS_SUFFIX),
    YESNO(BELIEVE_MOUNTS, 0),
    LEVEL(VERBOSE),
    LEVEL(KPDBM_VERBOSE),
    LEVEL(KPRD_VERBOSE),
    LEVEL(KPSCHED_VERBOSE),
    LEVEL(KPBRM_VERBOSE),
    LEVEL(KPTM_VERBOSE),
    LEVEL(KPDM_VERBOSE),
    LEVEL(HOLDFAST_VERBOSE),
    INT(MEGABYTES_OF_MEMORY, 0),
    RANGED(RESTORE_RETRIES, restore_retries_range, 0, 0),
    YESNO(MUST_USE_LOCAL_DRIVE, 0),
    YESNO(WAIT_IN_QUEUE, 0),
    YESNO(QUEUE_ON_ERROR, 0),
    INT(TIMEOUT_IN_QUEUE, 36000),
    INT(RE_READ_INTERVAL, 300),
    STRING(LOCKED_FILE_ACTION, TOKEN_REST_OF_LINE, 0, "WAIT"),
    INT(SLAVE_CONNECT_TIMEOUT, 30),
    INT(CLIENT_CONNECT_TIMEOUT, 300),
    INT(CLIENT_READ_TIMEOUT, 300),
    INT(KPTM_QUERY_TIMEOUT, 480),
    INT(APOLLO_RESTORE_TIMEOUT, 0),
    INT(KPSTART_TIMEOUT, 300),
    INT(KPEND_TIMEOUT, 300),
    INT(LIST_FILES_TIMEOUT, -1),
    RANGED(MAX_APOLLO_RESTORE_ARG_CHARS, apollo_arg_chars_range, 0, 9000),
    FLAGS(ALLOW_MEDIA_OVERWRITE, media_overwrite_names),
    YESNO(KEEP_DATABASE_COMM_FILE, 0),
    STRING(ORACLE_HOME, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(INFORMIX_HOME, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(SYBASE_HOME, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(EXCHANGE_HOME, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(SQL_SERVER_HOME, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(SAP_HOME, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(DB2_HOME, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(NDMP_HOME, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(MEDIA_ID_PREFIX, TOKEN_REST_OF_LINE, 3, nullptr),
    YESNO(DISABLE_STANDALONE_DRIVE_EXTENSIONS, 0),
    YESNO(ALLOW_MULTIPLE_RETENTIONS_PER_MEDIA, 0),
    YESNO(DISALLOW_BACKUPS_SPANNING_MEDIA, 0),
    INT(MEDIA_REQUEST_DELAY, 0),
    RANGED(MEDIA_UNMOUNT_DELAY, media_unmount_delay_range, 0, 180),
    INT(MPX_RESTORE_DELAY, 30),
    YESNO(DISABLE_JOB_LOGGING, 0),
    NOYES(DISALLOW_SERVER_FILE_WRITES),
    NOYES(DO_NOT_RESET_FILE_ACCESS_TIME),
    NOYES(USE_CTIME_FOR_INCREMENTALS),
    YESNO(BUSY_FILE_PROCESSING, 0),
    DERIVED(BUSY_FILE_DIRECTORY),
    DERIVED(BUSY_FILE_NOTIFY_USER),
    LIST_LINE(BUSY_FILE_ACTION),
    LIST_OF(LIMIT_BANDWIDTH, 3),
    INT(INITIAL_BROWSE_SEARCH_LIMIT, 0),
    YESNO(ALLOW_NON_RESERVED_PORTS, 0),
    STRING(CRYPT_KEYFILE, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(CRYPT_LIBPATH, TOKEN_REST_OF_LINE, 0, nullptr),
    ENUM(CRYPT_OPTION, crypt_option_names, 0),
    ENUM(CRYPT_STRENGTH, crypt_strength_names, 40),
    NOYES(DISALLOW_CLIENT_LIST_RESTORE),
    NOYES(DISALLOW_CLIENT_RESTORE),
    YESNO(ALLOW_BLOCK_INCREMENTALS, 0),
    LIST_OF(FORCE_RESTORE_MEDIA_SERVER, 2),
    LIST_LINE(FAILOVER_RESTORE_MEDIA_SERVERS),
    YESNO(ALLOW_NDMP, 0),
    YESNO(ALLOW_ENCRYPTION, 0),
    YESNO(ALLOW_BRISKCOPY, 0),
    INT(NFS_ACCESS_TIMEOUT, 5),
    YESNO(USE_CTIME_FOR_DIRECTORY_INCRS, 0),
    YESNO_A(AUTO_CORRECT_POLICY, alts_AUTO_CORRECT_POLICY, 1),
    YESNO(SERVER_SENDS_MAIL, 0),
    INT(Debug_Database, 0),
    YESNO(ALLOW_SPLIT_MIRROR, 0),
    YESNO(ALLOW_DISASTER_RECOVERY, 0),
    INT(KEEP_LOGS_DAYS, 3),
    STRING(PREFERRED_GROUP, TOKEN_WORD, 256, nullptr),
    LIST_WORD(AUTHORIZE_SERVER),
    YESNO(RANDOM_PORTS, 1),
    STRING(LOTUS_NOTES_PATH, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(LOTUS_NOTES_INI, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(LOTUS_NOTES_USERID, TOKEN_REST_OF_LINE, 0, nullptr),
    STRING(LOTUS_NOTES_EXECDIR, TOKEN_REST_OF_LINE, 0, nullptr),
    STRUCT(CLIENT_RESERVED_PORT_WINDOW, port_window, "512 1023"),
    STRUCT(SERVER_RESERVED_PORT_WINDOW, port_window, "512 1023"),
    STRUCT(CLIENT_PORT_WINDOW, port_window, "0 0"),
    STRUCT(SERVER_PORT_WINDOW, port_window, "1025 5000"),
    YESNO(ALLOW_TPC, 0),
    LIST_LINE(CONNECT_OPTIONS),
    INT(REQUEST_DELIVERY_TIMEOUT, 300),
    LIST_WORD(MEDIA_SERVER),
    YESNO(DISABLE_SCSI_RESERVE, 0),
    INT(Time_Overlap, 60),
    INT(Buffer_Size, 16),
    YESNO(Use_Archive_Bit, 1),
    YESNO(Perform_Default_Search, 1),
    YESNO(Accumulate_Files, 0),
    INT(User_Directed_Timeout, 60),
    INT(Announce_DHCP_Interval, 0),
    INT(Clear_Archive_Bit_Incr_Wait, 300),
    LIST_LINE(Exclude),
    LIST_LINE(Include),
    STRING(Browser, TOKEN_WORD, 256, nullptr),
    LIST_WORD(Clients),
    INT(Port_KPCD, 13782),
    INT(Port_KPRD, 13720),
    YESNO(Debug_Flush, 0),
    YESNO(Debug_Heap, 0),
    INT(Debug_Level, 0),
    YESNO(Debug_TCP, 0),
    INT(OTM_Cache_Control, 0),
    STRING(OTM_Cache_File, TOKEN_REST_OF_LINE, 0, ""),
    INT(OTM_Cache_Size_Init, 10),
    INT(OTM_Cache_Size_Max, 50),
    INT(OTM_Error_Control, 0),
    YESNO(OTM_Logging, 0),
    INT(OTM_Quiescent_Wait, 5),
    INT(OTM_Quiescent_Timeout, 60),
    ENUM(OTM_Current, otm_current_names, 0),
    STRING(OTM_Exclude, TOKEN_REST_OF_LINE, 0, nullptr),
    INT(OTM_Sync_Timeout, 60),
    YESNO(OTM_Use, 1),
    STRING(TSP_CacheVols, TOKEN_REST_OF_LINE, 0, ""),
    STRING(TSP_Exclude, TOKEN_REST_OF_LINE, 0, ""),
    INT(TSP_Cache_Size_Init, 0),
    INT(TSP_Cache_Size_Max, 0),
    INT(TSP_Error_Control, 0),
    YESNO(TSP_Logging, 0),
    INT(TSP_Quiescent_Wait, 5),
    INT(TSP_Quiescent_Timeout, 300),
    YESNO(TSP_Current, 1),
    INT(TSP_Sync_Timeout, 60),
    YESNO(TSP_Use, 1),
    INT(Error_Messages_Max, 10),
    INT_A(Policy_Type, alts_Policy_Type, 0),
    INT(Client_Version, 31),
    YESNO(Case_Sensitive_Exclude_List, 0),
    YESNO(Compress_Use, 0),
    INT(Compress_Buffer_Size, 62),
    INT(Compress_Minimum_Size, 512),
    YESNO(NW_Migrated_Files, 0),
    YESNO(NW_Uncompress, 0),
    STRING(EXCHANGE_MAILBOX, TOKEN_REST_OF_LINE, 0, nullptr),
    YESNO(Cluster_Database_Force_Restore, 0),
    INT(Port_KPCD_NCB, 13784),
    YESNO(GENERATE_ENGLISH_LOGS, 0),
    INT(KEEP_HOLDFAST_SESSIONS_DAYS, 30),
    RANGED(KEEP_JOBS_SUCCESSFUL_HOURS, keep_jobs_hours_range, 72, 78),
    RANGED(KEEP_JOBS_HOURS, keep_jobs_hours_range, 72, 78),
    LIST_LINE(KPDBJOBS_COLDEFS),
    INT(DB_PORT, 13784),
    YESNO(ENABLE_PERFORMANCE_DATA_COLLECTION, 1),
    INT(CHECKSUM1, 0),
    INT(CHECKSUM2, 0),
    STRUCT(DASHBOARD_PORT_WINDOW, port_window, "0 0"),
    YESNO(UNLINK_ON_OVERWRITE, 0),
    YESNO(SKIP_RESTORE_TO_SYMLINK_DIR, 0),
    YESNO(CHECK_RESTORE_CLIENT, 0),
    YESNO(OLD_TNETD_CALLBACK, 0),
    OBSOLETE(Virus_Backup_Scan),
    OBSOLETE(Virus_Backup_Clean),
    OBSOLETE(Virus_Backup_Infected),
    OBSOLETE(Virus_Restore_Scan),
    OBSOLETE(Virus_Restore_Clean),
    OBSOLETE(Virus_Update_Date),
};

#undef ROW
#undef LIST_OF
#undef LIST_WORD
#undef LIST_LINE
#undef STRING_A
#undef STRING
#undef DERIVED
#undef YESNO_A
#undef YESNO
#undef NOYES
#undef LEVEL
#undef INT_A
#undef INT
#undef RANGED
#undef ENUM
#undef FLAGS
#undef STRUCT
#undef OBSOLETE

kp_slot config_slot(kp_config *cfg, int row) {
    if (cfg == nullptr || row < 0 || row >= KPCONF_KEYS) {
        return std::monostate{};
    }
    return std::visit(
        [cfg](auto member) -> kp_slot {
            if constexpr (std::is_same_v<decltype(member), std::monostate>) {
                return std::monostate{};
            } else {
                return &(cfg->*member);
            }
        },
        configDefinition[row].field);
}

namespace {

// Every name and alternative, lower-cased and sorted, so that a lookup is a
// binary search rather than a walk over 174 rows with every line parsed.
struct key_entry {
    char name[48];
    int row;
};

constexpr size_t MAX_KEY_ENTRIES = KPCONF_KEYS * 2;

struct key_index {
    key_entry entry[MAX_KEY_ENTRIES];
    size_t count = 0;

    key_index() {
        for (int i = 0; i < KPCONF_KEYS; ++i) {
            add(configDefinition[i].name, i);
            for (const char *const *alt = configDefinition[i].alternatives; *alt != nullptr;
                 ++alt) {
                add(*alt, i);
            }
        }
        std::sort(entry, entry + count, [](const key_entry &x, const key_entry &y) {
            return strcmp(x.name, y.name) < 0;
        });
    }
    void add(const char *name, int row) {
        if (count < MAX_KEY_ENTRIES && lower(name, entry[count].name, sizeof entry[count].name)) {
            entry[count].row = row;
            ++count;
        }
    }
    // The lower-case copy; false when it does not fit (no key is that long).
    static bool lower(const char *from, char *to, size_t size) {
        size_t i = 0;
        for (; from[i] != '\0'; ++i) {
            if (i + 1 >= size) {
                return false;
            }
            to[i] = static_cast<char>(tolower(static_cast<unsigned char>(from[i])));
        }
        to[i] = '\0';
        return true;
    }
};

} // namespace

int getConfigIndexA(const char *name) {
    static const key_index index;
    char key[sizeof(key_entry::name)];
    if (name == nullptr || !key_index::lower(name, key, sizeof key)) {
        return -1;
    }
    const key_entry *end = index.entry + index.count;
    const key_entry *hit =
        std::lower_bound(index.entry, end, key,
                         [](const key_entry &e, const char *k) { return strcmp(e.name, k) < 0; });
    if (hit == end || strcmp(hit->name, key) != 0) {
        return -1;
    }
    return configDefinition[hit->row].type == CONF_OBSOLETE ? -2 : hit->row;
}
