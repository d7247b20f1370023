// The configuration table, the tokenizer, the typed readers and the parser.

#include <gtest/gtest.h>

#include "kpconf_api.h"
#include "log_capture.h"
#include "unixconf_api.h"

#include <arpa/inet.h>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// A record filled with the defaults, then with text parsed in `mode`.
kp_config parsed(const std::string &text, int mode = 0, kp_config_lines *lines = nullptr,
                 int *rc = nullptr) {
    kp_config cfg;
    EXPECT_EQ(getDefaultConfig(&cfg), 0);
    std::string buf = text;
    int r = ParseConfigExA(buf.data(), &cfg, lines, mode);
    EXPECT_EQ(buf, text) << "the parser must leave the text as it found it";
    if (rc != nullptr) {
        *rc = r;
    }
    return cfg;
}

// A Struct or List record as "f0,f1": numbers, texts ("(absent)" when unset)
// and, for the fields `def` declares as addresses, dotted addresses.
std::string show(const kp_record &r, const kp_struct_def *def) {
    std::string out;
    for (size_t i = 0; i < r.field.size(); ++i) {
        const int32_t *n = std::get_if<int32_t>(&r.field[i]);
        const bool ip = def != nullptr && i < def->count && def->fields[i].type == CONF_IPADDR;
        out += (i > 0 ? "," : "") +
               (n == nullptr ? std::get<kp_string>(r.field[i]).value_or("(absent)")
                : ip         ? std::string(inet_ntoa(in_addr{static_cast<in_addr_t>(*n)}))
                             : std::to_string(*n));
    }
    return out;
}

// The value of `key` in cfg as text; list elements are joined with "|".
std::string show(kp_config &cfg, const char *key) {
    int row = getConfigIndexA(key);
    if (row < 0) {
        return "(no such key)";
    }
    const kp_config_def &def = configDefinition[row];
    kp_slot slot = config_slot(&cfg, row);
    if (int32_t **n = std::get_if<int32_t *>(&slot)) {
        return std::to_string(**n);
    }
    if (kp_string **s = std::get_if<kp_string *>(&slot)) {
        return (*s)->value_or("(absent)");
    }
    if (kp_struct **st = std::get_if<kp_struct *>(&slot)) {
        return (*st)->has_value() ? show(**(*st), def.table.fields) : "(absent)";
    }
    const kp_list &list = *std::get<kp_list *>(slot);
    std::string out = list.empty() ? "(none)" : "";
    for (size_t i = 0; i < list.size(); ++i) {
        out += (i > 0 ? "|" : "") + show(list[i], def.table.list->element);
    }
    return out;
}

} // namespace

