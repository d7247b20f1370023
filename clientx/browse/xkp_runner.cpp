// The command runner: pipes and forks to /bin/sh, waits for exactly the
// right child, traces and suppresses commands for debugging.
#include "xkp_runner.h"

#include "cmnutils.h"
#include "xkp_errmsg.h"
#include "xkp_state.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

int popen_pid[popen_pid_size];

namespace {

// Exit status the child uses when /bin/sh itself cannot be executed: the
// shell's own code for a command it cannot run.
constexpr int shell_missing_status = 127;

// The debugging step shared by mypopen and mysystem. Returns true when the
// command must not run.
bool debug_suppresses(const char *what, const char *command) {
    if (!debug_enabled) {
        return false;
    }
    if (strcmp(debug_string, "gkc") == 0) {
        printf("debug %s:%s!\n", what, command);
        fflush(stdout);
    }
    char word[XKP_FIELD_MAX + 1];
    field_copy(word, debug_string, 1);
    if (strcmp(word, "avoid") != 0) {
        return false;
    }
    field_copy(word, debug_string, 2);
    if (word[0] == '\0' || strstr(command, word) == nullptr) {
        return false;
    }
    printf("debug avoiding !%s!\n", command);
    fflush(stdout);
    return true;
}

// Exit code from a wait status: bits 8 to 15 (0 for a signal-killed child).
int exit_code(int status) {
    return (status >> 8) & 0xff;
}

} // namespace

int command_is_executable(const char *command) {
    char program[XKP_FIELD_MAX + 1];
    field_copy(program, command ? command : "", 1);
    if (program[0] != '\0' && access(program, X_OK) == 0) {
        return 1;
    }
    pop_err_str(XKP_MSG_NOT_EXECUTABLE, program);
    return 0;
}

FILE *mypopen(const char *command, const char *mode) {
    if (command == nullptr || mode == nullptr) {
        return nullptr;
    }
    if (debug_suppresses("popen", command)) {
        return nullptr;
    }
    if (!command_is_executable(command)) {
        return nullptr;
    }
    int fds[2];
    if (pipe(fds) < 0) {
        return nullptr;
    }
    bool reading = mode[0] == 'r';
    int parent_end = reading ? fds[0] : fds[1];
    int child_end = reading ? fds[1] : fds[0];
    if (parent_end >= popen_pid_size) {
        close(fds[0]);
        close(fds[1]);
        return nullptr;
    }
    pid_t pid = fork();
    if (pid < 0) {
        // The choice here: release both ends, nothing is left open.
        close(fds[0]);
        close(fds[1]);
        return nullptr;
    }
    if (pid == 0) {
        // The parent's ends of other open commands must not stay open here,
        // or their readers would never see end of file.
        for (int fd = 0; fd < popen_pid_size; ++fd) {
            if (popen_pid[fd] != 0) {
                close(fd);
            }
        }
        close(parent_end);
        int target = reading ? 1 : 0;
        if (child_end != target) {
            close(target);
            fcntl(child_end, F_DUPFD, target);
            close(child_end);
        }
        errno = 0;
        execl("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr));
        _exit(shell_missing_status);
    }
    popen_pid[parent_end] = pid;
    close(child_end);
    FILE *stream = fdopen(parent_end, reading ? "r" : "w");
    if (stream == nullptr) {
        close(parent_end);
        int status = 0;
        waitpid(pid, &status, 0);
        popen_pid[parent_end] = 0;
    }
    return stream;
}

int mypclose(FILE *stream) {
    if (stream == nullptr) {
        return 255;
    }
    int fd = fileno(stream);
    fclose(stream);
    pid_t pid = (fd >= 0 && fd < popen_pid_size) ? popen_pid[fd] : 0;

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction old_int {
    }, old_quit{}, old_hup{};
    sigaction(SIGINT, &ignore, &old_int);
    sigaction(SIGQUIT, &ignore, &old_quit);
    sigaction(SIGHUP, &ignore, &old_hup);

    int status = -1;
    if (pid > 0) {
        // Waiting for this child by its id leaves the statuses of other
        // open commands for their own mypclose.
        pid_t got;
        do {
            got = waitpid(pid, &status, 0);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            status = -1;
        }
    }

    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    sigaction(SIGHUP, &old_hup, nullptr);
    if (fd >= 0 && fd < popen_pid_size) {
        popen_pid[fd] = 0;
    }
    return exit_code(status);
}

int mysystem(const char *command, bool *ran) {
    if (ran != nullptr) {
        *ran = false;
    }
    if (command == nullptr) {
        return 0;
    }
    if (debug_suppresses("system", command)) {
        return 0;
    }
    if (!command_is_executable(command)) {
        return 0;
    }
    if (ran != nullptr) {
        *ran = true;
    }
    return exit_code(system(command));
}

char *read_till_eol(char *buffer, int length, FILE *stream) {
    buffer[0] = '\0';
    if (length <= 0) {
        return buffer;
    }
    if (stream == nullptr) {
        return nullptr;
    }
    int stored = 0;
    while (stored < length) {
        int c = getc(stream);
        if (c == EOF) {
            buffer[stored] = '\0';
            return nullptr;
        }
        buffer[stored++] = static_cast<char>(c);
        if (c == '\n') {
            break;
        }
    }
    buffer[stored] = '\0';
    return buffer;
}

void report_exit_status(int code, int file_listing) {
    switch (code) {
    case 0:
        return;
    case 227:
        if (file_listing) {
            pop_errmsg(XKP_MSG_NO_MATCH);
        }
        return;
    case 25:
        if (!kprd_missing) {
            kprd_missing = 1;
            pop_errmsg(XKP_MSG_NO_SERVER_CONNECT);
        }
        return;
    default:
        display_kp_error(code);
        return;
    }
}
