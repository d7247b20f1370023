// The configuration dialog.
#include "xkp_config.h"

#include "UxXt.h"
#include "uimx_helper.h"
#include "ux_form.h"
#include "xkp_glue.h"
#include "xkp_handles.h"
#include "xkp_help.h"
#include "xkp_helppath.h"
#include "xkp_menus.h"
#include "xkp_restore.h"
#include "xkp_sensitivity.h"
#include "xkp_state.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/TextF.h>
#include <Xm/Xm.h>

#include <cstdint>
#include <string>

_UxCxkp_config *UxXkp_configContext = nullptr;

const policy_type_item policy_type_items[] = {
    {"menu2_p1_b12", "GuiXkp0224N", "AFS", 'A', 22},
    {"menu2_p1_b3", "GuiXkp0210N", "Apollo-wbak", 'k', 3},
    {"menu2_p1_b9", "GuiXkp0216N", "Auspex-FastBackup", 'F', 12},
    {"menu2_p1_b8", "GuiXkp0215N", "DataTools-SQL-BackTrack", 'D', 11},
    {"menu2_p1_b13", "GuiXkp0219N", "DB2", 'B', 18},
    {"menu2_p1_b17", "GuiXkp0223N", "BriskCopy", 'l', 20},
    {"menu2_p1_b5", "GuiXkp0212N", "Informix-On-BAR", 'I', 6},
    {"menu2_p1_b15", "GuiXkp0221N", "MS-Exchange-Server", 'x', 16},
    {"menu2_p1_b16", "GuiXkp0222N", "MS-SQL-Server", 'Q', 15},
    {"menu2_p1_b10", "GuiXkp0217N", "MS-Windows-NT", 'M', 13},
    {"menu2_p1_b1", "GuiXkp0208N", "NDMP", 'N', 19},
    {"menu2_p1_b7", "GuiXkp0214N", "NetWare", 'W', 10},
    {"menu2_p1_b4", "GuiXkp0211N", "Oracle", 'O', 4},
    {"menu2_p1_b11", "GuiXkp0218N", "OS/2", '2', 14},
    {"menu2_p1_b14", "GuiXkp0220N", "SAP", 'P', 17},
    {"menu2_p1_b18", "GuiXkp0225N", "Split-Mirror", 'r', 21},
    {"menu2_p1_b2", "GuiXkp0209N", "Standard", 'S', 0},
    {"menu2_p1_b6", "GuiXkp0213N", "Sybase", 'y', 7},
};
const int policy_type_item_count = sizeof policy_type_items / sizeof policy_type_items[0];

