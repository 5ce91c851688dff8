#include "value_text.h"

#include <charconv>
#include <cstdio>
#include <cwctype>
#include <vector>

#include "opc/com/errors.h"
#include "opc/com/text.h"
#include "win/safe_array.h"

namespace porvex::opcclient {
namespace {

using opc::EOpcError;
using win::Variant;

const wchar_t* BaseTypeName(VARTYPE type) {
    switch (type) {
        case VT_EMPTY:
            return L"EMPTY";
        case VT_NULL:
            return L"NULL";
        case VT_I2:
            return L"I2";
        case VT_I4:
            return L"I4";
        case VT_R4:
            return L"R4";
        case VT_R8:
            return L"R8";
        case VT_CY:
            return L"CY";
        case VT_DATE:
            return L"DATE";
        case VT_BSTR:
            return L"BSTR";
        case VT_DISPATCH:
            return L"DISPATCH";
        case VT_ERROR:
            return L"ERROR";
        case VT_BOOL:
            return L"BOOL";
        case VT_VARIANT:
            return L"VARIANT";
        case VT_UNKNOWN:
            return L"UNKNOWN";
        case VT_DECIMAL:
            return L"DECIMAL";
        case VT_I1:
            return L"I1";
        case VT_UI1:
            return L"UI1";
        case VT_UI2:
            return L"UI2";
        case VT_UI4:
            return L"UI4";
        case VT_I8:
            return L"I8";
        case VT_UI8:
            return L"UI8";
        case VT_INT:
            return L"INT";
        case VT_UINT:
            return L"UINT";
        default:
            return nullptr;
    }
}

std::wstring Hex(unsigned long value, int digits) {
    wchar_t text[24];
    std::swprintf(text, 24, L"0x%0*lX", digits, value);
    return text;
}

template <class T>
std::wstring Number(T value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::wstring(text, result.ptr);
}

std::wstring Quoted(const wchar_t* text, UINT length) {
    std::wstring out = L"\"";
    for (UINT i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        switch (c) {
            case L'"':
                out += L"\\\"";
                break;
            case L'\\':
                out += L"\\\\";
                break;
            case L'\n':
                out += L"\\n";
                break;
            case L'\r':
                out += L"\\r";
                break;
            case L'\t':
                out += L"\\t";
                break;
            default:
                if (c < 0x20) {
                    wchar_t escape[8];
                    std::swprintf(escape, 8, L"\\u%04X", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    return out + L"\"";
}

std::wstring DateText(DATE date) {
    SYSTEMTIME st{};
    if (!VariantTimeToSystemTime(date, &st)) {
        return Number(date);
    }
    // The system conversion drops milliseconds: take them from the fraction of the day.
    double day_ms = (date - static_cast<double>(static_cast<long long>(date))) * 86400000.0;
    if (day_ms < 0) {
        day_ms = -day_ms;
    }
    const int ms = static_cast<int>(static_cast<long long>(day_ms + 0.5) % 1000);
    wchar_t text[40];
    std::swprintf(text, 40, L"%04u-%02u-%02uT%02u:%02u:%02u.%03d", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond, ms);
    return text;
}

std::wstring ScalarText(VARTYPE type, const void* data) {
    switch (type) {
        case VT_EMPTY:
            return L"(empty)";
        case VT_NULL:
            return L"(null)";
        case VT_I1:
            return Number(static_cast<int>(*static_cast<const CHAR*>(data)));
        case VT_UI1:
            return Number(static_cast<unsigned>(*static_cast<const BYTE*>(data)));
        case VT_I2:
            return Number(*static_cast<const SHORT*>(data));
        case VT_UI2:
            return Number(*static_cast<const USHORT*>(data));
        case VT_I4:
        case VT_INT:
            return Number(*static_cast<const LONG*>(data));
        case VT_UI4:
        case VT_UINT:
            return Number(*static_cast<const ULONG*>(data));
        case VT_I8:
            return Number(*static_cast<const LONGLONG*>(data));
        case VT_UI8:
            return Number(*static_cast<const ULONGLONG*>(data));
        case VT_R4:
            return Number(*static_cast<const FLOAT*>(data));
        case VT_R8:
            return Number(*static_cast<const DOUBLE*>(data));
        case VT_BOOL:
            return *static_cast<const VARIANT_BOOL*>(data) ? L"true" : L"false";
        case VT_DATE:
            return DateText(*static_cast<const DATE*>(data));
        case VT_ERROR:
            return Hex(static_cast<unsigned long>(*static_cast<const SCODE*>(data)), 8);
        case VT_CY: {
            const LONGLONG units = static_cast<const CY*>(data)->int64;
            wchar_t text[48];
            const unsigned long long magnitude =
                units < 0 ? 0ULL - static_cast<unsigned long long>(units) : units;
            std::swprintf(text, 48, L"%s%llu.%04llu", units < 0 ? L"-" : L"", magnitude / 10000,
                          magnitude % 10000);
            return text;
        }
        case VT_BSTR: {
            const BSTR text = *static_cast<const BSTR*>(data);
            return Quoted(text ? text : L"", text ? SysStringLen(text) : 0);
        }
        case VT_VARIANT:
            return ValueText(*static_cast<const VARIANT*>(data));
        default:
            return L"(" + TypeName(type) + L")";
    }
}

std::wstring ArrayText(const VARIANT& value) {
    SAFEARRAY* array = value.parray;
    if (!array) {
        return L"[]";
    }
    std::size_t count = array->cDims ? 1 : 0;
    for (USHORT d = 0; d < array->cDims; ++d) {
        count *= array->rgsabound[d].cElements;
    }
    win::SafeArrayAccess data(array);
    if (count > 0 && !data.valid()) {
        return L"(array)";
    }
    const VARTYPE element = value.vt & VT_TYPEMASK;
    std::wstring out = L"[";
    const auto* bytes = static_cast<const BYTE*>(data.data());
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            out += L", ";
        }
        out += ScalarText(element, bytes + i * array->cbElements);
    }
    return out + L"]";
}

// Text without surrounding blanks.
std::wstring Trim(const std::wstring& text) { return opc::TrimBlanks(text); }

std::wstring Unquote(const std::wstring& text) {
    const std::wstring t = Trim(text);
    if (t.size() < 2 || t.front() != L'"' || t.back() != L'"') {
        return text;
    }
    std::wstring out;
    for (std::size_t i = 1; i + 1 < t.size(); ++i) {
        if (t[i] == L'\\' && i + 2 < t.size()) {
            const wchar_t c = t[++i];
            switch (c) {
                case L'n':
                    out += L'\n';
                    break;
                case L'r':
                    out += L'\r';
                    break;
                case L't':
                    out += L'\t';
                    break;
                case L'u':
                    if (i + 4 < t.size()) {
                        out += static_cast<wchar_t>(
                            std::wcstoul(t.substr(i + 1, 4).c_str(), nullptr, 16));
                        i += 4;
                    }
                    break;
                default:
                    out += c;
            }
        } else {
            out += t[i];
        }
    }
    return out;
}

// The elements of "[a, b, "c, d"]": commas inside quotes do not split.
std::vector<std::wstring> ArrayElements(const std::wstring& text) {
    const std::wstring t = Trim(text);
    if (t.size() < 2 || t.front() != L'[' || t.back() != L']') {
        throw EOpcError(DISP_E_TYPEMISMATCH, L"an array value is written as [a, b, ...]");
    }
    std::vector<std::wstring> out;
    const std::wstring inner = t.substr(1, t.size() - 2);
    if (Trim(inner).empty()) {
        return out;
    }
    std::wstring current;
    bool quoted = false;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        const wchar_t c = inner[i];
        if (c == L'\\' && quoted && i + 1 < inner.size()) {
            current += c;
            current += inner[++i];
        } else if (c == L'"') {
            quoted = !quoted;
            current += c;
        } else if (c == L',' && !quoted) {
            out.push_back(Trim(current));
            current.clear();
        } else {
            current += c;
        }
    }
    out.push_back(Trim(current));
    return out;
}

bool ParseIsoDate(const std::wstring& text, DATE& out) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0.0;
    wchar_t separator = 0;
    const int fields = std::swscanf(text.c_str(), L"%4u-%2u-%2u%lc%2u:%2u:%lf", &year, &month, &day,
                                    &separator, &hour, &minute, &second);
    if (fields != 3 && fields != 7) {
        return false;
    }
    if (fields == 7 && separator != L'T' && separator != L' ') {
        return false;
    }
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    if (!SystemTimeToVariantTime(&st, &out)) {
        return false;
    }
    out += (second - static_cast<double>(st.wSecond)) / 86400.0;
    return true;
}

win::Variant ParseScalar(const std::wstring& raw, VARTYPE type) {
    const std::wstring text = Trim(raw);
    if (type == VT_BSTR || type == VT_EMPTY) {
        return win::Variant::string(Unquote(raw));
    }
    if (type == VT_BOOL) {
        if (opc::EqualNoCase(text, L"true") || text == L"1" || text == L"-1") {
            return win::Variant::boolean(true);
        }
        if (opc::EqualNoCase(text, L"false") || text == L"0") {
            return win::Variant::boolean(false);
        }
        throw EOpcError(DISP_E_TYPEMISMATCH, L"a BOOL is true or false");
    }
    if (type == VT_DATE) {
        DATE date = 0;
        if (ParseIsoDate(text, date)) {
            return win::Variant::date(date);
        }
    }
    win::Variant source = win::Variant::string(text);
    win::Variant converted;
    const HRESULT hr = VariantChangeTypeEx(converted.get(), source.get(),
                                           MAKELCID(LANG_ENGLISH, SORT_DEFAULT), 0, type);
    if (FAILED(hr)) {
        throw EOpcError(hr, L"'" + text + L"' is no " + TypeName(type));
    }
    return converted;
}

}  // namespace

std::wstring TypeName(VARTYPE type) {
    const VARTYPE base = type & VT_TYPEMASK;
    const wchar_t* name = BaseTypeName(base);
    std::wstring out = name ? name : Hex(base, 4);
    if (type & VT_ARRAY) {
        out += L"[]";
    }
    if (type & VT_BYREF) {
        out += L"*";
    }
    return out;
}

std::wstring ValueText(const VARIANT& value) {
    if (value.vt & VT_BYREF) {
        return L"(" + TypeName(value.vt) + L")";
    }
    if (value.vt & VT_ARRAY) {
        return ArrayText(value);
    }
    return ScalarText(value.vt, &value.bVal);
}

std::wstring QualityText(WORD quality) {
    std::wstring out;
    switch (quality & 0xC0) {
        case 0xC0:
            out = L"good";
            break;
        case 0x40:
            out = L"uncertain";
            break;
        case 0x00:
            out = L"bad";
            break;
        default:
            return Hex(quality, 2);
    }
    const WORD status = quality & 0xFC;
    const wchar_t* name = nullptr;
    switch (status) {
        case 0x04:
            name = L"config-error";
            break;
        case 0x08:
            name = L"not-connected";
            break;
        case 0x0C:
            name = L"device-failure";
            break;
        case 0x10:
            name = L"sensor-failure";
            break;
        case 0x14:
            name = L"last-known";
            break;
        case 0x18:
            name = L"comm-failure";
            break;
        case 0x1C:
            name = L"out-of-service";
            break;
        case 0x44:
            name = L"last-usable";
            break;
        case 0x50:
            name = L"sensor-cal";
            break;
        case 0x54:
            name = L"egu-exceeded";
            break;
        case 0x58:
            name = L"sub-normal";
            break;
        case 0xD8:
            name = L"local-override";
            break;
        default:
            break;
    }
    if (name) {
        out += L":";
        out += name;
    } else if ((status & 0x3C) != 0) {
        out += L":" + Hex(quality & 0xFC, 2);
    }
    switch (quality & 0x03) {
        case 1:
            out += L":low";
            break;
        case 2:
            out += L":high";
            break;
        case 3:
            out += L":constant";
            break;
        default:
            break;
    }
    return out;
}

std::wstring FileTimeText(const FILETIME& time) {
    if (time.dwHighDateTime == 0 && time.dwLowDateTime == 0) {
        return L"-";
    }
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&time, &st)) {
        return L"?";
    }
    wchar_t text[40];
    std::swprintf(text, 40, L"%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return text;
}

std::wstring ValueLine(const std::wstring& item, const VARIANT& value, WORD quality,
                       const FILETIME& time) {
    return item + L" = " + ValueText(value) + L" (" + TypeName(value.vt) + L") quality=" +
           QualityText(quality) + L" time=" + FileTimeText(time);
}

win::Variant ParseValue(const std::wstring& text, VARTYPE type) {
    if ((type & VT_ARRAY) == 0) {
        return ParseScalar(text, type);
    }
    const VARTYPE element = type & VT_TYPEMASK;
    const std::vector<std::wstring> parts = ArrayElements(text);
    win::UniqueSafeArray array = win::safe_array_vector(element, static_cast<ULONG>(parts.size()));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        win::Variant item = ParseScalar(parts[i], element);
        LONG index = static_cast<LONG>(i);
        void* data = element == VT_BSTR ? static_cast<void*>(item.value().bstrVal)
                                        : static_cast<void*>(&item.value().bVal);
        opc::CheckResult(SafeArrayPutElement(array.get(), &index, data));
    }
    win::Variant out;
    out.value().vt = type;
    out.value().parray = array.release();
    return out;
}

}  // namespace porvex::opcclient
