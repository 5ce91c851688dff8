// An owning VARIANT.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string_view>

namespace porvex::opc {

class TVariant {
  public:
    TVariant() noexcept { VariantInit(&v_); }
    // Deep copies; throw EOpcError with the system's code when the copy fails.
    explicit TVariant(const VARIANT& other);
    TVariant(const TVariant& other);
    TVariant& operator=(const TVariant& other);
    TVariant(TVariant&& other) noexcept;
    TVariant& operator=(TVariant&& other) noexcept;
    ~TVariant() { Clear(); }

    // Typed values (a string copy throws std::bad_alloc when refused).
    static TVariant I2(SHORT value) noexcept;
    static TVariant I4(LONG value) noexcept;
    static TVariant R4(FLOAT value) noexcept;
    static TVariant R8(DOUBLE value) noexcept;
    static TVariant Bool(bool value) noexcept;
    static TVariant Date(DATE value) noexcept;
    static TVariant Ui1(BYTE value) noexcept;
    static TVariant String(std::wstring_view text);

    VARIANT& Get() noexcept { return v_; }
    const VARIANT& Get() const noexcept { return v_; }
    VARIANT* Ptr() noexcept { return &v_; }
    const VARIANT* Ptr() const noexcept { return &v_; }
    VARTYPE Type() const noexcept { return v_.vt; }

    // Values that own nothing (numbers, dates, references) need no call into the system:
    // the update tick clears one per polled item.
    void Clear() noexcept {
        if (OwnsMemory(v_.vt)) {
            VariantClear(&v_);
        } else {
            v_.vt = VT_EMPTY;
        }
    }
    void Swap(TVariant& other) noexcept;
    // Moves the value out into a raw VARIANT the caller then owns (which must be empty or
    // already cleared); this one becomes empty.
    void MoveTo(VARIANT& target) noexcept;
    // Copies the value into target, which must be empty or already cleared.
    void CopyTo(VARIANT& target) const;

    // A copy converted to vt with the system's rules; the system's code on failure.
    HRESULT ConvertTo(VARTYPE vt, TVariant& out) const noexcept;

  private:
    static bool OwnsMemory(VARTYPE vt) noexcept {
        if ((vt & VT_BYREF) != 0) {
            return false;
        }
        if ((vt & VT_ARRAY) != 0) {
            return true;
        }
        switch (vt) {
            case VT_BSTR:
            case VT_DISPATCH:
            case VT_UNKNOWN:
            case VT_RECORD:
            case VT_VARIANT:
                return true;
            default:
                return false;
        }
    }

    VARIANT v_;
};

}  // namespace porvex::opc
