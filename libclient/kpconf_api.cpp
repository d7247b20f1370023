// The parser of kp.conf, the default record, and reading the host's and the
// users' files. The key table is in kpconf_table.cpp, the readers in
// kpconf_read.cpp, the formatting in kpconf_format.cpp.

#include "kpconf_api.h"

#include "cmnutils.h"
#include "kpconf_internal.h"
#include "logging.h"
#include "unixconf_api.h"

#include <cstdio>
#include <cstring>
#include <new>

using kpconf_detail::no_throw;
using kpconf_detail::skip_space;
using kpconf_detail::token_cut;

int VERBOSE_kpconf = 1;
kp_config *prev_kp_config = nullptr;

// ----------------------------------------------------------------- parsing

namespace {

kp_config_lines internal_lines;

// The reader-failure messages: a head with the line number, then the key
// and, when there is one, " = value".
void log_skipped(const char *head, const char *key, const char *value) {
    if (*value != '\0') {
        logmsgf(LOG_SEV_ERROR, "ParseConfigExA", "%s: %s = %s", head, key, value);
    } else {
        logmsgf(LOG_SEV_ERROR, "ParseConfigExA", "%s: %s", head, key);
    }
}

// One line, terminated in place. Returns a status to remember (0 for none).
int parse_line(char *line, int lineno, kp_config *cfg, kp_config_lines *lines, int mode) {
    char *s = skip_space(line);
    if (*s == '\0' || *s == '#') {
        return KP_OK;
    }
    token_cut key_tok(s, TOKEN_TO_EQUALS);
    const char *key = key_tok.token();
    token_cut value_tok(key_tok.next(), TOKEN_ALL);
    char *value = value_tok.token();

    const int idx = getConfigIndexA(key);
    if (idx < 0) {
        const char *what = idx == -2 ? "Obsolete" : "Unknown";
        if (*value != '\0') {
            logmsgf(LOG_SEV_ERROR, "ParseConfigExA", "%s configuration option on line %d: %s = %s",
                    what, lineno, key, value);
        } else {
            logmsgf(LOG_SEV_ERROR, "ParseConfigExA", "%s configuration option on line %d: %s", what,
                    lineno, key);
        }
        return (mode & PARSE_STRICT) != 0 ? KP_BAD_VALUE : KP_OK;
    }
    const kp_config_def &def = configDefinition[idx];
    const bool empty = *value == '\0';
    if (empty && (def.attrs & CONF_REQUIRED) != 0) {
        if ((mode & PARSE_EMPTY_DEFINES) != 0) {
            lines->line[idx] = -lineno;
        } else {
            logmsgf(LOG_SEV_ERROR, "ParseConfigExA",
                    "Missing 'value'; Option skipped on line %d: %s", lineno, key);
        }
        return KP_OK;
    }
    kp_cursor cur;
    cur.next = value;
    const int rc =
        configDataMethods[def.type].read(&cur, config_slot(cfg, idx), &def.arg, &def.table, lineno);
    if (rc == KP_OK) {
        cfg->loaded = 1;
        char *rest = skip_space(cur.next);
        if (*rest != '\0') {
            logmsgf(LOG_SEV_ERROR, "ParseConfigExA", "Extra data (%s) at end of line %d ignored.",
                    rest, lineno);
        }
        const int before = lines->line[idx];
        if ((def.attrs & CONF_SINGLE) != 0 && before != 0 && VERBOSE_kpconf != 0) {
            logmsgf(LOG_SEV_ERROR, "ParseConfigExA",
                    "Option (%s) redefined on line %d, discarding definition on line %d.", def.name,
                    lineno, before < 0 ? -before : before);
        }
        lines->line[idx] = (empty && (mode & PARSE_EMPTY_DEFINES) != 0) ? -lineno : lineno;
        return KP_OK;
    }
    char head[128];
    if (rc == KP_NO_MEMORY) {
        snprintf(head, sizeof head, "Unable to allocate memory; Option skipped on line %d", lineno);
    } else if (rc == KP_BAD_VALUE) {
        snprintf(head, sizeof head, "Badly formed configuration entry on line %d", lineno);
    } else {
        snprintf(head, sizeof head,
                 "Read method returned unknown error code %d; Option skipped on line %d", rc,
                 lineno);
    }
    log_skipped(head, key, value);
    if (rc == KP_NO_MEMORY) {
        return KP_NO_MEMORY;
    }
    return (mode & PARSE_STRICT) != 0 ? rc : KP_OK;
}

} // namespace

