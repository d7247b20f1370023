// Browse-engine and dialog entry points the main window calls whose work is
// not built yet. Each does nothing visible: a menu item or field bound to it
// has no effect. Whoever builds one deletes its entry here and defines it in
// the unit named beside it.
#include "xkp_altpath.h"
#include "xkp_backuplist.h"
#include "xkp_config.h"
#include "xkp_glue.h"
#include "xkp_help.h"
#include "xkp_helpindex.h"
#include "xkp_progress.h"
#include "xkp_version.h"
#include "xkp_viewselect.h"

// Requests (xkp_glue: request file and command lines; start dialog).

// Dialogs (xkp_progress, xkp_viewselect, xkp_help,
// xkp_helpindex, xkp_version). A null window is not shown.
