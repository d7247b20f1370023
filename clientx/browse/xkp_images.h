// The backup-image list and the date range of the restore modes (the
// entry points the main window calls are declared in xkp_glue.h).
#pragma once

#include <cstdint>

// The default start time of a restore browse for type 3 (archives) or 12
// (backups): the likely date kpclimagelist reports, moved forward to the
// INITIAL_BROWSE_SEARCH_LIMIT window, or the beginning of time.
int32_t get_oldestfull_date(int type);
// The date text of get_oldestfull_date(type) into buffer (XKP_TEXT_SIZE
// bytes), or "" when that time is below 1.
void last_full(char *buffer, int type);
// The days of INITIAL_BROWSE_SEARCH_LIMIT in force (the user's
// configuration, which falls back to the host's).
int32_t initial_browse_search_limit();
