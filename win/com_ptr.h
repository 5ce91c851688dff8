// An owning interface pointer: holds one reference, released when it goes.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace porvex::win {

template <class T>
class ComPtr {
  public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference on p.
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_) {
            p_->AddRef();
        }
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Adopts a reference the caller already owns.
    static ComPtr adopt(T* p) noexcept {
        ComPtr out;
        out.p_ = p;
        return out;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases what is held and returns the slot for an out argument.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    IUnknown** put_unknown() noexcept { return reinterpret_cast<IUnknown**>(put()); }
    // Gives the reference away.
    T* detach() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) {
            p->Release();
        }
    }
    void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }
    // Hands a new reference to an out argument (which may be null: then nothing happens).
    void copy_to(T** out) const noexcept {
        if (out) {
            *out = p_;
            if (p_) {
                p_->AddRef();
            }
        }
    }

    // Another interface of the same object: the object's result (E_POINTER when empty).
    template <class U>
    HRESULT query(ComPtr<U>& out) const noexcept {
        return query(__uuidof(U), out);
    }
    // The same for an interface known by its IID only (dispinterfaces, runtime IIDs).
    template <class U>
    HRESULT query(REFIID iid, ComPtr<U>& out) const noexcept {
        out.reset();
        if (!p_) {
            return E_POINTER;
        }
        return p_->QueryInterface(iid, out.put_void());
    }
    // Another interface of the same object, or null when the object does not answer it.
    template <class U>
    ComPtr<U> as() const noexcept {
        ComPtr<U> out;
        query(out);
        return out;
    }
    template <class U>
    ComPtr<U> as(REFIID iid) const noexcept {
        ComPtr<U> out;
        query(iid, out);
        return out;
    }

  private:
    T* p_ = nullptr;
};

template <class T, class U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
    return a.get() == b.get();
}
template <class T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) noexcept {
    return a.get() == nullptr;
}

}  // namespace porvex::win
