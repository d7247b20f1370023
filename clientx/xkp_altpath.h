// The alternate destination dialog.
#pragma once
#include <X11/Intrinsic.h>
Widget create_xkp_altpath();
