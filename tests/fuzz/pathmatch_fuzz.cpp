// Fuzzes the path matchers: the input is a pattern and a name separated by
// the first NUL byte (a name alone when there is none), run through every
// matcher and every kppathmatch mode, with the invariants that hold for any
// input checked.
#include "kppathmatch.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    size_t nul = input.find('\0');
    std::string pattern = nul == std::string::npos ? std::string("*") : input.substr(0, nul);
    std::string name = nul == std::string::npos ? input : input.substr(nul + 1);
    name = name.substr(0, name.find('\0'));

    int d = DoMatch(name.c_str(), pattern.c_str());
    if (d < -1 || d > 1) {
        __builtin_trap();
    }
    int p = path_match(name.c_str(), pattern.c_str());
    int g = gmatch(name.c_str(), pattern.c_str());
    if ((p != 0 && p != 1) || (g != 0 && g != 1)) {
        __builtin_trap();
    }

    static kp_pathelem path_pe;
    static kp_pathelem pattern_pe;
    if (kpbuildpe(name.c_str(), &path_pe, '/') != 1 ||
        kpbuildpe(pattern.c_str(), &pattern_pe, '/') != 1) {
        __builtin_trap();
    }
    int count = 0;
    while (path_pe.elements[count] != nullptr) {
        if (path_pe.elements[count][0] == '\0') {
            __builtin_trap(); // elements are never empty
        }
        ++count;
    }
    if (count > KP_PE_MAX_ELEMENTS || count > path_pe.depth ||
        strlen(path_pe.copy) > KP_PE_TEXT_MAX) {
        __builtin_trap();
    }

    const int depths[] = {0, 1, 3, KP_ANY_DEPTH};
    for (int mode = -1; mode <= 4; ++mode) {
        for (int depth : depths) {
            int built =
                kppathmatch(name.c_str(), nullptr, pattern.c_str(), nullptr, '/', mode, depth);
            int given =
                kppathmatch(name.c_str(), &path_pe, pattern.c_str(), &pattern_pe, '/', mode, depth);
            if (built != given || (built != 0 && built != 1)) {
                __builtin_trap();
            }
            if (mode == KP_MATCH_PATH && built != p) {
                __builtin_trap();
            }
        }
    }
    // A pattern matches itself as a name when it holds no special character.
    if (pattern.find_first_of("*?[\\{") == std::string::npos &&
        (DoMatch(pattern.c_str(), pattern.c_str()) != 1 ||
         gmatch(pattern.c_str(), pattern.c_str()) != 1)) {
        __builtin_trap();
    }
    return 0;
}
