// The registry as registration and settings use it: an owning key, and the few operations
// that write, read and remove string values and keys. Results are Win32 error codes
// (ERROR_SUCCESS on success), so each caller applies its own policy.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "win/unique_any.h"

namespace porvex::win {

class RegistryKey {
  public:
    RegistryKey() noexcept = default;

    // Opens root\path; the error when it cannot be opened (ERROR_FILE_NOT_FOUND: missing).
    LONG open(HKEY root, std::wstring_view path, REGSAM access = KEY_READ) noexcept;
    // Opens or creates root\path for reading and writing.
    LONG create(HKEY root, std::wstring_view path) noexcept;

    // Writes a REG_SZ value (an empty name: the key's default value).
    LONG set_string(std::wstring_view name, std::wstring_view value) const noexcept;
    // A string value's text (REG_SZ or REG_EXPAND_SZ, unexpanded); nothing when the value
    // is missing or no string.
    std::optional<std::wstring> get_string(std::wstring_view name) const;

    HKEY get() const noexcept { return key_.get(); }
    explicit operator bool() const noexcept { return key_.is_valid(); }
    void reset() noexcept { key_.reset(); }

  private:
    UniqueHkey key_;
};

// Creates root\path when missing and sets its value name (the default value for an empty
// name) to the text.
LONG write_key_text(HKEY root, std::wstring_view path, std::wstring_view name,
                    std::wstring_view text) noexcept;
inline LONG write_key_default(HKEY root, std::wstring_view path, std::wstring_view text) noexcept {
    return write_key_text(root, path, L"", text);
}
// Creates root\path without a value when missing.
LONG create_empty_key(HKEY root, std::wstring_view path) noexcept;
// The text of a string value (the default value for an empty name); nothing when the key
// or the value is missing or is no string.
std::optional<std::wstring> read_key_text(HKEY root, std::wstring_view path,
                                          std::wstring_view name = L"");
bool key_exists(HKEY root, std::wstring_view path) noexcept;
// Whether root\path exists and has subkeys.
bool key_has_subkeys(HKEY root, std::wstring_view path) noexcept;
// Deletes root\path when it has no subkeys (a key with subkeys stays and the call fails).
LONG delete_key(HKEY root, std::wstring_view path) noexcept;
// Deletes root\path with everything below it; ERROR_SUCCESS also when it was not there.
LONG delete_key_tree(HKEY root, std::wstring_view path) noexcept;

// A GUID in its braced registry form, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::wstring guid_text(const GUID& guid);

// The full path of a module (null: the program), or empty when the system cannot tell.
std::wstring module_path(HMODULE module);

}  // namespace porvex::win