int ParseConfigExA(char *text, kp_config *cfg, kp_config_lines *lines, int mode) {
    if (cfg == nullptr) {
        cfg = prev_kp_config;
    }
    if (cfg == nullptr) {
        return KP_BAD_VALUE; // nothing to parse into
    }
    if (lines == nullptr) {
        lines = &internal_lines;
    }
    if ((mode & PARSE_CONTINUE) == 0) {
        *lines = kp_config_lines{};
        for (const kp_config_def &def : configDefinition) {
            if (def.type == CONF_LIST) {
                def.table.list->building = nullptr;
            }
        }
        prev_kp_config = cfg;
    }
    lines->loaded = 1;
    if (text == nullptr) {
        return KP_OK;
    }

    int result = KP_OK;
    int lineno = 0;
    char *p = text;
    while (*p != '\0') {
        ++lineno;
        char *eol = strchr(p, '\n');
        if (eol != nullptr) {
            *eol = '\0';
        }
        int rc;
        try {
            rc = parse_line(p, lineno, cfg, lines, mode);
        } catch (const std::bad_alloc &) {
            rc = KP_NO_MEMORY;
        }
        if (eol != nullptr) {
            *eol = '\n';
        }
        if (rc == KP_NO_MEMORY || (rc != KP_OK && result == KP_OK)) {
            result = rc;
        }
        if (eol == nullptr) {
            break;
        }
        p = eol + 1;
    }
    return result;
}

// ------------------------------------------------------- records and defaults

namespace {

kp_config default_record;
bool default_built = false;

// The default record from the table; Struct defaults are parsed from their
// written form.
void build_defaults() {
    if (default_built) {
        return;
    }
    kp_config d;
    for (int i = 0; i < KPCONF_KEYS; ++i) {
        const kp_config_def &def = configDefinition[i];
        kp_slot slot = config_slot(&d, i);
        switch (def.type) {
        case CONF_INT:
        case CONF_ENUM:
        case CONF_FLAGS:
        case CONF_IPADDR:
            *std::get<int32_t *>(slot) = def.default_num;
            break;
        case CONF_STRING:
            if (def.default_text != nullptr) {
                *std::get<kp_string *>(slot) = std::string(def.default_text);
            }
            break;
        case CONF_STRUCT:
            if (def.default_text != nullptr) {
                std::string text = def.default_text;
                kp_cursor cur;
                cur.next = text.data();
                readStruct(&cur, slot, &def.arg, &def.table, 0);
            }
            break;
        default:
            break;
        }
    }
    default_record = std::move(d);
    default_built = true;
}

bool is_process_record(const kp_config *cfg) {
    return cfg == &master_config || cfg == &users_config || cfg == &default_record;
}

bool text_unset(const kp_string &s) {
    return !s.has_value() || s->empty();
}

} // namespace

int getDefaultConfig(kp_config *cfg) {
    if (cfg == nullptr) {
        return KP_BAD_VALUE;
    }
    return no_throw([&] {
        build_defaults();
        // The password database is asked once: the superuser, for one, has no
        // home directory for this purpose and would be asked on every call.
        static bool user_asked = false;
        if (!user_asked && (text_unset(default_record.BUSY_FILE_NOTIFY_USER) ||
                            text_unset(default_record.BUSY_FILE_DIRECTORY))) {
            user_asked = true;
            std::optional<std::string> user = TgetUserName();
            if (user.has_value()) {
                if (text_unset(default_record.BUSY_FILE_NOTIFY_USER)) {
                    default_record.BUSY_FILE_NOTIFY_USER = *user;
                }
                if (text_unset(default_record.BUSY_FILE_DIRECTORY)) {
                    std::optional<std::string> home = getUserHome(user->c_str());
                    if (home.has_value()) {
                        default_record.BUSY_FILE_DIRECTORY = *home;
                    }
                }
            }
        }
        return CopyConfig(cfg, &default_record);
    });
}

int InitConfig(kp_config *cfg, kp_config_lines *lines) {
    if (lines != nullptr) {
        *lines = kp_config_lines{};
    }
    return getDefaultConfig(cfg);
}

int CopyConfig(kp_config *dst, const kp_config *src) {
    if (dst == nullptr || src == nullptr) {
        return KP_BAD_VALUE;
    }
    if (dst == src) {
        return KP_OK;
    }
    kp_config copy;
    copy.loaded = src->loaded;
    kp_config *from = const_cast<kp_config *>(src); // read only: slots are not const-qualified
    for (int i = 0; i < KPCONF_KEYS; ++i) {
        const kp_config_def &def = configDefinition[i];
        if (def.type == CONF_OBSOLETE) {
            continue;
        }
        kp_slot to = config_slot(&copy, i);
        kp_slot fr = config_slot(from, i);
        const kp_data_methods &m = configDataMethods[def.type];
        int rc = KP_OK;
        if (m.copy != nullptr) {
            rc = m.copy(to, fr);
        } else {
            *std::get<int32_t *>(to) = *std::get<int32_t *>(fr);
        }
        if (rc != KP_OK) {
            // The copies made so far go with `copy`; the destination is zeroed.
            *dst = kp_config{};
            return rc;
        }
    }
    *dst = std::move(copy);
    return KP_OK;
}

