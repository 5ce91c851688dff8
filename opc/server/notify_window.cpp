#include "opc/server/notify_window.h"

#include <algorithm>

#include "opc/com/engine_lock.h"
#include "opc/com/errors.h"
#include "opc/server/item_server.h"
#include "opc/server/message_window.h"

namespace porvex::opc {

TNotifyWindow::TNotifyWindow(TOpcItemServer& owner) : owner_(owner) {
    hwnd_ = CreateMessageWindow(kNotifyWindowClass, &TNotifyWindow::WindowProc, this);
    if (!hwnd_) {
        throw EOpcServer(L"OPCSERV: Could not allocate Opc Window");
    }
    thread_ = GetCurrentThreadId();
}

TNotifyWindow::~TNotifyWindow() {
    const TEngineGuard engine;
    // Work still queued is dropped with the window's queue; free it here.
    for (TPostedWork* work : posted_) {
        delete work;
    }
    posted_.clear();
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

void TNotifyWindow::Notify(TNotification kind, void* object) {
    if (OnOwnThread() || callable_on_any_thread_) {
        // On the window's own thread a sent message is a direct call of the window
        // procedure; calling the handler directly spares the system's message path (a
        // notification per item of AddItems and RemoveItems) with the same outcome. An item
        // server callable on any thread is called on the raising thread: sending would wait
        // for the window's thread, which may be waiting for the engine lock.
        const TEngineGuard engine;
        try {
            owner_.DispatchNotification(kind, object);
        } catch (...) {
            owner_.ReportException(std::current_exception());
        }
        return;
    }
    {
        TLock lock(sending_lock_);
        sending_.push_back(object);
    }
    {
        // The window's thread takes the engine lock to handle it.
        const TEngineUnlock unlocked;
        SendMessageW(hwnd_, kNotifyMessage, static_cast<WPARAM>(kind),
                     reinterpret_cast<LPARAM>(object));
    }
    TLock lock(sending_lock_);
    sending_.erase(std::find(sending_.begin(), sending_.end(), object));
}

bool TNotifyWindow::IsBeingSent(void* object) {
    TLock lock(sending_lock_);
    return std::find(sending_.begin(), sending_.end(), object) != sending_.end();
}

void TNotifyWindow::StartTimer(UINT_PTR key, UINT periodMs) {
    if (OnOwnThread()) {
        SetTimerNow(key, periodMs);
    } else if (!PostMessageW(hwnd_, kTimerRequestMessage, key, static_cast<LPARAM>(periodMs))) {
        throw EOpcError(E_FAIL, L"the update timer could not be requested");
    }
}

void TNotifyWindow::SetTimerNow(UINT_PTR key, UINT periodMs) {
    if (SetTimer(hwnd_, key, periodMs, nullptr) == 0) {
        throw EOpcError(E_FAIL, L"the update timer was refused");
    }
}

void TNotifyWindow::StopTimer(UINT_PTR key) noexcept {
    if (OnOwnThread()) {
        KillTimer(hwnd_, key);
    } else {
        // A tick already queued finds no group under its key.
        PostMessageW(hwnd_, kTimerRequestMessage, key, 0);
    }
}

void TNotifyWindow::Post(std::unique_ptr<TPostedWork> work) {
    TPostedWork* raw = work.get();
    posted_.insert(raw);
    if (!PostMessageW(hwnd_, kPostedWorkMessage, reinterpret_cast<WPARAM>(raw), 0)) {
        posted_.erase(raw);
        throw EOpcError(E_OUTOFMEMORY, L"the engine's message queue is full");
    }
    work.release();
}

LRESULT CALLBACK TNotifyWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    auto* self = reinterpret_cast<TNotifyWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT TNotifyWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
        case kTimerRequestMessage:
        case kNotifyMessage:
        case kPostedWorkMessage:
            break;
        default:
            return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
    const TEngineGuard engine;
    try {
        if (message == WM_TIMER) {
            owner_.DispatchTimer(wParam);
        } else if (message == kTimerRequestMessage) {
            if (lParam == 0) {
                KillTimer(hwnd_, wParam);
            } else {
                SetTimerNow(wParam, static_cast<UINT>(lParam));
            }
        } else if (message == kNotifyMessage) {
            void* object = reinterpret_cast<void*>(lParam);
            if (IsBeingSent(object)) {
                owner_.DispatchNotification(static_cast<TNotification>(wParam), object);
            }
        } else {
            auto* raw = reinterpret_cast<TPostedWork*>(wParam);
            if (posted_.erase(raw) == 1) {
                std::unique_ptr<TPostedWork> work(raw);
                work->Run();
            }
        }
        return 0;
    } catch (...) {
        owner_.ReportException(std::current_exception());
        return 1;
    }
}

}  // namespace porvex::opc
