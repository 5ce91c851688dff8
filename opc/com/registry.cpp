#include "opc/com/registry.h"

#include <objbase.h>

#include <vector>

namespace porvex::opc {
namespace {

// Registry functions take null-terminated names.
std::wstring Terminated(std::wstring_view text) { return std::wstring(text); }

}  // namespace

LONG TRegKey::Open(HKEY root, std::wstring_view path, REGSAM access) noexcept {
    Reset();
    try {
        return RegOpenKeyExW(root, Terminated(path).c_str(), 0, access, &key_);
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG TRegKey::Create(HKEY root, std::wstring_view path) noexcept {
    Reset();
    try {
        return RegCreateKeyExW(root, Terminated(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG WriteKeyText(HKEY root, std::wstring_view path, std::wstring_view name,
                  std::wstring_view text) noexcept {
    TRegKey key;
    if (const LONG error = key.Create(root, path); error != ERROR_SUCCESS) {
        return error;
    }
    try {
        const std::wstring value(text);
        const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        return RegSetValueExW(key.Get(), name.empty() ? nullptr : Terminated(name).c_str(), 0,
                              REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG CreateEmptyKey(HKEY root, std::wstring_view path) noexcept {
    TRegKey key;
    return key.Create(root, path);
}

std::optional<std::wstring> ReadKeyText(HKEY root, std::wstring_view path, std::wstring_view name) {
    TRegKey key;
    if (key.Open(root, path) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::wstring value_name(name);
    const wchar_t* value = value_name.empty() ? nullptr : value_name.c_str();
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.Get(), value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.Get(), value, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    buffer.back() = L'\0';
    return std::wstring(buffer.data());
}

bool KeyExists(HKEY root, std::wstring_view path) noexcept {
    TRegKey key;
    return key.Open(root, path) == ERROR_SUCCESS;
}

bool KeyHasSubkeys(HKEY root, std::wstring_view path) noexcept {
    TRegKey key;
    if (key.Open(root, path) != ERROR_SUCCESS) {
        return false;
    }
    DWORD subkeys = 0;
    return RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys > 0;
}

LONG DeleteKey(HKEY root, std::wstring_view path) noexcept {
    try {
        return RegDeleteKeyW(root, Terminated(path).c_str());
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ModulePath(HMODULE module) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            return std::wstring(path.data(), length);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace porvex::opc
