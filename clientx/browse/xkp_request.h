// Requests: the request file written from the selections, progress-log
// names, the transfer encoding of paths on command lines, the database
// program's header, and the text that carries a path or a typed word to
// /bin/sh unchanged.
#pragma once

#include <cstddef>
#include <string>

// Creates a new, empty request file (mode 0600, never an existing name)
// and puts its path into out (size bytes). false when none can be made.
bool create_temp_file(char *out, size_t size);

// The next progress-log name for word ("log.bkup", "log.arch", "log.rest"):
// $HOME/kpWORD.NNN, one above the highest number in use (static text).
char *generate_home_filename(const char *word);

// text in the transfer encoding (static text of 1536 bytes); when that
// changed anything, dash_eight_option becomes " -8 " for the rest of the run.
char *utf8_conversion(const char *text);

// confirmed_cmd_header for a database-script request; action "-ub" backs
// up, "-r" restores.
void generate_kphdb_header(const char *action);

// Opens the start dialog for the request the state describes.
void open_start_dialog();
