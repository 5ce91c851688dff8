#include "opc/com/text.h"

#include <windows.h>

#include <algorithm>

namespace porvex::opc {

std::string Utf8FromWide(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            size, nullptr, nullptr);
    }
    return out;
}

std::wstring WideFromUtf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(size, 0)), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            size);
    }
    return out;
}

std::wstring FoldCase(std::wstring_view text) {
    std::wstring out(text);
    // Most names are ASCII: fold those here and leave the rest to the system's table.
    bool ascii = true;
    for (wchar_t& c : out) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - (L'a' - L'A'));
        } else if (c >= 0x80) {
            ascii = false;
        }
    }
    if (ascii || out.empty()) {
        return out;
    }
    std::wstring upper(out.size(), L'\0');
    const int size =
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, out.data(), static_cast<int>(out.size()),
                     upper.data(), static_cast<int>(upper.size()));
    if (size == static_cast<int>(upper.size())) {
        return upper;
    }
    return out;
}

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && FoldCase(a) == FoldCase(b);
}

std::wstring TrimBlanks(std::wstring_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && text[first] <= L' ') {
        ++first;
    }
    while (last > first && text[last - 1] <= L' ') {
        --last;
    }
    return std::wstring(text.substr(first, last - first));
}

}  // namespace porvex::opc
