// The program state of xkp: the process-wide globals every part of the
// client reads and writes, under their own names. Integers are 32-bit, flags
// are integers used as 0/1, texts are buffers of XKP_TEXT_SIZE (1536) bytes.
// The widget handles of the main window are program state too; they are
// declared with the main window (xkp_main.h) because they need X.
//
// The definitions (with their start-up values) are in clientx/core/xkp_state.cpp.
#pragma once

#include "cmnutils.h"

#include <cstdint>
#include <cstdio>

using xkp_text = char[XKP_TEXT_SIZE];

// Client types of standard_or_wbak with a behaviour of their own: type 3
// restores to its own paths only (no alternate destination), type 16
// deletes its transaction logs where others overwrite files, type 19 always
// restores with overwrite.
constexpr int CLIENT_TYPE_APOLLO_WBAK = 3;
constexpr int CLIENT_TYPE_MS_EXCHANGE = 16;
constexpr int CLIENT_TYPE_NDMP = 19;

// graphic_mode: the directory list as an indented tree or as full paths.
constexpr int GRAPHIC_TREE = 0;
constexpr int GRAPHIC_FULL_PATHS = 3;

// Browse mode.
extern int browsing_filesys;
extern int restore_from_archives;
extern int browsing_raw_partitions;
extern int browsing_auspex;
extern int true_image;
extern int browsing_database;
extern xkp_text rdbms_argv;
extern int standard_or_wbak; // the client type (policy type) of requests
extern int force_client_type;
extern int root_filesys_only_possible;
extern int filesystem_only_restore_possible;

// Dates.
extern int32_t let_there_be_light;
extern int date1_latch;
extern int date2_latch;
extern int show_all_dates;

// Browse settings.
extern int browse_limit;
extern int really_get_real;
extern int pathzap_latch;
extern int recursion_limit;
extern int verbose;
extern int graphic_mode; // GRAPHIC_TREE or GRAPHIC_FULL_PATHS
extern int use_persistent_list;
extern xkp_text current_working_directory;
extern xkp_text help_topic;

// Hosts.
extern xkp_text orig_server;
extern xkp_text current_server;
extern xkp_text orig_client;
extern xkp_text current_browse_client;
extern xkp_text current_restore_client;
extern int privileged;

// Command-option fragments pasted into command lines.
extern xkp_text dash_t_option;
extern xkp_text dash_ct_option;
extern xkp_text dash_C_option;
extern xkp_text dash_D_option;
extern xkp_text dash_S_option;
extern xkp_text dash_server_option;
extern xkp_text dash_eight_option;

// Restore destination.
extern int use_alternate_path;
extern int alternate_path_defined;
extern int rename_altpath_hard;
extern int rename_altpath_soft;
extern xkp_text from_alternate_path;
extern xkp_text to_alternate_path;
extern xkp_text altpath_cmdfile;

// Request and start dialog.
extern xkp_text temp_filename;
extern xkp_text confirmation_msg;
extern xkp_text confirmation_directory;
extern xkp_text confirmed_cmd;
extern xkp_text confirmed_cmd_header;
extern xkp_text confirmed_cmd_trailer;
extern xkp_text confirmed_cmd_log;
extern xkp_text confirmed_cmd_alt;
extern xkp_text backupKeyword;
extern xkp_text log_filename;
extern int use_logging;
extern int overwrite_at_will;

// Progress.
extern int auto_refresh_interval;
extern const char *report_name_fragment; // "bkup", "arch" or "rest"; null at start
extern xkp_text progress_cat_filename;
extern int progress_filesize;

// Listing.
extern xkp_text left_dir;
extern xkp_text right_dir;
extern xkp_text patterned_dir;
extern int device_number;
extern int kprd_missing;

// Locale names (common names of the message, character-type, time,
// collation and numeric locales) and the message locale used for lookups.
extern xkp_text tmlcmsg;
extern xkp_text tmlctype;
extern xkp_text tmlctime;
extern xkp_text tmlccol;
extern xkp_text tmlcnum;
extern xkp_text lc_messages;

// Diagnostics.
extern int debug_enabled;
extern xkp_text debug_string;
extern FILE *stderr_fd;

// Rebuilds dash_t_option and dash_ct_option from standard_or_wbak and
// browsing_auspex; a client type of 3 also cancels the alternate destination.
void set_client_type_argvs();

// Puts every global back to its start-up value (used by tests).
void reset_program_state();
