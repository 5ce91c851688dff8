#include "opc/com/variant.h"

#include <cstring>
#include <new>
#include <utility>

#include "opc/com/errors.h"

namespace porvex::opc {

TVariant::TVariant(const VARIANT& other) {
    VariantInit(&v_);
    CheckResult(VariantCopy(&v_, const_cast<VARIANT*>(&other)));
}

TVariant::TVariant(const TVariant& other) : TVariant(other.v_) {}

TVariant& TVariant::operator=(const TVariant& other) {
    if (this != &other) {
        TVariant copy(other);
        Swap(copy);
    }
    return *this;
}

TVariant::TVariant(TVariant&& other) noexcept {
    std::memcpy(&v_, &other.v_, sizeof(VARIANT));
    VariantInit(&other.v_);
}

TVariant& TVariant::operator=(TVariant&& other) noexcept {
    if (this != &other) {
        VariantClear(&v_);
        std::memcpy(&v_, &other.v_, sizeof(VARIANT));
        VariantInit(&other.v_);
    }
    return *this;
}

TVariant TVariant::I2(SHORT value) noexcept {
    TVariant v;
    v.v_.vt = VT_I2;
    v.v_.iVal = value;
    return v;
}

TVariant TVariant::I4(LONG value) noexcept {
    TVariant v;
    v.v_.vt = VT_I4;
    v.v_.lVal = value;
    return v;
}

TVariant TVariant::R4(FLOAT value) noexcept {
    TVariant v;
    v.v_.vt = VT_R4;
    v.v_.fltVal = value;
    return v;
}

TVariant TVariant::R8(DOUBLE value) noexcept {
    TVariant v;
    v.v_.vt = VT_R8;
    v.v_.dblVal = value;
    return v;
}

TVariant TVariant::Bool(bool value) noexcept {
    TVariant v;
    v.v_.vt = VT_BOOL;
    v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

TVariant TVariant::Date(DATE value) noexcept {
    TVariant v;
    v.v_.vt = VT_DATE;
    v.v_.date = value;
    return v;
}

TVariant TVariant::Ui1(BYTE value) noexcept {
    TVariant v;
    v.v_.vt = VT_UI1;
    v.v_.bVal = value;
    return v;
}

TVariant TVariant::String(std::wstring_view text) {
    TVariant v;
    BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!b) {
        throw std::bad_alloc();
    }
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = b;
    return v;
}

void TVariant::Swap(TVariant& other) noexcept {
    VARIANT tmp;
    std::memcpy(&tmp, &v_, sizeof(VARIANT));
    std::memcpy(&v_, &other.v_, sizeof(VARIANT));
    std::memcpy(&other.v_, &tmp, sizeof(VARIANT));
}

void TVariant::MoveTo(VARIANT& target) noexcept {
    std::memcpy(&target, &v_, sizeof(VARIANT));
    VariantInit(&v_);
}

void TVariant::CopyTo(VARIANT& target) const {
    VariantInit(&target);
    CheckResult(VariantCopy(&target, const_cast<VARIANT*>(&v_)));
}

HRESULT TVariant::ConvertTo(VARTYPE vt, TVariant& out) const noexcept {
    out.Clear();
    return VariantChangeType(&out.v_, const_cast<VARIANT*>(&v_), 0, vt);
}

}  // namespace porvex::opc