TEST(ConfigTable, KeysInOrderUniqueAndTheLastSixObsolete) {
    const std::vector<std::string> expected =
        words("SERVER KNOWN_MASTER MASTER_OF_MASTERS USEMAIL KPBACKUP_POLICY KPBACKUP_SCHED "
              "KPARCHIVE_POLICY KPARCHIVE_SCHED CLIENT_NAME REQUIRED_INTERFACE COMPRESS_SUFFIX "
              "BELIEVE_MOUNTS VERBOSE KPDBM_VERBOSE KPRD_VERBOSE KPSCHED_VERBOSE KPBRM_VERBOSE "
              "KPTM_VERBOSE KPDM_VERBOSE HOLDFAST_VERBOSE MEGABYTES_OF_MEMORY RESTORE_RETRIES "
              "MUST_USE_LOCAL_DRIVE WAIT_IN_QUEUE QUEUE_ON_ERROR TIMEOUT_IN_QUEUE RE_READ_INTERVAL "
              "LOCKED_FILE_ACTION SLAVE_CONNECT_TIMEOUT CLIENT_CONNECT_TIMEOUT CLIENT_READ_TIMEOUT "
              "KPTM_QUERY_TIMEOUT APOLLO_RESTORE_TIMEOUT KPSTART_TIMEOUT KPEND_TIMEOUT "
              "LIST_FILES_TIMEOUT MAX_APOLLO_RESTORE_ARG_CHARS ALLOW_MEDIA_OVERWRITE "
              "KEEP_DATABASE_COMM_FILE ORACLE_HOME INFORMIX_HOME SYBASE_HOME EXCHANGE_HOME "
              "SQL_SERVER_HOME SAP_HOME DB2_HOME NDMP_HOME MEDIA_ID_PREFIX "
              "DISABLE_STANDALONE_DRIVE_EXTENSIONS ALLOW_MULTIPLE_RETENTIONS_PER_MEDIA "
              "DISALLOW_BACKUPS_SPANNING_MEDIA MEDIA_REQUEST_DELAY MEDIA_UNMOUNT_DELAY "
              "MPX_RESTORE_DELAY DISABLE_JOB_LOGGING DISALLOW_SERVER_FILE_WRITES "
              "DO_NOT_RESET_FILE_ACCESS_TIME USE_CTIME_FOR_INCREMENTALS BUSY_FILE_PROCESSING "
              "BUSY_FILE_DIRECTORY BUSY_FILE_NOTIFY_USER BUSY_FILE_ACTION LIMIT_BANDWIDTH "
              "INITIAL_BROWSE_SEARCH_LIMIT ALLOW_NON_RESERVED_PORTS CRYPT_KEYFILE CRYPT_LIBPATH "
              "CRYPT_OPTION CRYPT_STRENGTH DISALLOW_CLIENT_LIST_RESTORE DISALLOW_CLIENT_RESTORE "
              "ALLOW_BLOCK_INCREMENTALS FORCE_RESTORE_MEDIA_SERVER FAILOVER_RESTORE_MEDIA_SERVERS "
              "ALLOW_NDMP ALLOW_ENCRYPTION ALLOW_BRISKCOPY NFS_ACCESS_TIMEOUT "
              "USE_CTIME_FOR_DIRECTORY_INCRS AUTO_CORRECT_POLICY SERVER_SENDS_MAIL Debug_Database "
              "ALLOW_SPLIT_MIRROR ALLOW_DISASTER_RECOVERY KEEP_LOGS_DAYS PREFERRED_GROUP "
              "AUTHORIZE_SERVER RANDOM_PORTS LOTUS_NOTES_PATH LOTUS_NOTES_INI LOTUS_NOTES_USERID "
              "LOTUS_NOTES_EXECDIR CLIENT_RESERVED_PORT_WINDOW SERVER_RESERVED_PORT_WINDOW "
              "CLIENT_PORT_WINDOW SERVER_PORT_WINDOW ALLOW_TPC CONNECT_OPTIONS "
              "REQUEST_DELIVERY_TIMEOUT MEDIA_SERVER DISABLE_SCSI_RESERVE Time_Overlap Buffer_Size "
              "Use_Archive_Bit Perform_Default_Search Accumulate_Files User_Directed_Timeout "
              "Announce_DHCP_Interval Clear_Archive_Bit_Incr_Wait Exclude Include Browser Clients "
              "Port_KPCD Port_KPRD Debug_Flush Debug_Heap Debug_Level Debug_TCP OTM_Cache_Control "
              "OTM_Cache_File OTM_Cache_Size_Init OTM_Cache_Size_Max OTM_Error_Control OTM_Logging "
              "OTM_Quiescent_Wait OTM_Quiescent_Timeout OTM_Current OTM_Exclude OTM_Sync_Timeout "
              "OTM_Use TSP_CacheVols TSP_Exclude TSP_Cache_Size_Init TSP_Cache_Size_Max "
              "TSP_Error_Control TSP_Logging TSP_Quiescent_Wait TSP_Quiescent_Timeout TSP_Current "
              "TSP_Sync_Timeout TSP_Use Error_Messages_Max Policy_Type Client_Version "
              "Case_Sensitive_Exclude_List Compress_Use Compress_Buffer_Size Compress_Minimum_Size "
              "NW_Migrated_Files NW_Uncompress EXCHANGE_MAILBOX Cluster_Database_Force_Restore "
              "Port_KPCD_NCB GENERATE_ENGLISH_LOGS KEEP_HOLDFAST_SESSIONS_DAYS "
              "KEEP_JOBS_SUCCESSFUL_HOURS KEEP_JOBS_HOURS KPDBJOBS_COLDEFS DB_PORT "
              "ENABLE_PERFORMANCE_DATA_COLLECTION CHECKSUM1 CHECKSUM2 DASHBOARD_PORT_WINDOW "
              "UNLINK_ON_OVERWRITE SKIP_RESTORE_TO_SYMLINK_DIR CHECK_RESTORE_CLIENT "
              "OLD_TNETD_CALLBACK Virus_Backup_Scan Virus_Backup_Clean Virus_Backup_Infected "
              "Virus_Restore_Scan Virus_Restore_Clean Virus_Update_Date");
    ASSERT_EQ(expected.size(), static_cast<size_t>(KPCONF_KEYS));
    // The names differ even without regard to case, so matching the list makes them unique.
    for (int i = 0; i < KPCONF_KEYS; ++i) {
        EXPECT_EQ(configDefinition[i].name, expected[i]) << "row " << i;
        EXPECT_EQ(configDefinition[i].type == CONF_OBSOLETE, i >= KPCONF_KEYS - 6);
    }
}

