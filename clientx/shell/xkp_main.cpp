// The main window: layout, mode switches, field and list callbacks (its
// menu bar is in xkp_menus.cpp). The work behind lists, requests and dialogs
// is in the browse engine (xkp_glue.h) and the dialogs' own units.
#include "xkp_main.h"
#include "xkp_main_shared.h"

#include "UxXt.h"
#include "cmnutils.h"
#include "timefuncs.h"
#include "uimx_helper.h"
#include "ux_form.h"
#include "xkp_errmsg.h"
#include "xkp_glue.h"
#include "xkp_menus.h"
#include "xkp_sensitivity.h"
#include "xkp_startup.h"
#include "xkp_state.h"

#include <Xm/ArrowB.h>
#include <Xm/CascadeB.h>
#include <Xm/Form.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/PanedW.h>
#include <Xm/Protocols.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Separator.h>
#include <Xm/TextF.h>
#include <Xm/ToggleB.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

_UxCxkp_main *UxXkp_mainContext = nullptr;

Widget main_bind(Widget w) {
    UxPutContext(w, UxXkp_mainContext);
    return w;
}

const char *image_type() {
    return restore_from_archives ? "UARC" : "NOT_ARCHIVE";
}

void set_toggle(Widget w, bool set) {
    if (w != nullptr) {
        XmToggleButtonSetState(w, set ? True : False, False);
    }
}

void deselect_all_files() {
    if (right_list != nullptr) {
        XmListDeselectAllItems(right_list);
    }
}

// The reload shared by the fields and View items.
void reload_lists() {
    update_globals();
    load_both_sides(current_working_directory);
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}

void destroyCB_clear_handle(Widget, XtPointer client_data, XtPointer) {
    *static_cast<Widget *>(client_data) = nullptr;
}