void FreeConfig(kp_config *cfg) {
    if (cfg == nullptr) {
        return;
    }
    if (is_process_record(cfg) && cfg->loaded == 0) {
        return;
    }
    for (int i = 0; i < KPCONF_KEYS; ++i) {
        const kp_config_def &def = configDefinition[i];
        if (def.type != CONF_OBSOLETE && configDataMethods[def.type].del != nullptr) {
            configDataMethods[def.type].del(config_slot(cfg, i));
        }
    }
    *cfg = kp_config{};
}

int FormatConfigA(const kp_config *cfg, bool all, std::string *out) {
    if (cfg == nullptr || out == nullptr) {
        return KP_BAD_VALUE;
    }
    return no_throw([&] {
        build_defaults();
        kp_config *c = const_cast<kp_config *>(cfg); // read only
        for (int i = 0; i < KPCONF_KEYS; ++i) {
            const kp_config_def &def = configDefinition[i];
            if (def.type == CONF_OBSOLETE) {
                continue;
            }
            kp_slot mine = config_slot(c, i);
            if (!all) {
                kp_slot base = config_slot(&default_record, i);
                const bool same = std::visit(
                    [&base](auto p) -> bool {
                        using P = decltype(p);
                        if constexpr (std::is_same_v<P, std::monostate>) {
                            return true;
                        } else {
                            return *p == *std::get<P>(base);
                        }
                    },
                    mine);
                if (same) {
                    continue;
                }
            }
            int rc = configDataMethods[def.type].format(def.name, mine, &def.arg, &def.table, out);
            if (rc != KP_OK) {
                return rc;
            }
        }
        return KP_OK;
    });
}

// ------------------------------------------------------ reading the files

int ReadHostConfigA(kp_config *cfg, kp_config_lines *lines) {
    if (cfg == nullptr) {
        return KP_BAD_VALUE;
    }
    if (cfg->loaded != 0) {
        return KP_OK;
    }
    // The checks below concern the host file on its own, not a text that
    // continues an earlier parse.
    const bool fresh = lines == nullptr || lines->loaded == 0;
    int rc = getDefaultConfig(cfg);
    if (rc != KP_OK) {
        return rc;
    }
    std::string text;
    rc = getLocalHostConfigImage(&text);
    if (rc != KP_OK) {
        return rc;
    }
    rc = ParseConfigExA(text.data(), cfg, lines, PARSE_EMPTY_DEFINES);
    if (rc != KP_OK) {
        return rc;
    }
    int result = KP_OK;
    if (fresh) {
        if (cfg->SERVER.empty()) {
            logmsg(LOG_SEV_ERROR, "SERVER not specified in Sorvane configuration",
                   "ReadHostConfigA");
            result = KP_NO_SERVER;
        }
        // Both fields hold the opposite of their keys' meaning (YES stores 0).
        const bool use_ctime = cfg->USE_CTIME_FOR_INCREMENTALS == 0;
        const bool keep_atime = cfg->DO_NOT_RESET_FILE_ACCESS_TIME == 0;
        if (use_ctime && !keep_atime) {
            cfg->DO_NOT_RESET_FILE_ACCESS_TIME = 0;
            logmsg(LOG_SEV_ERROR,
                   "USE_CTIME_FOR_INCREMENTALS specified without DO_NOT_RESET_FILE_ACCESS_TIME.  "
                   "DO_NOT_RESET_FILE_ACCESS_TIME set also",
                   "ReadHostConfigA");
        }
    }
    return result;
}

int ReadUsersConfigA(kp_config *cfg, kp_config_lines *lines, const char *user) {
    if (cfg == nullptr) {
        return KP_BAD_VALUE;
    }
    if (cfg->loaded != 0) {
        return KP_OK;
    }
    int rc = getDefaultConfig(cfg);
    if (rc != KP_OK) {
        return rc;
    }
    std::string text;
    rc = getLocalUsersConfigImage(user, &text);
    if (rc == KP_NO_CONFIG_FILE) {
        // No file at all: the defaults are the user's configuration.
        cfg->loaded = 1;
        return KP_OK;
    }
    if (rc != KP_OK) {
        return rc;
    }
    return ParseConfigExA(text.data(), cfg, lines, PARSE_EMPTY_DEFINES);
}
