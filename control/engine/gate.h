// The engine's gates and its ping lock: manual- and auto-reset events that threads wait
// for (also while letting sent messages through, which a mutex cannot do).
#pragma once

#include <windows.h>

#include <mutex>

#include "win/unique_any.h"

namespace tarnet {

// A gate: a manual-reset event. Threads close it while they do something others must not
// overlap with and open it when done; others wait until it is open. Created open.
//
// The gate remembers whether it is open, so opening an open gate (the poll thread does so
// for every supervised link of a pass) costs no system call: under Wine every SetEvent is
// a round trip to the wineserver, 500 of them a pass held reports up by ~150 ms. The
// remembered state and the event change together under a small lock, so a gate opened
// and closed by two threads at once ends as the later call left it.
class Gate {
  public:
    Gate() : event_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}
    bool valid() const { return static_cast<bool>(event_); }
    void open() const {
        std::lock_guard guard(lock_);
        if (!open_) {
            ::SetEvent(event_.get());
            open_ = true;
        }
    }
    void close() const {
        std::lock_guard guard(lock_);
        if (open_) {
            ::ResetEvent(event_.get());
            open_ = false;
        }
    }
    bool is_open() const { return ::WaitForSingleObject(event_.get(), 0) == WAIT_OBJECT_0; }
    HANDLE handle() const { return event_.get(); }

  private:
    porvex::win::UniqueHandle event_;
    mutable std::mutex lock_;
    mutable bool open_ = true;
};

// A lock that a waiting thread can combine with message pumping: an auto-reset event
// that is set while the lock is free.
class EventLock {
  public:
    EventLock() : event_(::CreateEventW(nullptr, FALSE, TRUE, nullptr)) {}
    HANDLE handle() const { return event_.get(); }  // wait for it to take the lock
    void unlock() const { ::SetEvent(event_.get()); }

  private:
    porvex::win::UniqueHandle event_;
};

}  // namespace tarnet
