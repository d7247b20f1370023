// Running out of memory at each allocation of the configuration code, the files and the
// address list in turn gives the status code and leaves nothing half-made.

#include <gtest/gtest.h>

#include "kpconf_api.h"
#include "local_addrs.h"
#include "log_capture.h"
#include "unixconf_api.h"

#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

namespace {

// Allocations left before operator new (and the library's new[] through it) fails; -1: never.
int allocations_left = -1;

template <typename F> auto failing_after(int after, F &&call) {
    allocations_left = after;
    auto result = call();
    allocations_left = -1;
    return result;
}

const char *text = "SERVER = alpha\nSERVER = beta\nKNOWN_MASTER = m1, alias\n"
                   "CLIENT_NAME = client1\nLOCKED_FILE_ACTION = SKIP it\n"
                   "LIMIT_BANDWIDTH = 10.1.1.1 10.1.1.9 300\nCLIENT_PORT_WINDOW = 600 700\n"
                   "Exclude = /tmp/*\nVERBOSE = 3\n";

kp_config parsed(std::string buf) {
    kp_config cfg;
    getDefaultConfig(&cfg);
    ParseConfigExA(buf.data(), &cfg, nullptr, 0);
    return cfg;
}

} // namespace

void *operator new(size_t n) {
    void *p = allocations_left != 0 ? malloc(n != 0 ? n : 1) : nullptr;
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    allocations_left -= allocations_left > 0;
    return p;
}
void operator delete(void *p) noexcept {
    free(p);
}
void operator delete(void *p, size_t) noexcept {
    free(p);
}

TEST(ConfigNoMemory, ParseSkipsTheKeyAndReportsIt) {
    kp_config full = parsed(text);
    int failures = 0;
    for (int after = 0; after < 200; ++after) {
        kp_config cfg;
        ASSERT_EQ(getDefaultConfig(&cfg), 0);
        std::string buf = text;
        LogCapture log;
        int rc = failing_after(after, [&] { return ParseConfigExA(buf.data(), &cfg, nullptr, 0); });
        EXPECT_EQ(buf, text);
        if (rc == 0) {
            EXPECT_EQ(cfg, full) << after;
            break;
        }
        ASSERT_EQ(rc, KP_NO_MEMORY) << after;
        ++failures;
        EXPECT_EQ(log.texts().at(0).rfind("Unable to allocate memory; Option skipped on line ", 0),
                  0u)
            << after;
    }
    EXPECT_GT(failures, 5);
    kp_config d;
    EXPECT_EQ(failing_after(0, [&] { return getDefaultConfig(&d); }), KP_NO_MEMORY);
}

TEST(ConfigNoMemory, CopyZeroesTheDestination) {
    kp_config src = parsed(text);
    int failures = 0;
    for (int after = 0; after < 500; ++after) {
        kp_config dst;
        dst.CLIENT_NAME = "previous";
        int rc = failing_after(after, [&] { return CopyConfig(&dst, &src); });
        EXPECT_EQ(dst, rc == 0 ? src : kp_config{}) << after;
        if (rc == 0) {
            break;
        }
        ASSERT_EQ(rc, KP_NO_MEMORY);
        ++failures;
    }
    EXPECT_GT(failures, 5);
    std::string out;
    EXPECT_EQ(failing_after(0, [&] { return FormatConfigA(&src, true, &out); }), KP_NO_MEMORY);
}

TEST(ConfigNoMemory, FilesAndAddresses) {
    const std::string path = testing::TempDir() + "xkp_nomem.conf";
    std::ofstream(path) << text; // longer than a short string keeps inline
    std::string out;
    EXPECT_EQ(failing_after(0, [&] { return ReadConfigFile(path.c_str(), &out); }), KP_NO_MEMORY);
    EXPECT_EQ(ReadConfigFile(path.c_str(), &out), 0);
    unlink(path.c_str());

    local_addrs_forget();
    local_addr_list list;
    EXPECT_EQ(failing_after(0, [&] { return get_local_addrs(&list); }), -1);
    EXPECT_EQ(list.count, 0);
    EXPECT_TRUE(list.addr.empty());
    EXPECT_EQ(get_local_addrs(&list), 0);
    EXPECT_GE(list.count, 1);
}
