// TOpcItemServer: the seam between the generic OPC DA engine and the application. The
// engine learns everything about real data through the virtual operations below; the
// application derives one class, creates exactly one instance at start-up and hands it to
// the registration step.
//
// The instance also holds the engine's process-wide state: the connected clients, the
// shared server items, the browse namespace, the start time, the vendor text and the
// notification window through which group ticks and posted work run on the thread that
// created the instance. Whether COM calls are served on that thread too or on any thread
// is the item server's choice (CallableOnAnyThread); either way the engine lock
// (opc/com/engine_lock.h) serialises all of the engine's state.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opc/com/critical_section.h"
#include "opc/items/item_types.h"
#include "opc/items/server_item.h"
#include "opc/namespace/namespace_node.h"
#include "opc/server/engine_objects.h"
#include "opc/server/handle_registry.h"
#include "opc/server/notify_window.h"
#include "opc/server/public_info.h"
#include "opc/server/types.h"
#include "win/variant.h"

namespace porvex::opc {

class TGroupImpl;
class TGroupExtension;

// Builds the extra interfaces of a group (asynchronous I/O, the DA 1.0 data object) when a
// module providing them is linked in; see opc/group/group_extension.h. The item server only
// keeps it for the groups, which call it.
using TGroupExtensionFactory = std::function<std::unique_ptr<TGroupExtension>(TGroupImpl&)>;

class TOpcItemServer : public TItemSource {
  public:
    // EOpcServer "OPCSERV: Only one instance of namespace allowed" when an instance exists,
    // "OPCSERV: Could not allocate Opc Window" when the notification window fails.
    TOpcItemServer();
    TOpcItemServer(const TOpcItemServer&) = delete;
    TOpcItemServer& operator=(const TOpcItemServer&) = delete;
    // Disconnects every remaining client object (their later calls fail), destroys the
    // window, the server items and the namespace, and clears the single instance.
    virtual ~TOpcItemServer();

    // ---- Virtual operations, in slot order --------------------------------------------
    // Slots 6, 7, 11, 12 and 14 are also what the server items call (TItemSource).
    // 0: a notification, group tick or posted work of the engine window raised error.
    virtual void HandleException(std::exception_ptr error);
    // 1: joins and splits item IDs and branch names.
    virtual wchar_t PathDelimiter();
    // 2: kept for slot order; the engine does not call it.
    virtual wchar_t BrowseDelimiter();
    // 3: text of an OPC or system result code (IOPCServer/IOPCCommon::GetErrorString).
    virtual void GetErrorString(HRESULT code, LANGID locale, std::wstring& text);
    // 4: the option set.
    virtual TServerOptions Options();
    // 5: the smallest group update rate in milliseconds.
    virtual int MinUpdateRate();
    // 6: true when the item server pushes changes of this item itself through onChange
    // (the engine then never polls it).
    virtual bool SubscribeItem(TItemHandle handle, TOnChange onChange);
    // 7: a subscribed item goes, before its handle is released.
    virtual void UnsubscribeItem(TItemHandle handle);
    // 8: whether a browse candidate passes the client's filters.
    virtual bool MatchesBrowseFilter(const std::wstring& filter, TAccessRights accessFilter,
                                     VARTYPE dataTypeFilter, const std::wstring& name,
                                     TAccessRights itemAccess, VARTYPE itemType);
    // 9: the COM class name from which the ProgID is formed.
    virtual void GetProgIdClassName(int version, std::wstring& name);
    // 10: resolves an item ID (default: OPC_E_INVALIDITEMID).
    virtual TItemHandle GetItemInfo(const std::wstring& itemId, std::wstring& accessPath,
                                    TAccessRights& accessRights);
    // 11: resolves an item ID with engineering units and properties (default: GetItemInfo).
    virtual TItemHandle GetItemInfoEx(const std::wstring& itemId, std::wstring& accessPath,
                                      TAccessRights& accessRights, std::shared_ptr<IEUInfo>& euInfo,
                                      std::shared_ptr<IItemProperties>& itemProperties);
    // 12: a resolved handle is no longer used.
    virtual void ReleaseHandle(TItemHandle handle);
    // 13: fills the namespace root with branches and items.
    virtual void LoadNamespace(TItemIdList& root);
    // 14: reads the device value; quality comes preset to good (0xC0).
    virtual void GetItemValue(TItemHandle handle, WORD& quality, win::Variant& value) = 0;
    // 15: writes a value already converted to the item's canonical type.
    virtual void SetItemValue(TItemHandle handle, const VARIANT& value) = 0;
    // 16-22: notifications 1-7.
    virtual void ClientConnected(TClientInfo& client);
    virtual void ClientDisconnected(TClientInfo& client);
    virtual void ClientNameChanged(TClientInfo& client);
    virtual void GroupAdded(TGroupInfo& group);
    virtual void GroupRemoved(TGroupInfo& group);
    virtual void GroupItemAdded(TGroupItemInfo& item);
    virtual void GroupItemRemoved(TGroupItemInfo& item);
    // 23: a group item's cache took a changed value (on the pushing thread for pushes).
    virtual void GroupItemChanged(TGroupItemInfo& item);
    // 24: a client's callback or advise sink failed a call for a group with error.
    virtual void GroupCallbackFailed(HRESULT error, TGroupInfo& group, int kind);
    // 25: a client's shutdown sink failed ShutdownRequest with error (kind is 0).
    virtual void ShutdownCallbackFailed(HRESULT error, TClientInfo& client, int kind);
    // 26: every time stamp the engine takes (default: the system time, UTC).
    virtual void GetTimestamp(FILETIME& time);
    // 27: turns a client's written value into the value SetItemValue receives. The
    // default converts it to the canonical type: EOpcError OPC_E_BADTYPE when the type
    // cannot become it, the conversion's own code for other failures (overflow). An item
    // server overrides it where a written value means more than its converted number.
    virtual void ConvertWrittenValue(TItemHandle handle, const VARIANT& written,
                                     VARTYPE canonicalType, win::Variant& converted);
    // 28: whether every operation above may be called on any thread while the engine lock
    // is held (opc/com/engine_lock.h). Default false: the item server belongs to the thread
    // that created it, which then enters a single-threaded apartment and serves every call.
    // With true that thread enters the multithreaded apartment: clients' calls run on the
    // RPC threads, and notifications are direct calls on the thread that raises them. Asked
    // once, when the COM server adopts the item server (TComServer::AdoptItemServer).
    virtual bool CallableOnAnyThread();