TEST(ConfigTable, RecordFieldsFollowTableOrder) {
    // Each row but the obsolete ones has its own field, and the fields lie in
    // table order. A field of the wrong type shows in the kpconf fuzz target,
    // which formats and reads back every key.
    kp_config cfg;
    const char *previous = reinterpret_cast<const char *>(&cfg.loaded);
    for (int i = 0; i < KPCONF_KEYS; ++i) {
        const kp_config_def &def = configDefinition[i];
        const char *at = nullptr;
        std::visit(
            [&](auto p) {
                if constexpr (!std::is_same_v<decltype(p), std::monostate>) {
                    at = reinterpret_cast<const char *>(p);
                }
            },
            config_slot(&cfg, i));
        EXPECT_EQ(at == nullptr, def.type == CONF_OBSOLETE) << def.name;
        EXPECT_TRUE(def.type != CONF_LIST || def.table.list != nullptr) << def.name;
        if (at != nullptr) {
            EXPECT_GT(at, previous) << def.name;
            previous = at;
        }
    }
}

TEST(ConfigTable, IndexLookup) {
    // Obsolete keys give -2; alternative names find their key's row.
    for (auto [key, row] : {std::pair<const char *, int>("SERVER", 0),
                            {"sErVeR", 0},
                            {"SERVERS", -1},
                            {"", -1},
                            {nullptr, -1},
                            {"Virus_Update_Date", -2},
                            {"VIRUS_BACKUP_SCAN", -2},
                            {"old_tnetd_callback", KPCONF_KEYS - 7},
                            {"KPBACKUP_CLASS", getConfigIndexA("KPBACKUP_POLICY")},
                            {"kparchive_class", getConfigIndexA("KPARCHIVE_POLICY")},
                            {"AUTO_CORRECT_CLASS", getConfigIndexA("AUTO_CORRECT_POLICY")},
                            {"Class_Type", getConfigIndexA("Policy_Type")}}) {
        EXPECT_EQ(getConfigIndexA(key), row) << (key != nullptr ? key : "(null)");
    }
}

TEST(ConfigDefaults, BusyFileKeysComeFromTheRunningUser) {
    kp_config d;
    ASSERT_EQ(getDefaultConfig(&d), 0);
    std::optional<std::string> user = TgetUserName();
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(d.BUSY_FILE_NOTIFY_USER, *user);
    // The superuser has no home directory for this purpose.
    EXPECT_EQ(d.BUSY_FILE_DIRECTORY, getUserHome(user->c_str()));
}

