// Waits of the control's thread that let notices through.
//
// The engine's threads hand notices to the control's window with SendMessage and wait
// until the control's thread has taken them. When the control's thread itself waits for
// something an engine thread has to do first (a gate it opens, its end), the wait must
// accept those sent messages, or both would wait for ever. wait_letting_notices_through
// does that: it wakes for sent messages and lets Windows deliver them (posted messages
// stay queued). While such a wait runs, notice_wait_depth() is above zero on that thread,
// and the window takes notices over without firing events (NoticeReceiver), so no host
// code runs in the middle of an engine operation.
#pragma once

#include <windows.h>

namespace tarnet {

// Returns the index of the signalled handle, or WAIT_TIMEOUT / WAIT_FAILED.
DWORD wait_letting_notices_through(const HANDLE* handles, DWORD count, DWORD timeout_ms);
inline DWORD wait_letting_notices_through(HANDLE handle, DWORD timeout_ms = INFINITE) {
    return wait_letting_notices_through(&handle, 1, timeout_ms);
}

// Depth of such waits on the calling thread.
int notice_wait_depth();

}  // namespace tarnet
