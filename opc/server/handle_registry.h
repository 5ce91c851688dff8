// The live objects of one kind that clients name by handle (groups, group items). A handle
// from a client is only ever used after it was found here, so a stale or forged value can
// never reach freed memory. Handles are registry keys, not addresses: a new object never
// takes the handle of one that went while 2^32 others have not been made since, and the
// keys are scattered so that a client handle mixed up with a server handle almost never
// names a live object by chance.
#pragma once

#include <windows.h>

#include <cstdint>
#include <unordered_map>

namespace porvex::opc {

template <class T>
class THandleRegistry {
  public:
    // salt tells the registries apart, so a group handle is no item handle by chance.
    explicit THandleRegistry(std::uint32_t salt) noexcept : salt_(salt) {}
    THandleRegistry(const THandleRegistry&) = delete;
    THandleRegistry& operator=(const THandleRegistry&) = delete;

    // A new handle for object (never 0, never one in use).
    DWORD Register(T* object) {
        for (;;) {
            const DWORD handle = Scatter(next_++);
            if (handle != 0 && live_.find(handle) == live_.end()) {
                live_.emplace(handle, object);
                return handle;
            }
        }
    }
    void Unregister(DWORD handle) noexcept { live_.erase(handle); }
    // The live object of handle, or null.
    T* Find(DWORD handle) const noexcept {
        auto it = live_.find(handle);
        return it == live_.end() ? nullptr : it->second;
    }
    std::size_t Count() const noexcept { return live_.size(); }
    void Reserve(std::size_t count) { live_.reserve(count); }

  private:
    // A bijection of the 32-bit serials (odd multiplier, then the salt).
    DWORD Scatter(std::uint32_t serial) const noexcept {
        return static_cast<DWORD>(serial * 0x9E3779B1u) ^ salt_;
    }

    std::unordered_map<DWORD, T*> live_;
    std::uint32_t next_ = 1;
    std::uint32_t salt_;
};

}  // namespace porvex::opc
