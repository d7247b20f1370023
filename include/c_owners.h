// Owners of what the C library hands out: a stream closed with its owner, a
// malloc'd block freed with it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct FreeDeleter {
    void operator()(char *p) const { free(p); }
};
