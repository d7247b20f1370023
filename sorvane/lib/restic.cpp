#include "restic.h"
#include "unique_fd.h"

#include "jobs.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kpstatus.h"
#include "server_env.h"

extern char **environ;

namespace {

bool contains(std::string_view hay, std::string_view needle) {
    return hay.find(needle) != std::string_view::npos;
}

bool is_connect_error(std::string_view line) {
    return contains(line, "connection refused") || contains(line, "no such host") ||
           contains(line, "connection reset") || contains(line, "i/o timeout") ||
           contains(line, "network is unreachable") || contains(line, "no route to host") ||
           contains(line, "broken pipe");
}

// Splits a stream into lines; the last partial line is flushed at the end.
struct LineSplitter {
    std::string pending;
    template <class F> void feed(const char *data, size_t n, F &&emit) {
        pending.append(data, n);
        size_t start = 0;
        for (;;) {
            size_t nl = pending.find('\n', start);
            if (nl == std::string::npos) {
                break;
            }
            emit(std::string_view(pending).substr(start, nl - start));
            start = nl + 1;
        }
        pending.erase(0, start);
    }
    template <class F> void finish(F &&emit) {
        if (!pending.empty()) {
            emit(std::string_view(pending));
        }
        pending.clear();
    }
};

bool is_local_location(const std::string &loc) {
    static const char *schemes[] = {
        "rest:", "sftp:", "s3:", "b2:", "azure:", "gs:", "swift:", "rclone:"};
    for (const char *s : schemes) {
        if (loc.compare(0, strlen(s), s) == 0) {
            return false;
        }
    }
    return true;
}

} // namespace

ResticFailure classify_restic_error(std::string_view t) {
    if (t.empty()) {
        return ResticFailure::None;
    }
    if (contains(t, "wrong password or no key found")) {
        return ResticFailure::WrongPassword;
    }
    if (contains(t, "repository is already locked") || contains(t, "unable to create lock")) {
        return ResticFailure::Locked;
    }
    if (contains(t, "(401)") || contains(t, "401 Unauthorized") || contains(t, "(403)")) {
        return ResticFailure::Unauthorized;
    }
    if (contains(t, "connection refused") || contains(t, "no such host") ||
        contains(t, "unable to start the sftp session") || contains(t, "HTTP response (5") ||
        contains(t, "i/o timeout") || contains(t, "network is unreachable") ||
        contains(t, "no route to host") || contains(t, "connection reset")) {
        return ResticFailure::Unreachable;
    }
    if (contains(t, "Is there a repository at the following location?") ||
        contains(t, "repository does not exist") || contains(t, "unable to open config file")) {
        return ResticFailure::RepositoryMissing;
    }
    return ResticFailure::Other;
}

const char *restic_failure_name(ResticFailure f) {
    switch (f) {
    case ResticFailure::None:
        return "no failure";
    case ResticFailure::RepositoryMissing:
        return "no repository at the server's location";
    case ResticFailure::WrongPassword:
        return "the repository refused the server's password";
    case ResticFailure::Locked:
        return "the repository is locked by another process";
    case ResticFailure::Unreachable:
        return "the repository cannot be reached";
    case ResticFailure::Unauthorized:
        return "the repository server refused the credentials";
    case ResticFailure::Other:
        return "restic failed";
    }
    return "restic failed";
}

int restic_failure_status(ResticFailure f, int program_failure_status) {
    switch (f) {
    case ResticFailure::RepositoryMissing:
    case ResticFailure::Unreachable:
        return kpstatus::NO_SERVER;
    default:
        return program_failure_status;
    }
}

std::string restic_program() {
    const char *over = getenv("XKP_RESTIC");
    if (over != nullptr && over[0] == '/') {
        return over;
    }
    if (access("/usr/bin/restic", X_OK) == 0) {
        return "/usr/bin/restic";
    }
    return "/bin/restic";
}

ResticResult run_restic(const KpServer &server, const std::vector<std::string> &args,
                        const LineFn &on_out, const LineFn &on_err, int connect_error_limit) {
    return run_restic_streams(server, args, ResticStreams{}, on_out, on_err, connect_error_limit);
}

