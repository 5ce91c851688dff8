#include "door_opc/item_values.h"

#include <type_traits>

#include "core/text.h"
#include "core/utf.h"
#include "opc/com/errors.h"
#include "opc/idl/opc_errors.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex {

namespace {

std::string narrow(const wchar_t* text, UINT length) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

}  // namespace

opc::TAccessRights namespace_rights(PointKind kind) {
    return kind == PointKind::remote_open ? opc::kAccessReadWrite : opc::kAccessRead;
}

VARTYPE namespace_type(PointKind kind) {
    return kind == PointKind::last_card || kind == PointKind::invalid_card ? VT_BSTR : VT_I2;
}

opc::TAccessRights leaf_rights(const LeafOwner& owner) {
    return owner.role == LeafRole::point ? namespace_rights(owner.kind) : opc::kAccessRead;
}

VARTYPE canonical_type(const LeafOwner& owner) {
    switch (owner.role) {
        case LeafRole::point:
            return namespace_type(owner.kind);
        case LeafRole::swipe_time:
            return VT_DATE;
        default:
            return VT_EMPTY;
    }
}

win::Variant to_canonical(const ItemValue& value, VARTYPE type) {
    win::Variant plain = to_variant(value);
    if (type == VT_EMPTY || plain.type() == type) {
        return plain;
    }
    win::Variant converted;
    const HRESULT hr = plain.convert_to(type, converted);
    if (FAILED(hr)) {
        throw opc::EOpcError(hr);
    }
    return converted;
}

win::Variant empty_of(VARTYPE type) {
    switch (type) {
        case VT_BSTR:
            return win::Variant::string(L"");
        case VT_DATE:
            return win::Variant::date(0.0);
        case VT_I2:
            return win::Variant::i2(0);
        default:
            return win::Variant::i4(0);
    }
}

WORD link_quality(LinkState link) {
    switch (link) {
        case LinkState::connected:
            return OPC_QUALITY_GOOD;
        case LinkState::never_connected:
            return OPC_QUALITY_NOT_CONNECTED;
        case LinkState::lost:
            return OPC_QUALITY_COMM_FAILURE;
    }
    return OPC_QUALITY_BAD;
}

std::optional<std::int32_t> remote_open_request(const VARIANT& written) {
    if (written.vt == VT_BOOL) {
        return written.boolVal == VARIANT_FALSE ? 0 : 1;
    }
    if (written.vt == VT_BSTR) {
        const std::string text = ascii_lower(trim_blanks(
            written.bstrVal == nullptr ? std::string()
                                       : narrow(written.bstrVal, SysStringLen(written.bstrVal))));
        if (text == "true") {
            return 1;
        }
        if (text == "false") {
            return 0;
        }
        const std::optional<double> number = parse_float(text);
        if (!number) {
            return std::nullopt;
        }
        return *number == 1.0 ? 1 : 0;
    }
    VARIANT number;
    VariantInit(&number);
    // Compared as a double: 0.6 must not round to 1 and open the door.
    if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&written), 0, VT_R8))) {
        return std::nullopt;
    }
    return number.dblVal == 1.0 ? 1 : 0;
}

win::Variant to_variant(const ItemValue& value) {
    return std::visit(
        [](const auto& v) -> win::Variant {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int32_t>) {
                return win::Variant::i4(v);
            } else if constexpr (std::is_same_v<T, std::uint8_t>) {
                return win::Variant::ui1(v);
            } else if constexpr (std::is_same_v<T, double>) {
                return win::Variant::r8(v);
            } else {
                const std::u16string wide = utf8_to_utf16(v);
                return win::Variant::string(
                    std::wstring_view(reinterpret_cast<const wchar_t*>(wide.data()), wide.size()));
            }
        },
        value);
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
