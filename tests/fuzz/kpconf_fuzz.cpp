// Fuzzes the kp.conf parser: any text parses without fault and is left as it
// was, every record formats into lines that parse back into the same record,
// and the tokenizer puts back every character it cuts.
#include "kpconf_api.h"

#include <cstdint>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

void tokenize_all(std::string &text, int kind) {
    const std::string before = text;
    kp_cursor cur;
    cur.next = text.data();
    for (int i = 0; i < 64 && *cur.next != '\0'; ++i) {
        char *was = cur.next;
        int saved = getConfigTokenA(&cur, kind);
        if (saved == -1) {
            check(cur.next == was);
            break;
        }
        putBackConfigTokenA(&cur, saved);
        if (cur.next == was) {
            break;
        }
    }
    check(text == before);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the parse mode; the rest is the file's text.
    const int mode = data[0] & 7;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    const std::string original = text;

    kp_config cfg;
    check(getDefaultConfig(&cfg) == 0);
    kp_config_lines lines;
    const int rc = ParseConfigExA(text.data(), &cfg, &lines, mode);
    check(rc == 0 || rc == KP_BAD_VALUE);
    check((mode & PARSE_STRICT) != 0 || rc == 0);
    check(text == original);
    for (int i = 0; i < KPCONF_KEYS; ++i) {
        check(configDefinition[i].type != CONF_OBSOLETE || lines.line[i] == 0);
    }

    std::string formatted;
    check(FormatConfigA(&cfg, true, &formatted) == 0);
    kp_config again;
    check(getDefaultConfig(&again) == 0);
    check(ParseConfigExA(formatted.data(), &again, nullptr, PARSE_STRICT) == 0);
    again.loaded = cfg.loaded;
    check(again == cfg);

    kp_config copy;
    check(CopyConfig(&copy, &cfg) == 0);
    check(copy == cfg);
    FreeConfig(&copy);
    check(copy == kp_config{});

    for (int kind = TOKEN_WORD; kind <= TOKEN_ALL; ++kind) {
        tokenize_all(text, kind);
    }
    return 0;
}