ResticResult run_restic_streams(const KpServer &server, const std::vector<std::string> &args,
                                const ResticStreams &io, const LineFn &on_out, const LineFn &on_err,
                                int connect_error_limit) {
    ResticResult res;
    std::string prog = restic_program();
    std::vector<std::string> argv_s = {prog};
    if (!server.password_file.empty()) {
        argv_s.insert(argv_s.end(), {"--password-file", server.password_file});
    }
    if (!server.repository_file.empty()) {
        argv_s.insert(argv_s.end(), {"--repository-file", server.repository_file});
    }
    if (!server.cache_dir.empty()) {
        argv_s.push_back("--cache-dir");
        argv_s.push_back(server.cache_dir);
    }
    add_server_restic_options(server, argv_s);
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : argv_s) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    // A cleaned environment: nothing of the caller's restic settings, proxy
    // or locale leaks into the run; HOME and TMPDIR stay for restic's own use.
    std::vector<std::string> env_s = {"PATH=/usr/bin:/bin", "LC_ALL=C", "RESTIC_PROGRESS_FPS=2"};
    for (const char *keep : {"HOME", "TMPDIR", "TZ"}) {
        const char *v = getenv(keep);
        if (v != nullptr) {
            env_s.push_back(std::string(keep) + "=" + v);
        }
    }
    add_server_restic_environment(server, env_s);
    std::vector<char *> envp;
    for (auto &e : env_s) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    int outp[2], errp[2];
    if (pipe2(outp, O_CLOEXEC) != 0) {
        return res;
    }
    Fd out_r(outp[0]), out_w(outp[1]);
    if (pipe2(errp, O_CLOEXEC) != 0) {
        return res;
    }
    Fd err_r(errp[0]), err_w(errp[1]);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (io.stdin_fd >= 0) {
        posix_spawn_file_actions_adddup2(&fa, io.stdin_fd, 0);
    } else {
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&fa, out_w.fd, 1);
    posix_spawn_file_actions_adddup2(&fa, err_w.fd, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t dflt;
    sigemptyset(&dflt);
    sigaddset(&dflt, SIGPIPE);
    sigaddset(&dflt, SIGINT);
    sigaddset(&dflt, SIGTERM);
    posix_spawnattr_setsigdefault(&attr, &dflt);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, prog.c_str(), &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    out_w.reset();
    err_w.reset();
    if (rc != 0) {
        res.err = "cannot run " + prog + ": " + strerror(rc);
        res.failure = ResticFailure::Other;
        return res;
    }
    res.started = true;

    LineSplitter so, se;
    int connect_errors = 0;
    bool killed = false;
    auto emit_out = [&](std::string_view l) {
        // Output other than a progress report means restic got on: the
        // connection errors before it were retried with success.
        if (l.find("\"message_type\":\"status\"") == std::string_view::npos) {
            connect_errors = 0;
        }
        if (on_out) {
            on_out(l);
        } else {
            res.out.append(l);
            res.out += '\n';
        }
    };
    auto emit_err = [&](std::string_view l) {
        if (res.err.size() > (1u << 20)) {
            res.err.erase(0, res.err.size() - (1u << 19));
        }
        res.err.append(l);
        res.err += '\n';
        if (on_err) {
            on_err(l);
        }
        if (!is_connect_error(l)) {
            connect_errors = 0;
        } else if (connect_error_limit > 0 && ++connect_errors >= connect_error_limit && !killed) {
            kill(pid, SIGTERM);
            killed = true;
        }
    };
    pollfd fds[2] = {{out_r.fd, POLLIN, 0}, {err_r.fd, POLLIN, 0}};
    char buf[65536];
    int open_count = 2;
    bool cancelled = false;
    while (open_count > 0) {
        // A cancelled job stops its restic at once (restic removes its
        // lock as it ends on SIGTERM).
        int n = poll(fds, 2, 250);
        if (job_cancelled() && !cancelled) {
            kill(pid, SIGTERM);
            cancelled = true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            ssize_t r = read(fds[i].fd, buf, sizeof buf);
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r <= 0) {
                fds[i].fd = -1;
                --open_count;
                continue;
            }
            if (i == 0 && io.out_bytes) {
                connect_errors = 0;
                // Once the sink failed, the rest is drained until restic ends.
                if (!res.stopped && !io.out_bytes(buf, static_cast<size_t>(r))) {
                    res.stopped = true;
                    kill(pid, SIGTERM);
                }
            } else if (i == 0) {
                so.feed(buf, static_cast<size_t>(r), emit_out);
            } else {
                se.feed(buf, static_cast<size_t>(r), emit_err);
            }
        }
    }
    so.finish(emit_out);
    se.finish(emit_err);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        res.exit_code = WEXITSTATUS(status);
    }
    res.cancelled = cancelled;
    if (cancelled || res.stopped) {
        res.exit_code = -1;
        res.failure = ResticFailure::Other;
    } else if (killed) {
        res.aborted = true;
        res.exit_code = -1;
        res.failure = ResticFailure::Unreachable;
    } else if (res.exit_code == 1 || res.exit_code < 0) {
        res.failure = classify_restic_error(res.err);
        if (res.failure == ResticFailure::None) {
            res.failure = ResticFailure::Other;
        }
    }
    return res;
}

bool repository_reachable(const KpServer &server, ResticFailure &why, std::string &err) {
    std::string loc = server_repository(server);
    if (loc.empty()) {
        why = ResticFailure::RepositoryMissing;
        err = "server " + server.name + " records no repository location";
        return false;
    }
    if (is_local_location(loc)) {
        std::string path = loc.compare(0, 6, "local:") == 0 ? loc.substr(6) : loc;
        struct stat st {};
        if (stat((path + "/config").c_str(), &st) != 0) {
            why = ResticFailure::RepositoryMissing;
            err = "no repository at " + path;
            return false;
        }
        return true;
    }
    ResticResult r = run_restic(server, {"cat", "config"}, {}, {}, 1);
    if (r.started && r.exit_code == 0) {
        return true;
    }
    why = r.failure == ResticFailure::None ? ResticFailure::Other : r.failure;
    err = std::string(restic_failure_name(why)) + ": " + r.err.substr(0, 400);
    return false;
}

std::string restic_version() {
    KpServer none;
    ResticResult r = run_restic(none, {"version"});
    size_t nl = r.out.find('\n');
    return r.out.substr(0, nl);
}

std::string restic_include_pattern(const std::string &path) {
    std::string out;
    for (char c : path) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out;
}
