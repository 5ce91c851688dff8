// Keeping the window alive during long work on the main thread: handling the pending
// window messages (which also serves OPC calls, since COM delivers them as messages to
// the main thread), and waiting while doing so.
#pragma once

#include <windows.h>

namespace porvex::ui {

// Handles every message pending now; false when WM_QUIT was among them (it is posted
// again so that the message loop still ends).
bool PumpMessages();

// Handles messages until the millisecond tick count has advanced by at least `ms`,
// sleeping in between until a message arrives or the time is up (no busy loop).
void WaitPumping(DWORD ms);

}  // namespace porvex::ui
