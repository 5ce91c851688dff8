// TClientPtr: an owning pointer to an interface of a client's object (a proxy when the
// client is another process), such as a callback or a shutdown sink. Like win::ComPtr, but
// its release waits until the calling thread is out of the engine lock
// (TEngineLock::ReleaseOutside): a proxy's last release is a call to the client's process,
// which may be slow, dead, or waiting for this server.
#pragma once

#include <windows.h>

#include <cstddef>
#include <utility>

#include "opc/com/engine_lock.h"
#include "win/com_ptr.h"

namespace porvex::opc {

template <class T>
class TClientPtr {
  public:
    TClientPtr() noexcept = default;
    TClientPtr(std::nullptr_t) noexcept {}
    TClientPtr(win::ComPtr<T> p) noexcept : p_(std::move(p)) {}
    TClientPtr(const TClientPtr&) noexcept = default;
    TClientPtr(TClientPtr&&) noexcept = default;
    ~TClientPtr() { reset(); }
    TClientPtr& operator=(TClientPtr other) noexcept {
        p_.swap(other.p_);
        return *this;
    }

    T* get() const noexcept { return p_.get(); }
    T* operator->() const noexcept { return p_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(p_); }
    // The reference leaves the ComPtr here, so that its own destructor releases nothing.
    void reset() noexcept { TEngineLock::ReleaseOutside(p_.detach()); }

  private:
    win::ComPtr<T> p_;
};

}  // namespace porvex::opc
