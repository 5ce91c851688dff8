#include "control_wait.h"

namespace tarnet {

namespace {

thread_local int t_depth = 0;

class DepthScope {
  public:
    DepthScope() { ++t_depth; }
    ~DepthScope() { --t_depth; }
    DepthScope(const DepthScope&) = delete;
    DepthScope& operator=(const DepthScope&) = delete;
};

}  // namespace

int notice_wait_depth() { return t_depth; }

DWORD wait_letting_notices_through(const HANDLE* handles, DWORD count, DWORD timeout_ms) {
    DepthScope depth;
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeout_ms != INFINITE) {
            const ULONGLONG spent = ::GetTickCount64() - start;
            remaining = spent >= timeout_ms ? 0 : static_cast<DWORD>(timeout_ms - spent);
        }
        const DWORD r = ::MsgWaitForMultipleObjectsEx(count, handles, remaining, QS_SENDMESSAGE,
                                                      MWMO_INPUTAVAILABLE);
        if (r < WAIT_OBJECT_0 + count) {
            return r - WAIT_OBJECT_0;
        }
        if (r != WAIT_OBJECT_0 + count) {
            return r;  // WAIT_TIMEOUT or WAIT_FAILED
        }
        // Delivers messages sent by other threads; retrieves nothing posted.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace tarnet
