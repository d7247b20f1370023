// Entries moved through a program's standard streams, for database scripts
// and other programs that produce or consume one stream of bytes:
//   kpbackup -stdin NAME   stores standard input as the regular file NAME
//                          (an absolute path-like name) of a new image;
//   kprestore -stdout NAME writes the chosen version of NAME to standard
//                          output.
// Both run in the foreground (they hold the caller's streams), listed by
// "kpadmin jobs" and cancelled like any job while they run.
#pragma once

#include "kpargs.h"

class ProgressLog;

// kpbackup -stdin NAME, with -S, -k, -L and -8 as kpbackup takes them; the
// policy as kpbackup chooses it (KPBACKUP_POLICY, then kp.conf). Reads
// standard input to its end and returns the status (0 only once the
// image is recorded and restic stored exactly the bytes read).
int backup_stdin_entry(const KpArgs &args, ProgressLog &log);

// kprestore -stdout NAME, with -S, -C, -A, -L, -8 as kprestore takes them
// and -s START, -e END (seconds since the epoch): the newest version of
// NAME alive in [START, END] (by default any time). Returns 0 only when
// every byte the catalog records was written.
int restore_stdout_entry(const KpArgs &args, ProgressLog &log);
