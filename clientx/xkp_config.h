// The configuration dialog.
#pragma once
#include <X11/Intrinsic.h>
Widget create_xkp_config();
