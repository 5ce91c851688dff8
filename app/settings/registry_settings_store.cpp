#include "settings/registry_settings_store.h"

#include <windows.h>

#include <vector>

#include "core/utf.h"
#include "win/registry.h"

namespace porvex {

namespace {

std::wstring wide(std::string_view utf8) {
    const std::u16string units = utf8_to_utf16(utf8);
    return std::wstring(units.begin(), units.end());
}

std::string narrow(const wchar_t* text, std::size_t length) {
    return utf16_to_utf8(std::u16string(text, text + length));
}

class RegistrySettingsKey final : public SettingsKey {
  public:
    explicit RegistrySettingsKey(win::RegistryKey key) : key_(std::move(key)) {}

    std::optional<std::int32_t> read_integer(std::string_view name) override {
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof value;
        const LONG rc = RegQueryValueExW(key_.get(), wide(name).c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(&value), &size);
        if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(value);
    }

    std::optional<std::string> read_string(std::string_view name) override {
        const std::wstring value_name = wide(name);
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegQueryValueExW(key_.get(), value_name.c_str(), nullptr, &type, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND) {
            return std::string();
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return std::nullopt;
        }
        // The value may change between the two calls; ask again until it fits.
        std::vector<wchar_t> buffer;
        do {
            buffer.assign(size / sizeof(wchar_t) + 2, L'\0');
            size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
            rc = RegQueryValueExW(key_.get(), value_name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(buffer.data()), &size);
        } while (rc == ERROR_MORE_DATA);
        if (rc == ERROR_FILE_NOT_FOUND) {
            return std::string();
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return std::nullopt;
        }
        // Stored strings need not end in a NUL; stop at the first one when they do.
        std::size_t length = size / sizeof(wchar_t);
        for (std::size_t i = 0; i < length; ++i) {
            if (buffer[i] == L'\0') {
                length = i;
                break;
            }
        }
        return narrow(buffer.data(), length);
    }

    bool write_integer(std::string_view name, std::int32_t value) override {
        const DWORD data = static_cast<DWORD>(value);
        return RegSetValueExW(key_.get(), wide(name).c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
    }

    bool write_string(std::string_view name, std::string_view value) override {
        const std::wstring data = wide(value);
        const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
        return RegSetValueExW(key_.get(), wide(name).c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(data.c_str()), bytes) == ERROR_SUCCESS;
    }

  private:
    win::RegistryKey key_;
};

}  // namespace

std::unique_ptr<SettingsKey> RegistrySettingsStore::open() {
    win::RegistryKey key;
    if (key.create(HKEY_LOCAL_MACHINE, wide(key_path_)) != ERROR_SUCCESS) {
        return nullptr;
    }
    return std::make_unique<RegistrySettingsKey>(std::move(key));
}

}  // namespace porvex
