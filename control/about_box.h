// The control's About box: "About Tarnet Control", its icon, "Tarnet Control,
// Version 1.0" and OK. Modal; without a display it cannot show and returns at once.
#pragma once

#include <windows.h>

namespace tarnet {

void show_about_box(HWND owner);

}  // namespace tarnet
