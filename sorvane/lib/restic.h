// The restic driver: runs Debian's restic for one server with its password
// and repository files, standard input from /dev/null, a cleaned
// environment and the server's cache directory, never through a shell.
// The programs were tested with restic 0.14.0.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "kpserver.h"

constexpr const char *RESTIC_TESTED_VERSION = "restic 0.14";

// restic exits 1 for every fatal error; the kind is told from its standard
// error text.
enum class ResticFailure {
    None,
    RepositoryMissing, // no repository at the location
    WrongPassword,
    Locked,       // another process holds the repository lock
    Unreachable,  // connection refused, unknown host, HTTP 5xx, sftp session
    Unauthorized, // HTTP 401/403 from a rest server
    Other,
};

ResticFailure classify_restic_error(std::string_view stderr_text);
const char *restic_failure_name(ResticFailure f);

// Status of a failure that stopped a program: the repository cannot be
// reached (missing, down, unknown host) is kpstatus::NO_SERVER; anything
// else is the program's own failure status.
int restic_failure_status(ResticFailure f, int program_failure_status);

struct ResticResult {
    bool started = false;
    int exit_code = -1;     // restic's exit status; -1 when killed or not started
    bool aborted = false;   // stopped by us after repeated connection errors
    bool cancelled = false; // stopped because the job was cancelled
    bool stopped = false;   // stopped because the output sink failed
    std::string out;        // standard output, unless a line callback took it
    std::string err;        // standard error (the last 1 MiB)
    ResticFailure failure = ResticFailure::None;
};

using LineFn = std::function<void(std::string_view)>;

// Runs "restic --password-file P --repository-file R --cache-dir C ARGS...".
// Output lines go to on_out when given (else into out); stderr lines to
// on_err as well as err. restic retries for minutes when a remote server
// stops answering: after `connect_error_limit` connection errors in a row
// on stderr (no other output between them) the process is killed and the
// result marked aborted/Unreachable. The server's options and environment
// files (server_env.h) add to restic's command line and environment.
ResticResult run_restic(const KpServer &server, const std::vector<std::string> &args,
                        const LineFn &on_out = {}, const LineFn &on_err = {},
                        int connect_error_limit = 3);

// For the runs that stream one entry's content: restic's standard input
// from a descriptor of ours ("backup --stdin"), and its standard output as
// bytes ("dump"). A sink that returns false (it cannot write) stops restic
// and marks the result stopped.
struct ResticStreams {
    int stdin_fd = -1; // -1: /dev/null
    std::function<bool(const char *, size_t)> out_bytes;
};

ResticResult run_restic_streams(const KpServer &server, const std::vector<std::string> &args,
                                const ResticStreams &io, const LineFn &on_out = {},
                                const LineFn &on_err = {}, int connect_error_limit = 3);

// Checks that the server's repository can be opened before work starts: a
// local repository by its config file, any other backend by asking restic
// for the repository config. False with the failure kind and a reason.
bool repository_reachable(const KpServer &server, ResticFailure &why, std::string &err);

// The restic program to run: XKP_RESTIC when set (tests), else "restic"
// from /usr/bin or /bin.
std::string restic_program();

// A path as a pattern of "restore --include", matching that path alone:
// the characters restic would match ("*?[]\\") escaped.
std::string restic_include_pattern(const std::string &path);

// The first line of "restic version".
std::string restic_version();