TEST(ConfigToken, KindsCutsAndPutBack) {
    // Text, kind; the token (nullptr: refused), the character cut, what follows.
    const std::tuple<const char *, int, const char *, int, const char *> cases[] = {
        {"  alpha beta", TOKEN_WORD, "alpha", ' ', "beta"},
        {"alpha", TOKEN_WORD, "alpha", 0, ""},
        {"   ", TOKEN_WORD, "", 0, ""},
        {"KEY = value", TOKEN_TO_EQUALS, "KEY", ' ', " value"},
        {"KEY=value", TOKEN_TO_EQUALS, "KEY", '=', "value"},
        {"KEY value", TOKEN_TO_EQUALS, "KEY value", 0, ""},
        {"=x", TOKEN_TO_EQUALS, "", '=', "x"},
        {"one two \r\nthree", TOKEN_REST_OF_LINE, "one two", ' ', "three"},
        {"a b\r\n", TOKEN_REST_OF_LINE, "a b", '\r', ""},
        {"m1 , alias", TOKEN_TO_COMMA, "m1", ' ', " alias"},
        {" \"a b \" c", TOKEN_QUOTED, "a b ", '"', " c"},
        {"a \"b\"", TOKEN_QUOTED, nullptr, -1, nullptr},
        {"\"open", TOKEN_QUOTED, nullptr, -1, nullptr},
        {"(a (b) c) d", TOKEN_PARENS, "a (b) c", ')', " d"},
        {"(a (b c", TOKEN_PARENS, nullptr, -1, nullptr},
        {"x(a)", TOKEN_PARENS, nullptr, -1, nullptr},
        {"{a {b}}", TOKEN_BRACES, "a {b}", '}', ""},
        {"  all of it  \n", TOKEN_ALL, "all of it", ' ', ""},
        {"x", 99, nullptr, -1, nullptr}};
    for (auto [text, kind, token, saved, rest] : cases) {
        SCOPED_TRACE(text);
        std::string buf = text;
        kp_cursor cur;
        cur.next = buf.data();
        EXPECT_EQ(getConfigTokenA(&cur, kind), saved);
        if (token == nullptr) {
            EXPECT_EQ(cur.next, buf.data());
        } else {
            EXPECT_STREQ(cur.token, token);
            EXPECT_STREQ(cur.next, rest); // read with the cut still in place
        }
        putBackConfigTokenA(&cur, saved);
        EXPECT_EQ(buf, text);
    }
}

