// WaitEvent on a flag and a condition variable, and on a Win32 event for a call that also
// wakes for its window messages.
#include <windows.h>

#include <algorithm>

#include "net/sync.h"
#include "wait_event.h"

namespace zorvik::access {

MessagePump::~MessagePump() {
    if (quit_seen_) {
        PostQuitMessage(static_cast<int>(quit_code_));
    }
}

// The flag and its condition variable serve every wait; the Win32 event is made only
// for a call that pumps messages (MsgWaitForMultipleObjectsEx needs a handle). Setting and
// waiting on the event are wineserver round trips under Wine, and the library's own
// threads (the supervisor's keep-alives) wait many times a second.
struct WaitEvent::State {
    net::Mutex mutex;
    net::CondVar changed;
    bool set = false;
    HANDLE event = nullptr;  // guarded by mutex; once made, kept in step with set
    ~State() {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
};

WaitEvent::WaitEvent() : state_(std::make_unique<State>()) {}

WaitEvent::~WaitEvent() = default;

void WaitEvent::set() {
    {
        std::lock_guard lock(state_->mutex);
        state_->set = true;
        if (state_->event != nullptr) {
            SetEvent(state_->event);
        }
    }
    state_->changed.notify_all();
}

void WaitEvent::reset() {
    std::lock_guard lock(state_->mutex);
    state_->set = false;
    if (state_->event != nullptr) {
        ResetEvent(state_->event);
    }
}

bool WaitEvent::is_set() const {
    std::lock_guard lock(state_->mutex);
    return state_->set;
}

namespace {

DWORD to_wait(std::chrono::milliseconds timeout) {
    return static_cast<DWORD>(std::clamp<long long>(timeout.count(), 0, 0x7FFFFFFF));
}

}  // namespace

bool WaitEvent::wait_for(std::chrono::milliseconds timeout, MessagePump* pump) {
    HANDLE event = nullptr;
    {
        std::unique_lock lock(state_->mutex);
        if (pump != nullptr && !pump->quit_seen_ && state_->event == nullptr) {
            state_->event = CreateEventW(nullptr, TRUE, state_->set ? TRUE : FALSE, nullptr);
        }
        event = state_->event;
        if (pump == nullptr || pump->quit_seen_ || event == nullptr) {
            return state_->changed.wait_for(lock, timeout, [this] { return state_->set; });
        }
    }
    const DWORD r =
        MsgWaitForMultipleObjectsEx(1, &event, to_wait(timeout), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
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
