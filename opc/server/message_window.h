// Hidden message-only windows (no display needed) of the OPC engines: the DA item server's
// notification window and the event server's tick window.
#pragma once

#include <windows.h>

namespace porvex::opc {

// Registers className with windowProc (once per process) in the module holding the engine
// and makes a message-only window of it on the calling thread; creationParam reaches the
// window procedure with WM_NCCREATE. nullptr when the platform refuses either step.
HWND CreateMessageWindow(const wchar_t* className, WNDPROC windowProc,
                         void* creationParam) noexcept;

}  // namespace porvex::opc
