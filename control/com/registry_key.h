// An open registry key, closed by the destructor, and the few writes registration needs.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace tarnet::com {

class RegistryKey {
  public:
    RegistryKey() = default;
    ~RegistryKey() { reset(); }
    RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept {
        std::swap(key_, other.key_);
        return *this;
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Creates (or opens) root\path for writing; false on failure.
    static bool create(HKEY root, const std::wstring& path, RegistryKey& out);
    // Opens root\path for reading; false when it does not exist.
    static bool open(HKEY root, const std::wstring& path, RegistryKey& out);

    // name empty: the key's default value.
    bool set_string(const std::wstring& name, const std::wstring& value) const;
    bool get_string(const std::wstring& name, std::wstring& value) const;

    HKEY get() const { return key_; }
    void reset() {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
            key_ = nullptr;
        }
    }

  private:
    HKEY key_ = nullptr;
};

// Writes root\path's value name (empty: default value); false on failure.
bool set_registry_string(HKEY root, const std::wstring& path, const std::wstring& name,
                         const std::wstring& value);
// Deletes root\path with everything below it; true also when it was not there.
bool delete_registry_tree(HKEY root, const std::wstring& path);

std::wstring guid_text(const GUID& guid);

}  // namespace tarnet::com
