// Fuzzes the wildcard expander: up to four words (input lines, each cut to 64
// bytes) are expanded below a small fixed tree that holds files, a dot file,
// nested directories and a link back to its own directory. The size limits
// keep one input's work bounded; the result's own limits are checked.
#include "sh_glob.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string tree_root;

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
    remove(path);
    return 0;
}

void remove_tree() {
    nftw(tree_root.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string make_tree() {
    char tmpl[] = "/tmp/glob_fuzz.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        abort();
    }
    std::string root = tmpl;
    for (const char *d : {"/sub", "/sub/deep", "/b{c}"}) {
        mkdir((root + d).c_str(), 0755);
    }
    for (const char *f : {"/log.1", "/log.10", "/log.2", "/.hidden", "/a.c", "/sub/x.c",
                          "/sub/deep/y.h", "/b{c}/[z]", "/\xc3\xa9t\xc3\xa9"}) {
        int fd = open((root + f).c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0) {
            close(fd);
        }
    }
    if (symlink(".", (root + "/sub/loop").c_str()) != 0) {
        abort();
    }
    tree_root = root;
    atexit(remove_tree);
    return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string root = make_tree();
    if (size > 512) {
        return 0;
    }
    std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= input.size() && words.size() < 4) {
        size_t nl = input.find('\n', start);
        std::string line =
            input.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        line = line.substr(0, std::min<size_t>(line.find('\0'), 64));
        words.push_back(root + "/" + line);
        if (nl == std::string::npos) {
            break;
        }
        start = nl + 1;
    }
    std::vector<const char *> argv;
    for (const auto &w : words) {
        argv.push_back(w.c_str());
    }
    argv.push_back(nullptr);

    char **names = Glob(argv.data());
    if (names == nullptr) {
        __builtin_trap();
    }
    size_t count = 0;
    size_t bytes = 0;
    for (char **n = names; *n != nullptr; ++n) {
        size_t len = strlen(*n);
        if (len > GLOB_PATH_MAX) {
            __builtin_trap();
        }
        bytes += len + 1;
        ++count;
    }
    if (count > GLOB_MAX_NAMES || bytes > GLOB_MAX_BYTES) {
        __builtin_trap();
    }
    Globfree(names);
    for (const auto &w : words) {
        has_wildcards(w.c_str(), "C.UTF-8");
    }
    return 0;
}
