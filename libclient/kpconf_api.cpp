// The configuration table of kp.conf, its typed readers and the parser.

#include "kpconf_api.h"

#include "cmnutils.h"
#include "logging.h"
#include "unixconf_api.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <strings.h>

int VERBOSE_kpconf = 1;
kp_config *prev_kp_config = nullptr;

// ------------------------------------------------------------------ helpers

namespace {

// White space of the configuration syntax. Fixed rather than isspace() so
// that bytes from 128 up never count as blanks, whatever the locale.
bool is_conf_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

char *skip_space(char *p) {
    while (is_conf_space(*p))
        ++p;
    return p;
}

__attribute__((format(printf, 3, 4))) void conf_log(int level, const char *function,
                                                    const char *fmt, ...) {
    // logmsg keeps at most 965 characters of a text; a longer message is cut
    // here already, safely.
    char text[2048];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    logmsg(level, text, function);
}

// Puts the character cut out by getConfigTokenA back however the reader ends
// (early returns, exceptions).
class token_cut {
  public:
    token_cut(char *at, int kind) {
        cur_.next = at;
        saved_ = getConfigTokenA(&cur_, kind);
    }
    ~token_cut() { putBackConfigTokenA(&cur_, saved_); }
    token_cut(const token_cut &) = delete;
    token_cut &operator=(const token_cut &) = delete;

    bool ok() const { return saved_ != -1; }
    char *token() const { return cur_.token; }
    char *next() const { return cur_.next; }

  private:
    kp_cursor cur_;
    int saved_ = -1;
};

template <typename T> T *slot_as(kp_slot field) {
    T **p = std::get_if<T *>(&field);
    return p != nullptr ? *p : nullptr;
}

// The leading number of p in C notation, range-checked. Sets *end past it.
int parse_int(char *p, char **end, int32_t *out, const kp_int_range *range, int line,
              const char *function) {
    errno = 0;
    long long n = strtoll(p, end, 0);
    if (*end == p)
        return KP_BAD_VALUE;
    if (range != nullptr) {
        if (range->has_min && n < range->min) {
            conf_log(LOG_SEV_ERROR, function,
                     "Integer (%lld) out of range on line %d, %s %s legal value (%d).", n, line,
                     range->replace ? "substituting" : "below", "minimum", range->min);
            if (!range->replace)
                return KP_BAD_VALUE;
            n = range->min;
        } else if (range->has_max && n > range->max) {
            conf_log(LOG_SEV_ERROR, function,
                     "Integer (%lld) out of range on line %d, %s %s legal value (%d).", n, line,
                     range->replace ? "substituting" : "above", "maximum", range->max);
            if (!range->replace)
                return KP_BAD_VALUE;
            n = range->max;
        }
    }
    // Whatever range applies, the field is 32 bits wide.
    if (errno == ERANGE || n < INT32_MIN || n > INT32_MAX)
        return KP_BAD_VALUE;
    *out = static_cast<int32_t>(n);
    return KP_OK;
}

// An Enum or Flags value: a name of the table, or a number handled by the
// table's policy.
int parse_enum(kp_cursor *cur, const kp_type_arg *arg, const kp_type_table *table, int line,
               const char *function, int32_t *out) {
    const kp_enum_table *names = table != nullptr ? table->names : nullptr;
    if (names == nullptr)
        return KP_BAD_VALUE;
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
    if (names->policy == ENUM_NAMES_ONLY)
        return KP_BAD_VALUE;
    char *end = nullptr;
    errno = 0;
    long long n = strtoll(p, &end, 0);
    if (end == p)
        return KP_BAD_VALUE;
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
        if (names->count == 0)
            return KP_BAD_VALUE;
        // Clamped so the distances below cannot overflow.
        const long long v = n < -(1LL << 40) ? -(1LL << 40) : (n > (1LL << 40) ? 1LL << 40 : n);
        size_t best = 0;
        for (size_t i = 1; i < names->count; ++i) {
            if (llabs(v - names->names[i].value) < llabs(v - names->names[best].value))
                best = i;
        }
        conf_log(LOG_SEV_ERROR, function,
                 "Illegal enumerated value (%s) on line %d, substituting %s.", word.c_str(), line,
                 names->names[best].name);
        *out = names->names[best].value;
        return KP_OK;
    }
    case ENUM_REPLACE_EMPTY:
        *out = arg != nullptr ? arg->empty_value : 0;
        conf_log(LOG_SEV_ERROR, function,
                 "Illegal enumerated value (%s) on line %d, subsituting %d", word.c_str(), line,
                 *out);
        return KP_OK;
    case ENUM_ANY_NUMBER:
        if (errno == ERANGE || n < INT32_MIN || n > INT32_MAX)
            return KP_BAD_VALUE;
        *out = static_cast<int32_t>(n);
        return KP_OK;
    default:
        return KP_BAD_VALUE;
    }
}

