#include "registry_key.h"

#include <objbase.h>

namespace tarnet::com {

bool RegistryKey::create(HKEY root, const std::wstring& path, RegistryKey& out) {
    out.reset();
    return ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_READ | KEY_WRITE, nullptr, &out.key_, nullptr) == ERROR_SUCCESS;
}

bool RegistryKey::open(HKEY root, const std::wstring& path, RegistryKey& out) {
    out.reset();
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &out.key_) == ERROR_SUCCESS;
}

bool RegistryKey::set_string(const std::wstring& name, const std::wstring& value) const {
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key_, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
}

bool RegistryKey::get_string(const std::wstring& name, std::wstring& value) const {
    DWORD type = 0;
    DWORD bytes = 0;
    const wchar_t* value_name = name.empty() ? nullptr : name.c_str();
    if (::RegQueryValueExW(key_, value_name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key_, value_name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                           &bytes) != ERROR_SUCCESS) {
        return false;
    }
    text.resize(bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    value = std::move(text);
    return true;
}

bool set_registry_string(HKEY root, const std::wstring& path, const std::wstring& name,
                         const std::wstring& value) {
    RegistryKey key;
    return RegistryKey::create(root, path, key) && key.set_string(name, value);
}

bool delete_registry_tree(HKEY root, const std::wstring& path) {
    const LSTATUS status = ::RegDeleteTreeW(root, path.c_str());
    if (status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (status != ERROR_SUCCESS) {
        return false;
    }
    // RegDeleteTree empties the key; the key itself goes with RegDeleteKey.
    const LSTATUS removed = ::RegDeleteKeyW(root, path.c_str());
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

std::wstring guid_text(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

}  // namespace tarnet::com
