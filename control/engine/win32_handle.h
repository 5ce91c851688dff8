// Owned Win32 handles: kernel handles and the engine's gates.
#pragma once

#include <windows.h>

#include <mutex>

#include <utility>

namespace tarnet {

// A kernel handle closed by the destructor. Move-only.
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            h_ = std::exchange(other.h_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset() {
        if (h_ != nullptr) {
            ::CloseHandle(h_);
            h_ = nullptr;
        }
    }

  private:
    HANDLE h_ = nullptr;
};

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
    UniqueHandle event_;
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
    UniqueHandle event_;
};

}  // namespace tarnet
