// The registry as COM registration uses it: an owning key handle, and the few operations
// that write, read and remove the default values of keys. Results are Win32 error codes
// (ERROR_SUCCESS on success), so each caller applies its own policy: registration of a
// program reports them or not depending on how it was started, the proxy/stub DLL returns
// them as HRESULTs.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace porvex::opc {

class TRegKey {
  public:
    TRegKey() noexcept = default;
    TRegKey(const TRegKey&) = delete;
    TRegKey& operator=(const TRegKey&) = delete;
    TRegKey(TRegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    TRegKey& operator=(TRegKey&& other) noexcept {
        if (this != &other) {
            Reset();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    ~TRegKey() { Reset(); }

    // Opens root\path; the error when it cannot be opened (ERROR_FILE_NOT_FOUND: missing).
    LONG Open(HKEY root, std::wstring_view path, REGSAM access = KEY_READ) noexcept;
    // Opens or creates root\path for writing.
    LONG Create(HKEY root, std::wstring_view path) noexcept;

    HKEY Get() const noexcept { return key_; }
    explicit operator bool() const noexcept { return key_ != nullptr; }
    void Reset() noexcept {
        if (key_) {
            RegCloseKey(std::exchange(key_, nullptr));
        }
    }

  private:
    HKEY key_ = nullptr;
};

// Creates root\path when missing and sets its value name (the default value for an empty
// name) to the text.
LONG WriteKeyText(HKEY root, std::wstring_view path, std::wstring_view name,
                  std::wstring_view text) noexcept;
inline LONG WriteKeyDefault(HKEY root, std::wstring_view path, std::wstring_view text) noexcept {
    return WriteKeyText(root, path, L"", text);
}
// Creates root\path without a value when missing.
LONG CreateEmptyKey(HKEY root, std::wstring_view path) noexcept;
// The text of a string value (the default value for an empty name); nothing when the key
// or the value is missing or is no string.
std::optional<std::wstring> ReadKeyText(HKEY root, std::wstring_view path,
                                        std::wstring_view name = L"");
bool KeyExists(HKEY root, std::wstring_view path) noexcept;
// Whether root\path exists and has subkeys.
bool KeyHasSubkeys(HKEY root, std::wstring_view path) noexcept;
// Deletes root\path when it has no subkeys (a key with subkeys stays and the call fails).
LONG DeleteKey(HKEY root, std::wstring_view path) noexcept;

// A GUID in its braced registry form, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::wstring GuidText(const GUID& guid);

// The full path of a module (null: the program), or empty when the system cannot tell.
std::wstring ModulePath(HMODULE module);

}  // namespace porvex::opc
