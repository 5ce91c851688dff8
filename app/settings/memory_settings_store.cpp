#include "settings/memory_settings_store.h"

#include "core/text.h"

namespace porvex {

class MemorySettingsKey final : public SettingsKey {
  public:
    explicit MemorySettingsKey(MemorySettingsStore& store) : store_(store) {}

    std::optional<std::int32_t> read_integer(std::string_view name) override {
        const auto value = store_.get(name);
        if (!value || !std::holds_alternative<std::int32_t>(*value)) {
            return std::nullopt;
        }
        return std::get<std::int32_t>(*value);
    }

    std::optional<std::string> read_string(std::string_view name) override {
        const auto value = store_.get(name);
        if (!value) {
            return std::string();
        }
        if (!std::holds_alternative<std::string>(*value)) {
            return std::nullopt;
        }
        return std::get<std::string>(*value);
    }

    bool write_integer(std::string_view name, std::int32_t value) override {
        store_.set(name, value);
        return true;
    }

    bool write_string(std::string_view name, std::string_view value) override {
        store_.set(name, std::string(value));
        return true;
    }

  private:
    MemorySettingsStore& store_;
};

std::unique_ptr<SettingsKey> MemorySettingsStore::open() {
    std::lock_guard lock(mutex_);
    if (!openable_) {
        return nullptr;
    }
    created_ = true;
    return std::make_unique<MemorySettingsKey>(*this);
}

void MemorySettingsStore::set(std::string_view name, Value value) {
    std::lock_guard lock(mutex_);
    created_ = true;
    values_[ascii_lower(name)] = std::move(value);
}

void MemorySettingsStore::remove(std::string_view name) {
    std::lock_guard lock(mutex_);
    values_.erase(ascii_lower(name));
}

std::optional<MemorySettingsStore::Value> MemorySettingsStore::get(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const auto it = values_.find(ascii_lower(name));
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool MemorySettingsStore::exists() const {
    std::lock_guard lock(mutex_);
    return created_;
}

}  // namespace porvex
