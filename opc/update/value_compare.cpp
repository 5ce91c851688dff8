#include "opc/update/value_compare.h"

#include <cmath>
#include <cstring>

#include "opc/items/item_types.h"
#include "win/variant.h"

namespace porvex::opc {
namespace {

bool SameString(BSTR a, BSTR b) noexcept {
    const UINT la = a ? SysStringLen(a) : 0;
    const UINT lb = b ? SysStringLen(b) : 0;
    return la == lb && (la == 0 || std::memcmp(a, b, la * sizeof(OLECHAR)) == 0);
}

bool SameArray(const SAFEARRAY* a, const SAFEARRAY* b, VARTYPE elementType) noexcept {
    if (a == b) {
        return true;
    }
    if (!a || !b || a->cDims != 1 || b->cDims != 1) {
        return false;
    }
    const ULONG count = a->rgsabound[0].cElements;
    if (count != b->rgsabound[0].cElements || a->cbElements != b->cbElements) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    if (!a->pvData || !b->pvData) {
        return a->pvData == b->pvData;
    }
    if (elementType == VT_BSTR) {
        const BSTR* sa = static_cast<const BSTR*>(a->pvData);
        const BSTR* sb = static_cast<const BSTR*>(b->pvData);
        for (ULONG i = 0; i < count; ++i) {
            if (!SameString(sa[i], sb[i])) {
                return false;
            }
        }
        return true;
    }
    return std::memcmp(a->pvData, b->pvData, static_cast<std::size_t>(count) * a->cbElements) == 0;
}

bool SameDouble(double a, double b) noexcept { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

bool SameValue(const VARIANT& a, const VARIANT& b) noexcept {
    if (a.vt != b.vt) {
        return false;
    }
    if ((a.vt & VT_ARRAY) != 0) {
        if ((a.vt & VT_BYREF) != 0) {
            return a.pparray == b.pparray;
        }
        return SameArray(a.parray, b.parray, static_cast<VARTYPE>(a.vt & VT_TYPEMASK));
    }
    if ((a.vt & VT_BYREF) != 0) {
        return a.byref == b.byref;
    }
    switch (a.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return true;
        case VT_I1:
        case VT_UI1:
            return a.bVal == b.bVal;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return a.iVal == b.iVal;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
            return a.lVal == b.lVal;
        case VT_R4:
            return SameDouble(a.fltVal, b.fltVal);
        case VT_R8:
        case VT_DATE:
            return SameDouble(a.dblVal, b.dblVal);
        case VT_CY:
        case VT_I8:
        case VT_UI8:
            return a.llVal == b.llVal;
        case VT_BSTR:
            return SameString(a.bstrVal, b.bstrVal);
        case VT_DECIMAL:
            return std::memcmp(&a.decVal, &b.decVal, sizeof(DECIMAL)) == 0;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return a.punkVal == b.punkVal;
        default:
            return VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), LOCALE_USER_DEFAULT,
                          0) == static_cast<HRESULT>(VARCMP_EQ);
    }
}

bool NumericValue(const VARIANT& v, double& out) noexcept {
    switch (v.vt) {
        case VT_I1:
            out = v.cVal;
            return true;
        case VT_UI1:
            out = v.bVal;
            return true;
        case VT_I2:
            out = v.iVal;
            return true;
        case VT_UI2:
            out = v.uiVal;
            return true;
        case VT_I4:
        case VT_INT:
            out = v.lVal;
            return true;
        case VT_UI4:
        case VT_UINT:
            out = v.ulVal;
            return true;
        case VT_R4:
            out = v.fltVal;
            return true;
        case VT_R8:
            out = v.dblVal;
            return true;
        case VT_CY:
            out = static_cast<double>(v.cyVal.int64) / 10000.0;
            return true;
        default:
            return false;
    }
}

void AnalogLimits(IEUInfo& info, double& low, double& high) {
    low = 0.0;
    high = 0.0;
    win::Variant limits;
    info.EUInfo(limits);
    const VARIANT& v = limits.value();
    if ((v.vt & VT_ARRAY) == 0 || (v.vt & VT_BYREF) != 0 || !v.parray ||
        SafeArrayGetDim(v.parray) != 1) {
        return;
    }
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(v.parray, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(v.parray, 1, &upper)) || upper - lower < 1) {
        return;
    }
    const VARTYPE element = static_cast<VARTYPE>(v.vt & VT_TYPEMASK);
    double bounds[2] = {0.0, 0.0};
    for (LONG i = 0; i < 2; ++i) {
        LONG index = lower + i;
        win::Variant item;
        if (element == VT_VARIANT) {
            if (FAILED(SafeArrayGetElement(v.parray, &index, item.get()))) {
                return;
            }
        } else {
            VARIANT probe;
            std::memset(&probe, 0, sizeof(probe));
            probe.vt = element;
            if (!NumericValue(probe, bounds[i]) ||
                FAILED(SafeArrayGetElement(v.parray, &index, &probe.llVal))) {
                return;
            }
            std::memcpy(item.get(), &probe, sizeof(VARIANT));
        }
        if (!NumericValue(item.value(), bounds[i])) {
            return;
        }
    }
    low = bounds[0];
    high = bounds[1];
}

}  // namespace porvex::opc
