// A configurable item server for the engine's tests: items with values, qualities, rights,
// engineering units and push subscription; a namespace builder; a settable clock; and a
// record of every call the engine makes, in order.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "opc/server/item_server.h"

namespace porvex::opc::test {

// Analog engineering units with fixed limits.
class TTestEUInfo final : public IEUInfo {
  public:
    TTestEUInfo(int type, double low, double high) : type_(type), low_(low), high_(high) {}
    int EUType() override { return type_; }
    void EUInfo(win::Variant& info) override;

  private:
    int type_;
    double low_;
    double high_;
};

struct TTestItem {
    win::Variant value;
    WORD quality = kQualityGood;
    TAccessRights rights = kAccessReadWrite;
    bool push = false;  // SubscribeItem returns true
    std::shared_ptr<IEUInfo> eu;
    HRESULT read_error = S_OK;  // GetItemValue raises EOpcError with it when set
    HRESULT write_error = S_OK;
    // Runs inside GetItemValue after the value was taken: stands for another thread that
    // changes and pushes the item between a device read and the engine's use of it.
    std::function<void()> while_read;
};

class TTestItemServer : public TOpcItemServer {
  public:
    TTestItemServer();
    ~TTestItemServer() override;

    // ---- Configuration ---------------------------------------------------------------------
    TTestItem& Item(const std::wstring& id);  // creates it (value VT_EMPTY) when missing
    void SetValue(const std::wstring& id, win::Variant value, WORD quality = kQualityGood);
    // Pushes through the OnChange the engine handed over for id (false when none).
    bool Push(const std::wstring& id, const win::Variant& value, WORD quality = kQualityGood);
    TServerOptions options;
    int min_update_rate = 10;
    std::function<void(TItemIdList&)> build_namespace;
    // The clock: advanced by one millisecond per time stamp, so every stamp differs.
    std::atomic<std::uint64_t> clock{133000000000000000ull};
    bool throw_in_notifications = false;

    // ---- Record ----------------------------------------------------------------------------
    std::vector<std::wstring> calls;          // "GetItemInfoEx A", "GetItemValue A", ...
    std::vector<std::wstring> notifications;  // "GroupAdded G1", "GroupItemAdded A", ...
    std::vector<std::wstring> exceptions;     // HandleException texts
    std::vector<std::pair<HRESULT, int>> callback_failures;
    std::vector<HRESULT> shutdown_failures;
    std::map<std::wstring, TGroupInfo*> groups;  // live groups by name (GroupAdded..Removed)
    std::map<std::wstring, std::vector<win::Variant>> writes;  // SetItemValue values (types kept)
    int changed_notifications = 0;
    std::vector<TOnChange> handed_out;  // every OnChange the engine gave, kept for ever
    int Count(const std::wstring& call) const;
    TGroupInfo& Group(const std::wstring& name) const;

    // ---- TOpcItemServer --------------------------------------------------------------------
    void HandleException(std::exception_ptr error) override;
    TServerOptions Options() override { return options; }
    int MinUpdateRate() override { return min_update_rate; }
    bool SubscribeItem(TItemHandle handle, TOnChange onChange) override;
    void UnsubscribeItem(TItemHandle handle) override;
    TItemHandle GetItemInfoEx(const std::wstring& itemId, std::wstring& accessPath,
                              TAccessRights& accessRights, std::shared_ptr<IEUInfo>& euInfo,
                              std::shared_ptr<IItemProperties>& itemProperties) override;
    void ReleaseHandle(TItemHandle handle) override;
    void LoadNamespace(TItemIdList& root) override;
    void GetItemValue(TItemHandle handle, WORD& quality, win::Variant& value) override;
    void SetItemValue(TItemHandle handle, const VARIANT& value) override;
    void ClientConnected(TClientInfo& client) override;
    void ClientDisconnected(TClientInfo& client) override;
    void ClientNameChanged(TClientInfo& client) override;
    void GroupAdded(TGroupInfo& group) override;
    void GroupRemoved(TGroupInfo& group) override;
    void GroupItemAdded(TGroupItemInfo& item) override;
    void GroupItemRemoved(TGroupItemInfo& item) override;
    void GroupItemChanged(TGroupItemInfo& item) override;
    void GroupCallbackFailed(HRESULT error, TGroupInfo& group, int kind) override;
    void ShutdownCallbackFailed(HRESULT error, TClientInfo& client, int kind) override;
    void GetTimestamp(FILETIME& time) override;

  private:
    const std::wstring& IdOf(TItemHandle handle) const;
    void Noted(std::wstring text);

    std::map<std::wstring, TTestItem> items_;
    std::vector<std::wstring> handles_;  // handle - 1 -> item ID
    std::map<TItemHandle, TOnChange> subscriptions_;
};

}  // namespace porvex::opc::test
