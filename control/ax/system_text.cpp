#include "system_text.h"

namespace tarnet::ax {

std::string to_system_text(BSTR text) {
    return to_system_text(std::wstring_view(text != nullptr ? text : L"", ::SysStringLen(text)));
}

std::string to_system_text(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int wide = static_cast<int>(text.size());
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), wide, out.data(), size, nullptr, nullptr);
    }
    return out;
}

std::wstring widen_system_text(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int narrow = static_cast<int>(text.size());
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, out.data(), size);
    }
    return out;
}

}  // namespace tarnet::ax