TEST(ConfigParse, TypedValuesAndTheirMessages) {
    // Text; the value of its first key as show() writes it, the texts logged one a line.
    using Case = std::tuple<std::string, std::string, std::string>;
    const std::string long_policy(200, 'p');
    const std::string cut_policy = long_policy.substr(0, 128);
    const Case cases[] = {
        // YES/NO; a number is a truth value.
        {"BELIEVE_MOUNTS", "1", ""},
        {"BELIEVE_MOUNTS = maybe", "0",
         "Badly formed configuration entry on line 1: BELIEVE_MOUNTS = maybe"},
        {"BELIEVE_MOUNTS = 7", "1", ""},
        {"BELIEVE_MOUNTS = YES\nBELIEVE_MOUNTS = 0x0", "0",
         "Option (BELIEVE_MOUNTS) redefined on line 2, discarding definition on line 1."},
        // The inverted table stores the opposite of the key's meaning.
        {"DO_NOT_RESET_FILE_ACCESS_TIME = YES", "0", ""},
        {"USE_CTIME_FOR_INCREMENTALS", "0", ""},
        // Int, C notation, ranges.
        {"RE_READ_INTERVAL = 010", "8", ""},
        {"TIMEOUT_IN_QUEUE = 12abc", "12", "Extra data (abc) at end of line 1 ignored."},
        {"TIMEOUT_IN_QUEUE = 99999999999", "36000",
         "Badly formed configuration entry on line 1: TIMEOUT_IN_QUEUE = 99999999999"},
        {"RESTORE_RETRIES = 9", "3",
         "Integer (9) out of range on line 1, substituting maximum legal value (3)."},
        {"RESTORE_RETRIES = -1", "0",
         "Integer (-1) out of range on line 1, substituting minimum legal value (0)."},
        {"MEDIA_UNMOUNT_DELAY = -5", "-5", ""},
        // Enums with the nearest listed value.
        {"CRYPT_STRENGTH = 50", "56",
         "Illegal enumerated value (50) on line 1, substituting DES_56."},
        {"OTM_Current = 5", "2",
         "Illegal enumerated value (5) on line 1, substituting ALL_AVAILABLE."},
        // Flags accumulate, names only.
        {"ALLOW_MEDIA_OVERWRITE = DBR\nALLOW_MEDIA_OVERWRITE = aos/vs\nALLOW_MEDIA_OVERWRITE = 4",
         "17", "Badly formed configuration entry on line 3: ALLOW_MEDIA_OVERWRITE = 4"},
        // Strings.
        {"CLIENT_NAME = a#b", "a#b", ""},
        {"CLIENT_NAME = one two", "one", "Extra data (two) at end of line 1 ignored."},
        {"LOCKED_FILE_ACTION =   SKIP  this one  ", "SKIP  this one", ""},
        {"MEDIA_ID_PREFIX = A  CD", "A",
         "String too long on line 1.  Truncating \"A  CD\" to \"A\"."},
        {"KPBACKUP_POLICY = " + long_policy, cut_policy,
         "String too long on line 1.  Truncating \"" + long_policy + "\" to \"" + cut_policy +
             "\"."},
        // Unknown, obsolete, comments and blank lines.
        {"SERVER = kept\n# SERVER = hidden\n\n   \t\n  # indented\nFOO = bar\nVirus_Backup_Scan = "
         "yes\nFOO",
         "kept",
         "Unknown configuration option on line 6: FOO = bar\n"
         "Obsolete configuration option on line 7: Virus_Backup_Scan = yes\n"
         "Unknown configuration option on line 8: FOO"},
        {"CLIENT_NAME =", "(absent)", "Missing 'value'; Option skipped on line 1: CLIENT_NAME"},
        // Carriage returns before newlines count as blanks.
        {"CLIENT_NAME = c1\r\nSERVER = alpha\r\n", "c1", ""},
        // Structs.
        {"SERVER_PORT_WINDOW = 2000", "1025,5000",
         "Missing required data field on line 1.\n"
         "Badly formed configuration entry on line 1: SERVER_PORT_WINDOW = 2000"},
        {"SERVER_PORT_WINDOW = 2000 3000x", "2000,3000",
         "Extra data (x) at end of field on line 1 ignored."},
        // Lists of records.
        {"Exclude = /tmp/a b\nInclude = /var/keep\nExclude = /var/*", "/tmp/a b|/var/*", ""},
        {"LIMIT_BANDWIDTH = 10.0.0.1 10.0.0.255 500\nLIMIT_BANDWIDTH = 192.168.1.7 0xc0.168.1.9 64",
         "10.0.0.1,10.0.0.255,500|192.168.1.7,192.168.1.9,64", ""},
        // A failed element deletes the list.
        {"LIMIT_BANDWIDTH = 10.0.0.1 10.0.0.2 5\nLIMIT_BANDWIDTH = 10.0.0.0 10.1.1.1 5", "(none)",
         "Wrong class of IP address (10.0.0.0) on line 2\n"
         "Badly formed configuration entry on line 2: LIMIT_BANDWIDTH = 10.0.0.0 10.1.1.1 5"},
    };
    for (const auto &[text, value, want] : cases) {
        SCOPED_TRACE(text);
        const std::string key = text.substr(0, text.find_first_of(" =\n"));
        LogCapture log;
        kp_config cfg = parsed(text);
        EXPECT_EQ(show(cfg, key.c_str()), value);
        std::string logged;
        for (const std::string &t : log.texts()) {
            logged += (logged.empty() ? "" : "\n") + t;
        }
        EXPECT_EQ(logged, want);
    }
}

TEST(ConfigParse, MessagesCarryLevelAndFunctionRedefinitionFollowsTheSwitch) {
    LogCapture log;
    parsed("FOO\nRESTORE_RETRIES = 7\nLIMIT_BANDWIDTH = 1.2.3 x 1");
    const std::vector<std::string> expected = {
        "<2> ParseConfigExA: Unknown configuration option on line 1: FOO",
        "<2> readInt: Integer (7) out of range on line 2, substituting maximum legal value (3).",
        "<2> readIPAddr: Badly formed IP address (x) on line 3",
        "<2> ParseConfigExA: Badly formed configuration entry on line 3: LIMIT_BANDWIDTH = 1.2.3 x "
        "1",
    };
    EXPECT_EQ(log.lines(), expected);

    // The redefinition warning follows its switch; lists are not single-valued.
    log.clear();
    VERBOSE_kpconf = 0;
    kp_config cfg = parsed("VERBOSE = 2\nVERBOSE = 5");
    VERBOSE_kpconf = 1;
    EXPECT_EQ(cfg.VERBOSE, 5);
    // Lists are not single-valued: no warning either.
    parsed("SERVER = a\nSERVER = b");
    EXPECT_TRUE(log.texts().empty());
}

