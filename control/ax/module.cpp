#include "module.h"

#include <vector>

namespace tarnet::ax {

Module& Module::instance() {
    static Module module;
    return module;
}

std::wstring Module::path() const {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(handle_, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            return std::wstring(buffer.data(), n);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring Module::load_string(UINT id) const {
    const wchar_t* text = nullptr;
    // With a zero buffer size, LoadString hands out the resource's own read-only text.
    const int n = ::LoadStringW(handle_, id, reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 && text != nullptr ? std::wstring(text, static_cast<std::size_t>(n))
                                    : std::wstring();
}

}  // namespace tarnet::ax
