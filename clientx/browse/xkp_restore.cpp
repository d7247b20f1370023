// Restore requests and the host options of the restore road.
#include "xkp_restore.h"

#include "UxXt.h"
#include "cmnutils.h"
#include "tmmsg.h"
#include "uimx_helper.h"
#include "xkp_errmsg.h"
#include "xkp_glue.h"
#include "xkp_handles.h"
#include "xkp_request.h"
#include "xkp_restorecmd.h"
#include "xkp_state.h"

#include <cstring>
#include <string>

namespace {

bool has_field(const char *text) {
    return text != nullptr && field_count(text) > 0;
}

// "-X NAME" with the name as one shell word (a name typed in the
// configuration dialog may hold anything).
void option(char *dst, const char *flag, const char *name) {
    std::string text = std::string(flag) + " " + shell_word(name);
    T_strlcpy(dst, text.c_str(), XKP_TEXT_SIZE);
}

// The pieces both restore requests share, after the question is set: the
// progress log, the redirection fragment, the kprestore header, a new
// request file and the trailer naming it. false (with the message shown)
// when no request file can be made.
bool restore_fragments() {
    T_strlcpy(log_filename, generate_home_filename("log.rest"), sizeof log_filename);
    // The rename file's path goes on the command line in the transfer
    // encoding, which leaves no byte the shell would act on but "\".
    std::string alt = " -R ";
    alt += shell_word(utf8_conversion(altpath_cmdfile));
    alt += " ";
    alt += rename_link_flag();
    T_strlcpy(confirmed_cmd_alt, alt.c_str(), sizeof confirmed_cmd_alt);
    T_strlcpy(confirmed_cmd_header, restore_header().c_str(), sizeof confirmed_cmd_header);
    if (!create_temp_file(temp_filename, sizeof temp_filename)) {
        pop_errmsg(XKP_MSG_TEMPFILE);
        return false;
    }
    T_strlcpy(confirmed_cmd_trailer, restore_trailer(temp_filename).c_str(),
              sizeof confirmed_cmd_trailer);
    return true;
}

// The built-in text is the default format itself, so that a catalog text
// (which must take the default's arguments: none) replaces it.
void set_question(const Msg &question) {
    tmgetmsg(question, tmlcmsg, sizeof confirmation_msg, confirmation_msg);
}

} // namespace

void request_restore_selected() {
    // The tree's verdict on the root (root_filesys_only_possible) is kept:
    // the start dialog offers the no-crossing restore from it.
    filesystem_only_restore_possible = 0;
    preserve_right_selections();
    if (get_item_count(persistent_list) <= 0) {
        pop_errmsg(XKP_MSG_NO_SELECTIONS);
        return;
    }
    use_persistent_list = 1;
    set_question({"CerXkp0011N", "OK to restore these files?"});
    if (!restore_fragments()) {
        return;
    }
    fill_temp_file(3, "", "", "");
    open_start_dialog();
}

void request_restore_directory() {
    filesystem_only_restore_possible = 0;
    use_persistent_list = 0;
    update_globals();
    preserve_right_selections();
    char dir[XKP_TEXT_SIZE];
    dir[0] = '\0';
    extract_selection_path(dir);
    set_question({"CerXkp0012N", "OK to restore directory?"});
    T_strlcpy(confirmation_directory, dir, sizeof confirmation_directory);
    if (!restore_fragments()) {
        return;
    }
    std::string start_text = UxrGetText(start_date);
    std::string end_text = UxrGetText(end_date);
    fill_temp_file(0, start_text.c_str(), end_text.c_str(), dir);
    open_start_dialog();
}

void set_special_options(const char *browse_client, const char *restore_client, const char *server,
                         int client_type) {
    dash_C_option[0] = '\0';
    dash_D_option[0] = '\0';
    dash_S_option[0] = '\0';
    dash_server_option[0] = '\0';
    if (has_field(browse_client)) {
        T_strlcpy(current_browse_client, browse_client, sizeof current_browse_client);
        if (strcmp(current_browse_client, orig_client) != 0) {
            option(dash_C_option, "-C", current_browse_client);
        }
    }
    if (has_field(restore_client)) {
        T_strlcpy(current_restore_client, restore_client, sizeof current_restore_client);
        if (strcmp(current_restore_client, orig_client) != 0) {
            option(dash_D_option, "-D", current_restore_client);
        }
    }
    if (has_field(server)) {
        T_strlcpy(current_server, server, sizeof current_server);
        if (strcmp(current_server, orig_server) != 0) {
            option(dash_S_option, "-S", current_server);
            option(dash_server_option, "-server", current_server);
        }
    }
    standard_or_wbak = client_type;
    set_client_type_argvs();
}

void set_AFS_options() {
    recursion_limit = 3;
    put_text(recursion, "3");
    T_strlcpy(current_working_directory, "/AFS/", sizeof current_working_directory);
    put_text(pathname, current_working_directory);
}