namespace {

void show_default_dates() {
    char text[TF_DATE_SIZE];
    T_strlcpy(text, datestringl(let_there_be_light, tmlctime, 0), sizeof text);
    put_text(start_date, text);
    T_strlcpy(text, datestringl(midnight(), tmlctime, 0), sizeof text);
    put_text(end_date, text);
    date1_latch = date2_latch = 0;
}

void manage_restore_widgets(bool show) {
    if (UxXkp_mainContext == nullptr) {
        return;
    }
    // The frame hangs below the keyword row when it shows, below the dates
    // otherwise (a form does not skip an unmanaged attachment by itself).
    if (UxXkp_mainContext->Uxframe1 != nullptr) {
        XtVaSetValues(UxXkp_mainContext->Uxframe1, XmNtopWidget,
                      show ? UxXkp_mainContext->Uxtext4 : UxXkp_mainContext->Uxtext1, nullptr);
    }
    for (Widget w :
         {UxXkp_mainContext->Uxform10, UxXkp_mainContext->Uxtext4, UxXkp_mainContext->Uxlabel4}) {
        put_managed(w, show);
    }
}

// Empties a list and its twin with the list hidden meanwhile.
void empty_list_pair(Widget list, Widget twin) {
    if (list != nullptr) {
        XtUnmanageChild(list);
        list_delete_all(list);
    }
    list_delete_all(twin);
    if (list != nullptr) {
        XtManageChild(list);
    }
}

// ---- fields and lists ------------------------------------------------------

void valueChangedCB_text11(Widget, XtPointer, XtPointer) {
    pathzap_latch = 1;
    root_filesys_only_possible = 0;
}
void activateCB_text11(Widget w, XtPointer, XtPointer) {
    Action action(w);
    pathzap_latch = 1;
    root_filesys_only_possible = 0;
    reload_lists();
}
void valueChangedCB_text1(Widget, XtPointer, XtPointer) {
    date1_latch = 1;
}
void valueChangedCB_text3(Widget, XtPointer, XtPointer) {
    date2_latch = 1;
}
// Enter in a date, filter or depth field.
void activateCB_reload_field(Widget w, XtPointer, XtPointer) {
    Action action(w);
    reload_lists();
}
void activateCB_text4(Widget w, XtPointer, XtPointer) {
    Action action(w);
    load_image_list(image_type());
    set_keyword_dates();
    update_globals();
    preserve_right_selections();
    put_text(pathname, current_working_directory);
    load_both_sides(current_working_directory);
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}
void extendedSelectionCB_scrolledList7(Widget w, XtPointer, XtPointer) {
    Action action(w);
    set_dates_from_images();
}
void activateCB_arrowButton2(Widget w, XtPointer, XtPointer) {
    Action action(w);
    slide_left_right(-1, UxXkp_mainContext->Uxseparator2, UxXkp_mainContext->Uxform4);
}
void activateCB_arrowButton1(Widget w, XtPointer, XtPointer) {
    Action action(w);
    slide_left_right(1, UxXkp_mainContext->Uxseparator2, UxXkp_mainContext->Uxform4);
}
void browseSelectionCB_scrolledList1(Widget w, XtPointer, XtPointer) {
    Action action(w);
    preserve_right_selections();
    char path[XKP_TEXT_SIZE];
    path[0] = '\0';
    extract_selection_path(path);
    T_strlcpy(current_working_directory, pad_slash(get_real(path)),
              sizeof current_working_directory);
    put_text(pathname, current_working_directory);
    load_right_side(path);
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}
void defaultActionCB_scrolledList1(Widget w, XtPointer, XtPointer) {
    Action action(w);
    preserve_right_selections();
    deselect_all_files();
    char path[XKP_TEXT_SIZE];
    T_strlcpy(path, update_globals(), sizeof path);
    T_strlcpy(current_working_directory, pad_slash(get_real(path)),
              sizeof current_working_directory);
    put_text(pathname, current_working_directory);
    load_both_sides(path);
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}
void multipleSelectionCB_scrolledList2(Widget w, XtPointer, XtPointer call_data) {
    Action action(w);
    auto *cbs = static_cast<XmListCallbackStruct *>(call_data);
    if (cbs != nullptr) {
        validate_right_selection(cbs->item_position, cbs->selected_item_count,
                                 cbs->selected_item_positions);
    }
    resensitize_menus(SENS_FROM_BROWSE_STATE);
}

// Creation of the lists that feed the first load.
void createCB_listing_list(Widget w, Widget *handle) {
    *handle = w;
    XtAddCallback(w, XmNdestroyCallback, destroyCB_clear_handle, handle);
    initialize_cwd();
    attempt_initial_load();
}

// A list that is never drawn still measures every item it is given; with
// the server's core font "fixed" instead of the anti-aliased render table
// of the visible lists, the companion of a 50,000-row file list is filled
// in two thirds of the time.
void use_core_font(Widget list) {
    Arg args[2];
    Cardinal n = 0;
    XtSetArg(args[n], XmNfontName, "fixed");
    ++n;
    XtSetArg(args[n], XmNfontType, XmFONT_IS_FONT);
    ++n;
    XmRendition rendition =
        XmRenditionCreate(list, const_cast<char *>(XmFONTLIST_DEFAULT_TAG), args, n);
    XmRenderTable table = XmRenderTableAddRenditions(nullptr, &rendition, 1, XmMERGE_REPLACE);
    XmRenditionFree(rendition);
    XtVaSetValues(list, XmNrenderTable, table, nullptr);
    XmRenderTableFree(table);
}

// A scrolled list in parent; attachments go on its scrolled window.
Widget scrolled_list(const char *name, Widget parent, unsigned char policy, bool hidden) {
    Arg args[4];
    Cardinal n = 0;
    XtSetArg(args[n], XmNselectionPolicy, policy);
    ++n;
    XtSetArg(args[n], XmNlistSizePolicy, XmCONSTANT);
    ++n;
    XtSetArg(args[n], XmNscrollBarDisplayPolicy, XmSTATIC);
    ++n;
    Widget list = XmCreateScrolledList(parent, const_cast<char *>(name), args, n);
    main_bind(list);
    main_bind(XtParent(list));
    if (hidden) {
        XtVaSetValues(XtParent(list), XmNmappedWhenManaged, False, XmNwidth, 1, XmNheight, 1,
                      XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM, nullptr);
        XtSetMappedWhenManaged(list, False);
        use_core_font(list);
    }
    XtManageChild(list);
    XtManageChild(XtParent(list));
    return list;
}

Widget field_label(const char *name, Widget parent, const char *text, const char *key) {
    Widget w = main_bind(XtVaCreateManagedWidget(name, xmLabelWidgetClass, parent, XmNalignment,
                                                 XmALIGNMENT_END, nullptr));
    put_label_string(w, text);
    initialize_label(w, key);
    return w;
}

// A row of the field column; the label column's width is set once every
// row exists (ux_label_column).
void attach_row(Widget label, Widget field, Widget above, int field_right_position) {
    XtVaSetValues(label, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, above, XmNtopOffset, 6,
                  nullptr);
    XtVaSetValues(field, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, above, XmNtopOffset, 4,
                  nullptr);
    if (field_right_position >= 100) {
        XtVaSetValues(field, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 8, nullptr);
    } else {
        XtVaSetValues(field, XmNrightAttachment, XmATTACH_POSITION, XmNrightPosition,
                      field_right_position, nullptr);
    }
    // Labels sit on the text's baseline height.
    XtVaSetValues(label, XmNbottomAttachment, XmATTACH_OPPOSITE_WIDGET, XmNbottomWidget, field,
                  nullptr);
}

void destroyCB_xkp_main(Widget, XtPointer, XtPointer) {
    // The window's handles go with it (tests build several windows per run).
    for (Widget *handle : {&pathname, &start_date, &end_date, &main_keyword, &main_keyword_label,
                           &recursion, &filename_filter, &main_screen}) {
        *handle = nullptr;
    }
    UxXkp_mainContext = nullptr;
}

void deleteWindowCB_xkp_main(Widget, XtPointer, XtPointer) {
    // Closing the window from the window manager ends the program as Quit
    // does: there is nothing to save.
    exit(0);
}

} // namespace

