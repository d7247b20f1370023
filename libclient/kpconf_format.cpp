// The format operations of kp.conf values and the method table of every
// data type.

#include "kpconf_internal.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

using kpconf_detail::no_throw;
using kpconf_detail::slot_as;

// ------------------------------------------------------------ formatting
//
// Configuration files are never written by this program; the format
// operations produce lines that parse back into the same value, which keeps
// the readers honest (tests and the fuzz target round-trip through them).

namespace {

std::string format_ip(int32_t stored) {
    uint32_t net;
    memcpy(&net, &stored, sizeof net);
    const uint32_t h = ntohl(net);
    char buf[20];
    snprintf(buf, sizeof buf, "%u.%u.%u.%u", h >> 24, (h >> 16) & 0xFF, (h >> 8) & 0xFF, h & 0xFF);
    return buf;
}

std::string enum_name(int32_t v, const kp_type_table *table) {
    const kp_enum_table *names = table != nullptr ? table->names : nullptr;
    if (names != nullptr) {
        for (size_t i = 0; i < names->count; ++i) {
            if (names->names[i].value == v) {
                return names->names[i].name;
            }
        }
    }
    return std::to_string(v);
}

std::string scalar_text(kp_data_type type, const kp_value &v, const kp_field_def &fd) {
    if (type == CONF_STRING) {
        const kp_string &s = std::get<kp_string>(v);
        if (!s.has_value()) {
            return std::string();
        }
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
    if (type == CONF_IPADDR) {
        return format_ip(n);
    }
    if (type == CONF_ENUM || type == CONF_FLAGS) {
        return enum_name(n, fd.table);
    }
    return std::to_string(n);
}

std::string record_text(const kp_record &rec, const kp_struct_def *def) {
    // Fields up to the last one with a value; absent optional texts at the
    // end are left out.
    size_t count = def != nullptr ? def->count : 0;
    if (count > rec.field.size()) {
        count = rec.field.size();
    }
    while (count > 0 && def->fields[count - 1].type == CONF_STRING &&
           !std::get<kp_string>(rec.field[count - 1]).has_value()) {
        --count;
    }
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        const kp_field_def &fd = def->fields[i];
        out += scalar_text(fd.type, rec.field[i], fd);
        if (i + 1 < count) {
            out += fd.token == TOKEN_TO_COMMA ? ", " : " ";
        }
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
    if (v == nullptr || out == nullptr) {
        return KP_BAD_VALUE;
    }
    return no_throw([&] {
        add_line(out, key, std::to_string(*v));
        return KP_OK;
    });
}

int formatEnum(const char *key, kp_slot field, const kp_type_arg *, const kp_type_table *table,
               std::string *out) {
    const int32_t *v = slot_as<int32_t>(field);
    if (v == nullptr || out == nullptr) {
        return KP_BAD_VALUE;
    }
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
    if (v == nullptr || out == nullptr) {
        return KP_BAD_VALUE;
    }
    return no_throw([&] {
        uint32_t left = static_cast<uint32_t>(*v);
        for (size_t i = 0; names != nullptr && i < names->count; ++i) {
            const uint32_t bit = static_cast<uint32_t>(names->names[i].value);
            if (bit != 0 && (left & bit) == bit) {
                add_line(out, key, names->names[i].name);
                left &= ~bit;
            }
        }
        if (left != 0) {
            add_line(out, key, std::to_string(static_cast<int32_t>(left)));
        }
        return KP_OK;
    });
}

int formatIPAddr(const char *key, kp_slot field, const kp_type_arg *, const kp_type_table *,
                 std::string *out) {
    const int32_t *v = slot_as<int32_t>(field);
    if (v == nullptr || out == nullptr) {
        return KP_BAD_VALUE;
    }
    return no_throw([&] {
        add_line(out, key, format_ip(*v));
        return KP_OK;
    });
}

int formatString(const char *key, kp_slot field, const kp_type_arg *arg, const kp_type_table *,
                 std::string *out) {
    const kp_string *v = slot_as<kp_string>(field);
    if (v == nullptr || out == nullptr) {
        return KP_BAD_VALUE;
    }
    // An empty text cannot be written: a key without a value means none.
    if (!v->has_value() || (*v)->empty()) {
        return KP_OK;
    }
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
    if (v == nullptr || out == nullptr) {
        return KP_BAD_VALUE;
    }
    if (!v->has_value()) {
        return KP_OK;
    }
    return no_throw([&] {
        add_line(out, key, record_text(**v, table != nullptr ? table->fields : nullptr));
        return KP_OK;
    });
}

int formatList(const char *key, kp_slot field, const kp_type_arg *, const kp_type_table *table,
               std::string *out) {
    const kp_list *v = slot_as<kp_list>(field);
    const kp_list_def *def = table != nullptr ? table->list : nullptr;
    if (v == nullptr || out == nullptr) {
        return KP_BAD_VALUE;
    }
    return no_throw([&] {
        for (const kp_record &rec : *v) {
            add_line(out, key, record_text(rec, def != nullptr ? def->element : nullptr));
        }
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
