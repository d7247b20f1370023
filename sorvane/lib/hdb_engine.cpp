// kphdb: run the database scripts a user selected, for a backup ("-ub") or
// a restore ("-r"), each with the database kind, action, policy, schedule,
// keyword, server, client and progress log in its environment, logging
// every line it prints. The scripts move the data themselves, with
// "kpbackup -stdin NAME" and "kprestore -stdout NAME".
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "request_file.h"
#include "jobs.h"
#include "xkp_root.h"

extern char **environ;

namespace {

const char *const HDB_USAGE = "kphdb {-ub|-r} [-fork] -rdbms kind [-S server] [-c policy] "
                              "[-s schedule] [-k keyword] [-8] [-L log] [-w] -f script_list";

const std::vector<KpOption> HDB_OPTIONS = {
    {"-ub", false}, {"-r", false}, {"-fork", false}, {"-rdbms", true}, {"-S", true}, {"-c", true},
    {"-s", true},   {"-k", true},  {"-8", false},    {"-L", true},     {"-f", true}, {"-w", false}};

enum class ScriptResult { Ok, Missing, Failed };

// Runs one script with its output going, line by line, into the log.
// As a job (own_group), the script gets a process group of its own, so
// that a cancel stops it and whatever it started.
ScriptResult run_script(const std::string &script, const std::vector<std::string> &env_add,
                        bool own_group, ProgressLog &log, int &code) {
    struct stat st {};
    if (script.empty() || script[0] != '/' || stat(script.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        log.skipped(script, "no such script");
        return ScriptResult::Missing;
    }
    if (access(script.c_str(), X_OK) != 0) {
        log.skipped(script, "the script is not executable");
        return ScriptResult::Missing;
    }
    std::vector<std::string> env_s;
    for (char **e = environ; *e != nullptr; ++e) {
        if (strncmp(*e, "SORVANE_", 8) != 0) {
            env_s.push_back(*e);
        }
    }
    env_s.insert(env_s.end(), env_add.begin(), env_add.end());
    std::vector<char *> envp;
    for (auto &e : env_s) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::string s = script;
    char *argv[] = {s.data(), nullptr};
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) {
        log.failed(script, "cannot make a pipe");
        return ScriptResult::Failed;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    posix_spawn_file_actions_adddup2(&fa, p[1], 2);
    pid_t pid = -1;
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (own_group) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
    }
    int rc = posix_spawn(&pid, script.c_str(), &fa, &attr, argv, envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    close(p[1]);
    if (rc != 0) {
        close(p[0]);
        log.failed(script, std::string("cannot start: ") + strerror(rc));
        return ScriptResult::Failed;
    }
    // The script ends when it exits, not when its output ends: a process
    // it left in the background may hold the pipe for hours. What comes
    // until a second after the exit is logged; then the pipe is let go.
    std::string pending;
    auto flush_lines = [&](bool all) {
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            log.line("  | " + log_quote(pending.substr(0, nl)));
            pending.erase(0, nl + 1);
        }
        // A line without end is logged in pieces rather than held whole.
        if ((all && !pending.empty()) || pending.size() > 65536) {
            log.line("  | " + log_quote(pending));
            pending.clear();
        }
    };
    int status = 0;
    bool exited = false;
    auto grace_end = std::chrono::steady_clock::time_point::max();
    bool stopped = false;
    char buf[8192];
    for (;;) {
        if (own_group && !stopped && job_cancelled()) {
            log.line("cancelled: stopping " + log_quote(script));
            kill(-pid, SIGTERM);
            stopped = true;
        }
        pollfd pf{p[0], POLLIN, 0};
        int pr = poll(&pf, 1, 200);
        if (pr < 0 && errno != EINTR) {
            break;
        }
        if (pr > 0) {
            ssize_t n = read(p[0], buf, sizeof buf);
            if (n < 0 && errno != EINTR) {
                break;
            }
            if (n == 0) {
                break;
            }
            if (n > 0) {
                pending.append(buf, static_cast<size_t>(n));
                flush_lines(false);
            }
        }
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            grace_end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        }
        if (exited && std::chrono::steady_clock::now() > grace_end) {
            log.line("script " + log_quote(script) +
                     " left processes running that hold its output: their lines are not logged");
            break;
        }
    }
    flush_lines(true);
    close(p[0]);
    while (!exited && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        code = 128 + WTERMSIG(status);
        log.failed(script, std::string("killed by signal ") + strsignal(WTERMSIG(status)));
        return ScriptResult::Failed;
    }
    code = WEXITSTATUS(status);
    if (code != 0) {
        log.failed(script, "exit status " + std::to_string(code));
        return ScriptResult::Failed;
    }
    log.done();
    log.line("script " + log_quote(script) + " completed");
    return ScriptResult::Ok;
}

} // namespace