Widget create_xkp_main() {
    auto *context = ux_new_context<_UxCxkp_main>();
    UxXkp_mainContext = context;

    Widget shell = XtVaCreatePopupShell("xkp_main", applicationShellWidgetClass, UxTopLevel,
                                        XmNwidth, 800, XmNheight, 720, XmNx, 10, XmNy, 10,
                                        XmNdeleteResponse, XmDO_NOTHING, nullptr);
    context->Uxxkp_main = main_bind(shell);
    XtAddCallback(shell, XmNdestroyCallback, destroyCB_xkp_main, nullptr);
    XtAddCallback(shell, XmNdestroyCallback, UxFreeClientDataCB, context);
    Atom wm_delete = XmInternAtom(XtDisplay(shell), const_cast<char *>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(shell, wm_delete, deleteWindowCB_xkp_main, nullptr);
    re_label_window(shell, "GuiXkp0000N", "xkp", "");
    save_main_screen(shell);

    Widget form1 = main_bind(XtVaCreateWidget("form1", xmFormWidgetClass, shell, nullptr));
    context->Uxform1 = form1;

    Widget menu1 = main_bind(XmCreateMenuBar(form1, const_cast<char *>("menu1"), nullptr, 0));
    context->Uxmenu1 = menu1;
    XtVaSetValues(menu1, XmNmenuAccelerator, "<KeyUp>F10", XmNtopAttachment, XmATTACH_FORM,
                  XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, nullptr);
    create_menus(menu1);
    XtManageChild(menu1);

    // Directory to search.
    context->Uxlabel1 = field_label("label1", form1, "Directory to Search", "GuiXkp0053N");
    Widget text11 = main_bind(XtVaCreateManagedWidget("text11", xmTextFieldWidgetClass, form1,
                                                      XmNmaxLength, XKP_TEXT_SIZE - 1, nullptr));
    context->Uxtext11 = text11;
    pathname = text11;
    initialize_cwd();
    put_text(text11, current_working_directory);
    pathzap_latch = 0;
    XtAddCallback(text11, XmNvalueChangedCallback, valueChangedCB_text11, nullptr);
    XtAddCallback(text11, XmNactivateCallback, activateCB_text11, nullptr);
    attach_row(context->Uxlabel1, text11, menu1, 100);

    // Range of dates.
    context->Uxlabel3 = field_label("label3", form1, "Range of Dates", "GuiXkp0054N");
    Widget text1 =
        main_bind(XtVaCreateManagedWidget("text1", xmTextFieldWidgetClass, form1, nullptr));
    Widget text3 =
        main_bind(XtVaCreateManagedWidget("text3", xmTextFieldWidgetClass, form1, nullptr));
    context->Uxtext1 = start_date = text1;
    context->Uxtext3 = end_date = text3;
    show_default_dates();
    XtAddCallback(text1, XmNvalueChangedCallback, valueChangedCB_text1, nullptr);
    XtAddCallback(text3, XmNvalueChangedCallback, valueChangedCB_text3, nullptr);
    XtAddCallback(text1, XmNactivateCallback, activateCB_reload_field, nullptr);
    XtAddCallback(text3, XmNactivateCallback, activateCB_reload_field, nullptr);
    attach_row(context->Uxlabel3, text1, text11, 58);
    XtVaSetValues(text3, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, text1,
                  XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, text1, XmNleftOffset, 8,
                  XmNrightAttachment, XmATTACH_POSITION, XmNrightPosition, 92, nullptr);

    // Keyword phrase (restore modes only).
    Widget label4 = field_label("label4", form1, "Keyword phrase to search for", "GuiXkp0064N");
    Widget text4 = main_bind(XtVaCreateManagedWidget("text4", xmTextFieldWidgetClass, form1,
                                                     XmNmaxLength, 128, nullptr));
    context->Uxlabel4 = main_keyword_label = label4;
    context->Uxtext4 = main_keyword = text4;
    XtAddCallback(text4, XmNactivateCallback, activateCB_text4, nullptr);
    attach_row(label4, text4, text1, 100);
    ux_label_column({{context->Uxlabel1, text11}, {context->Uxlabel3, text1}, {label4, text4}}, 8,
                    8);

    // The hidden lists.
    context->UxscrolledList4 = scrolled_list("scrolledList4", form1, XmEXTENDED_SELECT, true);
    createCB_listing_list(context->UxscrolledList4, &persistent_list);
    context->UxscrolledList9 = scrolled_list("scrolledList9", form1, XmEXTENDED_SELECT, true);
    shadow_image_list = context->UxscrolledList9;
    XtAddCallback(shadow_image_list, XmNdestroyCallback, destroyCB_clear_handle,
                  &shadow_image_list);
    context->UxscrolledList10 = scrolled_list("scrolledList10", form1, XmBROWSE_SELECT, true);
    createCB_listing_list(context->UxscrolledList10, &shadow_left_list);
    context->UxscrolledList11 = scrolled_list("scrolledList11", form1, XmMULTIPLE_SELECT, true);
    createCB_listing_list(context->UxscrolledList11, &shadow_right_list);
    if (!browsing_filesys) {
        attempt_image_load(image_type());
    }

    // The frame with the two panes.
    Widget frame1 = main_bind(XtVaCreateManagedWidget(
        "frame1", xmFrameWidgetClass, form1, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, text4,
        XmNtopOffset, 8, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 6, XmNrightAttachment,
        XmATTACH_FORM, XmNrightOffset, 6, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 6,
        nullptr));
    context->Uxframe1 = frame1;
    Widget paned = main_bind(
        XtVaCreateManagedWidget("panedWindow2", xmPanedWindowWidgetClass, frame1, nullptr));
    context->UxpanedWindow2 = paned;

    // Pane 1: backup images.
    Widget form10 = main_bind(XtVaCreateManagedWidget("form10", xmFormWidgetClass, paned,
                                                      XmNpaneMinimum, 60, XmNheight, 170, nullptr));
    context->Uxform10 = form10;
    Widget label18 = main_bind(XtVaCreateManagedWidget(
        "label18", xmLabelWidgetClass, form10, XmNalignment, XmALIGNMENT_BEGINNING,
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 4, XmNleftAttachment, XmATTACH_FORM,
        XmNleftOffset, 6, nullptr));
    put_label_string(label18, "Backup Images");
    initialize_label(label18, "GuiXkp0055N");
    context->Uxlabel18 = label18;
    Widget list7 = scrolled_list("scrolledList7", form10, XmEXTENDED_SELECT, false);
    XtVaSetValues(XtParent(list7), XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, label18,
                  XmNtopOffset, 2, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 6,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 6, XmNbottomAttachment,
                  XmATTACH_FORM, XmNbottomOffset, 4, nullptr);
    context->UxscrolledList7 = image_list = list7;
    XtAddCallback(list7, XmNdestroyCallback, destroyCB_clear_handle, &image_list);
    XtAddCallback(list7, XmNextendedSelectionCallback, extendedSelectionCB_scrolledList7, nullptr);
    if (!browsing_filesys) {
        wisely_choose_dates(restore_from_archives ? 3 : 12);
        attempt_image_load(image_type());
    }

    // Pane 2: filter, depth, directories and files.
    Widget form4 = main_bind(
        XtVaCreateManagedWidget("form4", xmFormWidgetClass, paned, XmNpaneMinimum, 150, nullptr));
    context->Uxform4 = form4;
    Widget label14 = main_bind(XtVaCreateManagedWidget(
        "label14", xmLabelWidgetClass, form4, XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 6, nullptr));
    put_label_string(label14, "Filename Filter");
    initialize_label(label14, "GuiXkp0059N");
    context->Uxlabel14 = label14;
    Widget text6 = main_bind(XtVaCreateManagedWidget(
        "text6", xmTextFieldWidgetClass, form4, XmNcolumns, 16, XmNtopAttachment, XmATTACH_FORM,
        XmNtopOffset, 6, XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, label14, XmNleftOffset,
        6, nullptr));
    put_text(text6, "*");
    context->Uxtext6 = filename_filter = text6;
    XtAddCallback(text6, XmNactivateCallback, activateCB_reload_field, nullptr);
    Widget arrow2 = main_bind(XtVaCreateManagedWidget(
        "arrowButton2", xmArrowButtonWidgetClass, form4, XmNarrowDirection, XmARROW_LEFT, XmNwidth,
        28, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, text6, XmNbottomAttachment,
        XmATTACH_OPPOSITE_WIDGET, XmNbottomWidget, text6, XmNleftAttachment, XmATTACH_WIDGET,
        XmNleftWidget, text6, XmNleftOffset, 16, nullptr));
    Widget arrow1 = main_bind(XtVaCreateManagedWidget(
        "arrowButton1", xmArrowButtonWidgetClass, form4, XmNarrowDirection, XmARROW_RIGHT, XmNwidth,
        28, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, text6, XmNbottomAttachment,
        XmATTACH_OPPOSITE_WIDGET, XmNbottomWidget, text6, XmNleftAttachment, XmATTACH_WIDGET,
        XmNleftWidget, arrow2, XmNleftOffset, 2, nullptr));
    context->UxarrowButton2 = arrow2;
    context->UxarrowButton1 = arrow1;
    XtAddCallback(arrow2, XmNactivateCallback, activateCB_arrowButton2, nullptr);
    XtAddCallback(arrow1, XmNactivateCallback, activateCB_arrowButton1, nullptr);
    Widget label2 = main_bind(XtVaCreateManagedWidget(
        "label2", xmLabelWidgetClass, form4, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET,
        XmNtopWidget, label14, XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, arrow1,
        XmNleftOffset, 16, nullptr));
    put_label_string(label2, "Directory Depth");
    initialize_label(label2, "GuiXkp0056N");
    context->Uxlabel2 = label2;
    Widget text2 = main_bind(XtVaCreateManagedWidget(
        "text2", xmTextFieldWidgetClass, form4, XmNcolumns, 5, XmNtopAttachment,
        XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, text6, XmNleftAttachment, XmATTACH_WIDGET,
        XmNleftWidget, label2, XmNleftOffset, 6, nullptr));
    char depth[16];
    snprintf(depth, sizeof depth, "%d", recursion_limit);
    put_text(text2, depth);
    context->Uxtext2 = recursion = text2;
    XtAddCallback(text2, XmNactivateCallback, activateCB_reload_field, nullptr);

    // The divider between the lists: its left offset is the split point.
    Widget separator2 = main_bind(XtVaCreateManagedWidget(
        "separator2", xmSeparatorWidgetClass, form4, XmNorientation, XmVERTICAL, XmNwidth, 8,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, text6, XmNtopOffset, 6,
        XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 4, XmNleftAttachment, XmATTACH_FORM,
        XmNleftOffset, 310, nullptr));
    context->Uxseparator2 = separator2;

    Widget label10 = main_bind(XtVaCreateManagedWidget(
        "label10", xmLabelWidgetClass, form4, XmNalignment, XmALIGNMENT_BEGINNING, XmNtopAttachment,
        XmATTACH_WIDGET, XmNtopWidget, text6, XmNtopOffset, 8, XmNleftAttachment, XmATTACH_FORM,
        XmNleftOffset, 6, nullptr));
    put_label_string(label10, "Directory Structure");
    initialize_label(label10, "GuiXkp0057N");
    context->Uxlabel10 = label10;
    Widget list1 = scrolled_list("scrolledList1", form4, XmBROWSE_SELECT, false);
    XtVaSetValues(XtParent(list1), XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, label10,
                  XmNtopOffset, 2, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 6,
                  XmNrightAttachment, XmATTACH_WIDGET, XmNrightWidget, separator2,
                  XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 6, nullptr);
    context->UxscrolledList1 = list1;
    XtAddCallback(list1, XmNbrowseSelectionCallback, browseSelectionCB_scrolledList1, nullptr);
    XtAddCallback(list1, XmNdefaultActionCallback, defaultActionCB_scrolledList1, nullptr);
    createCB_listing_list(list1, &left_list);

    Widget label11 = main_bind(XtVaCreateManagedWidget(
        "label11", xmLabelWidgetClass, form4, XmNalignment, XmALIGNMENT_BEGINNING, XmNtopAttachment,
        XmATTACH_WIDGET, XmNtopWidget, text6, XmNtopOffset, 8, XmNleftAttachment, XmATTACH_WIDGET,
        XmNleftWidget, separator2, nullptr));
    put_label_string(label11, "Files");
    initialize_label(label11, "GuiXkp0058N");
    context->Uxlabel11 = label11;
    Widget list2 = scrolled_list("scrolledList2", form4, XmMULTIPLE_SELECT, false);
    XtVaSetValues(XtParent(list2), XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, label11,
                  XmNtopOffset, 2, XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, separator2,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 6, XmNbottomAttachment,
                  XmATTACH_FORM, XmNbottomOffset, 6, nullptr);
    context->UxscrolledList2 = list2;
    XtAddCallback(list2, XmNmultipleSelectionCallback, multipleSelectionCB_scrolledList2, nullptr);
    createCB_listing_list(list2, &right_list);

    // File-system modes hide the image pane and the keyword row.
    if (browsing_filesys) {
        manage_restore_widgets(false);
    }
    XtManageChild(form1);
    return shell;
}

void set_toggle_states() {
    static Widget *const database_toggles[] = {
        &toggle_OBackup,   &toggle_ORestore,   &toggle_IBackup,   &toggle_IRestore,
        &toggle_BBackup,   &toggle_BRestore,   &toggle_SBackup,   &toggle_SRestore,
        &toggle_DB2Backup, &toggle_DB2Restore, &toggle_SAPBackup, &toggle_SAPRestore};
    for (int i = 0; i < 12; ++i) {
        set_toggle(*database_toggles[i], browsing_database == 3 + i);
    }
    if (browsing_filesys) {
        set_toggle(toggle_filesys, browsing_database == 0);
        for (Widget w :
             {toggle_database, toggle_trueimage, toggle_archives, toggle_raw, toggle_auspex}) {
            set_toggle(w, false);
        }
    } else {
        set_toggle(toggle_filesys, false);
        set_toggle(toggle_database, false);
        set_toggle(toggle_trueimage, false);
        set_toggle(toggle_archives, false);
        set_toggle(toggle_raw, false);
        set_toggle(toggle_auspex, false);
        if (restore_from_archives) {
            set_toggle(toggle_archives, true);
        } else if (browsing_raw_partitions) {
            set_toggle(browsing_auspex ? toggle_auspex : toggle_raw, true);
        } else {
            set_toggle(true_image ? toggle_trueimage : toggle_database, true);
        }
    }
    set_toggle(toggle_all_dates, show_all_dates != 0);
    set_toggle(toggle_recent_dates, show_all_dates == 0);
    put_sensitive(toggle_all_dates, browsing_filesys == 0);
    put_sensitive(toggle_recent_dates, browsing_filesys == 0);
    set_toggle(toggle_yes_get_real, really_get_real != 0);
    set_toggle(toggle_no_get_real, really_get_real == 0);
}

void enter_filesys_mode(int db_mode) {
    static const char *const rdbms_words[] = {"oracle",    "oracle",    "informix", "informix",
                                              "backtrack", "backtrack", "sybase",   "sybase",
                                              "db2",       "db2",       "sap",      "sap"};
    Busy busy;
    root_filesys_only_possible = 0;
    filesystem_only_restore_possible = 0;
    true_image = 0;
    if (db_mode >= 3 && db_mode <= 14) {
        T_strlcpy(rdbms_argv, rdbms_words[db_mode - 3], sizeof rdbms_argv);
    } else {
        db_mode = 0;
    }
    list_delete_all(persistent_list);
    deselect_all_files();
    show_default_dates();
    browsing_filesys = 1;
    browsing_database = db_mode;
    browsing_auspex = 0;
    set_client_type_argvs();
    browsing_raw_partitions = 0;
    use_alternate_path = 0;
    alternate_path_defined = 0;
    manage_restore_widgets(false);
    set_toggle_states();
    update_globals();
    load_both_sides(current_working_directory);
    resensitize_menus(db_mode == 0 ? SENS_FILESYS : db_mode);
}

void enter_restore_mode(int kind) {
    struct Mode {
        int true_image, auspex, raw, archives;
    };
    static const Mode modes[] = {
        {0, 0, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, 1, 0}, {0, 1, 1, 0}};
    if (kind < RESTORE_BACKUPS || kind > RESTORE_AUSPEX) {
        return;
    }
    const Mode &m = modes[kind];
    Busy busy;
    root_filesys_only_possible = 0;
    filesystem_only_restore_possible = 0;
    true_image = m.true_image;
    list_delete_all(persistent_list);
    deselect_all_files();
    browsing_filesys = 0;
    browsing_auspex = m.auspex;
    set_client_type_argvs();
    browsing_raw_partitions = m.raw;
    browsing_database = 0;
    restore_from_archives = 0;
    wisely_choose_dates(m.archives ? 3 : 12);
    load_image_list(m.archives ? "UARC" : "NOT_ARCHIVE");
    manage_restore_widgets(true);
    if (m.archives) {
        restore_from_archives = 1;
    }
    set_toggle_states();
    update_globals();
    std::string start_text = UxrGetText(start_date);
    std::string end_text = UxrGetText(end_date);
    int files = total_image_files(start_text.c_str(), end_text.c_str());
    if (files > browse_limit) {
        pop_warn_int(XKP_MSG_LARGE_RANGE, files);
        empty_list_pair(left_list, shadow_left_list);
        empty_list_pair(right_list, shadow_right_list);
    } else {
        load_both_sides(current_working_directory);
    }
    resensitize_menus(SENS_RESTORE);
}
