// An owning VARIANT.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string_view>

namespace porvex::win {

class Variant {
  public:
    Variant() noexcept { ::VariantInit(&v_); }
    // Deep copies; throw ComError with the system's code when the copy fails.
    explicit Variant(const VARIANT& other);
    Variant(const Variant& other);
    Variant& operator=(const Variant& other);
    Variant(Variant&& other) noexcept;
    Variant& operator=(Variant&& other) noexcept;
    ~Variant() { clear(); }

    // Typed values (a string copy throws std::bad_alloc when refused).
    static Variant i2(SHORT value) noexcept;
    static Variant i4(LONG value) noexcept;
    static Variant r4(FLOAT value) noexcept;
    static Variant r8(DOUBLE value) noexcept;
    static Variant boolean(bool value) noexcept;
    static Variant date(DATE value) noexcept;
    static Variant ui1(BYTE value) noexcept;
    static Variant string(std::wstring_view text);

    VARIANT& value() noexcept { return v_; }
    const VARIANT& value() const noexcept { return v_; }
    VARIANT* get() noexcept { return &v_; }
    const VARIANT* get() const noexcept { return &v_; }
    VARIANT* operator->() noexcept { return &v_; }
    const VARIANT* operator->() const noexcept { return &v_; }
    // Clears the value and returns it for an out argument.
    VARIANT* put() noexcept {
        clear();
        return &v_;
    }
    VARTYPE type() const noexcept { return v_.vt; }

    // Values that own nothing (numbers, dates, references) need no call into the system:
    // the OPC update tick clears one per polled item.
    void clear() noexcept {
        if (owns_memory(v_.vt)) {
            ::VariantClear(&v_);
        } else {
            v_.vt = VT_EMPTY;
        }
    }
    void swap(Variant& other) noexcept;
    // Moves the value out into a raw VARIANT the caller then owns (which must be empty or
    // already cleared); this one becomes empty.
    void move_to(VARIANT& target) noexcept;
    // Copies the value into target, which must be empty or already cleared; ComError when
    // the copy fails.
    void copy_to(VARIANT& target) const;

    // A copy converted to vt with the system's rules; the system's code on failure.
    HRESULT convert_to(VARTYPE vt, Variant& out) const noexcept;

  private:
    static bool owns_memory(VARTYPE vt) noexcept {
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

}  // namespace porvex::win
