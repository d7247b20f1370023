// Form builders shared by every window.
#include "ux_form.h"

#include "UxXt.h"
#include "uimx_helper.h"

#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/TextF.h>
#include <Xm/ToggleB.h>
#include <Xm/Xm.h>

#include <algorithm>

Widget ux_form_child(Widget parent, const char *name, WidgetClass cls, void *context) {
    Widget w = XtVaCreateManagedWidget(name, cls, parent, nullptr);
    UxPutContext(w, context);
    return w;
}

namespace {

Widget labelled(Widget w, const char *text, const char *key) {
    put_label_string(w, text);
    initialize_label(w, key);
    return w;
}

} // namespace

Widget ux_form_label(Widget form, const char *name, const char *text, const char *key,
                     void *context) {
    Widget label = XtVaCreateManagedWidget(name, xmLabelWidgetClass, form, XmNalignment,
                                           XmALIGNMENT_BEGINNING, nullptr);
    UxPutContext(label, context);
    return labelled(label, text, key);
}

Widget ux_form_top_label(Widget form, const char *name, const char *text, const char *key,
                         void *context) {
    Widget label = ux_form_label(form, name, text, key, context);
    XtVaSetValues(label, XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10, XmNleftAttachment,
                  XmATTACH_FORM, XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM,
                  XmNrightOffset, 10, nullptr);
    return label;
}

Widget ux_form_field(Widget form, const char *name, const char *value, void *context) {
    Widget field = ux_form_child(form, name, xmTextFieldWidgetClass, context);
    put_text(field, value);
    return field;
}

Widget ux_form_toggle(Widget form, const char *name, const char *text, const char *key,
                      XtCallbackProc callback, void *context) {
    Widget toggle = XtVaCreateManagedWidget(name, xmToggleButtonWidgetClass, form, XmNalignment,
                                            XmALIGNMENT_BEGINNING, nullptr);
    UxPutContext(toggle, context);
    labelled(toggle, text, key);
    if (callback != nullptr) {
        XtAddCallback(toggle, XmNvalueChangedCallback, callback, nullptr);
    }
    return toggle;
}

Widget ux_form_button(Widget form, const char *name, const char *text, const char *key,
                      XtCallbackProc callback, void *context) {
    Widget b = ux_form_child(form, name, xmPushButtonWidgetClass, context);
    labelled(b, text, key);
    XtAddCallback(b, XmNactivateCallback, callback, nullptr);
    return b;
}

void ux_row_below(Widget w, Widget above, int margin, int gap, bool full_width) {
    if (above == nullptr) {
        XtVaSetValues(w, XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, margin, nullptr);
    } else {
        XtVaSetValues(w, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, above, XmNtopOffset, gap,
                      nullptr);
    }
    XtVaSetValues(w, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, margin, nullptr);
    if (full_width) {
        XtVaSetValues(w, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, margin, nullptr);
    }
}

void ux_row_above(Widget w, Widget below, int margin, int gap) {
    XtVaSetValues(w, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, margin, XmNbottomAttachment,
                  XmATTACH_WIDGET, XmNbottomWidget, below, XmNbottomOffset, gap, nullptr);
}

Widget UxFormRows::add(Widget w, bool full_width, int gap) {
    ux_row_below(w, last_, margin_, gap < 0 ? gap_ : gap, full_width);
    last_ = w;
    return w;
}

Widget UxFormRows::label(const char *name, const char *text, const char *key, bool full_width) {
    return add(ux_form_label(form_, name, text, key, context_), full_width);
}

Widget UxFormRows::field(const char *name, const char *value) {
    return add(ux_form_field(form_, name, value, context_), true);
}

Widget UxFormRows::toggle(const char *name, const char *text, const char *key, bool full_width) {
    return add(ux_form_toggle(form_, name, text, key, nullptr, context_), full_width);
}

void ux_form_button_row(Widget form, std::initializer_list<UxRowButton> buttons, int width,
                        void *context) {
    Widget before = nullptr;
    size_t i = 0;
    for (const UxRowButton &button : buttons) {
        Widget b =
            ux_form_button(form, button.name, button.text, button.key, button.callback, context);
        XtVaSetValues(b, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 10, nullptr);
        if (width > 0) {
            XtVaSetValues(b, XmNwidth, width, nullptr);
        }
        if (i + 1 == buttons.size() && i > 0) {
            XtVaSetValues(b, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, nullptr);
        } else if (before == nullptr) {
            XtVaSetValues(b, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10, nullptr);
        } else {
            XtVaSetValues(b, XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, before,
                          XmNleftOffset, 10, nullptr);
        }
        if (button.handle != nullptr) {
            *button.handle = b;
        }
        before = b;
        ++i;
    }
}

void ux_form_spread_row(Widget form, std::initializer_list<UxRowButton> buttons, int left, int span,
                        int step, void *context) {
    for (const UxRowButton &button : buttons) {
        Widget b =
            ux_form_button(form, button.name, button.text, button.key, button.callback, context);
        XtVaSetValues(b, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 12, XmNleftAttachment,
                      XmATTACH_POSITION, XmNleftPosition, left, XmNrightAttachment,
                      XmATTACH_POSITION, XmNrightPosition, left + span, nullptr);
        if (button.handle != nullptr) {
            *button.handle = b;
        }
        left += step;
    }
}

void ux_label_column(std::initializer_list<std::pair<Widget, Widget>> rows, int left, int gap) {
    Dimension widest = 0;
    for (const auto &[label, field] : rows) {
        XtWidgetGeometry preferred{};
        XtQueryGeometry(label, nullptr, &preferred);
        widest = std::max(widest, preferred.width);
    }
    for (const auto &[label, field] : rows) {
        XtVaSetValues(label, XmNrecomputeSize, False, XmNwidth, widest, XmNleftAttachment,
                      XmATTACH_FORM, XmNleftOffset, left, XmNrightAttachment, XmATTACH_NONE,
                      nullptr);
        XtVaSetValues(field, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, left + widest + gap,
                      nullptr);
    }
}
