// The endings of background requests: a job whose log closes with a failing
// status brings up its box as a failed request program would, the timer runs
// only while a watched job has not ended.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "tmmsg.h"
#include "xkp_jobwatch.h"

#include <chrono>
#include <fstream>
#include <unistd.h>

namespace {

class JobWatchTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
    }
    void TearDown() override {
        gui::close_message_boxes();
        GuiTest::TearDown();
    }
    std::string log(int n) { return dir_.file("log." + std::to_string(n)); }
    void append(int n, const std::string &text) { std::ofstream(log(n), std::ios::app) << text; }
    static std::vector<std::string> boxes() {
        std::vector<std::string> out;
        for (const auto &b : gui::message_boxes()) {
            out.push_back(b.text);
        }
        return out;
    }

    gui::TempDir dir_;
};

TEST_F(JobWatchTest, FailedEndingsAreShownOnceAndTheTimerStopsWithTheLastJob) {
    // The closing status each job writes; the last one goes on running.
    const int statuses[] = {6, 0, 227, 25, 25, 2};
    const int jobs = static_cast<int>(std::size(statuses));
    for (int n = 0; n < jobs; ++n) {
        append(n, "12:00:00 backing up /home/ann\n");
        watch_request_log(log(n), n == 1);
    }
    EXPECT_TRUE(request_watch_armed());
    check_request_logs();
    EXPECT_EQ(watched_request_logs(), jobs);
    EXPECT_TRUE(boxes().empty());

    for (int n = 0; n + 1 < jobs; ++n) {
        append(n, "12:00:09 EXIT STATUS " + std::to_string(statuses[n]) + ": text\n");
    }
    append(jobs - 1, "12:00:09 EXIT STATUS 2"); // a closing line not complete yet
    check_request_logs();
    EXPECT_EQ(boxes(),
              (std::vector<std::string>{getECmsgl(6, nullptr),
                                        "Could not connect to server.  Check services file\nand "
                                        "contact your system administrator to see if\nthe kprd "
                                        "daemon on the server is accessible."}));
    EXPECT_EQ(kprd_missing, 1);
    EXPECT_EQ(access(log(1).c_str(), F_OK), -1) << "a private log goes with its job";
    EXPECT_EQ(access(log(0).c_str(), F_OK), 0) << "the user's log stays";
    EXPECT_EQ(watched_request_logs(), 1);
    ASSERT_TRUE(request_watch_armed());
    gui::close_message_boxes();

    // The last job ends; the timer notices it by itself, then stops.
    append(jobs - 1, ": text\n");
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (watched_request_logs() > 0 && std::chrono::steady_clock::now() < give_up) {
        XtAppProcessEvent(gui::app(), XtIMAll);
    }
    EXPECT_EQ(watched_request_logs(), 0);
    EXPECT_FALSE(request_watch_armed());
    EXPECT_EQ(boxes(), (std::vector<std::string>{getECmsgl(2, nullptr)}));

    // A server unreachable again in this run shows nothing more.
    append(7, "12:00:00 EXIT STATUS 25: text\n");
    watch_request_log(log(7), false);
    gui::close_message_boxes();
    check_request_logs();
    EXPECT_TRUE(boxes().empty());
    EXPECT_FALSE(request_watch_armed());
}

} // namespace