int kphdb_main(int argc, char **argv) {
    KpArgs args;
    std::string err;
    if (!kp_parse_args(argc, argv, HDB_OPTIONS, args, err)) {
        return usage_error("kphdb", err, HDB_USAGE);
    }
    if (args.has("-ub") == args.has("-r")) {
        return usage_error("kphdb", "give exactly one of -ub and -r", HDB_USAGE);
    }
    if (!args.has("-f") || !args.has("-rdbms")) {
        return usage_error("kphdb", "-rdbms and -f are needed", HDB_USAGE);
    }
    if (!args.operands.empty()) {
        return usage_error("kphdb", "unexpected word " + args.operands[0], HDB_USAGE);
    }
    ProgressLog log;
    if (!open_program_log(args, log, err)) {
        fprintf(stderr, "kphdb: %s\n", err.c_str());
        return kpstatus::OPEN_FAILED;
    }
    if (!args.has("-L")) {
        log.echo_to_stderr(true);
    }
    bool backup = args.has("-ub");
    const char *what = backup ? "database backup" : "database restore";
    std::string text;
    if (!read_whole_file(args.get("-f"), text, err)) {
        log.line("cannot read the script list: " + err);
        log.report(what, kpstatus::OPEN_FAILED);
        return kpstatus::OPEN_FAILED;
    }
    std::vector<std::string> scripts = parse_plain_list(text);
    if (scripts.empty()) {
        log.report(what, kpstatus::EMPTY_LIST);
        return kpstatus::EMPTY_LIST;
    }
    std::string server = args.has("-S") ? args.get("-S") : default_server_name();
    // The log's own name, decoded from the transfer encoding, for scripts
    // that want to say where their output goes.
    std::string log_path = args.get("-L");
    if (args.has("-8")) {
        log_path = transfer_decode(log_path);
    }
    // Under "-fork" the scripts run as a job of the server, detached from
    // the caller, which gets 0 once the job has started (its status under
    // -w); otherwise they run in the foreground and their status is the
    // program's.
    KpServer srv;
    if (args.has("-fork")) {
        int st = open_server(server, srv, err, false);
        if (st != 0) {
            log.line(err);
            log.report(what, st);
            return st;
        }
    }
    std::vector<std::string> env = {"SORVANE_RDBMS=" + args.get("-rdbms"),
                                    std::string("SORVANE_ACTION=") +
                                        (backup ? "backup" : "restore"),
                                    "SORVANE_POLICY=" + args.get("-c"),
                                    "SORVANE_SCHEDULE=" + args.get("-s"),
                                    "SORVANE_KEYWORD=" + args.get("-k"),
                                    "SORVANE_SERVER=" + server,
                                    "SORVANE_CLIENT=" + local_client_name(),
                                    "SORVANE_LOG=" + log_path,
                                    "SORVANE_BIN=" + product_bin_dir()};
    auto work = [&]() {
        log.line(std::string("kphdb started: ") + what + " of " + args.get("-rdbms") + " with " +
                 std::to_string(scripts.size()) + " scripts");
        int ok = 0, missing = 0, failed = 0;
        for (const auto &s : scripts) {
            if (job_cancelled()) {
                break;
            }
            log.line("running " + log_quote(s));
            int code = 0;
            switch (run_script(s, env, args.has("-fork"), log, code)) {
            case ScriptResult::Ok:
                ++ok;
                break;
            case ScriptResult::Missing:
                ++missing;
                break;
            case ScriptResult::Failed:
                ++failed;
                break;
            }
        }
        // A script that fails fails the request, whatever the others did:
        // the database it serves was not saved (or not brought back).
        int status = kpstatus::OK;
        if (job_cancelled()) {
            status = kpstatus::TERMINATED;
        } else if (failed > 0) {
            status = backup ? kpstatus::BACKUP_FAILED : kpstatus::RESTORE_FAILED;
        } else if (ok == 0) {
            status = kpstatus::NONE_EXIST;
        } else if (missing > 0) {
            status = kpstatus::PARTIAL;
        }
        log.report(what, status);
        return status;
    };
    if (!args.has("-fork")) {
        return work();
    }
    int r = start_job(srv.dir, "kphdb", args.get("-L"), args.has("-w"), work, err, {log.fd()});
    if (r < 0) {
        log.line(err);
        log.report(what, backup ? kpstatus::BACKUP_FAILED : kpstatus::RESTORE_FAILED);
        return backup ? kpstatus::BACKUP_FAILED : kpstatus::RESTORE_FAILED;
    }
    return r;
}
