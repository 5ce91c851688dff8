#include "win/registry.h"

#include <objbase.h>

#include <vector>

namespace porvex::win {
namespace {

// Registry functions take null-terminated names.
std::wstring terminated(std::wstring_view text) { return std::wstring(text); }

}  // namespace

LONG RegistryKey::open(HKEY root, std::wstring_view path, REGSAM access) noexcept {
    try {
        return ::RegOpenKeyExW(root, terminated(path).c_str(), 0, access, key_.put());
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG RegistryKey::create(HKEY root, std::wstring_view path) noexcept {
    try {
        return ::RegCreateKeyExW(root, terminated(path).c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, key_.put(),
                                 nullptr);
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG RegistryKey::set_string(std::wstring_view name, std::wstring_view value) const noexcept {
    try {
        const std::wstring text(value);
        const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
        const std::wstring value_name(name);
        return ::RegSetValueExW(key_.get(), value_name.empty() ? nullptr : value_name.c_str(), 0,
                                REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

std::optional<std::wstring> RegistryKey::get_string(std::wstring_view name) const {
    const std::wstring value_name(name);
    const wchar_t* value = value_name.empty() ? nullptr : value_name.c_str();
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key_.get(), value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key_.get(), value, nullptr, &type,
                           reinterpret_cast<BYTE*>(buffer.data()), &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    buffer.back() = L'\0';
    return std::wstring(buffer.data());
}

LONG write_key_text(HKEY root, std::wstring_view path, std::wstring_view name,
                    std::wstring_view text) noexcept {
    RegistryKey key;
    if (const LONG error = key.create(root, path); error != ERROR_SUCCESS) {
        return error;
    }
    return key.set_string(name, text);
}

LONG create_empty_key(HKEY root, std::wstring_view path) noexcept {
    RegistryKey key;
    return key.create(root, path);
}

std::optional<std::wstring> read_key_text(HKEY root, std::wstring_view path,
                                          std::wstring_view name) {
    RegistryKey key;
    if (key.open(root, path) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return key.get_string(name);
}

bool key_exists(HKEY root, std::wstring_view path) noexcept {
    RegistryKey key;
    return key.open(root, path) == ERROR_SUCCESS;
}

bool key_has_subkeys(HKEY root, std::wstring_view path) noexcept {
    RegistryKey key;
    if (key.open(root, path) != ERROR_SUCCESS) {
        return false;
    }
    DWORD subkeys = 0;
    return ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys > 0;
}

LONG delete_key(HKEY root, std::wstring_view path) noexcept {
    try {
        return ::RegDeleteKeyW(root, terminated(path).c_str());
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG delete_key_tree(HKEY root, std::wstring_view path) noexcept {
    try {
        const std::wstring key_path = terminated(path);
        const LSTATUS status = ::RegDeleteTreeW(root, key_path.c_str());
        if (status == ERROR_FILE_NOT_FOUND) {
            return ERROR_SUCCESS;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        // RegDeleteTree empties the key; the key itself goes with RegDeleteKey.
        const LSTATUS removed = ::RegDeleteKeyW(root, key_path.c_str());
        return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

std::wstring guid_text(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring module_path(HMODULE module) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            return std::wstring(path.data(), length);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace porvex::win
