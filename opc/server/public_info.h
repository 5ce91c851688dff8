// The engine's objects as the item server sees them in its notifications. The engine's own
// classes derive from these; each carries a Data slot that the engine never touches and
// the item server may use freely.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <atomic>
#include <string>

#include "win/variant.h"

namespace porvex::opc {

class TGroupInfo;
class TServerItemRef;

// A connected client (its server object).
class TClientInfo {
  public:
    TClientInfo(const TClientInfo&) = delete;
    TClientInfo& operator=(const TClientInfo&) = delete;

    const std::wstring& ClientName() const noexcept { return client_name_; }
    LCID LocaleId() const noexcept { return locale_id_; }
    FILETIME LastUpdateTime() const noexcept { return last_update_; }
    DWORD ServerState() const noexcept { return server_state_; }
    virtual int GroupCount() const = 0;
    // The group at index in name order; EOpcServer for an index out of range.
    virtual TGroupInfo& GroupAt(int index) const = 0;

    void* Data = nullptr;

  protected:
    TClientInfo() = default;
    virtual ~TClientInfo() = default;

    std::wstring client_name_;
    LCID locale_id_ = LOCALE_SYSTEM_DEFAULT;
    FILETIME last_update_{};
    DWORD server_state_ = 0;
};

// A group of a client.
class TGroupInfo {
  public:
    TGroupInfo(const TGroupInfo&) = delete;
    TGroupInfo& operator=(const TGroupInfo&) = delete;

    const std::wstring& Name() const noexcept { return name_; }
    // The owning client; null once the group has left its server.
    TClientInfo* Owner() const noexcept { return owner_info_; }
    bool IsPublic() const noexcept { return false; }
    bool Active() const noexcept { return active_; }
    DWORD UpdateRate() const noexcept { return update_rate_; }
    DWORD ClientGroupHandle() const noexcept { return client_handle_; }
    LCID LocaleId() const noexcept { return locale_id_; }
    bool Enabled() const noexcept { return enabled_; }
    bool Removed() const noexcept { return removed_; }
    // Read by item server pushes on other threads as well.
    float PercentDeadband() const noexcept { return deadband_.load(std::memory_order_relaxed); }
    LONG TimeBias() const noexcept { return time_bias_; }
    // Update ticks this group has run (for monitors and tests).
    unsigned long TickCount() const noexcept { return ticks_; }
    virtual int ItemCount() const = 0;
    // The item at index in insertion order; EOpcServer for an index out of range.
    virtual class TGroupItemInfo& ItemAt(int index) const = 0;

    void* Data = nullptr;

  protected:
    TGroupInfo() = default;
    virtual ~TGroupInfo() = default;

    std::wstring name_;
    TClientInfo* owner_info_ = nullptr;
    bool active_ = false;
    DWORD update_rate_ = 0;
    DWORD client_handle_ = 0;
    LCID locale_id_ = 0;
    bool enabled_ = true;
    bool removed_ = false;
    std::atomic<float> deadband_{0.0f};
    LONG time_bias_ = 0;
    unsigned long ticks_ = 0;
};

// An item of a group.
class TGroupItemInfo {
  public:
    TGroupItemInfo(const TGroupItemInfo&) = delete;
    TGroupItemInfo& operator=(const TGroupItemInfo&) = delete;

    bool Active() const noexcept { return active_; }
    VARTYPE RequestedDataType() const noexcept { return requested_type_; }
    DWORD ClientHandle() const noexcept { return client_handle_; }

    // The shared server item (its item ID is the item's fully qualified ID).
    virtual const TServerItemRef& ServerItem() const = 0;
    // The item's fully qualified ID, for whoever only shows it.
    virtual const std::wstring& ItemId() const = 0;
    virtual TGroupInfo& Group() const = 0;
    // The time of the cached value as an OLE date, and a copy of that value.
    virtual DATE CachedTimeAsDate() const = 0;
    virtual win::Variant CachedValue() const = 0;

    void* Data = nullptr;

  protected:
    TGroupItemInfo() = default;
    virtual ~TGroupItemInfo() = default;

    bool active_ = false;
    VARTYPE requested_type_ = VT_EMPTY;
    DWORD client_handle_ = 0;
};

}  // namespace porvex::opc