// One part of a dotted address: a C-notation number with nothing after it.
bool parse_ip_part(const char *s, size_t len, uint32_t limit, uint32_t *out) {
    if (len == 0 || len > 40)
        return false;
    char buf[48];
    memcpy(buf, s, len);
    buf[len] = '\0';
    if (buf[0] < '0' || buf[0] > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long n = strtoull(buf, &end, 0);
    if (*end != '\0' || errno == ERANGE || n > limit)
        return false;
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
        if (count == 4)
            return false;
        part[count] = 0;
        if (!parse_ip_part(p, len, UINT32_MAX, &part[count]))
            return false;
        ++count;
        if (dot == nullptr)
            break;
        p = dot + 1;
    }
    static const uint32_t last_limit[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
    for (size_t i = 0; i + 1 < count; ++i) {
        if (part[i] > 0xFF)
            return false;
    }
    if (part[count - 1] > last_limit[count - 1])
        return false;
    uint32_t addr = 0;
    for (size_t i = 0; i + 1 < count; ++i)
        addr |= part[i] << (24 - 8 * i);
    addr |= part[count - 1];
    *host_order = addr;
    return true;
}

std::string format_ip(int32_t stored) {
    uint32_t net;
    memcpy(&net, &stored, sizeof net);
    const uint32_t h = ntohl(net);
    char buf[20];
    snprintf(buf, sizeof buf, "%u.%u.%u.%u", h >> 24, (h >> 16) & 0xFF, (h >> 8) & 0xFF, h & 0xFF);
    return buf;
}

} // namespace

// ---------------------------------------------------------------- records

int32_t kp_record::num(size_t i) const {
    if (i >= field.size())
        return 0;
    const int32_t *v = std::get_if<int32_t>(&field[i]);
    return v != nullptr ? *v : 0;
}

const char *kp_record::text(size_t i) const {
    if (i >= field.size())
        return nullptr;
    const kp_string *v = std::get_if<kp_string>(&field[i]);
    return v != nullptr && v->has_value() ? (*v)->c_str() : nullptr;
}

uint32_t ipaddr_class(uint32_t h) {
    if (h == 0)
        return IPCLASS_ZEROS;
    if (h == 0xFFFFFFFFu)
        return IPCLASS_ONES;
    if ((h >> 24) == 127)
        return IPCLASS_LOOPBACK;
    auto host_net_bcast = [h](uint32_t host_mask, uint32_t host, uint32_t net, uint32_t bcast) {
        const uint32_t part = h & host_mask;
        return part == 0 ? net : (part == host_mask ? bcast : host);
    };
    if ((h >> 31) == 0)
        return host_net_bcast(0xFFFFFFu, IPCLASS_A_HOST, IPCLASS_A_NET, IPCLASS_A_BCAST);
    if ((h >> 30) == 2)
        return host_net_bcast(0xFFFFu, IPCLASS_B_HOST, IPCLASS_B_NET, IPCLASS_B_BCAST);
    if ((h >> 29) == 6)
        return host_net_bcast(0xFFu, IPCLASS_C_HOST, IPCLASS_C_NET, IPCLASS_C_BCAST);
    if ((h >> 28) == 14)
        return IPCLASS_D;
    return IPCLASS_E;
}

// -------------------------------------------------------------- tokenizer

