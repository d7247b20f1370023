// The program icon and its bitmap.
#pragma once

#include <X11/Xlib.h>

constexpr int xkp_icon_width = 56;
constexpr int xkp_icon_height = 50;
constexpr int xkp_icon_row_bytes = (xkp_icon_width + 7) / 8;

extern const unsigned char xkp_icon_bits[xkp_icon_height * xkp_icon_row_bytes];
// The bitmap made from xkp_icon_bits; 0 until create_icon_pixmap ran.
extern Pixmap icon_pixmap;
// Makes icon_pixmap on first call (later calls return it unchanged).
Pixmap create_icon_pixmap(Display *display, Window root);
