// The builders every window's form is made of: labels, text fields, toggles
// and buttons bound to the window's context record and labelled from the
// catalog, rows stacked one under (or over) another, and the bottom row of
// buttons. Each new widget is managed, bound to context with UxPutContext and,
// where it has a label, labelled from the catalog's key with its built-in text
// as the default.
#pragma once

#include <X11/Intrinsic.h>

#include <initializer_list>
#include <utility>

// A widget of class cls named name in parent.
Widget ux_form_child(Widget parent, const char *name, WidgetClass cls, void *context);

// A label, text aligned to the left; the caller places it.
Widget ux_form_label(Widget form, const char *name, const char *text, const char *key,
                     void *context);
// A label across the top of the form, text aligned to the left.
Widget ux_form_top_label(Widget form, const char *name, const char *text, const char *key,
                         void *context);
// A text field holding value; the caller places it.
Widget ux_form_field(Widget form, const char *name, const char *value, void *context);
// A toggle, text aligned to the left, whose changes call callback (none when
// null); the caller places it and sets its state.
Widget ux_form_toggle(Widget form, const char *name, const char *text, const char *key,
                      XtCallbackProc callback, void *context);
// A push button whose activation calls callback; the caller places it.
Widget ux_form_button(Widget form, const char *name, const char *text, const char *key,
                      XtCallbackProc callback, void *context);

// Places w as the row under above (under the form's top edge when above is
// null), gap pixels below it (margin pixels for the first row), margin pixels
// in from the form's left edge and, with full_width, from its right edge.
void ux_row_below(Widget w, Widget above, int margin, int gap, bool full_width);
// Places w as the row over below: its bottom edge gap pixels above below, its
// left edge margin pixels in from the form's.
void ux_row_above(Widget w, Widget below, int margin, int gap);

// Rows stacked from the form's top down, each under the one placed before.
class UxFormRows {
  public:
    UxFormRows(Widget form, void *context, int margin, int gap)
        : form_(form), context_(context), margin_(margin), gap_(gap) {}
    Widget label(const char *name, const char *text, const char *key, bool full_width);
    // Fields always reach to the right margin.
    Widget field(const char *name, const char *value);
    Widget toggle(const char *name, const char *text, const char *key, bool full_width);
    // Any other widget as the next row; gap < 0 means the rows' own gap.
    Widget add(Widget w, bool full_width, int gap = -1);

  private:
    Widget form_;
    void *context_;
    int margin_;
    int gap_;
    Widget last_ = nullptr;
};

// A button of a bottom row; handle (when not null) receives the widget.
struct UxRowButton {
    Widget *handle;
    const char *name;
    const char *text;
    const char *key;
    XtCallbackProc callback;
};
// Buttons on the form's bottom edge, 10 pixels from it: the first at the left
// edge, each next one 10 pixels right of the one before, the last at the
// right edge. Each is width pixels wide (0: as wide as its label).
void ux_form_button_row(Widget form, std::initializer_list<UxRowButton> buttons, int width,
                        void *context);
// Buttons sharing the bottom row in proportion to the form's width, 12 pixels
// from its bottom edge: button i spans the form positions left + i * step to
// left + i * step + span (hundredths of the width with a fraction base of
// 100), so that the row keeps its proportions when the window is resized.
void ux_form_spread_row(Widget form, std::initializer_list<UxRowButton> buttons, int left, int span,
                        int step, void *context);

// A column of labels left of their fields in one form (pairs of label and
// field): every label as wide as the widest label actually shown (its
// preferred width, after its catalog text is set), from left pixels; every
// field from gap pixels after the column. No label of any language is cut
// or covered, whatever the window's width.
void ux_label_column(std::initializer_list<std::pair<Widget, Widget>> rows, int left, int gap);
