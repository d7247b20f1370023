// The command runner: every command program xkp runs goes through here,
// under /bin/sh, with the debugging switch of XKP_DEBUG ("gkc" traces every
// command on standard output, "avoid WORD" suppresses every command line that
// contains WORD) and the executable check of its program.
#pragma once

#include <cstdio>

// Child table: the child's process id per descriptor of the parent's pipe
// end (0 when free).
constexpr int popen_pid_size = 1024;
extern int popen_pid[popen_pid_size];

// Starts command under /bin/sh and returns a stream on its standard output
// (mode "r") or standard input (any other mode), or null: suppressed by
// "avoid", program not executable ("CerXkp1006N" shown), pipe or fork
// failure (nothing shown).
FILE *mypopen(const char *command, const char *mode);
// Closes the stream, waits for its child and returns the exit code (0-255):
// 255 when the wait failed, 0 for a child ended by a signal.
int mypclose(FILE *stream);
// Runs command through system() and returns its exit code; 0 when the
// command was suppressed or its program is not executable. *ran (when ran is
// not null) tells whether the command was run.
int mysystem(const char *command, bool *ran = nullptr);

// Reads one line into buffer (REQUIRES length + 1 bytes): stops after a
// newline (kept), at end of file or after length characters. Returns buffer,
// or null when the read ended at end of file (a last line without newline is
// left in the buffer but not returned). length <= 0 returns "" at once.
char *read_till_eol(char *buffer, int length, FILE *stream);

// The program of a command line (its first blank-separated field) can be
// executed by this process; else "CerXkp1006N" is shown and 0 returned.
int command_is_executable(const char *command);

// The one rule for reporting a command program's exit code, applied by every
// caller after mypclose or mysystem:
//   0    success, nothing shown;
//   227  nothing was found: nothing shown, except that the file-listing
//        loader (file_listing set) shows "CerXkp1005N";
//   25   the server cannot be reached: "CerXkp0302N" the first time in a
//        run (kprd_missing remembers it), nothing afterwards;
//   else the code's status text (display_kp_error).
void report_exit_status(int code, int file_listing);
