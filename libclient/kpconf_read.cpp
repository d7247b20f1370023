// The typed readers of kp.conf values: the tokenizer, the number, name and
// address parsers, and the copy and delete operations of each data type.

#include "kpconf_internal.h"
#include "logging.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

using kpconf_detail::is_conf_space;
using kpconf_detail::no_throw;
using kpconf_detail::skip_space;
using kpconf_detail::slot_as;
using kpconf_detail::token_cut;

// ------------------------------------------------------------------ helpers

namespace {

// The leading number of p in C notation, range-checked. Sets *end past it.
int parse_int(char *p, char **end, int32_t *out, const kp_int_range *range, int line,
              const char *function) {
    errno = 0;
    long long n = strtoll(p, end, 0);
    if (*end == p) {
        return KP_BAD_VALUE;
    }
    if (range != nullptr) {
        if (range->has_min && n < range->min) {
            logmsgf(LOG_SEV_ERROR, function,
                    "Integer (%lld) out of range on line %d, %s %s legal value (%d).", n, line,
                    range->replace ? "substituting" : "below", "minimum", range->min);
            if (!range->replace) {
                return KP_BAD_VALUE;
            }
            n = range->min;
        } else if (range->has_max && n > range->max) {
            logmsgf(LOG_SEV_ERROR, function,
                    "Integer (%lld) out of range on line %d, %s %s legal value (%d).", n, line,
                    range->replace ? "substituting" : "above", "maximum", range->max);
            if (!range->replace) {
                return KP_BAD_VALUE;
            }
            n = range->max;
        }
    }
    // Whatever range applies, the field is 32 bits wide.
    if (errno == ERANGE || n < INT32_MIN || n > INT32_MAX) {
        return KP_BAD_VALUE;
    }
    *out = static_cast<int32_t>(n);
    return KP_OK;
}

// An Enum or Flags value: a name of the table, or a number handled by the
// table's policy.
int parse_enum(kp_cursor *cur, const kp_type_arg *arg, const kp_type_table *table, int line,
               const char *function, int32_t *out) {
    const kp_enum_table *names = table != nullptr ? table->names : nullptr;
    if (names == nullptr) {
        return KP_BAD_VALUE;
    }
    char *p = skip_space(cur->next);
    if (*p == '\0') {
        *out = arg != nullptr ? arg->empty_value : 0;
        cur->next = p;
        return KP_OK;
    }
    std::string word;
    {
        token_cut t(p, TOKEN_WORD);
        for (size_t i = 0; i < names->count; ++i) {
            if (strcasecmp(t.token(), names->names[i].name) == 0) {
                *out = names->names[i].value;
                cur->next = t.next();
                return KP_OK;
            }
        }
        word = t.token();
    }
    if (names->policy == ENUM_NAMES_ONLY) {
        return KP_BAD_VALUE;
    }
    char *end = nullptr;
    errno = 0;
    long long n = strtoll(p, &end, 0);
    if (end == p) {
        return KP_BAD_VALUE;
    }
    cur->next = end;
    // The truth-value tables take every number as a truth value, so that "1"
    // means yes in the inverted table too.
    if (names->policy == ENUM_TRUTH) {
        *out = n != 0 ? 1 : 0;
        return KP_OK;
    }
    if (names->policy == ENUM_INVERTED_TRUTH) {
        *out = n == 0 ? 1 : 0;
        return KP_OK;
    }
    for (size_t i = 0; i < names->count; ++i) {
        if (names->names[i].value == n) {
            *out = names->names[i].value;
            return KP_OK;
        }
    }
    switch (names->policy) {
    case ENUM_NEAREST: {
        if (names->count == 0) {
            return KP_BAD_VALUE;
        }
        // Clamped so the distances below cannot overflow.
        const long long v = n < -(1LL << 40) ? -(1LL << 40) : (n > (1LL << 40) ? 1LL << 40 : n);
        size_t best = 0;
        for (size_t i = 1; i < names->count; ++i) {
            if (llabs(v - names->names[i].value) < llabs(v - names->names[best].value)) {
                best = i;
            }
        }
        logmsgf(LOG_SEV_ERROR, function,
                "Illegal enumerated value (%s) on line %d, substituting %s.", word.c_str(), line,
                names->names[best].name);
        *out = names->names[best].value;
        return KP_OK;
    }
    case ENUM_REPLACE_EMPTY:
        *out = arg != nullptr ? arg->empty_value : 0;
        logmsgf(LOG_SEV_ERROR, function, "Illegal enumerated value (%s) on line %d, subsituting %d",
                word.c_str(), line, *out);
        return KP_OK;
    case ENUM_ANY_NUMBER:
        if (errno == ERANGE || n < INT32_MIN || n > INT32_MAX) {
            return KP_BAD_VALUE;
        }
        *out = static_cast<int32_t>(n);
        return KP_OK;
    default:
        return KP_BAD_VALUE;
    }
}

// One part of a dotted address: a C-notation number with nothing after it.
bool parse_ip_part(const char *s, size_t len, uint32_t limit, uint32_t *out) {
    if (len == 0 || len > 40) {
        return false;
    }
    char buf[48];
    memcpy(buf, s, len);
    buf[len] = '\0';
    if (buf[0] < '0' || buf[0] > '9') {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    unsigned long long n = strtoull(buf, &end, 0);
    if (*end != '\0' || errno == ERANGE || n > limit) {
        return false;
    }
    *out = static_cast<uint32_t>(n);
    return true;
}

// a, a.b, a.b.c or a.b.c.d; the last part fills the remaining bytes.
bool parse_dotted(const char *text, uint32_t *host_order) {
    uint32_t part[4];
    size_t count = 0;
    const char *p = text;
    for (;;) {
        const char *dot = strchr(p, '.');
        size_t len = dot != nullptr ? static_cast<size_t>(dot - p) : strlen(p);
        if (count == 4) {
            return false;
        }
        part[count] = 0;
        if (!parse_ip_part(p, len, UINT32_MAX, &part[count])) {
            return false;
        }
        ++count;
        if (dot == nullptr) {
            break;
        }
        p = dot + 1;
    }
    static const uint32_t last_limit[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
    for (size_t i = 0; i + 1 < count; ++i) {
        if (part[i] > 0xFF) {
            return false;
        }
    }
    if (part[count - 1] > last_limit[count - 1]) {
        return false;
    }
    uint32_t addr = 0;
    for (size_t i = 0; i + 1 < count; ++i) {
        addr |= part[i] << (24 - 8 * i);
    }
    addr |= part[count - 1];
    *host_order = addr;
    return true;
}

} // namespace

// ---------------------------------------------------------------- records

int32_t kp_record::num(size_t i) const {
    if (i >= field.size()) {
        return 0;
    }
    const int32_t *v = std::get_if<int32_t>(&field[i]);
    return v != nullptr ? *v : 0;
}

const char *kp_record::text(size_t i) const {
    if (i >= field.size()) {
        return nullptr;
    }
    const kp_string *v = std::get_if<kp_string>(&field[i]);
    return v != nullptr && v->has_value() ? (*v)->c_str() : nullptr;
}

uint32_t ipaddr_class(uint32_t h) {
    if (h == 0) {
        return IPCLASS_ZEROS;
    }
    if (h == 0xFFFFFFFFu) {
        return IPCLASS_ONES;
    }
    if ((h >> 24) == 127) {
        return IPCLASS_LOOPBACK;
    }
    auto host_net_bcast = [h](uint32_t host_mask, uint32_t host, uint32_t net, uint32_t bcast) {
        const uint32_t part = h & host_mask;
        return part == 0 ? net : (part == host_mask ? bcast : host);
    };
    if ((h >> 31) == 0) {
        return host_net_bcast(0xFFFFFFu, IPCLASS_A_HOST, IPCLASS_A_NET, IPCLASS_A_BCAST);
    }
    if ((h >> 30) == 2) {
        return host_net_bcast(0xFFFFu, IPCLASS_B_HOST, IPCLASS_B_NET, IPCLASS_B_BCAST);
    }
    if ((h >> 29) == 6) {
        return host_net_bcast(0xFFu, IPCLASS_C_HOST, IPCLASS_C_NET, IPCLASS_C_BCAST);
    }
    if ((h >> 28) == 14) {
        return IPCLASS_D;
    }
    return IPCLASS_E;
}

// -------------------------------------------------------------- tokenizer

int getConfigTokenA(kp_cursor *cur, int kind) {
    if (cur == nullptr || cur->next == nullptr) {
        return -1;
    }
    char *p = skip_space(cur->next);
    char *start = p;
    char *end = nullptr;
    char *after = nullptr;
    auto trim_back = [](char *from, char *to) {
        while (to > from && is_conf_space(to[-1])) {
            --to;
        }
        return to;
    };
    switch (kind) {
    case TOKEN_WORD:
        end = p;
        while (*end != '\0' && !is_conf_space(*end)) {
            ++end;
        }
        after = *end != '\0' ? end + 1 : end;
        break;
    case TOKEN_TO_EQUALS:
    case TOKEN_TO_COMMA:
    case TOKEN_REST_OF_LINE: {
        const char delim = kind == TOKEN_TO_EQUALS ? '=' : (kind == TOKEN_TO_COMMA ? ',' : '\n');
        end = p;
        while (*end != '\0' && *end != delim) {
            ++end;
        }
        after = *end != '\0' ? end + 1 : end;
        end = trim_back(start, end);
        break;
    }
    case TOKEN_ALL:
        end = p + strlen(p);
        after = end;
        end = trim_back(start, end);
        break;
    case TOKEN_QUOTED:
        // The text between the quotes is kept as written, blanks included.
        if (*p != '"') {
            return -1;
        }
        start = p + 1;
        end = strchr(start, '"');
        if (end == nullptr) {
            return -1;
        }
        after = end + 1;
        break;
    case TOKEN_PARENS:
    case TOKEN_BRACES: {
        const char open = kind == TOKEN_PARENS ? '(' : '{';
        const char close = kind == TOKEN_PARENS ? ')' : '}';
        if (*p != open) {
            return -1;
        }
        int depth = 0;
        char *q = p;
        for (; *q != '\0'; ++q) {
            if (*q == open) {
                ++depth;
            } else if (*q == close && --depth == 0) {
                break;
            }
        }
        if (*q == '\0') {
            return -1;
        }
        start = p + 1;
        end = q;
        after = q + 1;
        break;
    }
    default:
        return -1;
    }
    const int saved = static_cast<unsigned char>(*end);
    *end = '\0';
    cur->token = start;
    cur->cut = end;
    cur->next = after;
    return saved;
}

void putBackConfigTokenA(kp_cursor *cur, int saved) {
    if (cur != nullptr && cur->cut != nullptr && saved > 0) {
        *cur->cut = static_cast<char>(saved);
    }
}

// ----------------------------------------------------------------- readers

namespace {

int do_readInt(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
               int line) {
    int32_t *dst = slot_as<int32_t>(field);
    if (dst == nullptr || cur == nullptr || cur->next == nullptr) {
        return KP_BAD_VALUE;
    }
    char *p = skip_space(cur->next);
    if (*p == '\0') {
        *dst = arg != nullptr ? arg->empty_value : 0;
        cur->next = p;
        return KP_OK;
    }
    char *end = nullptr;
    int32_t v = 0;
    int rc = parse_int(p, &end, &v, table != nullptr ? table->range : nullptr, line, "readInt");
    if (rc != KP_OK) {
        return rc;
    }
    *dst = v;
    cur->next = end;
    return KP_OK;
}

int do_readEnum(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
                int line) {
    int32_t *dst = slot_as<int32_t>(field);
    if (dst == nullptr || cur == nullptr || cur->next == nullptr) {
        return KP_BAD_VALUE;
    }
    int32_t v = 0;
    int rc = parse_enum(cur, arg, table, line, "readEnum", &v);
    if (rc == KP_OK) {
        *dst = v;
    }
    return rc;
}

int do_readFlags(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
                 int line) {
    int32_t *dst = slot_as<int32_t>(field);
    if (dst == nullptr || cur == nullptr || cur->next == nullptr) {
        return KP_BAD_VALUE;
    }
    int32_t v = 0;
    int rc = parse_enum(cur, arg, table, line, "readFlags", &v);
    if (rc == KP_OK) {
        *dst |= v;
    }
    return rc;
}

int do_readIPAddr(kp_cursor *cur, kp_slot field, const kp_type_arg *arg,
                  const kp_type_table * /*table*/, int line) {
    int32_t *dst = slot_as<int32_t>(field);
    if (dst == nullptr || cur == nullptr || cur->next == nullptr) {
        return KP_BAD_VALUE;
    }
    token_cut t(cur->next, TOKEN_WORD);
    uint32_t h = 0;
    if (!parse_dotted(t.token(), &h)) {
        logmsgf(LOG_SEV_ERROR, "readIPAddr", "Badly formed IP address (%s) on line %d", t.token(),
                line);
        return KP_BAD_VALUE;
    }
    const uint32_t accepted = arg != nullptr ? arg->ip_classes : 0;
    if ((ipaddr_class(h) & accepted) == 0) {
        logmsgf(LOG_SEV_ERROR, "readIPAddr", "Wrong class of IP address (%s) on line %d", t.token(),
                line);
        return KP_BAD_VALUE;
    }
    // Stored in network byte order, as the system's address routines use it.
    const uint32_t net = htonl(h);
    memcpy(dst, &net, sizeof net);
    cur->next = t.next();
    return KP_OK;
}

int do_readString(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
                  int line) {
    kp_string *dst = slot_as<kp_string>(field);
    if (dst == nullptr || cur == nullptr || cur->next == nullptr) {
        return KP_BAD_VALUE;
    }
    char *p = skip_space(cur->next);
    if (*p == '\0') {
        if (table != nullptr && table->text != nullptr) {
            *dst = std::string(table->text);
        } else {
            dst->reset();
        }
        cur->next = p;
        return KP_OK;
    }
    const kp_token_kind kind = arg != nullptr ? arg->kind : TOKEN_WORD;
    token_cut t(p, kind);
    if (!t.ok()) {
        return KP_BAD_VALUE;
    }
    std::string value = t.token();
    const size_t max = arg != nullptr ? arg->max_len : 0;
    if (max != 0 && value.size() > max) {
        // Blanks the cut leaves at the end go too, as from every token: a
        // value that ends in a blank could never be written back.
        std::string cut = value.substr(0, max);
        while (!cut.empty() && is_conf_space(cut.back())) {
            cut.pop_back();
        }
        logmsgf(LOG_SEV_ERROR, "readString",
                "String too long on line %d.  Truncating \"%s\" to \"%s\".", line, value.c_str(),
                cut.c_str());
        value = cut;
    }
    *dst = std::move(value);
    cur->next = t.next();
    return KP_OK;
}

int do_readStruct(kp_cursor *cur, kp_slot field, const kp_type_arg * /*arg*/,
                  const kp_type_table *table, int line) {
    kp_struct *dst = slot_as<kp_struct>(field);
    const kp_struct_def *def = table != nullptr ? table->fields : nullptr;
    if (dst == nullptr || def == nullptr || cur == nullptr || cur->next == nullptr) {
        return KP_BAD_VALUE;
    }
    kp_record rec;
    rec.field.reserve(def->count);
    for (size_t i = 0; i < def->count; ++i) {
        if (def->fields[i].type == CONF_STRING) {
            rec.field.emplace_back(kp_string{});
        } else {
            rec.field.emplace_back(int32_t{0});
        }
    }
    char *next = cur->next;
    for (size_t i = 0; i < def->count; ++i) {
        const kp_field_def &fd = def->fields[i];
        // A field holds one scalar value: Int, Enum, Flags, IPAddr or String.
        if (fd.type > CONF_STRING) {
            return KP_BAD_VALUE;
        }
        token_cut t(next, fd.token);
        if (!t.ok()) {
            return KP_BAD_VALUE;
        }
        if (*t.token() == '\0' && fd.required) {
            logmsgf(LOG_SEV_ERROR, "readStruct", "Missing required data field on line %d.", line);
            return KP_BAD_VALUE;
        }
        kp_slot slot;
        if (fd.type == CONF_STRING) {
            slot = &std::get<kp_string>(rec.field[i]);
        } else {
            slot = &std::get<int32_t>(rec.field[i]);
        }
        kp_cursor fc;
        fc.next = t.token();
        int rc = configDataMethods[fd.type].read(&fc, slot, &fd.arg, fd.table, line);
        if (rc != KP_OK) {
            return rc;
        }
        char *rest = skip_space(fc.next);
        if (*rest != '\0') {
            logmsgf(LOG_SEV_ERROR, "readStruct",
                    "Extra data (%s) at end of field on line %d ignored.", rest, line);
        }
        next = t.next();
    }
    *dst = std::move(rec);
    cur->next = next;
    return KP_OK;
}

int do_readList(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
                int line) {
    kp_list *dst = slot_as<kp_list>(field);
    kp_list_def *def = table != nullptr ? table->list : nullptr;
    if (dst == nullptr || def == nullptr || def->element == nullptr) {
        return KP_BAD_VALUE;
    }
    kp_struct element;
    kp_type_table element_table;
    element_table.fields = def->element;
    int rc = readStruct(cur, &element, arg, &element_table, line);
    if (rc != KP_OK) {
        dst->clear();
        def->building = dst;
        return rc;
    }
    if (def->building != dst) {
        // The first definition in this parse replaces a list from elsewhere.
        dst->clear();
        def->building = dst;
    }
    dst->push_back(std::move(*element));
    return KP_OK;
}

} // namespace

int readInt(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
            int line) {
    return no_throw([&] { return do_readInt(cur, field, arg, table, line); });
}
int readEnum(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
             int line) {
    return no_throw([&] { return do_readEnum(cur, field, arg, table, line); });
}
int readFlags(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
              int line) {
    return no_throw([&] { return do_readFlags(cur, field, arg, table, line); });
}
int readIPAddr(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
               int line) {
    return no_throw([&] { return do_readIPAddr(cur, field, arg, table, line); });
}
int readString(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
               int line) {
    return no_throw([&] { return do_readString(cur, field, arg, table, line); });
}
int readStruct(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
               int line) {
    return no_throw([&] { return do_readStruct(cur, field, arg, table, line); });
}
int readList(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
             int line) {
    return no_throw([&] { return do_readList(cur, field, arg, table, line); });
}

// --------------------------------------------------------- copy and delete

int copyString(kp_slot dst, kp_slot src) {
    kp_string *d = slot_as<kp_string>(dst);
    kp_string *s = slot_as<kp_string>(src);
    if (d == nullptr || s == nullptr) {
        return KP_BAD_VALUE;
    }
    return no_throw([&] {
        *d = *s;
        return KP_OK;
    });
}

int copyStruct(kp_slot dst, kp_slot src) {
    kp_struct *d = slot_as<kp_struct>(dst);
    kp_struct *s = slot_as<kp_struct>(src);
    if (d == nullptr || s == nullptr) {
        return KP_BAD_VALUE;
    }
    return no_throw([&] {
        *d = *s;
        return KP_OK;
    });
}

int copyList(kp_slot dst, kp_slot src) {
    kp_list *d = slot_as<kp_list>(dst);
    kp_list *s = slot_as<kp_list>(src);
    if (d == nullptr || s == nullptr) {
        return KP_BAD_VALUE;
    }
    return no_throw([&] {
        *d = *s;
        return KP_OK;
    });
}

void delString(kp_slot field) {
    if (kp_string *p = slot_as<kp_string>(field)) {
        p->reset();
    }
}

void delStruct(kp_slot field) {
    if (kp_struct *p = slot_as<kp_struct>(field)) {
        p->reset();
    }
}

void delList(kp_slot field) {
    if (kp_list *p = slot_as<kp_list>(field)) {
        kp_list().swap(*p);
    }
}
