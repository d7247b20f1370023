// Jobs: started detached with a record, waited for, listed, cancelled; a
// killed job's record is cleaned by the next listing.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "engine_harness.h"
#include "jobs.h"

namespace {

// Waits up to 10 s for cond.
template <class F> bool eventually(F cond) {
    for (int i = 0; i < 200; ++i) {
        if (cond())
            return true;
        usleep(50000);
    }
    return false;
}

TEST(Jobs, StartWaitListCancelAndCleanUp) {
    harness::Root root;
    const std::string dir = root.path("server");
    mkdir(dir.c_str(), 0700);
    std::string err;

    // Waited for, the job's status is the caller's; its record is gone.
    EXPECT_EQ(start_job(
                  dir, "kptest", "", true, [] { return 175; }, err),
              175)
        << err;
    EXPECT_TRUE(list_jobs(dir).empty());

    // Not waited for: the caller returns while the job runs until it is
    // cancelled; its record says what it waits for.
    const std::string mark = root.path("cancelled");
    auto work = [&] {
        job_set_waiting("the lock of server demo");
        while (!job_cancelled())
            usleep(20000);
        harness::write_file(mark, "yes");
        return 150;
    };
    ASSERT_EQ(start_job(dir, "kptest", "/tmp/a log", false, work, err), 0) << err;
    std::vector<JobRecord> jobs;
    ASSERT_TRUE(eventually([&] {
        jobs = list_jobs(dir);
        return jobs.size() == 1 && jobs[0].state == "waiting";
    }));
    EXPECT_EQ(jobs[0].program + "|" + jobs[0].log + "|" + jobs[0].waits_for,
              "kptest|/tmp/a log|the lock of server demo");
    struct stat sb {};
    ASSERT_EQ(stat((dir + "/jobs").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0700u);
    EXPECT_EQ(cancel_job(dir, jobs[0].id, 10, err), 0) << err;
    EXPECT_EQ(harness::read_file(mark), "yes");
    EXPECT_TRUE(list_jobs(dir).empty());
    EXPECT_EQ(cancel_job(dir, jobs[0].id, 1, err), -1);

    // A job killed outright leaves its record; the next listing drops it.
    ASSERT_EQ(start_job(
                  dir, "kptest", "", false,
                  [] {
                      pause();
                      return 0;
                  },
                  err),
              0);
    ASSERT_TRUE(eventually([&] { return list_jobs(dir).size() == 1; }));
    long long id = list_jobs(dir)[0].id;
    kill(static_cast<pid_t>(id), SIGKILL);
    EXPECT_TRUE(eventually([&] { return list_jobs(dir).empty(); }));
}

} // namespace
