// Fuzzes the date functions: a locale's date definition taken from the alias
// file and dates typed by the user, parsed and formatted by it.
//
// Input: the first byte chooses the flags, the first line (up to a newline)
// is a "TL" line's formats, the rest is a date text.
#include "timefuncs.h"
#include "tmmsgcache.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "fuzz_root.h"

namespace {

void check_date_text(const char *s) {
    if (s == nullptr || strlen(s) >= TF_DATE_SIZE) {
        __builtin_trap();
    }
}

void check_value(int ok, int32_t v) {
    if (ok && (v < 0 || v > TF_CAP)) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool once = [] {
        fuzz_root();
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        return true;
    }();
    (void)once;
    if (size == 0) {
        return 0;
    }
    const int startofday = data[0] & 1;
    const int timefirst = (data[0] >> 1) & 1;
    std::string input(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t nl = input.find('\n');
    const std::string formats = input.substr(0, nl);
    const std::string text = nl == std::string::npos ? std::string() : input.substr(nl + 1);

    // The definition through the alias file, as the program reads it.
    const std::string alias = "TL 2 fz " + formats + "\nTM 2 rd 2 fz\n";
    fuzz_write(".conf", reinterpret_cast<const uint8_t *>(alias.data()), alias.size());
    timefuncs_forget();

    for (const char *locale : {"fz", "rd", "C"}) {
        int32_t v = -1;
        const int ok = convert2unixdatel(text.c_str(), &v, startofday, locale, timefirst);
        check_value(ok, v);
        check_date_text(datestringl(ok ? v : 86400 * 400, locale, timefirst));
    }
    int32_t v = -1;
    check_value(convert2unixdate(text.c_str(), &v, startofday), v);
    check_date_text(datestringl(TF_INFINITY, "fz", 0));

    // The pieces on their own, on buffers of exactly the sizes they promise
    // to respect.
    std::vector<char> rest(formats.begin(), formats.end());
    rest.push_back('\0');
    char *datefmt = nullptr;
    char *timefmt = eodf(rest.data(), &datefmt);
    if (timefmt != nullptr && datefmt == nullptr) {
        __builtin_trap();
    }
    std::vector<char> fmt(formats.begin(), formats.end());
    fmt.push_back('\0');
    char sep[TF_SEP_SIZE];
    int fields = 0;
    for (char *f = getdef_sep(fmt.data(), sep); f != nullptr; f = getdef_sep(nullptr, sep)) {
        if (strlen(sep) >= TF_SEP_SIZE || ++fields > static_cast<int>(formats.size())) {
            __builtin_trap();
        }
    }
    struct tm tm = {};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 31;
    tm.tm_hour = 23;
    std::vector<char> f1(formats.begin(), formats.end());
    f1.push_back('\0');
    std::vector<char> f2 = f1;
    char *half = static_cast<char *>(malloc(31));
    dodate(f1.data(), half, &tm);
    dotime(f2.data(), half, &tm, data[0] & 4, 1);
    free(half);
    return 0;
}