TEST(ConfigParse, LineNumbersEmptyValuesAndLoaded) {
    kp_config_lines lines;
    LogCapture log;
    kp_config cfg =
        parsed("\nSERVER = a\nCLIENT_NAME =\nVERBOSE\nSERVER = b\n", PARSE_EMPTY_DEFINES, &lines);
    EXPECT_EQ(lines.loaded, 1);
    EXPECT_EQ(lines.line[getConfigIndexA("SERVER")], 5);
    // A value-required key without value is recorded as defined empty...
    EXPECT_EQ(lines.line[getConfigIndexA("CLIENT_NAME")], -3);
    EXPECT_FALSE(cfg.CLIENT_NAME.has_value());
    // ...and a key read with an empty value is negated too.
    EXPECT_EQ(lines.line[getConfigIndexA("VERBOSE")], -4);
    EXPECT_EQ(cfg.VERBOSE, 1);
    EXPECT_EQ(lines.line[getConfigIndexA("BELIEVE_MOUNTS")], 0);
    EXPECT_TRUE(log.texts().empty());
    EXPECT_EQ(cfg.loaded, 1);

    // Without mode 1 the empty value is reported and not recorded.
    kp_config_lines plain;
    parsed("CLIENT_NAME =", 0, &plain);
    EXPECT_EQ(plain.line[getConfigIndexA("CLIENT_NAME")], 0);
    // The record counts as loaded only when a value was read into it.
    EXPECT_EQ(parsed("# nothing\nFOO = 1\nBELIEVE_MOUNTS = maybe").loaded, 0);
    EXPECT_EQ(parsed("BELIEVE_MOUNTS = yes").loaded, 1);
}

TEST(ConfigParse, StrictModeResults) {
    // Only strict parsing reports unknown and obsolete keys and bad values.
    for (auto [text, strict] : {std::pair("SERVER = a\nVERBOSE = 3", 0),
                                {"NOSUCHKEY = 1\nSERVER = a", KP_BAD_VALUE},
                                {"Virus_Update_Date = 1", KP_BAD_VALUE},
                                {"VERBOSE = x", KP_BAD_VALUE},
                                {"CLIENT_NAME =", 0}}) {
        int rc = -1;
        parsed(text, PARSE_STRICT, nullptr, &rc);
        EXPECT_EQ(rc, strict) << text;
    }
}

TEST(ConfigParse, ListsReplaceForeignListsAndContinueAcrossCallsAndRecords) {
    auto parse = [](std::string text, kp_config *cfg, kp_config_lines *lines, int mode) {
        return ParseConfigExA(text.data(), cfg, lines, mode);
    };
    kp_config cfg;
    kp_config other = parsed("SERVER = x\nSERVER = y");
    ASSERT_EQ(CopyConfig(&cfg, &other), 0);
    kp_config_lines lines;
    parse("SERVER = a\nSERVER = b\nVERBOSE = 1", &cfg, &lines, 0);
    EXPECT_EQ(show(cfg, "SERVER"), "a|b");
    // Continuing keeps appending and remembers the earlier definitions.
    LogCapture log;
    parse("SERVER = c\nVERBOSE = 2", &cfg, &lines, PARSE_CONTINUE);
    EXPECT_EQ(show(cfg, "SERVER"), "a|b|c");
    EXPECT_TRUE(log.has("Option (VERBOSE) redefined on line 2, discarding definition on line 3."));
    // A fresh parse starts the list again.
    parse("SERVER = d", &cfg, &lines, 0);
    EXPECT_EQ(show(cfg, "SERVER"), "d");
    EXPECT_EQ(lines.line[getConfigIndexA("VERBOSE")], 0);

    // Without a record the parse continues the previous one.
    prev_kp_config = nullptr;
    EXPECT_EQ(parse("SERVER = a", nullptr, nullptr, 0), KP_BAD_VALUE);
    cfg = kp_config{};
    ASSERT_EQ(parse("SERVER = a", &cfg, nullptr, 0), 0);
    EXPECT_EQ(prev_kp_config, &cfg);
    ASSERT_EQ(parse("CLIENT_NAME = here", nullptr, nullptr, PARSE_CONTINUE), 0);
    EXPECT_EQ(cfg.CLIENT_NAME, "here");
    EXPECT_EQ(show(cfg, "SERVER"), "a");
    prev_kp_config = nullptr;
    EXPECT_EQ(ParseConfigExA(nullptr, &cfg, nullptr, 0), 0);
    prev_kp_config = nullptr;
}

