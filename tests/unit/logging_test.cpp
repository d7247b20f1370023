// The debug log: line building, the closed-log default, and the time-stamped
// write through an open descriptor.

#include <gtest/gtest.h>

#include "logging.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

struct TempFile {
    char path[64] = "/tmp/logging_test.XXXXXX";
    int fd = mkstemp(path);
    ~TempFile() {
        if (fd >= 0) {
            close(fd);
        }
        unlink(path);
    }
    std::string text() const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

// Splits a debuglog line "HH:MM:SS.mmm [ids] text\n" into its ids and text;
// false when the line does not have that shape.
bool split_stamped(const std::string &line, std::string *ids, std::string *text) {
    static const char stamp[] = "00:00:00.000 [";
    const size_t head = sizeof stamp - 1;
    if (line.size() <= head || line.back() != '\n') {
        return false;
    }
    for (size_t i = 0; i < head; ++i) {
        bool digit = isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (stamp[i] == '0' ? !digit : line[i] != stamp[i]) {
            return false;
        }
    }
    size_t close = line.find(']', head);
    if (close == std::string::npos || close + 1 >= line.size() || line[close + 1] != ' ') {
        return false;
    }
    *ids = line.substr(head, close - head);
    *text = line.substr(close + 2, line.size() - close - 3);
    return true;
}

} // namespace

TEST(LogmsgFormat, Lines) {
    const std::string long2000(2000, 'x');
    const std::string at_cut(LOGMSG_TEXT_CUT, 'y');
    const std::string below_cut(LOGMSG_TEXT_CUT - 1, 'z');
    const std::string long_fn(40, 'f');
    const std::string huge_fn(3000, 'g');
    struct Case {
        const char *name;
        int sev;
        const char *text;
        const char *fn;
        std::string want;
    } cases[] = {
        {"plain", 2, "bad line", "ParseConfigExA", "<2> ParseConfigExA: bad line"},
        {"nulls", 2, nullptr, nullptr, "<2> ?: ?"},
        {"null fn", 7, "t", nullptr, "<7> ?: t"},
        {"negative severity", -1, "t", "f", "<-1> f: t"},
        {"2000 chars cut", 2, long2000.c_str(), "fn", "<2> fn: " + std::string(965, 'x') + "..."},
        {"exactly 965 cut", 2, at_cut.c_str(), "fn", "<2> fn: " + at_cut + "..."},
        {"964 kept whole", 2, below_cut.c_str(), "fn", "<2> fn: " + below_cut},
        {"long function cut with long text", 2, long2000.c_str(), long_fn.c_str(),
         "<2> " + std::string(31, 'f') + ": " + std::string(965, 'x') + "..."},
        // A short text keeps the whole function name, but the line stops at 1024.
        {"long function with short text", 2, "t", huge_fn.c_str(), "<2> " + std::string(1020, 'g')},
    };
    for (const auto &c : cases) {
        char line[LOGMSG_LINE_MAX + 1];
        size_t n = logmsg_format(line, c.sev, c.text, c.fn);
        EXPECT_EQ(std::string(line), c.want) << c.name;
        EXPECT_EQ(n, strlen(line)) << c.name;
        EXPECT_LE(n, LOGMSG_LINE_MAX) << c.name;
    }
}

TEST(Logmsg, ClosedLogWritesNothingOpenLogWritesTimeStampedCutLine) {
    ASSERT_EQ(debugFD, -1);
    const std::string text(2000, 'q');
    EXPECT_EQ(logmsg(2, text.c_str(), "f"), -1);
    EXPECT_EQ(logmsg(2, nullptr, nullptr), -1);

    TempFile tf;
    ASSERT_GE(tf.fd, 0);
    debugFD = tf.fd;
    const int rc = logmsg(2, text.c_str(), "getConfigTokenA");
    debugFD = -1;
    EXPECT_EQ(rc, 0);
    const std::string got = tf.text();
    std::string ids, line;
    ASSERT_TRUE(split_stamped(got, &ids, &line)) << got;
    EXPECT_EQ(ids, std::to_string(getpid()));
    EXPECT_EQ(line, "<2> getConfigTokenA: " + std::string(965, 'q') + "...");
}

TEST(Debuglog, BadDescriptors) {
    EXPECT_EQ(debuglog(-1, "x"), -1);
    EXPECT_EQ(debuglog(-5, "x"), -1);
    // A closed descriptor gives the system error of the write.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(debuglog(fds[1], "x"), EBADF);
}

TEST(Debuglog, ParentIdAndLongLine) {
    TempFile tf;
    ASSERT_GE(tf.fd, 0);
    debuglog_set_parent(4242);
    const int rc = debuglog(tf.fd, std::string(6000, 'L').c_str());
    debuglog_set_parent(0);
    EXPECT_EQ(rc, 0);
    const std::string got = tf.text();
    std::string ids, line;
    ASSERT_TRUE(split_stamped(got, &ids, &line)) << got.substr(0, 80);
    EXPECT_EQ(ids, "4242." + std::to_string(getpid()));
    // The whole write stays below 4096 bytes; the line itself is cut to at
    // most 4072 characters, all of them kept text.
    EXPECT_LE(got.size(), 4095u);
    EXPECT_LE(line.size(), 4072u);
    EXPECT_GT(line.size(), 4000u);
    EXPECT_EQ(line.find_first_not_of('L'), std::string::npos);
}
