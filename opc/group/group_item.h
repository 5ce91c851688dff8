// TGroupItemImpl: an item of a group. It refers to the shared server item of its item ID,
// keeps the last value, quality and time taken from the item server (the cache), and the
// changed flag that the next update tick reports. The cache is guarded by the server item
// table's cache lock, because item server pushes update it from other threads.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "opc/idl/opc_interfaces.h"
#include "opc/items/server_item.h"
#include "opc/server/public_info.h"
#include "win/variant.h"

namespace porvex::opc {

class TGroupImpl;
class TOpcItemServer;

// One item read for delivery: the value converted to the requested type, its quality and
// time.
struct TItemReading {
    win::Variant value;
    WORD quality = 0;
    FILETIME time{};
};

class TGroupItemImpl final : public TGroupItemInfo, public TServerItemUser {
  public:
    TGroupItemImpl(TGroupImpl& group, DWORD clientHandle, VARTYPE requestedType);
    ~TGroupItemImpl() override;

    // TGroupItemInfo
    const TServerItemRef& ServerItem() const override;
    const std::wstring& ItemId() const override;
    TGroupInfo& Group() const override;
    DATE CachedTimeAsDate() const override;
    win::Variant CachedValue() const override;

    OPCHANDLE ServerHandle() const noexcept { return handle_; }
    TGroupImpl& OwnerGroup() const noexcept { return group_; }
    TServerItem& Shared() const noexcept { return *server_item_; }
    bool HasServerItem() const noexcept { return server_item_ != nullptr; }

    void SetServerHandle(OPCHANDLE handle) noexcept { handle_ = handle; }
    void SetServerItem(TServerItem& item) noexcept { server_item_ = &item; }
    void SetClientHandle(DWORD handle) noexcept { client_handle_ = handle; }
    void SetRequestedType(VARTYPE type) noexcept { requested_type_ = type; }

    // Sets the active flag; a change to active makes the activation read, whose EOpcError
    // passes (the flag stays set).
    void SetActive(bool active);
    // Reads from the device (read right required), stores value and quality with a new
    // time (unless a push came while the device was read: its value is at least as new),
    // and marks the item changed so the next tick reports it whatever its value.
    void ActivationRead();

    // The update tick's check: whether this item is to be reported now. scratch is the
    // tick's reusable variant for polled values.
    bool CheckChange(win::Variant& scratch);
    // Compares a new value and quality with the cache and stores them when they changed
    // (the percent deadband applies to analog numeric items). The cache lock must be held. When
    // movable is given the value may be moved out of it instead of copied.
    bool CompareAndStore(const VARIANT& value, WORD quality, win::Variant* movable);
    void MarkChanged() noexcept { changed_.store(true, std::memory_order_release); }
    // TServerItemUser: a pushed value goes through CompareAndStore and marks a change.
    void TakePushedValue(const VARIANT& value, WORD quality) override;
    void ClearChanged() noexcept { changed_.store(false, std::memory_order_release); }

    // The item as delivered: from the cache or the device, converted to the requested
    // type. EOpcError for a missing read right (device) or a failed conversion.
    TItemReading Read(OPCDATASOURCE source);
    // The cache as it is (under the cache lock).
    void CopyCache(win::Variant& value, WORD& quality, FILETIME& time) const;

    // Engine bookkeeping: GroupItemAdded was sent; marked by a removal in progress; a
    // failing read reported once until the item reads again.
    bool announced = false;
    bool removing = false;
    bool failing = false;

  private:
    // The shared item's push count now (under the cache lock).
    std::uint64_t PushesSoFar() const;
    TOpcItemServer& Server() const;
    // Analog items: whether value differs from the cache by no more than the group's
    // percent deadband of the engineering-units range.
    bool WithinDeadband(IEUInfo& eu, const VARIANT& value) const;

    TGroupImpl& group_;
    TServerItem* server_item_ = nullptr;
    OPCHANDLE handle_ = 0;
    std::atomic<bool> changed_{false};
    win::Variant cached_value_;
    FILETIME cached_time_{};
    WORD cached_quality_ = 0;
};

}  // namespace porvex::opc
