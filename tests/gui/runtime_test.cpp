// The interface runtime on real widgets: context records, showing and
// destroying windows, one-resource access, list helpers, four-line items and
// the menu sensitivity table.
#include <gtest/gtest.h>

#include "support/gui_harness.h"
#include "xkp_menus.h"

#include <Xm/DialogS.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/TextF.h>

namespace {

struct TwoWidgetContext {
    Widget shell;
    Widget button;
    int marker;
};

class RuntimeTest : public GuiTest {
  protected:
    Widget make_list(const char *name = "list") {
        Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, top_, nullptr);
        return XtVaCreateManagedWidget(name, xmListWidgetClass, form, XmNselectionPolicy,
                                       XmMULTIPLE_SELECT, nullptr);
    }
    void add_items(Widget list, std::initializer_list<const char *> items) {
        for (const char *text : items) {
            XmString s = XmStringCreateLocalized(const_cast<char *>(text));
            XmListAddItemUnselected(list, s, 0);
            XmStringFree(s);
        }
    }
};

TEST_F(RuntimeTest, ContextIsFoundFromEveryBoundWidgetAndFreedWithTheWindow) {
    Widget shell = XtVaCreatePopupShell("dlg_shell", xmDialogShellWidgetClass, top_, nullptr);
    Widget button = XtVaCreateWidget("dlg_button", xmPushButtonWidgetClass, shell, nullptr);
    auto *context = ux_new_context<TwoWidgetContext>();
    EXPECT_EQ(context->marker, 0) << "records start zeroed";
    context->marker = 42;
    ASSERT_EQ(UxPutContext(shell, context), 0);
    ASSERT_EQ(UxPutContext(button, context), 0);
    XtAddCallback(shell, XmNdestroyCallback, UxFreeClientDataCB, context);

    EXPECT_EQ(UxGetContext(button), context);
    EXPECT_EQ(UxGetContext(shell), context);
    EXPECT_EQ(UxGetContext(top_), nullptr) << "unbound widget";
    EXPECT_EQ(UxGetContext(nullptr), nullptr);
    EXPECT_EQ(UxPutContext(nullptr, context), -1);

    // Rebinding replaces the record without stacking destroy callbacks.
    TwoWidgetContext other{};
    ASSERT_EQ(UxPutContext(button, &other), 0);
    EXPECT_EQ(UxGetContext(button), &other);
    ASSERT_EQ(UxPutContext(button, context), 0);

    // Destroying the window drops both bindings; the record is freed by
    // UxFreeClientDataCB (LeakSanitizer would report it otherwise).
    EXPECT_EQ(UxDestroyInterface(button), 0);
    gui::drain();
    Widget again = XtVaCreateWidget("later", xmPushButtonWidgetClass, top_, nullptr);
    EXPECT_EQ(UxGetContext(again), nullptr);
}

TEST_F(RuntimeTest, TrueToplevelAndPopupOfDialogAndApplicationShells) {
    EXPECT_EQ(get_true_toplevel(nullptr), nullptr);
    EXPECT_EQ(popup_interface(nullptr, XtGrabNone), -1);
    EXPECT_EQ(UxDestroyInterface(nullptr), -1);
    EXPECT_EQ(get_true_toplevel(top_), top_) << "a shell is its own top-level";

    Widget dshell = XtVaCreatePopupShell("d_shell", xmDialogShellWidgetClass, top_, nullptr);
    Widget form = XtVaCreateWidget("d_form", xmFormWidgetClass, dshell, nullptr);
    EXPECT_EQ(get_true_toplevel(form), dshell);
    EXPECT_EQ(GetTrueToplevel(form), dshell);
    EXPECT_FALSE(XtIsManaged(form));
    ASSERT_EQ(popup_interface(form, XtGrabNone), 0);
    gui::drain();
    EXPECT_TRUE(XtIsManaged(form)) << "a dialog shell shows by managing its child";
    XWindowAttributes attributes{};
    XGetWindowAttributes(gui::display(), XtWindow(dshell), &attributes);
    EXPECT_EQ(attributes.map_state, IsViewable);

    Widget app = XtVaAppCreateShell("other", "XSV", applicationShellWidgetClass, gui::display(),
                                    XmNwidth, 50, XmNheight, 50, nullptr);
    XtVaCreateManagedWidget("lbl", xmLabelWidgetClass, app, nullptr);
    ASSERT_EQ(popup_interface(app, XtGrabNone), 0);
    gui::drain();
    EXPECT_TRUE(XtIsRealized(app));
    XGetWindowAttributes(gui::display(), XtWindow(app), &attributes);
    EXPECT_EQ(attributes.map_state, IsViewable);
    XtDestroyWidget(app);
}

