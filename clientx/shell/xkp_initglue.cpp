// Start-up of the program state: master server, client name, privilege,
// locale names, the start of all dates and the mount table.
#include "cmnutils.h"
#include "kp_misc.h"
#include "kpconf_api.h"
#include "mount.h"
#include "timefuncs.h"
#include "tmmsg.h"
#include "unixconf_api.h"
#include "xkp_errmsg.h"
#include "xkp_startup.h"
#include "xkp_state.h"

#include <cstdio>
#include <unistd.h>

char *kp_server_name() {
    static char server[XKP_TEXT_SIZE];
    if (db_getservername(server, sizeof server) != 0) {
        pop_errmsg(XKP_MSG_NO_SERVER);
    }
    return server;
}

int is_a_server(const char *name) {
    if (name == nullptr) {
        return 0;
    }
    ReadHostConfigA(&master_config, nullptr); // a loaded record is kept as it is
    for (const kp_record &entry : master_config.SERVER) {
        const char *server = entry.text(0);
        if (server != nullptr && hosts_equal(name, server)) {
            return 1;
        }
    }
    return 0;
}

void initialize_glue() {
    T_strlcpy(orig_server, kp_server_name(), sizeof orig_server);
    T_strlcpy(current_server, orig_server, sizeof current_server);

    // Names longer than the buffers are cut.
    std::optional<std::string> client = kp_client_name();
    T_strlcpy(orig_client, client ? client->c_str() : "", sizeof orig_client);
    T_strlcpy(current_browse_client, orig_client, sizeof current_browse_client);
    T_strlcpy(current_restore_client, orig_client, sizeof current_restore_client);
    if (geteuid() == 0 && is_a_server(orig_client)) {
        privileged = 1;
    }

    const char *status = nullptr;
    if (tmgetlocale(tmlcmsg, tmlctype, tmlctime, tmlccol, tmlcnum, &status) != 0 && debug_enabled) {
        fprintf(stderr, "%s\n", status ? status : "");
    }
    T_strlcpy(lc_messages, tmlcmsg, sizeof lc_messages);

    int32_t start = 0;
    if (convert2unixdate("1/1/70 00:00:00", &start, 1) != 0) {
        let_there_be_light = start;
    }

    int code = create_mount_list(2, MNT_LOFS_AND_HOSTS_ONLY);
    if (code != 0) {
        display_kp_error(code);
    }
}
