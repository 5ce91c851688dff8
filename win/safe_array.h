// An owning SAFEARRAY, and a scope that keeps one's data accessed.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <new>

#include "win/unique_any.h"

namespace porvex::win {

struct SafeArrayTraits {
    using type = SAFEARRAY*;
    static type invalid() noexcept { return nullptr; }
    static void close(type a) noexcept { ::SafeArrayDestroy(a); }
};

using UniqueSafeArray = UniqueAny<SafeArrayTraits>;

// A one-dimensional array of count elements of type vt, lower bound 0; throws
// std::bad_alloc when the system refuses.
inline UniqueSafeArray safe_array_vector(VARTYPE vt, ULONG count) {
    UniqueSafeArray out(::SafeArrayCreateVector(vt, 0, count));
    if (!out) {
        throw std::bad_alloc();
    }
    return out;
}

// The data of a SAFEARRAY, accessed for the lifetime of the scope.
class SafeArrayAccess {
  public:
    explicit SafeArrayAccess(SAFEARRAY* array) noexcept : a_(array) {
        if (a_ && FAILED(::SafeArrayAccessData(a_, &data_))) {
            a_ = nullptr;
            data_ = nullptr;
        }
    }
    SafeArrayAccess(const SafeArrayAccess&) = delete;
    SafeArrayAccess& operator=(const SafeArrayAccess&) = delete;
    ~SafeArrayAccess() {
        if (a_) {
            ::SafeArrayUnaccessData(a_);
        }
    }
    bool valid() const noexcept { return data_ != nullptr; }
    void* data() const noexcept { return data_; }

  private:
    SAFEARRAY* a_;
    void* data_ = nullptr;
};

}  // namespace porvex::win