TEST_F(RuntimeTest, ResourcesTextsAndLabelsRoundTrip) {
    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, top_, nullptr);
    Widget text = XtVaCreateManagedWidget("text", xmTextFieldWidgetClass, form, nullptr);
    Widget label = XtVaCreateManagedWidget("label", xmLabelWidgetClass, form, nullptr);

    put_text(text, "/home/ann/My Files/");
    EXPECT_EQ(UxrGetText(text), "/home/ann/My Files/");
    put_text(text, nullptr);
    EXPECT_EQ(UxrGetText(text), "");
    EXPECT_EQ(UxrGetText(nullptr), "");

    put_sensitive(text, 0);
    EXPECT_FALSE(gui::sensitive(text));
    put_sensitive(text, 1);
    EXPECT_TRUE(gui::sensitive(text));

    UxrPutProp(label, XmNwidth, 123);
    EXPECT_EQ(UxrGetProp<Dimension>(label, XmNwidth), 123);
    EXPECT_EQ(UxrGetProp<Dimension>(nullptr, XmNwidth), 0);

    put_label_string(label, "first line\nsecond line");
    EXPECT_EQ(gui::label_of(label), "first line\nsecond line");
    EXPECT_STREQ(get_label_string(label), "first line") << "only the first line";
    EXPECT_STREQ(get_label_string(nullptr), "");
}

// The helpers return texts in buffers they reuse: each is copied at once.
std::string s(const char *text) {
    return text;
}

TEST_F(RuntimeTest, ItemAndSelectionAccessors) {
    using V = std::vector<std::string>;
    using N = std::vector<int>;
    Widget list = make_list();
    EXPECT_EQ(s(get_item(list, 1)), "") << "empty list";
    EXPECT_EQ((N{get_selection_pos(list), get_selection_count(list)}), (N{0, 0}));

    add_items(list, {"alpha", "beta", "gamma", "delta"});
    EXPECT_EQ(get_item_count(list), 4);
    EXPECT_EQ(
        (V{s(get_item(list, 1)), s(get_item(list, 4)), s(get_item(list, 0)), s(get_item(list, 5))}),
        (V{"alpha", "delta", "", ""}));
    XmListSelectPos(list, 2, False);
    XmListSelectPos(list, 4, False);
    EXPECT_EQ((N{get_selection_count(list), get_selection_pos(list)}), (N{2, 2}));
    EXPECT_EQ(get_selected_positions(list), (N{2, 4}));
    EXPECT_EQ((V{s(get_selected_item(list, 1)), s(get_selected_item(list, 2)),
                 s(get_selected_item(list, 3))}),
              (V{"beta", "delta", ""}));
    ASSERT_NE(get_all_selected_items(list), nullptr);
    EXPECT_EQ(get_all_items(list), UxrGetProp<XmStringTable>(list, XmNitems)) << "not a copy";

    list_delete_all(list);
    EXPECT_EQ((N{get_item_count(list), get_selection_count(list)}), (N{0, 0}));
    list_delete_all(nullptr);
}

