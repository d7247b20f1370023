// Test harness of the command programs: a temporary product root with its
// own kp.conf and servers, and a runner that starts a program of the build
// with an argument vector (no shell) and collects its output and status.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace harness {

struct Run {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string bin_dir() {
    const char *b = getenv("XKP_BUILD_DIR");
    return std::string(b != nullptr ? b : ".") + "/root/sorvane/bin";
}

// Runs PROG (a program of the build, or an absolute path) with args, as
// given: a request program returns once its job has started.
inline Run run_detached(const std::string &prog, const std::vector<std::string> &args) {
    std::string path = prog[0] == '/' ? prog : bin_dir() + "/" + prog;
    std::vector<std::string> words = {path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    int o[2], e[2];
    Run r;
    if (pipe(o) != 0 || pipe(e) != 0) {
        return r;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, o[1], 1);
    posix_spawn_file_actions_adddup2(&fa, e[1], 2);
    posix_spawn_file_actions_addclose(&fa, o[0]);
    posix_spawn_file_actions_addclose(&fa, e[0]);
    posix_spawn_file_actions_addclose(&fa, o[1]);
    posix_spawn_file_actions_addclose(&fa, e[1]);
    pid_t pid;
    int rc = posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(o[1]);
    close(e[1]);
    if (rc != 0) {
        close(o[0]);
        close(e[0]);
        r.err = strerror(rc);
        return r;
    }
    pollfd fds[2] = {{o[0], POLLIN, 0}, {e[0], POLLIN, 0}};
    char buf[65536];
    int open_fds = 2;
    while (open_fds > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            } else {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

// Starts prog (an absolute path) with args and standard streams on
// /dev/null, without waiting; returns its pid (-1 when it cannot start).
inline pid_t start(const std::string &prog, const std::vector<std::string> &args) {
    std::vector<std::string> words = {prog};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int fd = 0; fd < 3; ++fd) {
        posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// Runs PROG with args; a request program (kpbackup, kparchive, kprestore,
// kphdb -fork) is given -w, so that its status is its job's.
inline Run run(const std::string &prog, const std::vector<std::string> &args) {
    std::vector<std::string> a = args;
    bool fork_opt = false;
    for (const auto &w : args) {
        fork_opt = fork_opt || w == "-fork";
    }
    if (prog == "kpbackup" || prog == "kparchive" || prog == "kprestore" ||
        (prog == "kphdb" && fork_opt)) {
        a.insert(a.begin(), "-w");
    }
    return run_detached(prog, a);
}

inline bool has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

inline void write_file(const std::string &path, const std::string &data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

inline std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void remove_tree(const std::string &p) {
    std::error_code ec;
    std::filesystem::remove_all(p, ec);
}

// A counted request file ("LEN PATH\n" records).
inline std::string counted(const std::vector<std::string> &paths) {
    std::string s;
    for (const auto &p : paths) {
        s += std::to_string(p.size()) + " " + p + "\n";
    }
    return s;
}

// A restore request line with nine numbers, as the client writes it.
inline std::string image_entry(const std::string &path, long long start, long long end,
                               const std::string &nine = "0 0 0 0 0 0 0 0 0") {
    return nine + " " + std::to_string(path.size()) + " " + path + " " + std::to_string(start) +
           " " + std::to_string(end) + "\n";
}

// A temporary product root with kp.conf naming server "demo" and client
// "testhost"; XKP_ROOT points at it for the test's lifetime.
class Root {
  public:
    Root() {
        char tmpl[] = "/tmp/kpengine.XXXXXX";
        base_ = mkdtemp(tmpl);
        root_ = base_ + "/root";
        mkdir(root_.c_str(), 0755);
        mkdir((root_ + "/sorvane").c_str(), 0755);
        write_file(root_ + "/sorvane/kp.conf", "SERVER = demo\nCLIENT_NAME = testhost\n");
        mkdir((base_ + "/data").c_str(), 0755);
        setenv("XKP_ROOT", root_.c_str(), 1);
    }
    ~Root() {
        if (getenv("KEEP_ENGINE_TMP") == nullptr) {
            remove_tree(base_);
        }
    }
    Root(const Root &) = delete;
    Root &operator=(const Root &) = delete;

    const std::string &base() const { return base_; }
    const std::string &root() const { return root_; }
    std::string data() const { return base_ + "/data"; }
    std::string path(const std::string &rel) const { return base_ + "/" + rel; }
    std::string server_dir(const std::string &name = "demo") const {
        return root_ + "/sorvane/servers/" + name;
    }

  private:
    std::string base_, root_;
};

} // namespace harness
