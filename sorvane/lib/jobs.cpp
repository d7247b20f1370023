#include "jobs.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "catalog.h"
#include "request_file.h"

namespace {

volatile sig_atomic_t cancel_flag = 0;

// The record of the job this process runs, when it runs one.
std::string own_record_path;
JobRecord own_record;

void on_cancel(int) {
    cancel_flag = 1;
}

std::string record_text(const JobRecord &r) {
    return "program=" + percent_encode(r.program) + "\nstate=" + percent_encode(r.state) +
           "\nlog=" + percent_encode(r.log) + "\nstarted=" + std::to_string(r.started) +
           "\nwaits_for=" + percent_encode(r.waits_for) + "\n";
}

bool parse_record(const std::string &text, JobRecord &r) {
    size_t pos = 0;
    bool have_program = false;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? nl : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, eq), value = percent_decode(line.substr(eq + 1));
        if (key == "program") {
            r.program = value;
            have_program = true;
        } else if (key == "state") {
            r.state = value;
        } else if (key == "log") {
            r.log = value;
        } else if (key == "started") {
            r.started = atoll(value.c_str());
        } else if (key == "waits_for") {
            r.waits_for = value;
        }
    }
    return have_program;
}

// Writes the record through a new file renamed into place, so that a
// reader never sees half of it.
void write_record(const std::string &path, const JobRecord &r) {
    std::string tmp = path + ".new";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    std::string text = record_text(r);
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
    }
}

std::string record_path(const std::string &server_dir, long long id) {
    return jobs_dir(server_dir) + "/" + std::to_string(id) + ".job";
}

bool alive(long long pid) {
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// Reads exactly one byte, retrying on interrupts; false at end of file.
bool read_byte(int fd, unsigned char &b) {
    for (;;) {
        ssize_t n = read(fd, &b, 1);
        if (n == 1) {
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

} // namespace

std::string jobs_dir(const std::string &server_dir) {
    std::string d = server_dir + "/jobs";
    mkdir(d.c_str(), 0700);
    return d;
}

void job_install_cancel_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_cancel;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

bool job_cancelled() {
    return cancel_flag != 0;
}

void job_set_waiting(const std::string &what) {
    if (own_record_path.empty()) {
        return;
    }
    own_record.state = what.empty() ? "running" : "waiting";
    own_record.waits_for = what;
    write_record(own_record_path, own_record);
}

std::vector<JobRecord> list_jobs(const std::string &server_dir) {
    std::vector<JobRecord> out;
    std::string dir = jobs_dir(server_dir);
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
        return out;
    }
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() < 5 || n.compare(n.size() - 4, 4, ".job") != 0) {
            continue;
        }
        long long id = atoll(n.c_str());
        std::string text, err;
        JobRecord r;
        if (id <= 0 || !read_whole_file(dir + "/" + n, text, err, 65536) ||
            !parse_record(text, r)) {
            continue;
        }
        r.id = id;
        if (!alive(id)) {
            // The job was killed before it could remove its record.
            unlink((dir + "/" + n).c_str());
            continue;
        }
        out.push_back(r);
    }
    closedir(d);
    std::sort(out.begin(), out.end(),
              [](const JobRecord &a, const JobRecord &b) { return a.started < b.started; });
    return out;
}

