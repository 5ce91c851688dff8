// An owning SAFEARRAY.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <new>
#include <utility>

namespace porvex::opc {

class TSafeArray {
  public:
    TSafeArray() noexcept = default;
    explicit TSafeArray(SAFEARRAY* adopted) noexcept : a_(adopted) {}
    TSafeArray(const TSafeArray&) = delete;
    TSafeArray& operator=(const TSafeArray&) = delete;
    TSafeArray(TSafeArray&& other) noexcept : a_(std::exchange(other.a_, nullptr)) {}
    TSafeArray& operator=(TSafeArray&& other) noexcept {
        if (this != &other) {
            Reset();
            a_ = std::exchange(other.a_, nullptr);
        }
        return *this;
    }
    ~TSafeArray() { Reset(); }

    // A one-dimensional array of count elements of type vt, lower bound 0; throws
    // std::bad_alloc when the system refuses.
    static TSafeArray Vector(VARTYPE vt, ULONG count) {
        TSafeArray out(SafeArrayCreateVector(vt, 0, count));
        if (!out.a_) {
            throw std::bad_alloc();
        }
        return out;
    }

    SAFEARRAY* Get() const noexcept { return a_; }
    SAFEARRAY* Detach() noexcept { return std::exchange(a_, nullptr); }
    void Reset() noexcept {
        if (a_) {
            SafeArrayDestroy(std::exchange(a_, nullptr));
        }
    }

  private:
    SAFEARRAY* a_ = nullptr;
};

// Holds the data of a SAFEARRAY accessed for the lifetime of the holder.
class TSafeArrayData {
  public:
    explicit TSafeArrayData(SAFEARRAY* array) noexcept : a_(array) {
        if (a_ && FAILED(SafeArrayAccessData(a_, &data_))) {
            a_ = nullptr;
            data_ = nullptr;
        }
    }
    TSafeArrayData(const TSafeArrayData&) = delete;
    TSafeArrayData& operator=(const TSafeArrayData&) = delete;
    ~TSafeArrayData() {
        if (a_) {
            SafeArrayUnaccessData(a_);
        }
    }
    bool Valid() const noexcept { return data_ != nullptr; }
    void* Data() const noexcept { return data_; }

  private:
    SAFEARRAY* a_;
    void* data_ = nullptr;
};

}  // namespace porvex::opc
