// The bound of the program's end. Once the program has begun to end ("OPC退出", closing the
// window, the last client of a program started by COM), it must be gone within a known time
// whatever else holds it: a client process that died holding objects, an outgoing call to a
// client that never answers, a COM shutdown that waits. Arm starts a watchdog thread; when
// the program has not disarmed it (by destroying this object at the very end of its entry)
// in time, the watchdog writes a line to the log and ends the process. The controllers
// notice the closed links as with any other end.
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

#include "ui/file_log.h"

namespace porvex::ui {

class TExitDeadline {
  public:
    explicit TExitDeadline(TFileLog& log);
    // Disarms the watchdog (the program has ended in time).
    ~TExitDeadline();
    TExitDeadline(const TExitDeadline&) = delete;
    TExitDeadline& operator=(const TExitDeadline&) = delete;

    // Starts the watchdog with the bound in milliseconds; later calls change nothing.
    void Arm(DWORD boundMs);
    bool Armed() const noexcept { return armed_.load(); }

    // The exit code of a process ended by the watchdog.
    static constexpr UINT kExitCode = 3;

  private:
    TFileLog& log_;
    HANDLE finished_ = nullptr;  // set by the destructor
    std::atomic<bool> armed_{false};
    std::thread watchdog_;
};

}  // namespace porvex::ui