namespace {

constexpr int AFS_TYPE = 22;
constexpr int STANDARD_TYPE = 0;

void destroyCB_shell(Widget, XtPointer client_data, XtPointer) {
    if (UxXkp_configContext == client_data) {
        UxXkp_configContext = nullptr;
    }
}

_UxCxkp_config *context_of(Widget w) {
    return static_cast<_UxCxkp_config *>(UxGetContext(w));
}

// The client type of the option menu's current item (its user data).
int chosen_type(_UxCxkp_config *c) {
    Widget item = UxrGetProp<Widget>(c->Uxmenu2, XmNmenuHistory);
    if (item == nullptr) {
        return STANDARD_TYPE;
    }
    XtPointer data = UxrGetProp<XtPointer>(item, XmNuserData);
    return static_cast<int>(reinterpret_cast<intptr_t>(data));
}

void activateCB_pushButton17(Widget w, XtPointer, XtPointer) {
    _UxCxkp_config *c = context_of(w);
    if (c == nullptr) {
        return;
    }
    int old_type = force_client_type;
    force_client_type = chosen_type(c);
    std::string server = UxrGetText(c->Uxtext10);
    std::string browse = UxrGetText(c->Uxtext9);
    std::string restore = UxrGetText(c->Uxtext5);
    bool changed = server != current_server || browse != current_browse_client;
    set_special_options(browse.c_str(), restore.c_str(), server.c_str(), force_client_type);
    UxDestroyInterface(c->Uxxkp_config);
    // The policy type decides some items at once (type 3 takes the
    // destination path away), before the user reloads anything.
    resensitize_menus(SENS_FROM_BROWSE_STATE);
    if (force_client_type == old_type && !changed) {
        return;
    }
    if (force_client_type == AFS_TYPE) {
        set_AFS_options();
    }
    // The user reloads with the main window's controls; until then the
    // lists show nothing that belongs to the old choice.
    clear_backup_images(force_client_type == AFS_TYPE || !browsing_filesys ? 1 : 0);
}

void activateCB_pushButton18(Widget w, XtPointer, XtPointer) {
    _UxCxkp_config *c = context_of(w);
    if (c != nullptr) {
        UxDestroyInterface(c->Uxxkp_config);
    }
}

void activateCB_pushButton19(Widget, XtPointer, XtPointer) {
    help_topic_by_name(help_topic_path("xkp/Config").c_str());
}

// The option menu of policy types, opened on the item of standard_or_wbak
// ("Standard" when the type has no item).
void make_policy_menu(Widget form, UxFormRows &rows, _UxCxkp_config *c) {
    Widget pulldown = XmCreatePulldownMenu(form, ux_str("menu2_p1"), nullptr, 0);
    UxPutContext(pulldown, c);
    c->Uxmenu2_p1 = pulldown;
    Widget current = nullptr;
    Widget standard = nullptr;
    for (int i = 0; i < policy_type_item_count; ++i) {
        const policy_type_item &p = policy_type_items[i];
        Widget b = XtVaCreateManagedWidget(
            p.name, xmPushButtonWidgetClass, pulldown, XmNmnemonic, static_cast<KeySym>(p.mnemonic),
            XmNuserData, reinterpret_cast<XtPointer>(static_cast<intptr_t>(p.client_type)),
            nullptr);
        UxPutContext(b, c);
        put_label_string(b, p.label);
        initialize_label(b, p.key);
        if (p.client_type == AFS_TYPE) {
            put_sensitive(b, privileged ? 1 : 0);
        }
        if (p.client_type == standard_or_wbak) {
            current = b;
        }
        if (p.client_type == STANDARD_TYPE) {
            standard = b;
        }
    }
    Arg args[2];
    XtSetArg(args[0], XmNsubMenuId, pulldown);
    XtSetArg(args[1], XmNmenuHistory, current != nullptr ? current : standard);
    Widget menu = XmCreateOptionMenu(form, ux_str("menu2"), args, 2);
    UxPutContext(menu, c);
    rows.add(menu, false);
    XtManageChild(menu);
    c->Uxmenu2 = menu;
}

} // namespace

Widget create_xkp_config() {
    if (UxTopLevel == nullptr) {
        return nullptr;
    }
    auto *c = ux_new_context<_UxCxkp_config>();
    Widget shell = ux_window_shell("xkp_config", 600, 500, 60, 60, c, destroyCB_shell,
                                   "GuiXkp0200N", "xkp_config");
    c->Uxxkp_config = shell;

    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, shell, XmNresizePolicy,
                                          XmRESIZE_NONE, XmNfractionBase, 100, nullptr);
    UxPutContext(form, c);
    c->Uxform = form;
    UxFormRows rows(form, c, 12, 6);
    c->Uxlabel31 = rows.label("label31", "Server", "GuiXkp0202N", false);
    c->Uxtext10 = rows.field("text10", current_server);
    c->Uxlabel32 = rows.label("label32", "Client to browse for restores", "GuiXkp0205N", false);
    c->Uxtext9 = rows.field("text9", current_browse_client);
    c->Uxlabel20 = rows.label("label20", "Client to restore to", "GuiXkp0206N", false);
    c->Uxtext5 = rows.field("text5", current_restore_client);
    put_sensitive(c->Uxlabel20, privileged ? 1 : 0);
    put_sensitive(c->Uxtext5, privileged ? 1 : 0);
    c->Uxlabel21 = rows.label("label21", "Policy type of images to browse", "GuiXkp0207N", false);
    make_policy_menu(form, rows, c);

    // Three buttons share the bottom row in equal thirds of its width.
    ux_form_spread_row(
        form,
        {{&c->UxpushButton17, "pushButton17", "OK", "GuiXkp0201N", activateCB_pushButton17},
         {&c->UxpushButton18, "pushButton18", "Cancel", "GuiXkp0203N", activateCB_pushButton18},
         {&c->UxpushButton19, "pushButton19", "Help...", "GuiXkp0204N", activateCB_pushButton19}},
        4, 24, 34, c);
    UxXkp_configContext = c;
    return shell;
}