int getConfigTokenA(kp_cursor *cur, int kind) {
    if (cur == nullptr || cur->next == nullptr)
        return -1;
    char *p = skip_space(cur->next);
    char *start = p;
    char *end = nullptr;
    char *after = nullptr;
    auto trim_back = [](char *from, char *to) {
        while (to > from && is_conf_space(to[-1]))
            --to;
        return to;
    };
    switch (kind) {
    case TOKEN_WORD:
        end = p;
        while (*end != '\0' && !is_conf_space(*end))
            ++end;
        after = *end != '\0' ? end + 1 : end;
        break;
    case TOKEN_TO_EQUALS:
    case TOKEN_TO_COMMA:
    case TOKEN_REST_OF_LINE: {
        const char delim = kind == TOKEN_TO_EQUALS ? '=' : (kind == TOKEN_TO_COMMA ? ',' : '\n');
        end = p;
        while (*end != '\0' && *end != delim)
            ++end;
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
        if (*p != '"')
            return -1;
        start = p + 1;
        end = strchr(start, '"');
        if (end == nullptr)
            return -1;
        after = end + 1;
        break;
    case TOKEN_PARENS:
    case TOKEN_BRACES: {
        const char open = kind == TOKEN_PARENS ? '(' : '{';
        const char close = kind == TOKEN_PARENS ? ')' : '}';
        if (*p != open)
            return -1;
        int depth = 0;
        char *q = p;
        for (; *q != '\0'; ++q) {
            if (*q == open) {
                ++depth;
            } else if (*q == close && --depth == 0) {
                break;
            }
        }
        if (*q == '\0')
            return -1;
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
    if (cur != nullptr && cur->cut != nullptr && saved > 0)
        *cur->cut = static_cast<char>(saved);
}

// ----------------------------------------------------------------- readers

namespace {

int do_readInt(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
               int line) {
    int32_t *dst = slot_as<int32_t>(field);
    if (dst == nullptr || cur == nullptr || cur->next == nullptr)
        return KP_BAD_VALUE;
    char *p = skip_space(cur->next);
    if (*p == '\0') {
        *dst = arg != nullptr ? arg->empty_value : 0;
        cur->next = p;
        return KP_OK;
    }
    char *end = nullptr;
    int32_t v = 0;
    int rc = parse_int(p, &end, &v, table != nullptr ? table->range : nullptr, line, "readInt");
    if (rc != KP_OK)
        return rc;
    *dst = v;
    cur->next = end;
    return KP_OK;
}

int do_readEnum(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
                int line) {
    int32_t *dst = slot_as<int32_t>(field);
    if (dst == nullptr || cur == nullptr || cur->next == nullptr)
        return KP_BAD_VALUE;
    int32_t v = 0;
    int rc = parse_enum(cur, arg, table, line, "readEnum", &v);
    if (rc == KP_OK)
        *dst = v;
    return rc;
}

int do_readFlags(kp_cursor *cur, kp_slot field, const kp_type_arg *arg, const kp_type_table *table,
                 int line) {
    int32_t *dst = slot_as<int32_t>(field);
    if (dst == nullptr || cur == nullptr || cur->next == nullptr)
        return KP_BAD_VALUE;
    int32_t v = 0;
    int rc = parse_enum(cur, arg, table, line, "readFlags", &v);
    if (rc == KP_OK)
        *dst |= v;
    return rc;
}

int do_readIPAddr(kp_cursor *cur, kp_slot field, const kp_type_arg *arg,
                  const kp_type_table * /*table*/, int line) {
    int32_t *dst = slot_as<int32_t>(field);
    if (dst == nullptr || cur == nullptr || cur->next == nullptr)
        return KP_BAD_VALUE;
    token_cut t(cur->next, TOKEN_WORD);
    uint32_t h = 0;
    if (!parse_dotted(t.token(), &h)) {
        conf_log(LOG_SEV_ERROR, "readIPAddr", "Badly formed IP address (%s) on line %d", t.token(),
                 line);
        return KP_BAD_VALUE;
    }
    const uint32_t accepted = arg != nullptr ? arg->ip_classes : 0;
    if ((ipaddr_class(h) & accepted) == 0) {
        conf_log(LOG_SEV_ERROR, "readIPAddr", "Wrong class of IP address (%s) on line %d",
                 t.token(), line);
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
    if (dst == nullptr || cur == nullptr || cur->next == nullptr)
        return KP_BAD_VALUE;
    char *p = skip_space(cur->next);
    if (*p == '\0') {
        if (table != nullptr && table->text != nullptr)
            *dst = std::string(table->text);
        else
            dst->reset();
        cur->next = p;
        return KP_OK;
    }
    const kp_token_kind kind = arg != nullptr ? arg->kind : TOKEN_WORD;
    token_cut t(p, kind);
    if (!t.ok())
        return KP_BAD_VALUE;
    std::string value = t.token();
    const size_t max = arg != nullptr ? arg->max_len : 0;
    if (max != 0 && value.size() > max) {
        // Blanks the cut leaves at the end go too, as from every token: a
        // value that ends in a blank could never be written back.
        std::string cut = value.substr(0, max);
        while (!cut.empty() && is_conf_space(cut.back()))
            cut.pop_back();
        conf_log(LOG_SEV_ERROR, "readString",
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
    if (dst == nullptr || def == nullptr || cur == nullptr || cur->next == nullptr)
        return KP_BAD_VALUE;
    kp_record rec;
    rec.field.reserve(def->count);
    for (size_t i = 0; i < def->count; ++i) {
        if (def->fields[i].type == CONF_STRING)
            rec.field.emplace_back(kp_string{});
        else
            rec.field.emplace_back(int32_t{0});
    }
    char *next = cur->next;
    for (size_t i = 0; i < def->count; ++i) {
        const kp_field_def &fd = def->fields[i];
        // A field holds one scalar value: Int, Enum, Flags, IPAddr or String.
        if (fd.type > CONF_STRING)
            return KP_BAD_VALUE;
        token_cut t(next, fd.token);
        if (!t.ok())
            return KP_BAD_VALUE;
        if (*t.token() == '\0' && fd.required) {
            conf_log(LOG_SEV_ERROR, "readStruct", "Missing required data field on line %d.", line);
            return KP_BAD_VALUE;
        }
        kp_slot slot;
        if (fd.type == CONF_STRING)
            slot = &std::get<kp_string>(rec.field[i]);
        else
            slot = &std::get<int32_t>(rec.field[i]);
        kp_cursor fc;
        fc.next = t.token();
        int rc = configDataMethods[fd.type].read(&fc, slot, &fd.arg, fd.table, line);
        if (rc != KP_OK)
            return rc;
        char *rest = skip_space(fc.next);
        if (*rest != '\0')
            conf_log(LOG_SEV_ERROR, "readStruct",
                     "Extra data (%s) at end of field on line %d ignored.", rest, line);
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
    if (dst == nullptr || def == nullptr || def->element == nullptr)
        return KP_BAD_VALUE;
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

// Every public reader turns a failed allocation into its status code.
template <typename F> int no_throw(F &&body) {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return KP_NO_MEMORY;
    } catch (const std::length_error &) {
        return KP_NO_MEMORY;
    }
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
    if (d == nullptr || s == nullptr)
        return KP_BAD_VALUE;
    return no_throw([&] {
        *d = *s;
        return KP_OK;
    });
}

int copyStruct(kp_slot dst, kp_slot src) {
    kp_struct *d = slot_as<kp_struct>(dst);
    kp_struct *s = slot_as<kp_struct>(src);
    if (d == nullptr || s == nullptr)
        return KP_BAD_VALUE;
    return no_throw([&] {
        *d = *s;
        return KP_OK;
    });
}

int copyList(kp_slot dst, kp_slot src) {
    kp_list *d = slot_as<kp_list>(dst);
    kp_list *s = slot_as<kp_list>(src);
    if (d == nullptr || s == nullptr)
        return KP_BAD_VALUE;
    return no_throw([&] {
        *d = *s;
        return KP_OK;
    });
}

void delString(kp_slot field) {
    if (kp_string *p = slot_as<kp_string>(field))
        p->reset();
}

void delStruct(kp_slot field) {
    if (kp_struct *p = slot_as<kp_struct>(field))
        p->reset();
}

void delList(kp_slot field) {
    if (kp_list *p = slot_as<kp_list>(field))
        kp_list().swap(*p);
}

// ------------------------------------------------------------ formatting
//
// Configuration files are never written by this program; the format
// operations produce lines that parse back into the same value, which keeps
// the readers honest (tests and the fuzz target round-trip through them).

namespace {

std::string enum_name(int32_t v, const kp_type_table *table) {
    const kp_enum_table *names = table != nullptr ? table->names : nullptr;
    if (names != nullptr) {
        for (size_t i = 0; i < names->count; ++i) {
            if (names->names[i].value == v)
                return names->names[i].name;
        }
    }
    return std::to_string(v);
}

std::string scalar_text(kp_data_type type, const kp_value &v, const kp_field_def &fd) {
    if (type == CONF_STRING) {
        const kp_string &s = std::get<kp_string>(v);
        if (!s.has_value())
            return std::string();
        switch (fd.arg.kind) {
        case TOKEN_QUOTED:
            return '"' + *s + '"';
        case TOKEN_PARENS:
            return '(' + *s + ')';
        case TOKEN_BRACES:
            return '{' + *s + '}';
        default:
            return *s;
        }
    }
    const int32_t n = std::get<int32_t>(v);
    if (type == CONF_IPADDR)
        return format_ip(n);
    if (type == CONF_ENUM || type == CONF_FLAGS)
        return enum_name(n, fd.table);
    return std::to_string(n);
}

std::string record_text(const kp_record &rec, const kp_struct_def *def) {
    // Fields up to the last one with a value; absent optional texts at the
    // end are left out.
    size_t count = def != nullptr ? def->count : 0;
    if (count > rec.field.size())
        count = rec.field.size();
    while (count > 0 && def->fields[count - 1].type == CONF_STRING &&
           !std::get<kp_string>(rec.field[count - 1]).has_value())
        --count;
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        const kp_field_def &fd = def->fields[i];
        out += scalar_text(fd.type, rec.field[i], fd);
        if (i + 1 < count)
            out += fd.token == TOKEN_TO_COMMA ? ", " : " ";
    }
    return out;
}

void add_line(std::string *out, const char *key, const std::string &value) {
    *out += key;
    *out += " = ";
    *out += value;
    *out += '\n';
}

int formatInt(const char *key, kp_slot field, const kp_type_arg *, const kp_type_table *,
              std::string *out) {
    const int32_t *v = slot_as<int32_t>(field);
    if (v == nullptr || out == nullptr)
        return KP_BAD_VALUE;
    return no_throw([&] {
        add_line(out, key, std::to_string(*v));
        return KP_OK;
    });
}

int formatEnum(const char *key, kp_slot field, const kp_type_arg *, const kp_type_table *table,
               std::string *out) {
    const int32_t *v = slot_as<int32_t>(field);
    if (v == nullptr || out == nullptr)
        return KP_BAD_VALUE;
    return no_throw([&] {
        add_line(out, key, enum_name(*v, table));
        return KP_OK;
    });
}

// One line per named bit (each line adds a flag); bits without a name, if
// any, as one number.
int formatFlags(const char *key, kp_slot field, const kp_type_arg *, const kp_type_table *table,
                std::string *out) {
    const int32_t *v = slot_as<int32_t>(field);
    const kp_enum_table *names = table != nullptr ? table->names : nullptr;
    if (v == nullptr || out == nullptr)
        return KP_BAD_VALUE;
    return no_throw([&] {
        uint32_t left = static_cast<uint32_t>(*v);
        for (size_t i = 0; names != nullptr && i < names->count; ++i) {
            const uint32_t bit = static_cast<uint32_t>(names->names[i].value);
            if (bit != 0 && (left & bit) == bit) {
                add_line(out, key, names->names[i].name);
                left &= ~bit;
            }
        }
        if (left != 0)
            add_line(out, key, std::to_string(static_cast<int32_t>(left)));
        return KP_OK;
    });
}

int formatIPAddr(const char *key, kp_slot field, const kp_type_arg *, const kp_type_table *,
                 std::string *out) {
    const int32_t *v = slot_as<int32_t>(field);
    if (v == nullptr || out == nullptr)
        return KP_BAD_VALUE;
    return no_throw([&] {
        add_line(out, key, format_ip(*v));
        return KP_OK;
    });
}

int formatString(const char *key, kp_slot field, const kp_type_arg *arg, const kp_type_table *,
                 std::string *out) {
    const kp_string *v = slot_as<kp_string>(field);
    if (v == nullptr || out == nullptr)
        return KP_BAD_VALUE;
    // An empty text cannot be written: a key without a value means none.
    if (!v->has_value() || (*v)->empty())
        return KP_OK;
    return no_throw([&] {
        kp_field_def fd{CONF_STRING, false, TOKEN_WORD, arg != nullptr ? *arg : kp_type_arg{},
                        nullptr};
        add_line(out, key, scalar_text(CONF_STRING, kp_value(*v), fd));
        return KP_OK;
    });
}

int formatStruct(const char *key, kp_slot field, const kp_type_arg *, const kp_type_table *table,
                 std::string *out) {
    const kp_struct *v = slot_as<kp_struct>(field);
    if (v == nullptr || out == nullptr)
        return KP_BAD_VALUE;
    if (!v->has_value())
        return KP_OK;
    return no_throw([&] {
        add_line(out, key, record_text(**v, table != nullptr ? table->fields : nullptr));
        return KP_OK;
    });
}

int formatList(const char *key, kp_slot field, const kp_type_arg *, const kp_type_table *table,
               std::string *out) {
    const kp_list *v = slot_as<kp_list>(field);
    const kp_list_def *def = table != nullptr ? table->list : nullptr;
    if (v == nullptr || out == nullptr)
        return KP_BAD_VALUE;
    return no_throw([&] {
        for (const kp_record &rec : *v)
            add_line(out, key, record_text(rec, def != nullptr ? def->element : nullptr));
        return KP_OK;
    });
}

} // namespace

const kp_data_methods configDataMethods[7] = {
    {nullptr, readInt, nullptr, formatInt},
    {nullptr, readEnum, nullptr, formatEnum},
    {nullptr, readFlags, nullptr, formatFlags},
    {nullptr, readIPAddr, nullptr, formatIPAddr},
    {copyString, readString, delString, formatString},
    {copyStruct, readStruct, delStruct, formatStruct},
    {copyList, readList, delList, formatList},
};

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
#name_, no_alternatives,                                                                   \
            std::monostate{}, CONF_OBSOLETE, 0, kp_type_arg{}, kp_type_table{}, 0, nullptr         \
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
    if (cfg == nullptr || row < 0 || row >= KPCONF_KEYS)
        return std::monostate{};
    return std::visit(
        [cfg](auto member) -> kp_slot {
            if constexpr (std::is_same_v<decltype(member), std::monostate>)
                return std::monostate{};
            else
                return &(cfg->*member);
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
            for (const char *const *alt = configDefinition[i].alternatives; *alt != nullptr; ++alt)
                add(*alt, i);
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
            if (i + 1 >= size)
                return false;
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
    if (name == nullptr || !key_index::lower(name, key, sizeof key))
        return -1;
    const key_entry *end = index.entry + index.count;
    const key_entry *hit =
        std::lower_bound(index.entry, end, key,
                         [](const key_entry &e, const char *k) { return strcmp(e.name, k) < 0; });
    if (hit == end || strcmp(hit->name, key) != 0)
        return -1;
    return configDefinition[hit->row].type == CONF_OBSOLETE ? -2 : hit->row;
}

// ----------------------------------------------------------------- parsing

namespace {

kp_config_lines internal_lines;

// The reader-failure messages: a head with the line number, then the key
// and, when there is one, " = value".
void log_skipped(const char *head, const char *key, const char *value) {
    if (*value != '\0')
        conf_log(LOG_SEV_ERROR, "ParseConfigExA", "%s: %s = %s", head, key, value);
    else
        conf_log(LOG_SEV_ERROR, "ParseConfigExA", "%s: %s", head, key);
}

// One line, terminated in place. Returns a status to remember (0 for none).
int parse_line(char *line, int lineno, kp_config *cfg, kp_config_lines *lines, int mode) {
    char *s = skip_space(line);
    if (*s == '\0' || *s == '#')
        return KP_OK;
    token_cut key_tok(s, TOKEN_TO_EQUALS);
    const char *key = key_tok.token();
    token_cut value_tok(key_tok.next(), TOKEN_ALL);
    char *value = value_tok.token();

    const int idx = getConfigIndexA(key);
    if (idx < 0) {
        const char *what = idx == -2 ? "Obsolete" : "Unknown";
        if (*value != '\0')
            conf_log(LOG_SEV_ERROR, "ParseConfigExA", "%s configuration option on line %d: %s = %s",
                     what, lineno, key, value);
        else
            conf_log(LOG_SEV_ERROR, "ParseConfigExA", "%s configuration option on line %d: %s",
                     what, lineno, key);
        return (mode & PARSE_STRICT) != 0 ? KP_BAD_VALUE : KP_OK;
    }
    const kp_config_def &def = configDefinition[idx];
    const bool empty = *value == '\0';
    if (empty && (def.attrs & CONF_REQUIRED) != 0) {
        if ((mode & PARSE_EMPTY_DEFINES) != 0)
            lines->line[idx] = -lineno;
        else
            conf_log(LOG_SEV_ERROR, "ParseConfigExA",
                     "Missing 'value'; Option skipped on line %d: %s", lineno, key);
        return KP_OK;
    }
    kp_cursor cur;
    cur.next = value;
    const int rc =
        configDataMethods[def.type].read(&cur, config_slot(cfg, idx), &def.arg, &def.table, lineno);
    if (rc == KP_OK) {
        cfg->loaded = 1;
        char *rest = skip_space(cur.next);
        if (*rest != '\0')
            conf_log(LOG_SEV_ERROR, "ParseConfigExA", "Extra data (%s) at end of line %d ignored.",
                     rest, lineno);
        const int before = lines->line[idx];
        if ((def.attrs & CONF_SINGLE) != 0 && before != 0 && VERBOSE_kpconf != 0)
            conf_log(LOG_SEV_ERROR, "ParseConfigExA",
                     "Option (%s) redefined on line %d, discarding definition on line %d.",
                     def.name, lineno, before < 0 ? -before : before);
        lines->line[idx] = (empty && (mode & PARSE_EMPTY_DEFINES) != 0) ? -lineno : lineno;
        return KP_OK;
    }
    char head[128];
    if (rc == KP_NO_MEMORY)
        snprintf(head, sizeof head, "Unable to allocate memory; Option skipped on line %d", lineno);
    else if (rc == KP_BAD_VALUE)
        snprintf(head, sizeof head, "Badly formed configuration entry on line %d", lineno);
    else
        snprintf(head, sizeof head,
                 "Read method returned unknown error code %d; Option skipped on line %d", rc,
                 lineno);
    log_skipped(head, key, value);
    if (rc == KP_NO_MEMORY)
        return KP_NO_MEMORY;
    return (mode & PARSE_STRICT) != 0 ? rc : KP_OK;
}

} // namespace

int ParseConfigExA(char *text, kp_config *cfg, kp_config_lines *lines, int mode) {
    if (cfg == nullptr)
        cfg = prev_kp_config;
    if (cfg == nullptr)
        return KP_BAD_VALUE; // nothing to parse into
    if (lines == nullptr)
        lines = &internal_lines;
    if ((mode & PARSE_CONTINUE) == 0) {
        *lines = kp_config_lines{};
        for (const kp_config_def &def : configDefinition) {
            if (def.type == CONF_LIST)
                def.table.list->building = nullptr;
        }
        prev_kp_config = cfg;
    }
    lines->loaded = 1;
    if (text == nullptr)
        return KP_OK;

    int result = KP_OK;
    int lineno = 0;
    char *p = text;
    while (*p != '\0') {
        ++lineno;
        char *eol = strchr(p, '\n');
        if (eol != nullptr)
            *eol = '\0';
        int rc;
        try {
            rc = parse_line(p, lineno, cfg, lines, mode);
        } catch (const std::bad_alloc &) {
            rc = KP_NO_MEMORY;
        }
        if (eol != nullptr)
            *eol = '\n';
        if (rc == KP_NO_MEMORY || (rc != KP_OK && result == KP_OK))
            result = rc;
        if (eol == nullptr)
            break;
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
    if (default_built)
        return;
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
            if (def.default_text != nullptr)
                *std::get<kp_string *>(slot) = std::string(def.default_text);
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
    if (cfg == nullptr)
        return KP_BAD_VALUE;
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
                if (text_unset(default_record.BUSY_FILE_NOTIFY_USER))
                    default_record.BUSY_FILE_NOTIFY_USER = *user;
                if (text_unset(default_record.BUSY_FILE_DIRECTORY)) {
                    std::optional<std::string> home = getUserHome(user->c_str());
                    if (home.has_value())
                        default_record.BUSY_FILE_DIRECTORY = *home;
                }
            }
        }
        return CopyConfig(cfg, &default_record);
    });
}

int InitConfig(kp_config *cfg, kp_config_lines *lines) {
    if (lines != nullptr)
        *lines = kp_config_lines{};
    return getDefaultConfig(cfg);
}

int CopyConfig(kp_config *dst, const kp_config *src) {
    if (dst == nullptr || src == nullptr)
        return KP_BAD_VALUE;
    if (dst == src)
        return KP_OK;
    kp_config copy;
    copy.loaded = src->loaded;
    kp_config *from = const_cast<kp_config *>(src); // read only: slots are not const-qualified
    for (int i = 0; i < KPCONF_KEYS; ++i) {
        const kp_config_def &def = configDefinition[i];
        if (def.type == CONF_OBSOLETE)
            continue;
        kp_slot to = config_slot(&copy, i);
        kp_slot fr = config_slot(from, i);
        const kp_data_methods &m = configDataMethods[def.type];
        int rc = KP_OK;
        if (m.copy != nullptr)
            rc = m.copy(to, fr);
        else
            *std::get<int32_t *>(to) = *std::get<int32_t *>(fr);
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
    if (cfg == nullptr)
        return;
    if (is_process_record(cfg) && cfg->loaded == 0)
        return;
    for (int i = 0; i < KPCONF_KEYS; ++i) {
        const kp_config_def &def = configDefinition[i];
        if (def.type != CONF_OBSOLETE && configDataMethods[def.type].del != nullptr)
            configDataMethods[def.type].del(config_slot(cfg, i));
    }
    *cfg = kp_config{};
}

int FormatConfigA(const kp_config *cfg, bool all, std::string *out) {
    if (cfg == nullptr || out == nullptr)
        return KP_BAD_VALUE;
    return no_throw([&] {
        build_defaults();
        kp_config *c = const_cast<kp_config *>(cfg); // read only
        for (int i = 0; i < KPCONF_KEYS; ++i) {
            const kp_config_def &def = configDefinition[i];
            if (def.type == CONF_OBSOLETE)
                continue;
            kp_slot mine = config_slot(c, i);
            if (!all) {
                kp_slot base = config_slot(&default_record, i);
                const bool same = std::visit(
                    [&base](auto p) -> bool {
                        using P = decltype(p);
                        if constexpr (std::is_same_v<P, std::monostate>)
                            return true;
                        else
                            return *p == *std::get<P>(base);
                    },
                    mine);
                if (same)
                    continue;
            }
            int rc = configDataMethods[def.type].format(def.name, mine, &def.arg, &def.table, out);
            if (rc != KP_OK)
                return rc;
        }
        return KP_OK;
    });
}

// ------------------------------------------------------ reading the files

int ReadHostConfigA(kp_config *cfg, kp_config_lines *lines) {
    if (cfg == nullptr)
        return KP_BAD_VALUE;
    if (cfg->loaded != 0)
        return KP_OK;
    // The checks below concern the host file on its own, not a text that
    // continues an earlier parse.
    const bool fresh = lines == nullptr || lines->loaded == 0;
    int rc = getDefaultConfig(cfg);
    if (rc != KP_OK)
        return rc;
    std::string text;
    rc = getLocalHostConfigImage(&text);
    if (rc != KP_OK)
        return rc;
    rc = ParseConfigExA(text.data(), cfg, lines, PARSE_EMPTY_DEFINES);
    if (rc != KP_OK)
        return rc;
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
    if (cfg == nullptr)
        return KP_BAD_VALUE;
    if (cfg->loaded != 0)
        return KP_OK;
    int rc = getDefaultConfig(cfg);
    if (rc != KP_OK)
        return rc;
    std::string text;
    rc = getLocalUsersConfigImage(user, &text);
    if (rc == KP_NO_CONFIG_FILE) {
        // No file at all: the defaults are the user's configuration.
        cfg->loaded = 1;
        return KP_OK;
    }
    if (rc != KP_OK)
        return rc;
    return ParseConfigExA(text.data(), cfg, lines, PARSE_EMPTY_DEFINES);
}
