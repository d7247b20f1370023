// Jobs: a request program checks its request, then leaves the work to a
// job detached from its caller (its own session, surviving the caller's
// exit) and returns at once. Each running or waiting job of a server has a
// record in the server's jobs/ directory, so that "kpadmin jobs" lists them
// and "kpadmin cancel" stops one.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct JobRecord {
    long long id = 0; // the job's process id
    std::string program;
    std::string state; // "running" or "waiting"
    std::string log;   // the progress log, or "" when none
    long long started = 0;
    std::string waits_for; // what a waiting job waits for
};

// The jobs directory of a server directory (made 0700 when missing).
std::string jobs_dir(const std::string &server_dir);

// The records of the jobs that are still alive; records of jobs whose
// process is gone (killed) are removed.
std::vector<JobRecord> list_jobs(const std::string &server_dir);

// Starts work() as a detached job: a child in its own session with
// standard input and output on /dev/null, its record written while it
// runs; the caller gets 0 once the job has started. With wait set, the job
// runs in this process and its status is returned. A job that cannot be started returns -1 with
// err set. work runs in the child only; its return value is the job's
// status. Every descriptor above 2 but those of keep (the progress log) is
// closed in the job.
int start_job(const std::string &server_dir, const std::string &program,
              const std::string &log_path, bool wait, const std::function<int()> &work,
              std::string &err, const std::vector<int> &keep = {});

// Inside a job: marks the job waiting for what (shown by "kpadmin jobs"),
// or running again when what is empty.
void job_set_waiting(const std::string &what);

// Inside a job: true once a cancel (SIGTERM or SIGINT) was received. The
// job stops at its next safe point; restic runs are stopped at once.
bool job_cancelled();

// Installs the cancel handlers (done by start_job in the job; programs run
// in the foreground may call it too).
void job_install_cancel_handlers();

// Asks job id of the server to stop and waits up to timeout seconds for it
// to end. 0 when it ended, 1 when it is still running, -1 when there is no
// such job (err says why).
int cancel_job(const std::string &server_dir, long long id, int timeout, std::string &err);
