// Where the program's settings live: the registry key on Windows, a file elsewhere, or
// memory in tests. Value names compare without regard to letter case, as registry
// value names do.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace porvex {

class SettingsKey {
  public:
    virtual ~SettingsKey() = default;
    // An integer value (REG_DWORD); nothing when it is absent or not an integer.
    virtual std::optional<std::int32_t> read_integer(std::string_view name) = 0;
    // A string value; empty text when absent; nothing when the value is not a string.
    virtual std::optional<std::string> read_string(std::string_view name) = 0;
    virtual bool write_integer(std::string_view name, std::int32_t value) = 0;
    virtual bool write_string(std::string_view name, std::string_view value) = 0;
};

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // Opens the settings key, creating it when missing; null when it cannot be opened
    // (for example for lack of rights).
    virtual std::unique_ptr<SettingsKey> open() = 0;
};

}  // namespace porvex
