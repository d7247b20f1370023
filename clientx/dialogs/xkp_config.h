// The configuration dialog: the server, the client to browse, the client to
// restore to and the policy type of the images, for the rest of the run.
#pragma once
#include <X11/Intrinsic.h>

// The window's widgets, bound to each of them (UxGetContext).
struct _UxCxkp_config {
    Widget Uxxkp_config; // the shell; the record is freed with it
    Widget Uxform;
    Widget Uxlabel31, Uxtext10;
    Widget Uxlabel32, Uxtext9;
    Widget Uxlabel20, Uxtext5;
    Widget Uxlabel21, Uxmenu2, Uxmenu2_p1;
    Widget UxpushButton17, UxpushButton18, UxpushButton19;
};
extern _UxCxkp_config *UxXkp_configContext;

// Builds the dialog (unshown) and returns its shell "xkp_config".
Widget create_xkp_config();

// The policy types of the option menu, in display order.
struct policy_type_item {
    const char *name; // widget name
    const char *key;
    const char *label;
    char mnemonic;
    int client_type;
};
extern const policy_type_item policy_type_items[];
extern const int policy_type_item_count;