TEST_F(RuntimeTest, FourLineItemsReadBackLineByLine) {
    Widget list = make_list();
    // display text, full path, date key, extra field; odd bytes and blanks
    // must come back unchanged, and an empty field is an empty line.
    const std::string long_line(5000, 'x'), mid_line(200, 'k');
    quadruple_add_item(list, 0, "report 2024.txt  12/01/2024", "/home/ann/report 2024.txt",
                       "1733011200", "1 2 3 4 5 6 7 8 9");
    quadruple_add_item(list, 0, " ", " ", " ", " ");
    quadruple_add_item(list, 1, "first", "/first", "17", "");
    quadruple_add_item(list, 0, "x", "", mid_line.c_str(), "t\xe9\nail");
    quadruple_add_item(list, 0, long_line.c_str(), "b", "c", "d");
    const std::vector<std::vector<std::string>> want = {
        {"first", "/first", "17", ""},
        {"report 2024.txt  12/01/2024", "/home/ann/report 2024.txt", "1733011200",
         "1 2 3 4 5 6 7 8 9"},
        {" ", " ", " ", " "},
        {"x", "", mid_line, "t\xe9\nail"},
        {long_line.substr(0, 2047), "b", "c", "d"}, // cut to the result buffer
    };
    ASSERT_EQ(get_item_count(list), 5);
    for (int item = 1; item <= 5; ++item) {
        for (int line = 1; line <= 4; ++line) {
            EXPECT_EQ(s(get_line_from_item(list, item, line)), want[item - 1][line - 1])
                << "item " << item << " line " << line;
        }
    }
    const int outside[][2] = {{2, 5}, {2, 0}, {0, 1}, {6, 1}, {-1, 2}};
    for (const auto &[item, line] : outside) {
        EXPECT_EQ(s(get_line_from_item(list, item, line)), "") << item << " " << line;
    }
    EXPECT_EQ(s(get_item(list, 2)), "report 2024.txt  12/01/2024") << "first line only";
    EXPECT_EQ(s(get_line_from_item(nullptr, 1, 1)), "");
}

TEST_F(RuntimeTest, HiddenItemsAreTheRealItemsToEveryReader) {
    using V = std::vector<std::string>;
    Widget list = make_list();
    add_items(list, {"shown"});
    std::vector<XmString> items = {make_quadruple_item("a", "/a", "1", "x"),
                                   make_quadruple_item("b", "/b", "2", "")};
    add_hidden_items(list, items);
    EXPECT_TRUE(items.empty()) << "the list owns them";
    EXPECT_EQ(get_item_lines(list, nullptr, 4),
              (V{"shown", "", "", "", "a", "/a", "1", "x", "b", "/b", "2", ""}));
    XmString b = make_quadruple_item("b", "/b", "2", "");
    EXPECT_EQ(XmListItemPos(list, b), 3);
    XmStringFree(b);
    XmListDeletePos(list, 2);
    EXPECT_EQ(s(get_line_from_item(list, 2, 2)), "/b");
    list_delete_all(list);
    items.push_back(make_quadruple_item("c", "/c", "3", ""));
    add_hidden_items(nullptr, items);
    EXPECT_TRUE(items.empty()) << "freed when there is no list";
}

// How the entries follow the sensitivity rule is for the unit MenuSensitivity
// cases, and on the real menus for the main window and configuration tests.
class SensitivityTest : public RuntimeTest {
  protected:
    Widget button(const char *name) {
        if (form_ == nullptr) {
            form_ = XtVaCreateManagedWidget("menu", xmFormWidgetClass, top_, nullptr);
        }
        return XtVaCreateManagedWidget(name, xmPushButtonWidgetClass, form_, nullptr);
    }
    Widget form_ = nullptr;
};

TEST_F(SensitivityTest, TheTableHoldsTwentyEntries) {
    Widget last = nullptr;
    for (int i = 0; i < 21; ++i) {
        last = button(("item" + std::to_string(i)).c_str());
        add_resensitize_entry(last, 2, 0);
    }
    EXPECT_EQ(resensitize_index, 20);
    put_sensitive(last, 1);
    resensitize_menus_with(1, 0);
    EXPECT_TRUE(gui::sensitive(last)) << "the 21st entry was dropped, so it is never touched";
    EXPECT_FALSE(gui::sensitive(resensitize_table[19]));
}

} // namespace
