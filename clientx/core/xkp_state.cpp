// Definitions of the program state with their start-up values.
#include "xkp_state.h"

#include <cstring>

int browsing_filesys = 1;
int restore_from_archives = 0;
int browsing_raw_partitions = 0;
int browsing_auspex = 0;
int true_image = 0;
int browsing_database = 0;
xkp_text rdbms_argv;
int standard_or_wbak = 0;
int force_client_type = 0;
int root_filesys_only_possible = 0;
int filesystem_only_restore_possible = 0;

int32_t let_there_be_light = 0;
int date1_latch = 0;
int date2_latch = 0;
int show_all_dates = 1;

int browse_limit = 10000;
int really_get_real = 1;
int pathzap_latch = 0;
int recursion_limit = 2;
int verbose = 0;
int graphic_mode = 0;
int use_persistent_list = 0;
xkp_text current_working_directory;
xkp_text help_topic = "xkp/Tutorial";

xkp_text orig_server;
xkp_text current_server;
xkp_text orig_client;
xkp_text current_browse_client;
xkp_text current_restore_client;
int privileged = 0;

xkp_text dash_t_option;
xkp_text dash_ct_option;
xkp_text dash_C_option;
xkp_text dash_D_option;
xkp_text dash_S_option;
xkp_text dash_server_option;
xkp_text dash_eight_option;

int use_alternate_path = 0;
int alternate_path_defined = 0;
int rename_altpath_hard = 0;
int rename_altpath_soft = 0;
xkp_text from_alternate_path;
xkp_text to_alternate_path;
xkp_text altpath_cmdfile;

xkp_text temp_filename;
xkp_text confirmation_msg;
xkp_text confirmation_directory;
xkp_text confirmed_cmd;
xkp_text confirmed_cmd_header;
xkp_text confirmed_cmd_trailer;
xkp_text confirmed_cmd_log;
xkp_text confirmed_cmd_alt;
xkp_text backupKeyword;
xkp_text log_filename;
int use_logging = 1;
int overwrite_at_will = 0;

int auto_refresh_interval = 0;
const char *report_name_fragment = nullptr;
xkp_text progress_cat_filename;
int progress_filesize = 0;

xkp_text left_dir;
xkp_text right_dir;
xkp_text patterned_dir;
int device_number = -1;
int kprd_missing = 0;

xkp_text tmlcmsg;
xkp_text tmlctype;
xkp_text tmlctime;
xkp_text tmlccol;
xkp_text tmlcnum;
xkp_text lc_messages;

int debug_enabled = 0;
xkp_text debug_string;
FILE *stderr_fd = nullptr;

void set_client_type_argvs() {
    dash_t_option[0] = '\0';
    dash_ct_option[0] = '\0';
    if (standard_or_wbak != -1) {
        snprintf(dash_t_option, sizeof dash_t_option, "-t %d", standard_or_wbak);
        snprintf(dash_ct_option, sizeof dash_ct_option, "-ct %d", standard_or_wbak);
    }
    if (standard_or_wbak == CLIENT_TYPE_APOLLO_WBAK) {
        use_alternate_path = 0;
        alternate_path_defined = 0;
    }
    if (browsing_auspex) {
        snprintf(dash_t_option, sizeof dash_t_option, "-t %d", 12);
        snprintf(dash_ct_option, sizeof dash_ct_option, "-ct %d", 12);
    }
}

void reset_program_state() {
    char *texts[] = {rdbms_argv,
                     current_working_directory,
                     orig_server,
                     current_server,
                     orig_client,
                     current_browse_client,
                     current_restore_client,
                     dash_t_option,
                     dash_ct_option,
                     dash_C_option,
                     dash_D_option,
                     dash_S_option,
                     dash_server_option,
                     dash_eight_option,
                     from_alternate_path,
                     to_alternate_path,
                     altpath_cmdfile,
                     temp_filename,
                     confirmation_msg,
                     confirmation_directory,
                     confirmed_cmd,
                     confirmed_cmd_header,
                     confirmed_cmd_trailer,
                     confirmed_cmd_log,
                     confirmed_cmd_alt,
                     backupKeyword,
                     log_filename,
                     progress_cat_filename,
                     left_dir,
                     right_dir,
                     patterned_dir,
                     tmlcmsg,
                     tmlctype,
                     tmlctime,
                     tmlccol,
                     tmlcnum,
                     lc_messages,
                     debug_string};
    for (char *t : texts) {
        t[0] = '\0';
    }
    T_strlcpy(help_topic, "xkp/Tutorial", sizeof help_topic);
    browsing_filesys = 1;
    restore_from_archives = browsing_raw_partitions = browsing_auspex = true_image = 0;
    browsing_database = standard_or_wbak = force_client_type = 0;
    root_filesys_only_possible = filesystem_only_restore_possible = 0;
    let_there_be_light = 0;
    date1_latch = date2_latch = 0;
    show_all_dates = 1;
    browse_limit = 10000;
    really_get_real = 1;
    pathzap_latch = 0;
    recursion_limit = 2;
    verbose = graphic_mode = use_persistent_list = 0;
    privileged = 0;
    use_alternate_path = alternate_path_defined = rename_altpath_hard = rename_altpath_soft = 0;
    use_logging = 1;
    overwrite_at_will = 0;
    auto_refresh_interval = 0;
    report_name_fragment = nullptr;
    progress_filesize = 0;
    device_number = -1;
    kprd_missing = 0;
    debug_enabled = 0;
}
