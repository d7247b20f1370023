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
        if (cond()) {
            return true;
        }
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
        while (!job_cancelled()) {
            usleep(20000);
        }
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

namespace {

using harness::has;

// A server "demo" whose restic backups wait for the test: the wrapper
// blocks until the file "go" exists, so a program that returned while it
// blocks did not wait for its job.
class RequestJobs : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(harness::run("kpadmin", {"init-server", "demo"}).status, 0);
        dir_ = root_.data() + "/d";
        mkdir(dir_.c_str(), 0755);
        for (const char *n : {"a", "b"}) {
            harness::write_file(dir_ + "/" + n, n);
        }
        const std::string w = root_.path("wrapper");
        harness::write_file(w, "#!/bin/sh\ncase \" $* \" in *\" backup \"*) while [ ! -e '" +
                                   root_.path("go") +
                                   "' ]; do sleep 0.1; done ;; esac\n"
                                   "exec /usr/bin/restic \"$@\"\n");
        chmod(w.c_str(), 0755);
        setenv("XKP_RESTIC", w.c_str(), 1);
        harness::write_file(root_.path("req"), harness::counted({dir_}));
    }
    void TearDown() override { unsetenv("XKP_RESTIC"); }
    harness::Run start(const std::string &prog, const std::string &log) {
        harness::write_file(root_.path(log), "");
        return harness::run_detached(prog, {"-L", root_.path(log), "-f", root_.path("req")});
    }
    std::string log(const std::string &name) { return harness::read_file(root_.path(name)); }
    bool ended(const std::string &name) { return has(log(name), "EXIT STATUS"); }
    harness::Root root_;
    std::string dir_;
};

TEST_F(RequestJobs, AcceptedAtOnceWaitingInTurnCancelledCleanly) {
    // Refused at once: nothing to back up.
    harness::write_file(root_.path("bad"), harness::counted({root_.path("none")}));
    harness::write_file(root_.path("log0"), "");
    EXPECT_EQ(harness::run_detached("kpbackup", {"-L", root_.path("log0"), "-f", root_.path("bad")})
                  .status,
              71);
    EXPECT_TRUE(has(log("log0"), "EXIT STATUS 71")) << log("log0");

    // Two backups: both accepted while restic is held; the second waits
    // for the first, and says so.
    ASSERT_EQ(start("kpbackup", "log1").status, 0);
    ASSERT_EQ(start("kpbackup", "log2").status, 0);
    EXPECT_TRUE(eventually([&] { return has(log("log2"), "waiting for another backup"); }))
        << log("log2");
    EXPECT_FALSE(ended("log1"));
    std::string jobs = harness::run("kpadmin", {"jobs"}).out;
    EXPECT_TRUE(has(jobs, " running kpbackup ") && has(jobs, " waiting kpbackup ")) << jobs;
    harness::write_file(root_.path("go"), "");
    EXPECT_TRUE(eventually([&] { return ended("log1") && ended("log2"); }));
    EXPECT_TRUE(has(log("log1"), "EXIT STATUS 0") && has(log("log2"), "EXIT STATUS 0"))
        << log("log1") << log("log2");
    EXPECT_TRUE(has(log("log1"), "progress: ")) << log("log1");

    // An archive cancelled while restic stores the files deletes nothing.
    unlink(root_.path("go").c_str());
    ASSERT_EQ(start("kparchive", "log3").status, 0);
    ASSERT_TRUE(eventually([&] { return harness::run("kpadmin", {"jobs"}).out.size() > 0; }));
    long long id = std::stoll(harness::run("kpadmin", {"jobs"}).out);
    auto c = harness::run("kpadmin", {"cancel", std::to_string(id)});
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_TRUE(ended("log3"));
    EXPECT_FALSE(has(log("log3"), "EXIT STATUS 0")) << log("log3");
    EXPECT_EQ(harness::read_file(dir_ + "/a") + harness::read_file(dir_ + "/b"), "ab");
}

} // namespace
