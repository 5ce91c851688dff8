// An owning interface pointer: one reference, released when the holder goes.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace porvex::opc {

template <class T>
class TComPtr {
  public:
    TComPtr() noexcept = default;
    TComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference on p.
    explicit TComPtr(T* p) noexcept : p_(p) {
        if (p_) {
            p_->AddRef();
        }
    }
    TComPtr(const TComPtr& other) noexcept : TComPtr(other.p_) {}
    TComPtr(TComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~TComPtr() { Reset(); }

    TComPtr& operator=(const TComPtr& other) noexcept {
        TComPtr(other).Swap(*this);
        return *this;
    }
    TComPtr& operator=(TComPtr&& other) noexcept {
        TComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    TComPtr& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }

    // Adopts a reference the caller already owns.
    static TComPtr Adopt(T* p) noexcept {
        TComPtr out;
        out.p_ = p;
        return out;
    }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases what is held and returns the slot for an out argument.
    T** Put() noexcept {
        Reset();
        return &p_;
    }
    // Gives the reference away.
    T* Detach() noexcept { return std::exchange(p_, nullptr); }
    void Reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) {
            p->Release();
        }
    }
    void Swap(TComPtr& other) noexcept { std::swap(p_, other.p_); }

    // Another interface of the same object.
    template <class U>
    HRESULT As(TComPtr<U>& out) const noexcept {
        if (!p_) {
            out.Reset();
            return E_POINTER;
        }
        return p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out.Put()));
    }

  private:
    T* p_ = nullptr;
};

}  // namespace porvex::opc
