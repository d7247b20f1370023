// Running out of memory: every allocation point of the configuration code,
// the configuration files and the address list, failed one after another,
// gives the status code and leaves nothing half-made.

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

// Allocations left before operator new fails; -1 never fails.
int allocations_left = -1;

void *allocate(size_t n) {
    if (allocations_left == 0)
        throw std::bad_alloc();
    if (allocations_left > 0)
        --allocations_left;
    void *p = malloc(n != 0 ? n : 1);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

// Fails the allocation after `after` successful ones, for one call.
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

} // namespace

void *operator new(size_t n) {
    return allocate(n);
}
void *operator new[](size_t n) {
    return allocate(n);
}
void operator delete(void *p) noexcept {
    free(p);
}
void operator delete[](void *p) noexcept {
    free(p);
}
void operator delete(void *p, size_t) noexcept {
    free(p);
}
void operator delete[](void *p, size_t) noexcept {
    free(p);
}

TEST(ConfigNoMemory, ParseSkipsTheKeyAndReportsIt) {
    kp_config full;
    ASSERT_EQ(getDefaultConfig(&full), 0);
    std::string whole = text;
    ASSERT_EQ(ParseConfigExA(whole.data(), &full, nullptr, 0), 0);

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
        bool reported = false;
        for (const std::string &t : log.texts())
            reported =
                reported || t.rfind("Unable to allocate memory; Option skipped on line ", 0) == 0;
        EXPECT_TRUE(reported) << after;
    }
    EXPECT_GT(failures, 5);
}

TEST(ConfigNoMemory, CopyZeroesTheDestination) {
    kp_config src;
    ASSERT_EQ(getDefaultConfig(&src), 0);
    std::string buf = text;
    ASSERT_EQ(ParseConfigExA(buf.data(), &src, nullptr, 0), 0);
    int failures = 0;
    for (int after = 0; after < 500; ++after) {
        kp_config dst;
        dst.CLIENT_NAME = "previous";
        int rc = failing_after(after, [&] { return CopyConfig(&dst, &src); });
        if (rc == 0) {
            EXPECT_EQ(dst, src);
            break;
        }
        ASSERT_EQ(rc, KP_NO_MEMORY);
        EXPECT_EQ(dst, kp_config{}) << after;
        ++failures;
    }
    EXPECT_GT(failures, 5);

    std::string out;
    EXPECT_EQ(failing_after(0, [&] { return FormatConfigA(&src, true, &out); }), KP_NO_MEMORY);
    kp_config d;
    EXPECT_EQ(failing_after(0, [&] { return getDefaultConfig(&d); }), KP_NO_MEMORY);
}

TEST(ConfigNoMemory, FilesAndAddresses) {
    char path[] = "/tmp/xkp_nomem.XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << text; // longer than a short string keeps inline
    std::string out;
    EXPECT_EQ(failing_after(0, [&] { return ReadConfigFile(path, &out); }), KP_NO_MEMORY);
    EXPECT_EQ(ReadConfigFile(path, &out), 0);
    unlink(path);

    local_addrs_forget();
    local_addr_list list;
    EXPECT_EQ(failing_after(0, [&] { return get_local_addrs(&list); }), -1);
    EXPECT_EQ(list.count, 0);
    EXPECT_TRUE(list.addr.empty());
    EXPECT_EQ(get_local_addrs(&list), 0);
    EXPECT_GE(list.count, 1);
}
