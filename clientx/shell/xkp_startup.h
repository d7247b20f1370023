// Start-up: the toolkit options, the program's own options, the hosts,
// locale and mount table, and the working directory. (The reading of the
// main window's fields into the program state is update_globals, in
// xkp_handles.h.)
#pragma once

#include <X11/Intrinsic.h>

// Rewrites "-fn"/"-font", "-g"/"-geometry" and "-T"/"-title" with their
// values into "-xrm" resource settings, in place. The rewritten values live
// in three buffers of 2048 bytes for the whole run (values are cut to fit).
void resourcify_argv(int argc, char **argv);
// After the toolkit read its resources into db: a font given with
// "-fn"/"-font" becomes the font of the renditions the resource file sets,
// since a render table takes precedence over a font list and the font must
// show in every window. Nothing changes when no font was given.
void apply_font_option(XrmDatabase *db);
// Applies the program's own options ("-b", "-a", "-r", "-ra", "-rr",
// "-browselimit N", "-nl X") from what the toolkit left; others are ignored.
void parse_own_options(int argc, char **argv);
// debug_enabled and debug_string from XKP_DEBUG (set even when empty).
void read_debug_setting();
// Hosts, privilege, locale names, the start of all dates, the mount table.
void initialize_glue();
// The master server's name (a buffer living for the whole run);
// "CerXkp1001N" when it cannot be determined.
char *kp_server_name();
// 1 when name equals one of the master configuration's servers.
int is_a_server(const char *name);
// current_working_directory from the working directory, once (loop-back
// mounts mapped).
void initialize_cwd();
void save_main_screen(Widget w);
// Called by the wildcard expander where it gives up; does nothing.
void Exit();
