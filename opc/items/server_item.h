// Resolved item IDs. A TServerItemRef is one item ID resolved through the item server (its
// handle, rights, canonical type, engineering units). A TServerItem is the shared one per
// item ID in use by any group of any client, kept in the item server's TServerItemList, so
// each item ID is resolved and subscribed once however many groups use it.
//
// Locks: the table lock guards the table (lookups, creation with the item server's calls,
// removal); the cache lock guards every server item's list of group items and their caches,
// which item server pushes (TOnChange, any thread) update.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "opc/com/critical_section.h"
#include "opc/items/item_types.h"
#include "opc/items/on_change.h"
#include "win/variant.h"

namespace porvex::opc {

class TServerItem;
class TServerItemList;

// What the server items need from the item server: resolving an item ID, reading it,
// subscribing to its changes and releasing it, and somewhere to report a failure that
// cannot propagate (a destructor's). TOpcItemServer implements it with its own operations.
class TItemSource {
  public:
    virtual TItemHandle GetItemInfoEx(const std::wstring& itemId, std::wstring& accessPath,
                                      TAccessRights& accessRights, std::shared_ptr<IEUInfo>& euInfo,
                                      std::shared_ptr<IItemProperties>& itemProperties) = 0;
    virtual void GetItemValue(TItemHandle handle, WORD& quality, win::Variant& value) = 0;
    virtual void ReleaseHandle(TItemHandle handle) = 0;
    virtual bool SubscribeItem(TItemHandle handle, TOnChange onChange) = 0;
    virtual void UnsubscribeItem(TItemHandle handle) = 0;
    virtual void ReportException(std::exception_ptr error) noexcept = 0;

  protected:
    ~TItemSource() = default;
};

// A user of a shared server item (a group item): it takes the values the item server pushes
// for the item, under the table's cache lock.
class TServerItemUser {
  public:
    virtual void TakePushedValue(const VARIANT& value, WORD quality) = 0;

  protected:
    ~TServerItemUser() = default;
};

class TServerItemRef {
  public:
    // Resolves itemId: GetItemInfoEx (access path empty, rights preset to read+write), then
    // the type probe (GetItemValue, quality preset good) whose VARTYPE is the canonical
    // type. EOpcError of the item server passes; a handle already obtained is released.
    TServerItemRef(TItemSource& server, std::wstring_view itemId);
    TServerItemRef(const TServerItemRef&) = delete;
    TServerItemRef& operator=(const TServerItemRef&) = delete;
    // Releases the handle through the item server.
    virtual ~TServerItemRef();

    const std::wstring& ItemId() const noexcept { return item_id_; }
    TItemHandle Handle() const noexcept { return handle_; }
    DWORD AccessRights() const noexcept { return rights_; }
    bool Readable() const noexcept { return (rights_ & kAccessRead) != 0; }
    bool Writeable() const noexcept { return (rights_ & kAccessWrite) != 0; }
    VARTYPE CanonicalType() const noexcept { return canonical_type_; }
    bool Numeric() const noexcept { return numeric_; }
    IEUInfo* EUInfo() const noexcept { return eu_info_.get(); }
    IItemProperties* ItemProperties() const noexcept { return item_properties_.get(); }

    // The device value through GetItemValue, quality preset good (no rights check).
    void ReadDevice(WORD& quality, win::Variant& value) const;
    // EOpcError OPC_E_BADRIGHTS unless readable / writeable.
    void CheckReadable() const;
    void CheckWriteable() const;

  protected:
    TItemSource& server_;

  private:
    std::wstring item_id_;
    TItemHandle handle_ = kUnresolvedHandle;
    DWORD rights_ = 0;
    VARTYPE canonical_type_ = VT_EMPTY;
    bool numeric_ = false;
    std::shared_ptr<IEUInfo> eu_info_;
    std::shared_ptr<IItemProperties> item_properties_;
};

class TServerItem final : public TServerItemRef {
  public:
    TServerItem(TServerItemList& table, std::wstring_view itemId);
    // UnsubscribeItem when subscribed, before the base releases the handle.
    ~TServerItem() override;

    bool Subscribed() const noexcept { return subscribed_; }
    // The group items using this item, in joining order (read under the cache lock).
    const std::vector<TServerItemUser*>& Users() const noexcept { return users_; }
    // Pushes taken so far (read under the cache lock). A device read whose value is to be
    // stored in a cache compares it before and after: a push in between carries a value at
    // least as new as the read's, which the store must not overwrite.
    std::uint64_t Pushes() const noexcept { return pushes_; }

  private:
    friend class TServerItemList;
    friend class TOnChange;

    void Subscribe();
    // A pushed value, under the cache lock.
    void Push(const VARIANT& value, WORD quality);

    TServerItemList& table_;
    const std::wstring* key_ = nullptr;  // the table's key (the folded item ID) in its node
    std::vector<TServerItemUser*> users_;
    std::uint64_t pushes_ = 0;
    bool subscribed_ = false;
    std::shared_ptr<TOnChange::TLink> link_;
};

// An item reference for one call: the shared item when the ID is in use, otherwise a
// temporary one released (ReleaseHandle) with this holder.
class TResolvedItem {
  public:
    const TServerItemRef& operator*() const noexcept { return *ref_; }
    const TServerItemRef* operator->() const noexcept { return ref_; }

  private:
    friend class TServerItemList;
    const TServerItemRef* ref_ = nullptr;
    std::unique_ptr<TServerItemRef> temporary_;
};

class TServerItemList {
  public:
    explicit TServerItemList(TItemSource& server);
    TServerItemList(const TServerItemList&) = delete;
    TServerItemList& operator=(const TServerItemList&) = delete;
    ~TServerItemList();

    // The shared item of itemId (created, resolved and subscribed when new) with user
    // appended to its users.
    TServerItem& AddUser(std::wstring_view itemId, TServerItemUser& user);
    // user appended to the users of an item already in the table.
    void AddUser(TServerItem& item, TServerItemUser& user);
    // user taken out of the item's users; the last user destroys the item.
    void RemoveUser(TServerItem& item, TServerItemUser& user) noexcept;

    TResolvedItem Resolve(std::wstring_view itemId);
    TServerItem* Find(std::wstring_view itemId) const;
    std::size_t Count() const;

    TCriticalSection& CacheLock() const noexcept { return *cache_lock_; }
    TItemSource& Server() const noexcept { return server_; }

  private:
    friend class TServerItem;

    TItemSource& server_;
    mutable TCriticalSection table_lock_;
    std::shared_ptr<TCriticalSection> cache_lock_;
    std::unordered_map<std::wstring, std::unique_ptr<TServerItem>> items_;
};

}  // namespace porvex::opc
