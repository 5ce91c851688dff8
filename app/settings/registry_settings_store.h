// The program's settings in the Windows registry: the key
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\Help, opened for reading and writing
// and created when missing. Integers are REG_DWORD values; strings REG_SZ (REG_EXPAND_SZ
// is read as it is). Text crosses as UTF-16, so Chinese values keep their characters.
#pragma once

#include <string>

#include "settings/settings_store.h"

namespace porvex {

inline constexpr const char* kSettingsKeyPath = "Software\\Microsoft\\Windows\\Help";

class RegistrySettingsStore final : public SettingsStore {
  public:
    // Another key path below HKEY_LOCAL_MACHINE is for tests only.
    explicit RegistrySettingsStore(std::string key_path = kSettingsKeyPath)
        : key_path_(std::move(key_path)) {}

    std::unique_ptr<SettingsKey> open() override;

  private:
    std::string key_path_;
};

}  // namespace porvex
