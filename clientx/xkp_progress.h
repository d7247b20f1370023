// The progress dialog. While progress_filename_widget is set, one is open.
#pragma once
#include <X11/Intrinsic.h>
extern Widget progress_filename_widget;
Widget create_xkp_progress();
