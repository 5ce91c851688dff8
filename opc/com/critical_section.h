// A recursive lock of the platform, and its scope guard.
#pragma once

#include <windows.h>

namespace porvex::opc {

class TCriticalSection {
  public:
    TCriticalSection() noexcept { InitializeCriticalSection(&cs_); }
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;
    ~TCriticalSection() { DeleteCriticalSection(&cs_); }

    void Enter() noexcept { EnterCriticalSection(&cs_); }
    void Leave() noexcept { LeaveCriticalSection(&cs_); }

  private:
    CRITICAL_SECTION cs_;
};

class TLock {
  public:
    explicit TLock(TCriticalSection& cs) noexcept : cs_(cs) { cs_.Enter(); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;
    ~TLock() { cs_.Leave(); }

  private:
    TCriticalSection& cs_;
};

}  // namespace porvex::opc
