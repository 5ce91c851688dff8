// WaitEvent on a Win32 event, so a waiting thread can also wake for its window messages.
#include <windows.h>

#include <algorithm>

#include "wait_event.h"

namespace zorvik::access {

MessagePump::~MessagePump() {
    if (quit_seen_) {
        PostQuitMessage(static_cast<int>(quit_code_));
    }
}

struct WaitEvent::State {
    HANDLE event = nullptr;
    ~State() {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
};

WaitEvent::WaitEvent() : state_(std::make_unique<State>()) {
    state_->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

WaitEvent::~WaitEvent() = default;

void WaitEvent::set() { SetEvent(state_->event); }
void WaitEvent::reset() { ResetEvent(state_->event); }
bool WaitEvent::is_set() const { return WaitForSingleObject(state_->event, 0) == WAIT_OBJECT_0; }

namespace {

DWORD to_wait(std::chrono::milliseconds timeout) {
    return static_cast<DWORD>(std::clamp<long long>(timeout.count(), 0, 0x7FFFFFFF));
}

}  // namespace

bool WaitEvent::wait_for(std::chrono::milliseconds timeout, MessagePump* pump) {
    if (pump == nullptr || pump->quit_seen_) {
        return WaitForSingleObject(state_->event, to_wait(timeout)) == WAIT_OBJECT_0;
    }
    const DWORD r = MsgWaitForMultipleObjectsEx(1, &state_->event, to_wait(timeout), QS_ALLINPUT,
                                                MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) {
        return true;
    }
    if (r == WAIT_OBJECT_0 + 1) {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                pump->quit_seen_ = true;
                pump->quit_code_ = msg.wParam;
            } else {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        return is_set();
    }
    return false;
}

}  // namespace zorvik::access
