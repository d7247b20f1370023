// Fuzzes the reading of a message file: the scan, long lines, escapes, and
// the check that a catalog text takes the arguments of the built-in format
// before it is used as one.
#include "tmmsg.h"
#include "tmmsgcache.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "fuzz_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_write("C/sorvane/CerMsgs", data, size);
    destroyLocaleList();
    // Keys to look up: fixed ones and the first 11 bytes of the first lines.
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string keys[12] = {"CerXkp0001N", "CerXkp1003N", "CerTmf0040N", "CerXkp0002N"};
    size_t nkeys = 4;
    for (size_t pos = 0; pos < text.size() && nkeys < 12;) {
        size_t end = text.find('\n', pos);
        std::string line =
            text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (line.size() >= 11 && memchr(line.data(), '\0', 11) == nullptr) {
            keys[nkeys++] = line.substr(0, 11);
        }
        if (end == std::string::npos) {
            break;
        }
        pos = end + 1;
    }
    char buf[256];
    for (size_t i = 0; i < nkeys; ++i) {
        const char *k = keys[i].c_str();
        const char *t = getLocalMsgFmt("C", k);
        if (t != nullptr && getLocalMsgFmt("C", k) != t) {
            __builtin_trap(); // a cached text must stay put
        }
        tmgetmsg(k, "C", sizeof buf, buf, nullptr, 0, nullptr, "plain");
        tmgetmsg(k, "C", sizeof buf, buf, nullptr, 0, nullptr, "%d files (%s)", 5, "x");
        tmgetmsg(k, "C", sizeof buf, buf, nullptr, 0, nullptr,
                 "The system does not permit creation of temporary file %s.\n%d %s", "/tmp/a", 2,
                 "err");
        tmgetmsg(k, "C", sizeof buf, buf, nullptr, 0, nullptr, "open %s: %%s", 2, "/a%s%n");
        tmgetmsg(k, "C", sizeof buf, buf, nullptr, 0, nullptr, "%2$s %1$ld %3$5.2f", 7L, "y", 1.5);
        if (strlen(buf) >= sizeof buf) {
            __builtin_trap();
        }
    }
    return 0;
}
