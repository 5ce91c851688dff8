// The engine's notification window: a hidden message-only window (no display needed) on
// the thread that created the item server. Through it run
//   - notifications 1-7 to the item server, synchronously: a direct call on the window's
//     own thread, and on any thread when the item server is callable on any thread
//     (TOpcItemServer::CallableOnAnyThread); otherwise message 0x8FFE is sent, wParam the
//     kind, lParam the object, with the engine lock released while it is sent;
//   - the periodic ticks of groups (WM_TIMER, the timer ID is the group's server handle).
//     A timer can only be set by the window's thread: from another thread the request is
//     posted (message 0x8FFD, wParam the key, lParam the period, 0 to stop);
//   - posted work such as queued asynchronous transactions (message 0x8FFF, wParam the
//     work object), which always runs after the call that posted it has returned.
// Each runs under the engine lock. An exception raised while handling any of them goes to
// the item server's HandleException and the window procedure returns 1.
#pragma once

#include <windows.h>

#include <memory>
#include <unordered_set>
#include <vector>

#include "opc/com/critical_section.h"
#include "opc/server/types.h"

namespace porvex::opc {

class TOpcItemServer;

inline constexpr UINT kTimerRequestMessage = 0x8FFD;
inline constexpr UINT kNotifyMessage = 0x8FFE;
inline constexpr UINT kPostedWorkMessage = 0x8FFF;
inline constexpr wchar_t kNotifyWindowClass[] = L"ZidiOpcServerWindow";

// Work posted to the window. Run is called when the window takes it; it is destroyed right
// after (also without running when the window goes first).
class TPostedWork {
  public:
    virtual ~TPostedWork() = default;
    virtual void Run() = 0;
};

class TNotifyWindow {
  public:
    // EOpcServer "OPCSERV: Could not allocate Opc Window" when the window cannot be made.
    explicit TNotifyWindow(TOpcItemServer& owner);
    TNotifyWindow(const TNotifyWindow&) = delete;
    TNotifyWindow& operator=(const TNotifyWindow&) = delete;
    // Destroys the window and any posted work it has not taken yet.
    ~TNotifyWindow();

    HWND Handle() const noexcept { return hwnd_; }
    // Whether the item server is callable on any thread (TOpcItemServer::
    // CallableOnAnyThread), set once when it is adopted: asked again later, a call running
    // while the item server is destroyed would get the base class's answer.
    void SetCallableOnAnyThread(bool callable) noexcept { callable_on_any_thread_ = callable; }

    // Sends notification kind for object and returns when the item server has handled it
    // (on the window's thread by a direct call).
    void Notify(TNotification kind, void* object);
    // Starts (or restarts with a new period) the periodic timer key; EOpcError E_FAIL when
    // the platform refuses (from another thread: when the request cannot be queued; a
    // timer the platform refuses then is reported to HandleException).
    void StartTimer(UINT_PTR key, UINT periodMs);
    void StopTimer(UINT_PTR key) noexcept;
    // Queues work; EOpcError E_OUTOFMEMORY when the message queue refuses it.
    void Post(std::unique_ptr<TPostedWork> work);
    std::size_t PendingWork() const noexcept { return posted_.size(); }

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool OnOwnThread() const noexcept { return GetCurrentThreadId() == thread_; }
    bool IsBeingSent(void* object);
    void SetTimerNow(UINT_PTR key, UINT periodMs);

    TOpcItemServer& owner_;
    HWND hwnd_ = nullptr;
    DWORD thread_ = 0;  // the window's thread
    bool callable_on_any_thread_ = false;
    // Objects of notifications being sent right now (nested sends possible): a notification
    // message naming anything else did not come from the engine and is ignored.
    std::vector<void*> sending_;
    // Guards sending_, which the sending thread changes while the window's thread reads it.
    TCriticalSection sending_lock_;
    // Posted work not taken yet (under the engine lock): only these are accepted from the
    // queue.
    std::unordered_set<TPostedWork*> posted_;
};

}  // namespace porvex::opc
