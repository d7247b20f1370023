// Labels and window titles from the message catalog.
#include "UxXt.h"
#include "cmnutils.h"
#include "tmmsg.h"
#include "uimx_helper.h"
#include "xkp_icon.h"

#include <Xm/Xm.h>

#include <cstring>

const char *ux_message_locale = "";

namespace {

void set_mnemonic(Widget w, char c) {
    XtVaSetValues(w, XmNmnemonic, static_cast<KeySym>(static_cast<unsigned char>(c)), nullptr);
}

} // namespace

void initialize_label(Widget w, const char *key) {
    if (w == nullptr) {
        return;
    }
    char deflabel[TM_NAME_SIZE];
    T_strlcpy(deflabel, get_label_string(w), sizeof deflabel);
    char defmnemonic[2] = {0, 0};
    KeySym mnemonic = UxrGetProp<KeySym>(w, XmNmnemonic);
    if (mnemonic != NoSymbol && mnemonic < 256) {
        defmnemonic[0] = static_cast<char>(mnemonic);
    }

    char label[TM_NAME_SIZE];
    char catalog_mnemonic[TM_NAME_SIZE];
    label[0] = catalog_mnemonic[0] = '\0';
    tmgetlbl(key, ux_message_locale, deflabel, defmnemonic, label, catalog_mnemonic);

    // Going through one and two blanks first makes Motif recompute the
    // label's geometry even when the final text has the old length.
    put_label_string(w, " ");
    put_label_string(w, "  ");
    if (strcmp(label, deflabel) == 0 && strcmp(catalog_mnemonic, defmnemonic) == 0) {
        put_label_string(w, deflabel);
        return;
    }
    put_label_string(w, label);
    if (catalog_mnemonic[0] != '\0') {
        set_mnemonic(w, catalog_mnemonic[0]);
    }
}

void re_label_window(Widget shell, const char *key, const char *default_title,
                     const char *default_mnemonic) {
    if (shell == nullptr) {
        return;
    }
    if (icon_pixmap != 0) {
        XtVaSetValues(shell, XmNiconPixmap, icon_pixmap, nullptr);
    }
    char title[TM_NAME_SIZE];
    char mnemonic[TM_NAME_SIZE];
    title[0] = mnemonic[0] = '\0';
    tmgetlbl(key, ux_message_locale, default_title ? default_title : "",
             default_mnemonic ? default_mnemonic : "", title, mnemonic);
    XmString dialog_title = XmStringCreateLocalized(title);
    XtVaSetValues(shell, XmNtitle, title, XmNdialogTitle, dialog_title, XmNiconName, title,
                  nullptr);
    XmStringFree(dialog_title);
}
