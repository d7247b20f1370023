// The main window's menu bar: one table row per item, and the menus made
// from the rows.
#include "xkp_main_shared.h"

#include "uimx_helper.h"
#include "xkp_altpath.h"
#include "xkp_config.h"
#include "xkp_errmsg.h"
#include "xkp_glue.h"
#include "xkp_help.h"
#include "xkp_helpindex.h"
#include "xkp_helppath.h"
#include "xkp_menus.h"
#include "xkp_progress.h"
#include "xkp_request.h"
#include "xkp_root.h"
#include "xkp_sensitivity.h"
#include "xkp_startup.h"
#include "xkp_state.h"
#include "xkp_version.h"
#include "xkp_viewselect.h"

#include <Xm/CascadeB.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Separator.h>
#include <Xm/ToggleB.h>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

#include <utility>
#include <vector>

namespace {

enum ItemKind { TOGGLE, PUSH, SEPARATOR };

// Everything about one menu item: what it is, its label (catalog key and
// built-in text) and mnemonic, what choosing it calls, when it is
// sensitive, how it starts, and where its widget is kept.
struct MenuItem {
    const char *name;
    ItemKind kind;
    char mnemonic = 0;
    const char *label = nullptr; // built-in text
    const char *key = nullptr;   // catalog key of the label
    XtCallbackProc callback = nullptr;
    Widget *handle = nullptr;             // program-state handle set at creation
    int sensitivity_mode = 0;             // a SENS_ mode; 0: not in the sensitivity table
    int needs_selection = 0;              // sensitive only while the user holds selections
    intptr_t closure = 0;                 // the callback's client data
    bool (*initially_set)() = nullptr;    // a toggle's state as the window starts; null: unset
    Widget _UxCxkp_main::*slot = nullptr; // the window context's handle of it
    bool backups_only = false;            // sensitive only while browsing backups (set at creation)
};

struct Menu {
    const char *cascade;
    const char *pulldown;
    char mnemonic;
    const char *label;
    const char *key;
    const MenuItem *items;
    size_t count;
};

// File menu.
void valueChangedCB_menu1_p1_b1(Widget w, XtPointer, XtPointer) {
    Action action(w);
    enter_filesys_mode(0);
}
// The restore-browse toggles; the closure is the kind of restore.
void valueChangedCB_restore_kind(Widget w, XtPointer client_data, XtPointer) {
    Action action(w);
    enter_restore_mode(static_cast<int>(reinterpret_cast<intptr_t>(client_data)));
}
constexpr XtCallbackProc valueChangedCB_menu1_p1_b2 = valueChangedCB_restore_kind;
constexpr XtCallbackProc valueChangedCB_menu1_p1_b19 = valueChangedCB_restore_kind;
constexpr XtCallbackProc valueChangedCB_menu1_p1_b3 = valueChangedCB_restore_kind;
constexpr XtCallbackProc valueChangedCB_menu1_p1_b4 = valueChangedCB_restore_kind;
constexpr XtCallbackProc valueChangedCB_menu1_p1_b21 = valueChangedCB_restore_kind;
// The twelve database-script items carry their mode number.
void valueChangedCB_database_item(Widget w, XtPointer client_data, XtPointer) {
    Action action(w);
    enter_filesys_mode(static_cast<int>(reinterpret_cast<intptr_t>(client_data)));
}
void activateCB_menu1_p1_b7(Widget w, XtPointer, XtPointer) {
    Action action(w);
    popup_interface(create_xkp_config(), XtGrabNone);
}
void activateCB_menu1_p1_b6(Widget, XtPointer, XtPointer) {
    exit(0);
}

// Edit menu.
void activateCB_menu1_p2_b1(Widget w, XtPointer, XtPointer) {
    Action action(w);
    unpreserve_right_selections();
    deselect_all_files();
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}
void activateCB_menu1_p2_b2(Widget w, XtPointer, XtPointer) {
    Action action(w);
    select_all_filenames();
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}
void activateCB_menu1_p2_b3(Widget w, XtPointer, XtPointer) {
    Action action(w);
    list_delete_all(persistent_list);
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}

void activateCB_menu1_p2_b6(Widget w, XtPointer, XtPointer) {
    Action action(w);
    preserve_right_selections();
    use_persistent_list = 1;
    if (create_temp_file(temp_filename, sizeof temp_filename)) {
        fill_temp_file(1, "", "", "");
        popup_interface(create_xkp_viewselect(), XtGrabNone);
    } else {
        pop_errmsg(XKP_MSG_TEMPFILE);
    }
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}
void activateCB_menu1_p2_b5(Widget w, XtPointer, XtPointer) {
    Action action(w);
    if (!browsing_filesys) {
        load_image_list(image_type());
        std::string keyword = UxrGetText(main_keyword);
        if (keyword.find_first_not_of(" \t") != std::string::npos) {
            set_keyword_dates();
        }
    }
    update_globals();
    preserve_right_selections();
    char path[XKP_TEXT_SIZE];
    path[0] = '\0';
    extract_selection_path(path);
    left_selection_pos = left_list != nullptr ? get_selection_pos(left_list) : 0;
    put_text(pathname, current_working_directory);
    load_both_sides(current_working_directory);
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}

// View menu. Brief/verbose and tree/full path set their own toggle and
// clear their partner.
void view_pair(Widget on, Widget off) {
    set_toggle(on, true);
    set_toggle(off, false);
}
void activateCB_view_reload() {
    reload_lists();
}
// Brief and verbose display; the closure is the value of verbose.
void valueChangedCB_verbose(Widget w, XtPointer client_data, XtPointer) {
    Action action(w);
    verbose = static_cast<int>(reinterpret_cast<intptr_t>(client_data));
    Widget brief = UxXkp_mainContext->Uxmenu1_p3_b1;
    Widget full = UxXkp_mainContext->Uxmenu1_p3_b2;
    view_pair(verbose != 0 ? full : brief, verbose != 0 ? brief : full);
    activateCB_view_reload();
}
constexpr XtCallbackProc valueChangedCB_menu1_p3_b1 = valueChangedCB_verbose;
constexpr XtCallbackProc valueChangedCB_menu1_p3_b2 = valueChangedCB_verbose;
void valueChangedCB_menu1_p3_b4(Widget w, XtPointer, XtPointer) {
    Action action(w);
    graphic_mode = GRAPHIC_TREE;
    view_pair(UxXkp_mainContext->Uxmenu1_p3_b4, UxXkp_mainContext->Uxmenu1_p3_b5);
    activateCB_view_reload();
}
void valueChangedCB_menu1_p3_b5(Widget w, XtPointer, XtPointer) {
    Action action(w);
    graphic_mode = GRAPHIC_FULL_PATHS;
    view_pair(UxXkp_mainContext->Uxmenu1_p3_b5, UxXkp_mainContext->Uxmenu1_p3_b4);
    activateCB_view_reload();
}
void valueChangedCB_menu1_p3_b7(Widget w, XtPointer, XtPointer) {
    Action action(w);
    show_all_dates = 1;
    set_toggle_states();
    activateCB_view_reload();
}
void valueChangedCB_menu1_p3_b8(Widget w, XtPointer, XtPointer) {
    Action action(w);
    show_all_dates = 0;
    set_toggle_states();
    activateCB_view_reload();
}
// The link items change the setting only; the next reload uses it.
void valueChangedCB_menu1_p3_b10(Widget w, XtPointer, XtPointer) {
    Action action(w);
    really_get_real = 1;
    set_toggle_states();
}
void valueChangedCB_menu1_p3_b11(Widget w, XtPointer, XtPointer) {
    Action action(w);
    really_get_real = 0;
    set_toggle_states();
}

// Backup and Restore menus.
template <void (*request)()> void activateCB_request(Widget w, XtPointer, XtPointer) {
    Action action(w);
    request();
}
void open_progress(const char *fragment) {
    if (progress_filename_widget != nullptr) {
        pop_errmsg(XKP_MSG_ONE_PROGRESS);
        return;
    }
    report_name_fragment = fragment;
    popup_interface(create_xkp_progress(), XtGrabNone);
}
void activateCB_menu1_p4_b6(Widget w, XtPointer, XtPointer) {
    Action action(w);
    open_progress("bkup");
}
void activateCB_menu1_p4_b7(Widget w, XtPointer, XtPointer) {
    Action action(w);
    open_progress("arch");
}
void activateCB_menu1_p5_b4(Widget w, XtPointer, XtPointer) {
    Action action(w);
    open_progress("rest");
}
void activateCB_menu1_p5_b6(Widget w, XtPointer, XtPointer) {
    Action action(w);
    popup_interface(create_xkp_altpath(), XtGrabNone);
}

// Help menu.
void activateCB_menu1_p6_b5(Widget w, XtPointer, XtPointer) {
    Action action(w);
    help_topic_by_name(help_topic_path("xkp/Main").c_str());
}
void activateCB_menu1_p6_b4(Widget w, XtPointer, XtPointer) {
    Action action(w);
    popup_interface(create_xkp_helpindex(), XtGrabNone);
}
void activateCB_menu1_p6_b3(Widget w, XtPointer, XtPointer) {
    Action action(w);
    help_topic_by_name(help_topic_path("xkp/Help").c_str());
}
void activateCB_menu1_p6_b1(Widget w, XtPointer, XtPointer) {
    Action action(w);
    popup_interface(create_xkp_version(), XtGrabNone);
}
void activateCB_menu1_p6_b2(Widget w, XtPointer, XtPointer) {
    Action action(w);
    help_topic_by_name(help_topic_path("xkp/Tutorial").c_str());
}

// Initial states of the toggles.
bool always() {
    return true;
}
bool browsing_files_now() {
    return browsing_filesys == 1;
}
bool browsing_backups_now() {
    return browsing_filesys == 0 && restore_from_archives == 0;
}
bool browsing_archives_now() {
    return browsing_filesys == 0 && restore_from_archives == 1;
}
bool links_resolved() {
    return really_get_real == 1;
}
bool links_kept() {
    return really_get_real == 0;
}

const MenuItem file_items[] = {
    {"menu1_p1_b1", TOGGLE, 'f', "Browse file system (backup or archive)", "GuiXkp0001N",
     valueChangedCB_menu1_p1_b1, &toggle_filesys, 0, 0, 0, browsing_files_now},
    {"menu1_p1_b2", TOGGLE, 'b', "Browse backups (restore)", "GuiXkp0002N",
     valueChangedCB_menu1_p1_b2, &toggle_database, 0, 0, RESTORE_BACKUPS, browsing_backups_now},
    {"menu1_p1_b19", TOGGLE, 'b', "Browse backups (true image restore)", "GuiXkp0003N",
     valueChangedCB_menu1_p1_b19, &toggle_trueimage, 0, 0, RESTORE_TRUE_IMAGE},
    {"menu1_p1_b3", TOGGLE, 'a', "Browse archives (restore)", "GuiXkp0004N",
     valueChangedCB_menu1_p1_b3, &toggle_archives, 0, 0, RESTORE_ARCHIVES, browsing_archives_now},
    {"menu1_p1_b4", TOGGLE, 'r', "Browse backups (restore raw partitions)", "GuiXkp0005N",
     valueChangedCB_menu1_p1_b4, &toggle_raw, 0, 0, RESTORE_RAW_PARTITIONS},
    {"menu1_p1_b21", TOGGLE, 'A', "Browse backups (Auspex FastBackup raw partition)", "GuiXkp0006N",
     valueChangedCB_menu1_p1_b21, &toggle_auspex, 0, 0, RESTORE_AUSPEX},
    {"menu1_p1_b20", SEPARATOR},
    {"menu1_p1_b11", TOGGLE, 'O', "Browse file system for Oracle backup scripts", "GuiXkp0007N",
     valueChangedCB_database_item, &toggle_OBackup, 0, 0, 3},
    {"menu1_p1_b12", TOGGLE, 's', "Browse file system for Oracle restore scripts", "GuiXkp0008N",
     valueChangedCB_database_item, &toggle_ORestore, 0, 0, 4},
    {"menu1_p1_b13", TOGGLE, 'O', "Browse file system for Informix backup scripts", "GuiXkp0009N",
     valueChangedCB_database_item, &toggle_IBackup, 0, 0, 5},
    {"menu1_p1_b14", TOGGLE, 's', "Browse file system for Informix restore scripts", "GuiXkp0010N",
     valueChangedCB_database_item, &toggle_IRestore, 0, 0, 6},
    {"menu1_p1_b15", TOGGLE, 'O', "Browse file system for SQL-BackTrack backup scripts",
     "GuiXkp0011N", valueChangedCB_database_item, &toggle_BBackup, 0, 0, 7},
    {"menu1_p1_b16", TOGGLE, 's', "Browse file system for SQL-BackTrack restore scripts",
     "GuiXkp0012N", valueChangedCB_database_item, &toggle_BRestore, 0, 0, 8},
    {"menu1_p1_b17", TOGGLE, 'O', "Browse file system for Sybase backup scripts", "GuiXkp0013N",
     valueChangedCB_database_item, &toggle_SBackup, 0, 0, 9},
    {"menu1_p1_b18", TOGGLE, 's', "Browse file system for Sybase restore scripts", "GuiXkp0014N",
     valueChangedCB_database_item, &toggle_SRestore, 0, 0, 10},
    {"menu1_p1_b22", TOGGLE, 'O', "Browse file system for DB2 backup scripts", "GuiXkp0060N",
     valueChangedCB_database_item, &toggle_DB2Backup, 0, 0, 11},
    {"menu1_p1_b23", TOGGLE, 's', "Browse file system for DB2 restore scripts", "GuiXkp0061N",
     valueChangedCB_database_item, &toggle_DB2Restore, 0, 0, 12},
    {"menu1_p1_b24", TOGGLE, 'O', "Browse file system for SAP backup scripts", "GuiXkp0062N",
     valueChangedCB_database_item, &toggle_SAPBackup, 0, 0, 13},
    {"menu1_p1_b25", TOGGLE, 's', "Browse file system for SAP restore scripts", "GuiXkp0063N",
     valueChangedCB_database_item, &toggle_SAPRestore, 0, 0, 14},
    {"menu1_p1_b5", SEPARATOR},
    {"menu1_p1_b7", PUSH, 'C', "Configuration...", "GuiXkp0015N", activateCB_menu1_p1_b7},
    {"menu1_p1_b8", SEPARATOR},
    {"menu1_p1_b6", PUSH, 'Q', "Quit", "GuiXkp0016N", activateCB_menu1_p1_b6},
};

const MenuItem edit_items[] = {
    {"menu1_p2_b1", PUSH, 'C', "Clear selections for current directory", "GuiXkp0017N",
     activateCB_menu1_p2_b1},
    {"menu1_p2_b2", PUSH, 'S', "Select all in current directory", "GuiXkp0018N",
     activateCB_menu1_p2_b2},
    {"menu1_p2_b3", PUSH, 'D', "Discard selections for previous directories", "GuiXkp0019N",
     activateCB_menu1_p2_b3},
    {"menu1_p2_b6", PUSH, 'I', "Inspect all selections...", "GuiXkp0020N", activateCB_menu1_p2_b6},
    {"menu1_p2_b7", SEPARATOR},
    {"menu1_p2_b5", PUSH, 'U', "Update Display", "GuiXkp0021N", activateCB_menu1_p2_b5},
};

const MenuItem view_items[] = {
    {"menu1_p3_b1", TOGGLE, 'B', "Brief display of filenames", "GuiXkp0022N",
     valueChangedCB_menu1_p3_b1, nullptr, 0, 0, 0, always, &_UxCxkp_main::Uxmenu1_p3_b1},
    {"menu1_p3_b2", TOGGLE, 'V', "Verbose display of attributes and filenames", "GuiXkp0023N",
     valueChangedCB_menu1_p3_b2, nullptr, 0, 0, 1, nullptr, &_UxCxkp_main::Uxmenu1_p3_b2},
    {"menu1_p3_b3", SEPARATOR},
    {"menu1_p3_b4", TOGGLE, 'I', "Indented tree structure", "GuiXkp0024N",
     valueChangedCB_menu1_p3_b4, nullptr, 0, 0, 0, always, &_UxCxkp_main::Uxmenu1_p3_b4},
    {"menu1_p3_b5", TOGGLE, 'P', "Full Pathnames", "GuiXkp0025N", valueChangedCB_menu1_p3_b5,
     nullptr, 0, 0, 0, nullptr, &_UxCxkp_main::Uxmenu1_p3_b5},
    {"menu1_p3_b6", SEPARATOR},
    {"menu1_p3_b7", TOGGLE, 'A', "All backup dates for each file", "GuiXkp0026N",
     valueChangedCB_menu1_p3_b7, &toggle_all_dates, 0, 0, 0, always, nullptr, true},
    {"menu1_p3_b8", TOGGLE, 'O', "Only most recent backup date", "GuiXkp0027N",
     valueChangedCB_menu1_p3_b8, &toggle_recent_dates, 0, 0, 0, nullptr, nullptr, true},
    {"menu1_p3_b9", SEPARATOR},
    {"menu1_p3_b10", TOGGLE, 'R', "Resolve Links in Search Directory", "GuiXkp0028N",
     valueChangedCB_menu1_p3_b10, &toggle_yes_get_real, 0, 0, 0, links_resolved},
    {"menu1_p3_b11", TOGGLE, 'N', "Do Not Resolve Links in Search Directory", "GuiXkp0029N",
     valueChangedCB_menu1_p3_b11, &toggle_no_get_real, 0, 0, 0, links_kept},
};

const MenuItem backup_items[] = {
    {"menu1_p4_b1", PUSH, 'B', "Backup selected files and directories...", "GuiXkp0030N",
     activateCB_request<request_backup_selected>, nullptr, SENS_FILESYS, 1},
    {"menu1_p4_b2", PUSH, 'a', "Backup search directory...", "GuiXkp0031N",
     activateCB_request<request_backup_directory>, nullptr, SENS_FILESYS},
    {"menu1_p4_b8", PUSH, 'O', "Backup database using selected scripts", "GuiXkp0032N",
     activateCB_request<request_backup_database>, nullptr, SENS_DB_BACKUP_SCRIPTS, 1},
    {"menu1_p4_b3", PUSH, 'A', "Archive selected files and directories...", "GuiXkp0033N",
     activateCB_request<request_archive_selected>, nullptr, SENS_FILESYS, 1},
    {"menu1_p4_b4", PUSH, 'r', "Archive search directory...", "GuiXkp0034N",
     activateCB_request<request_archive_directory>, nullptr, SENS_FILESYS},
    {"menu1_p4_b5", SEPARATOR},
    {"menu1_p4_b6", PUSH, 'R', "Report progress of backup...", "GuiXkp0035N",
     activateCB_menu1_p4_b6},
    {"menu1_p4_b7", PUSH, 'e', "Report progress of archive...", "GuiXkp0036N",
     activateCB_menu1_p4_b7},
};

const MenuItem restore_items[] = {
    {"menu1_p5_b6", PUSH, 'A', "Specify Destination Path...", "GuiXkp0037N", activateCB_menu1_p5_b6,
     &altpath_menu_item, SENS_RESTORE},
    {"menu1_p5_b5", SEPARATOR},
    {"menu1_p5_b1", PUSH, 'R', "Restore selected files and directories...", "GuiXkp0038N",
     activateCB_request<request_restore_selected>, nullptr, SENS_RESTORE, 1},
    {"menu1_p5_b2", PUSH, 'e', "Restore search directory...", "GuiXkp0039N",
     activateCB_request<request_restore_directory>, nullptr, SENS_RESTORE_NOT_TRUE_IMAGE},
    {"menu1_p5_b7", PUSH, 'O', "Restore database using selected scripts", "GuiXkp0040N",
     activateCB_request<request_restore_database>, nullptr, SENS_DB_RESTORE_SCRIPTS, 1},
    {"menu1_p5_b3", SEPARATOR},
    {"menu1_p5_b4", PUSH, 'p', "Report progress of restore...", "GuiXkp0041N",
     activateCB_menu1_p5_b4},
};

const MenuItem help_items[] = {
    {"menu1_p6_b5", PUSH, 'W', "On Window...", "GuiXkp0042N", activateCB_menu1_p6_b5},
    {"menu1_p6_b4", PUSH, 'I', "Index...", "GuiXkp0043N", activateCB_menu1_p6_b4},
    {"menu1_p6_b3", PUSH, 'H', "On Help...", "GuiXkp0044N", activateCB_menu1_p6_b3},
    {"menu1_p6_b1", PUSH, 'V', "On Version...", "GuiXkp0045N", activateCB_menu1_p6_b1},
    {"menu1_p6_b2", PUSH, 'T', "Tutorial...", "GuiXkp0046N", activateCB_menu1_p6_b2},
};

#define MENU(cascade, pulldown, letter, label, key, items)                                         \
    { cascade, pulldown, letter, label, key, items, sizeof(items) / sizeof(items[0]) }

const Menu menus[] = {
    MENU("menu1_top_b1", "menu1_p1", 'F', "File", "GuiXkp0047N", file_items),
    MENU("menu1_top_b2", "menu1_p2", 'E', "Edit", "GuiXkp0048N", edit_items),
    MENU("menu1_top_b3", "menu1_p3", 'V', "View", "GuiXkp0049N", view_items),
    MENU("menu1_top_b4", "menu1_p4", 'B', "Backup", "GuiXkp0050N", backup_items),
    MENU("menu1_top_b5", "menu1_p5", 'R', "Restore", "GuiXkp0051N", restore_items),
    MENU("menu1_top_b6", "menu1_p6", 'H', "Help", "GuiXkp0052N", help_items),
};

// Sensitivity at creation of a Backup/Restore item.
bool initially_sensitive(int mode, int needs_selection) {
    if (needs_selection) {
        return false;
    }
    return mode == SENS_FILESYS ? browsing_filesys != 0 : browsing_filesys == 0;
}

void create_menu_item(Widget pulldown, const MenuItem &item) {
    Widget w = nullptr;
    switch (item.kind) {
    case SEPARATOR:
        main_bind(XtVaCreateManagedWidget(item.name, xmSeparatorWidgetClass, pulldown, nullptr));
        return;
    case TOGGLE:
        w = XtVaCreateManagedWidget(
            item.name, xmToggleButtonWidgetClass, pulldown, XmNindicatorType, XmONE_OF_MANY,
            XmNvisibleWhenOff, True, XmNset,
            item.initially_set != nullptr && item.initially_set() ? XmSET : XmUNSET, nullptr);
        break;
    case PUSH:
        w = XtVaCreateManagedWidget(item.name, xmPushButtonWidgetClass, pulldown, nullptr);
        break;
    }
    main_bind(w);
    put_label_string(w, item.label);
    if (item.mnemonic != 0) {
        XtVaSetValues(w, XmNmnemonic, static_cast<KeySym>(item.mnemonic), nullptr);
    }
    initialize_label(w, item.key);

    XtAddCallback(w, item.kind == TOGGLE ? XmNvalueChangedCallback : XmNactivateCallback,
                  item.callback, reinterpret_cast<XtPointer>(item.closure));
    if (item.handle != nullptr) {
        *item.handle = w;
        XtAddCallback(w, XmNdestroyCallback, destroyCB_clear_handle, item.handle);
    }
    if (item.sensitivity_mode != 0) {
        add_resensitize_entry(w, item.sensitivity_mode, item.needs_selection);
        put_sensitive(w, initially_sensitive(item.sensitivity_mode, item.needs_selection));
    }
    // The database-script requests need the database program; without it
    // their items leave the menu for the whole run.
    if (item.sensitivity_mode == SENS_DB_BACKUP_SCRIPTS ||
        item.sensitivity_mode == SENS_DB_RESTORE_SCRIPTS) {
        if (access(product_path("sorvane/bin/kphdb").c_str(), X_OK) != 0) {
            XtUnmanageChild(w);
        }
    }
    // The date toggles only mean something for backed-up files.
    if (item.backups_only) {
        put_sensitive(w, browsing_filesys == 0);
    }
    if (item.slot != nullptr) {
        UxXkp_mainContext->*item.slot = w;
    }
}

} // namespace

void create_menus(Widget menubar) {
    for (const Menu &menu : menus) {
        Widget pulldown =
            main_bind(XmCreatePulldownMenu(menubar, const_cast<char *>(menu.pulldown), nullptr, 0));
        main_bind(XtParent(pulldown));
        Widget cascade = main_bind(XtVaCreateManagedWidget(
            menu.cascade, xmCascadeButtonWidgetClass, menubar, XmNsubMenuId, pulldown, nullptr));
        put_label_string(cascade, menu.label);
        XtVaSetValues(cascade, XmNmnemonic, static_cast<KeySym>(menu.mnemonic), nullptr);
        initialize_label(cascade, menu.key);
        for (size_t i = 0; i < menu.count; ++i) {
            create_menu_item(pulldown, menu.items[i]);
        }
    }
}
