#include "win/variant.h"

#include <cstring>
#include <new>

#include "win/com_error.h"

namespace porvex::win {
namespace {

// A variant of one scalar type: set stores the value in the field of that type.
template <class Set>
Variant scalar(VARTYPE type, Set set) noexcept {
    Variant v;
    VARIANT& raw = *v.put();
    raw.vt = type;
    set(raw);
    return v;
}

}  // namespace

Variant::Variant(const VARIANT& other) {
    ::VariantInit(&v_);
    throw_if_failed(::VariantCopy(&v_, const_cast<VARIANT*>(&other)), "VARIANT copy failed");
}

Variant::Variant(const Variant& other) : Variant(other.v_) {}

Variant& Variant::operator=(const Variant& other) {
    if (this != &other) {
        Variant copy(other);
        swap(copy);
    }
    return *this;
}

Variant::Variant(Variant&& other) noexcept {
    std::memcpy(&v_, &other.v_, sizeof(VARIANT));
    ::VariantInit(&other.v_);
}

Variant& Variant::operator=(Variant&& other) noexcept {
    if (this != &other) {
        ::VariantClear(&v_);
        std::memcpy(&v_, &other.v_, sizeof(VARIANT));
        ::VariantInit(&other.v_);
    }
    return *this;
}

Variant Variant::i2(SHORT value) noexcept {
    return scalar(VT_I2, [&](VARIANT& raw) { raw.iVal = value; });
}

Variant Variant::i4(LONG value) noexcept {
    return scalar(VT_I4, [&](VARIANT& raw) { raw.lVal = value; });
}

Variant Variant::r4(FLOAT value) noexcept {
    return scalar(VT_R4, [&](VARIANT& raw) { raw.fltVal = value; });
}

Variant Variant::r8(DOUBLE value) noexcept {
    return scalar(VT_R8, [&](VARIANT& raw) { raw.dblVal = value; });
}

Variant Variant::boolean(bool value) noexcept {
    return scalar(VT_BOOL,
                  [&](VARIANT& raw) { raw.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}

Variant Variant::date(DATE value) noexcept {
    return scalar(VT_DATE, [&](VARIANT& raw) { raw.date = value; });
}

Variant Variant::ui1(BYTE value) noexcept {
    return scalar(VT_UI1, [&](VARIANT& raw) { raw.bVal = value; });
}

Variant Variant::string(std::wstring_view text) {
    Variant v;
    BSTR b = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!b) {
        throw std::bad_alloc();
    }
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = b;
    return v;
}

void Variant::swap(Variant& other) noexcept {
    VARIANT tmp;
    std::memcpy(&tmp, &v_, sizeof(VARIANT));
    std::memcpy(&v_, &other.v_, sizeof(VARIANT));
    std::memcpy(&other.v_, &tmp, sizeof(VARIANT));
}

void Variant::move_to(VARIANT& target) noexcept {
    std::memcpy(&target, &v_, sizeof(VARIANT));
    ::VariantInit(&v_);
}

void Variant::copy_to(VARIANT& target) const {
    ::VariantInit(&target);
    throw_if_failed(::VariantCopy(&target, const_cast<VARIANT*>(&v_)), "VARIANT copy failed");
}

HRESULT Variant::convert_to(VARTYPE vt, Variant& out) const noexcept {
    out.clear();
    return ::VariantChangeType(&out.v_, const_cast<VARIANT*>(&v_), 0, vt);
}

}  // namespace porvex::win
