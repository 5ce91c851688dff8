#include "item_server/item_values.h"

#include <limits>
#include <type_traits>

#include "core/utf.h"

namespace porvex {

namespace {

std::string narrow(const wchar_t* text, UINT length) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

ItemValue from_integer(long long value) {
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return static_cast<double>(value);
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

opc::TAccessRights namespace_rights(PointKind kind) {
    return kind == PointKind::remote_open ? opc::kAccessReadWrite : opc::kAccessRead;
}

VARTYPE namespace_type(PointKind kind) {
    return kind == PointKind::last_card || kind == PointKind::invalid_card ? VT_BSTR : VT_I2;
}

opc::TVariant to_variant(const ItemValue& value) {
    return std::visit(
        [](const auto& v) -> opc::TVariant {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int32_t>) {
                return opc::TVariant::I4(v);
            } else if constexpr (std::is_same_v<T, std::uint8_t>) {
                return opc::TVariant::Ui1(v);
            } else if constexpr (std::is_same_v<T, double>) {
                return opc::TVariant::R8(v);
            } else {
                const std::u16string wide = utf8_to_utf16(v);
                return opc::TVariant::String(
                    std::wstring_view(reinterpret_cast<const wchar_t*>(wide.data()), wide.size()));
            }
        },
        value);
}

ItemValue from_variant(const VARIANT& value) {
    switch (value.vt) {
        case VT_I1:
            return from_integer(value.cVal);
        case VT_UI1:
            return from_integer(value.bVal);
        case VT_I2:
            return from_integer(value.iVal);
        case VT_UI2:
            return from_integer(value.uiVal);
        case VT_I4:
            return from_integer(value.lVal);
        case VT_UI4:
            return from_integer(value.ulVal);
        case VT_INT:
            return from_integer(value.intVal);
        case VT_UINT:
            return from_integer(value.uintVal);
        case VT_I8:
            return from_integer(value.llVal);
        case VT_BOOL:
            return from_integer(value.boolVal);
        case VT_R4:
            return static_cast<double>(value.fltVal);
        case VT_R8:
            return value.dblVal;
        case VT_BSTR:
            return value.bstrVal == nullptr ? std::string()
                                            : narrow(value.bstrVal, SysStringLen(value.bstrVal));
        default:
            return std::string("?");
    }
}

std::wstring now_text() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t date[80] = {};
    wchar_t time[80] = {};
    if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 80) == 0) {
        date[0] = L'\0';
    }
    if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, 80) == 0) {
        time[0] = L'\0';
    }
    return std::wstring(date) + L" " + time;
}

}  // namespace porvex
