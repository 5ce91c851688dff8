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
    TClientPtr(win::ComPtr<T> p) noexcept : p_(p.detach()) {}
    TClientPtr(const TClientPtr& other) noexcept : p_(other.p_) {
        if (p_) {
            p_->AddRef();
        }
    }
    TClientPtr(TClientPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~TClientPtr() { reset(); }
    TClientPtr& operator=(TClientPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept { TEngineLock::ReleaseOutside(std::exchange(p_, nullptr)); }

  private:
    T* p_ = nullptr;
};

}  // namespace porvex::opc