TEST(ConfigReaders, DottedAddressesAndClasses) {
    // Each address is read in C notation (dotted, shortened, octal, hex), has its
    // class, and is refused when that class is not accepted.
    const std::tuple<const char *, const char *, uint32_t> cases[] = {
        {"0x7f.1", "127.0.0.1", IPCLASS_LOOPBACK},
        {"10.65535", "10.0.255.255", IPCLASS_A_HOST},
        {"10.255.255.255", "10.255.255.255", IPCLASS_A_BCAST},
        {"10.0.0.0", "10.0.0.0", IPCLASS_A_NET},
        {"172.16.2", "172.16.0.2", IPCLASS_B_HOST},
        {"172.16.0.0", "172.16.0.0", IPCLASS_B_NET},
        {"172.16.255.255", "172.16.255.255", IPCLASS_B_BCAST},
        {"192.168.1.1", "192.168.1.1", IPCLASS_C_HOST},
        {"192.168.1.0", "192.168.1.0", IPCLASS_C_NET},
        {"192.168.1.255", "192.168.1.255", IPCLASS_C_BCAST},
        {"224.0.0.1", "224.0.0.1", IPCLASS_D},
        {"0", "0.0.0.0", IPCLASS_ZEROS},
        {"4294967295", "255.255.255.255", IPCLASS_ONES},
        {"0360.1.1.1", "240.1.1.1", IPCLASS_E}};
    const uint32_t all_classes = (IPCLASS_ONES << 1) - 1;
    auto read = [](const char *text, uint32_t classes, int32_t *v) {
        std::string buf = text;
        kp_cursor cur;
        cur.next = buf.data();
        kp_type_arg arg;
        arg.ip_classes = classes;
        return readIPAddr(&cur, v, &arg, nullptr, 1);
    };
    for (auto [text, expect, klass] : cases) {
        SCOPED_TRACE(text);
        int32_t v = 0;
        ASSERT_EQ(read(text, all_classes, &v), 0);
        EXPECT_EQ(static_cast<in_addr_t>(v), inet_addr(expect));
        EXPECT_EQ(ipaddr_class(ntohl(inet_addr(expect))), klass);
        EXPECT_EQ(read(text, all_classes & ~klass, &v), KP_BAD_VALUE);
    }
    for (const char *bad : {"1.2.3.4.5", "256.1.1.1", "1.256.1", "1..2", "1.2.3.", ".1.2.3",
                            "-1.2.3.4", "1.2.3.4x", "4294967296", "host"}) {
        int32_t v = 0;
        EXPECT_EQ(read(bad, all_classes, &v), KP_BAD_VALUE) << bad;
    }
}

TEST(ConfigReaders, WrongSlotsAreRefusedEmptyValuesFilled) {
    std::string text = "5";
    kp_cursor cur;
    cur.next = text.data();
    kp_string s;
    int32_t n = 0;
    EXPECT_EQ(readInt(&cur, &s, nullptr, nullptr, 1), KP_BAD_VALUE);
    EXPECT_EQ(readString(&cur, &n, nullptr, nullptr, 1), KP_BAD_VALUE);
    EXPECT_EQ(readStruct(&cur, &n, nullptr, nullptr, 1), KP_BAD_VALUE);
    EXPECT_EQ(readList(&cur, &n, nullptr, nullptr, 1), KP_BAD_VALUE);
    EXPECT_EQ(readEnum(&cur, &n, nullptr, nullptr, 1), KP_BAD_VALUE); // no name table
    EXPECT_EQ(readInt(nullptr, &n, nullptr, nullptr, 1), KP_BAD_VALUE);
    EXPECT_EQ(text, "5");

    // An empty value gives the type argument (Int, Enum) or the table's text.
    char empty[] = "   ";
    kp_type_arg arg;
    arg.empty_value = 72;
    cur.next = empty;
    EXPECT_EQ(readInt(&cur, &n, &arg, nullptr, 1), 0);
    EXPECT_EQ(n, 72);
    s = std::string("old");
    kp_type_table table;
    cur.next = empty;
    EXPECT_EQ(readString(&cur, &s, &arg, &table, 1), 0);
    EXPECT_FALSE(s.has_value());
    table.text = "fallback";
    cur.next = empty;
    EXPECT_EQ(readString(&cur, &s, &arg, &table, 1), 0);
    EXPECT_EQ(s, "fallback");
}