    // ---- Operations for the application -------------------------------------------------
    int ClientCount() const;
    // Disconnects every client object now: their groups leave (with notifications) and
    // their later calls fail. The destructor does it too, but a derived class that wants
    // its notifications calls it from its own destructor.
    void DisconnectClients();
    // EOpcServer for an index out of range.
    TClientInfo& Clients(int index) const;
    // Asks every client (index -1) or client index to disconnect, through the shutdown sink
    // it advised; returns how many were asked.
    int ShutdownClients(const std::wstring& reason, int index = -1);
    bool HasOption(int bit);
    // Rebuilds the namespace through LoadNamespace; browse positions survive when their
    // branch still exists. With merge, existing items are kept and re-adding one returns it.
    void ReloadNamespace(bool merge);
    // Builds the namespace when it does not exist yet; a null position becomes the root.
    void EnsureNamespace(TItemIdList*& position);

    const std::wstring& VendorInfo() const noexcept { return vendor_info_; }
    void SetVendorInfo(std::wstring text) { vendor_info_ = std::move(text); }
    FILETIME StartTime() const noexcept { return start_time_; }

    // The client whose write is being carried out on this thread (inside SetItemValue
    // and ConvertWrittenValue), or null.
    static const TClientInfo* WritingClient() noexcept;

    // The single instance, or null.
    static TOpcItemServer* Instance() noexcept;
    // The single instance; EOpcServer "OPCSERV: No item server" when there is none.
    static TOpcItemServer& Required();

    // ---- The engine's own state ----------------------------------------------------------
    TServerItemList& ServerItems() noexcept { return server_items_; }
    TNotifyWindow& Window() noexcept { return *window_; }
    TItemIdList* NamespaceRoot() noexcept { return namespace_root_.get(); }
    TCriticalSection& ClientListLock() const noexcept { return client_lock_; }
    // The live groups and group items by server handle (only opc/group registers them).
    THandleRegistry<TEngineGroup>& Groups() noexcept { return groups_; }
    THandleRegistry<TGroupItemInfo>& Items() noexcept { return items_; }
    void AddClient(TEngineClient& client);
    void RemoveClient(TEngineClient& client) noexcept;
    std::vector<TEngineClient*> ClientSnapshot() const;

    // A time stamp now (GetTimestamp).
    FILETIME Now();
    // Calls HandleException and keeps anything it raises from escaping.
    void ReportException(std::exception_ptr error) noexcept override;
    // Hands a notification to the item server (synchronously; see TNotifyWindow::Notify);
    // kinds 1-3 name a client,
    // 4-5 a group, 6-7 a group item.
    void Notify(TNotification kind, TClientInfo& client);
    void Notify(TNotification kind, TGroupInfo& group);
    void Notify(TNotification kind, TGroupItemInfo& item);

    // The group extension module (asynchronous I/O, DA 1.0 data object), if any.
    void SetGroupExtensionFactory(TGroupExtensionFactory factory);
    const TGroupExtensionFactory& GroupExtensionFactory() const noexcept { return extensions_; }

  private:
    friend class TNotifyWindow;
    void DispatchNotification(TNotification kind, void* object);
    void DispatchTimer(UINT_PTR key);

    std::unique_ptr<TNotifyWindow> window_;
    mutable TCriticalSection client_lock_;
    std::vector<TEngineClient*> clients_;
    TServerItemList server_items_;
    std::wstring vendor_info_;
    FILETIME start_time_{};
    TNamespaceRules namespace_rules_;
    std::unique_ptr<TItemIdList> namespace_root_;
    THandleRegistry<TEngineGroup> groups_;
    THandleRegistry<TGroupItemInfo> items_;
    TGroupExtensionFactory extensions_;
};

// Names the writing client for TOpcItemServer::WritingClient while a write runs.
class TWritingClientScope {
  public:
    explicit TWritingClientScope(const TClientInfo* client) noexcept;
    ~TWritingClientScope();
    TWritingClientScope(const TWritingClientScope&) = delete;
    TWritingClientScope& operator=(const TWritingClientScope&) = delete;

  private:
    const TClientInfo* previous_;
};

}  // namespace porvex::opc
