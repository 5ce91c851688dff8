#include "persistence.h"

#include <oleauto.h>

#include "win/variant.h"

namespace tarnet::ax {

namespace {

namespace win = porvex::win;

HRESULT read_as(IPropertyBag* bag, IErrorLog* log, const wchar_t* name, VARTYPE type,
                win::Variant& value) {
    V_VT(value.get()) = type;
    const HRESULT hr = bag->Read(name, value.get(), log);
    if (FAILED(hr)) {
        // A bag without the value (an older or hand-written one) keeps the default.
        return hr == E_INVALIDARG || hr == E_FAIL ? S_FALSE : hr;
    }
    if (V_VT(value.get()) != type) {
        win::Variant converted;
        if (FAILED(::VariantChangeType(converted.get(), value.get(), 0, type))) {
            return DISP_E_TYPEMISMATCH;
        }
        value = std::move(converted);
    }
    return S_OK;
}

}  // namespace

HRESULT read_short(IPropertyBag* bag, IErrorLog* log, const wchar_t* name, std::int16_t& value) {
    win::Variant v;
    const HRESULT hr = read_as(bag, log, name, VT_I2, v);
    if (hr == S_OK) {
        value = V_I2(v.get());
    }
    return hr;
}

HRESULT write_short(IPropertyBag* bag, const wchar_t* name, std::int16_t value) {
    win::Variant v;
    V_VT(v.get()) = VT_I2;
    V_I2(v.get()) = value;
    return bag->Write(name, v.get());
}

HRESULT read_long(IPropertyBag* bag, IErrorLog* log, const wchar_t* name, LONG& value) {
    win::Variant v;
    const HRESULT hr = read_as(bag, log, name, VT_I4, v);
    if (hr == S_OK) {
        value = V_I4(v.get());
    }
    return hr;
}

HRESULT write_long(IPropertyBag* bag, const wchar_t* name, LONG value) {
    win::Variant v;
    V_VT(v.get()) = VT_I4;
    V_I4(v.get()) = value;
    return bag->Write(name, v.get());
}

}  // namespace tarnet::ax
