// The version window: the product identification number and the product's
// notice.
#pragma once

#include <X11/Intrinsic.h>

#include <cstdint>

// The product identification of this release.
constexpr int32_t xkp_product_identification = 2004100719;

// The window's widgets, bound to each of them (UxGetContext).
struct _UxCxkp_version {
    Widget Uxxkp_version; // the shell; the record is freed with it
    Widget Uxform8;
    Widget Uxlabel27;
    Widget Uxtext12;
    Widget Uxlabel8;
    Widget Uxlabel35;
    Widget UxpushButton4;
};
extern _UxCxkp_version *UxXkp_versionContext;

// Builds (unshown) the version window and returns its shell.
Widget create_xkp_version();

// Puts the product identification ("%d") into the text widget.
void generate_announcement(Widget text);