namespace {

const char *rich_text = "SERVER = alpha\nSERVER = beta\nKNOWN_MASTER = m1, the alias\n"
                        "KNOWN_MASTER = m2\nCLIENT_NAME = client1\nKPBACKUP_POLICY = gold\n"
                        "BELIEVE_MOUNTS = yes\nDO_NOT_RESET_FILE_ACCESS_TIME = yes\nVERBOSE = 4\n"
                        "RESTORE_RETRIES = 2\nALLOW_MEDIA_OVERWRITE = TAR\n"
                        "ALLOW_MEDIA_OVERWRITE = BE-MTF1\nORACLE_HOME = /opt/oracle home\n"
                        "CRYPT_OPTION = DENIED\nCRYPT_STRENGTH = DES56\nOTM_Current = ALL\n"
                        "LIMIT_BANDWIDTH = 10.1.1.1 10.1.1.9 300\nCLIENT_PORT_WINDOW = 600 700\n"
                        "Exclude = /tmp/*\nExclude = /var/tmp/x y\nMEDIA_ID_PREFIX = AB\n"
                        "OTM_Cache_File = C:\\otm\\cache\nFORCE_RESTORE_MEDIA_SERVER = old new\n";

} // namespace

TEST(ConfigRecords, CopyFreeAndInit) {
    kp_config src = parsed(rich_text);
    kp_config dst;
    ASSERT_EQ(CopyConfig(&dst, &src), 0);
    EXPECT_EQ(dst, src);
    EXPECT_EQ(CopyConfig(&dst, &dst), 0);
    EXPECT_EQ(CopyConfig(nullptr, &src), KP_BAD_VALUE);
    FreeConfig(&dst);
    EXPECT_EQ(dst, kp_config{});
    FreeConfig(nullptr);

    // The process-wide records are left alone until they were loaded.
    users_config = kp_config{};
    users_config.CLIENT_NAME = "kept";
    FreeConfig(&users_config);
    EXPECT_EQ(users_config.CLIENT_NAME, "kept");
    users_config.loaded = 1;
    FreeConfig(&users_config);
    EXPECT_EQ(users_config, kp_config{});

    // InitConfig gives the defaults and zeroes the line numbers.
    kp_config cfg;
    kp_config_lines lines;
    lines.loaded = 1;
    lines.line[3] = 9;
    cfg.CLIENT_NAME = "x";
    ASSERT_EQ(InitConfig(&cfg, &lines), 0);
    EXPECT_EQ(lines.loaded, 0);
    EXPECT_EQ(lines.line[3], 0);
    EXPECT_FALSE(cfg.CLIENT_NAME.has_value());
    EXPECT_EQ(cfg.KPBACKUP_POLICY, "any");
}

TEST(ConfigRecords, FormattedLinesParseBackToTheSameRecord) {
    // All keys read back is the kpconf fuzz target's check; here the changed keys.
    kp_config first = parsed(rich_text), defaults = parsed("");
    std::string changed, none;
    ASSERT_EQ(FormatConfigA(&first, false, &changed), 0);
    for (const char *lines : {"ALLOW_MEDIA_OVERWRITE = TAR\nALLOW_MEDIA_OVERWRITE = BE-MTF1\n",
                              "KNOWN_MASTER = m1, the alias\nKNOWN_MASTER = m2\n",
                              "DO_NOT_RESET_FILE_ACCESS_TIME = YES\n"}) {
        EXPECT_NE(changed.find(lines), std::string::npos) << lines;
    }
    EXPECT_EQ(changed.find("Port_KPCD"), std::string::npos);
    LogCapture log;
    EXPECT_EQ(parsed(changed), first);
    EXPECT_TRUE(log.texts().empty());
    ASSERT_EQ(FormatConfigA(&defaults, false, &none), 0);
    EXPECT_EQ(none, "");
}
