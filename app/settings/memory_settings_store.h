// Settings held in memory, for tests and for a program run without persistent
// settings.
#pragma once

#include <map>
#include <mutex>
#include <variant>

#include "settings/settings_store.h"

namespace porvex {

class MemorySettingsStore final : public SettingsStore {
  public:
    using Value = std::variant<std::int32_t, std::string>;

    std::unique_ptr<SettingsKey> open() override;

    // Test set-up and inspection (names are case-insensitive).
    void set(std::string_view name, Value value);
    void remove(std::string_view name);
    std::optional<Value> get(std::string_view name) const;
    bool exists() const;
    // A store whose key cannot be opened (lack of rights).
    void set_openable(bool openable) { openable_ = openable; }

  private:
    friend class MemorySettingsKey;
    mutable std::mutex mutex_;
    std::map<std::string, Value> values_;
    bool created_ = false;
    bool openable_ = true;
};

}  // namespace porvex