int start_job(const std::string &server_dir, const std::string &program,
              const std::string &log_path, bool wait, const std::function<int()> &work,
              std::string &err, const std::vector<int> &keep) {
    if (wait) {
        // Waited for, the job is this process itself: the caller keeps its
        // messages and its status, and the job is listed and cancelled as
        // any other.
        job_install_cancel_handlers();
        own_record_path = record_path(server_dir, getpid());
        own_record = {getpid(), program, "running", log_path, time(nullptr), ""};
        write_record(own_record_path, own_record);
        int st = work();
        unlink(own_record_path.c_str());
        own_record_path.clear();
        return st;
    }
    // started: the job writes its id once its record exists; status: the
    // job writes its status as it ends.
    int started[2], status[2];
    if (pipe2(started, O_CLOEXEC) != 0) {
        err = std::string("cannot start the job: ") + strerror(errno);
        return -1;
    }
    if (pipe2(status, O_CLOEXEC) != 0) {
        err = std::string("cannot start the job: ") + strerror(errno);
        close(started[0]);
        close(started[1]);
        return -1;
    }
    jobs_dir(server_dir);
    fflush(nullptr);
    pid_t first = fork();
    if (first < 0) {
        err = std::string("cannot start the job: ") + strerror(errno);
        for (int fd : {started[0], started[1], status[0], status[1]}) {
            close(fd);
        }
        return -1;
    }
    if (first == 0) {
        // The intermediate process: a new session, then the job itself,
        // which is adopted by init once this process exits.
        close(started[0]);
        close(status[0]);
        setsid();
        pid_t job = fork();
        if (job != 0) {
            _exit(job < 0 ? 1 : 0);
        }
        // Nothing of the caller's terminal or pipes is held, so a caller
        // reading the program's output is not kept waiting; a caller that
        // waits for the job keeps seeing its messages.
        int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            if (!wait) {
                dup2(null, 2);
            }
            close(null);
        }
        // Descriptors the caller leaked into the program (a pipe it reads
        // until every writer is gone) are closed: only the job's own stay.
        if (DIR *fds = opendir("/proc/self/fd")) {
            std::vector<int> doomed;
            while (dirent *e = readdir(fds)) {
                int fd = atoi(e->d_name);
                bool kept = fd <= 2 || fd == dirfd(fds) || fd == started[1] || fd == status[1];
                for (int k : keep) {
                    kept = kept || fd == k;
                }
                if (!kept && e->d_name[0] != '.') {
                    doomed.push_back(fd);
                }
            }
            closedir(fds);
            for (int fd : doomed) {
                close(fd);
            }
        }
        job_install_cancel_handlers();
        long long id = getpid();
        own_record_path = record_path(server_dir, id);
        own_record.id = id;
        own_record.program = program;
        own_record.state = "running";
        own_record.log = log_path;
        own_record.started = time(nullptr);
        write_record(own_record_path, own_record);
        std::string idtext = std::to_string(id) + "\n";
        if (write(started[1], idtext.data(), idtext.size()) < 0) {
            // The caller is gone; the job goes on.
        }
        close(started[1]);
        int st = work();
        unlink(own_record_path.c_str());
        unsigned char b = static_cast<unsigned char>(st);
        if (write(status[1], &b, 1) < 0) {
            // Nobody waits for the status.
        }
        fflush(nullptr);
        _exit(st);
    }
    close(started[1]);
    close(status[1]);
    int ws = 0;
    while (waitpid(first, &ws, 0) < 0 && errno == EINTR) {
    }
    unsigned char b = 0;
    bool began = read_byte(started[0], b);
    close(started[0]);
    if (!began) {
        close(status[0]);
        err = "the job did not start";
        return -1;
    }
    int result = 0;
    if (wait) {
        // A job killed before it could write its status ends as terminated.
        result = read_byte(status[0], b) ? b : 150;
    }
    close(status[0]);
    return result;
}

int cancel_job(const std::string &server_dir, long long id, int timeout, std::string &err) {
    std::string path = record_path(server_dir, id);
    std::string text;
    JobRecord r;
    if (id <= 0 || !read_whole_file(path, text, err, 65536) || !parse_record(text, r) ||
        !alive(id)) {
        err = "no job " + std::to_string(id) + " of this server";
        return -1;
    }
    if (kill(static_cast<pid_t>(id), SIGTERM) != 0) {
        err = "cannot stop job " + std::to_string(id) + ": " + strerror(errno);
        return -1;
    }
    for (int i = 0; i < timeout * 10; ++i) {
        if (!alive(id)) {
            return 0;
        }
        struct timespec ts {
            0, 100000000
        };
        nanosleep(&ts, nullptr);
    }
    return alive(id) ? 1 : 0;
}
