// The bound of the program's end. Once the program has begun to end ("OPC退出", closing the
// window, the last client of a program started by COM), it must be gone within a known time
// whatever else holds it: a client process that died holding objects, an outgoing call to a
// client that never answers, a COM shutdown that waits. Arm starts a watchdog thread; when
// the program has not disarmed it (by destroying this object at the very end of its entry)
// in time, the watchdog asks the main thread (a message to this object's message-only
// window, which COM's wait for an outgoing call still handles) to withdraw the class objects
// from COM (BeforeEnd), write a line to the log and end the process; should the main thread
// not handle messages either, the watchdog ends the process itself kMainThreadGraceMs later.
// Withdrawing first matters: an ended process whose class object COM still lists (Wine's
// COM keeps it) would make every later activation fail. The controllers notice the closed
// links as with any other end.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>

#include "ui/file_log.h"
#include "win/unique_any.h"

namespace porvex::ui {

class TExitDeadline {
  public:
    // On the main thread (the window belongs to it).
    explicit TExitDeadline(TFileLog& log);
    // Disarms the watchdog (the program has ended in time).
    ~TExitDeadline();
    TExitDeadline(const TExitDeadline&) = delete;
    TExitDeadline& operator=(const TExitDeadline&) = delete;

    // Starts the watchdog with the bound in milliseconds; later calls change nothing.
    void Arm(DWORD boundMs);
    bool Armed() const noexcept { return armed_.load(); }
    // What the main thread does right before the process is ended (set while it applies).
    void SetBeforeEnd(std::function<void()> action) { before_end_ = std::move(action); }

    // The exit code of a process ended by the watchdog.
    static constexpr UINT kExitCode = 3;
    static constexpr DWORD kMainThreadGraceMs = 2000;

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wp, LPARAM lp);
    void EndNow(const wchar_t* who);

    TFileLog& log_;
    HWND window_ = nullptr;
    win::UniqueHandle finished_;  // set by the destructor
    DWORD bound_ms_ = 0;
    std::atomic<bool> armed_{false};
    std::function<void()> before_end_;
    std::thread watchdog_;
};

}  // namespace porvex::ui
