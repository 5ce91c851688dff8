// SampleServer: the item server of the sample OPC server (opcsample.exe). Simulated items
// (sample_items.h) in a hierarchical namespace; it keeps the diagnostic items up to date
// from the engine's notifications and asks the clients to disconnect when Control.Shutdown
// is written. Its minimum update rate is set at the start (the -MinUpdateRate switch).
#pragma once

#include <memory>

#include "opc/server/item_server.h"
#include "tools/opcsample/sample_items.h"

namespace porvex::opc::sample {

class SampleServer final : public TOpcItemServer {
  public:
    static constexpr int kDefaultMinUpdateRate = 50;
    // The sample's items keep no state of their own outside the engine's calls (the
    // simulated values are computed from the clock when read, the diagnostic counts change
    // in notifications, shutdown and exit requests are posted work): under the engine lock
    // they may be called on any thread, so the program serves its clients in the
    // multithreaded apartment (docs/opc-engine.md, "Ending a program whose calls run on RPC
    // threads", says what that took).
    static constexpr bool kCallableOnAnyThread = true;

    explicit SampleServer(int minUpdateRate = kDefaultMinUpdateRate);
    ~SampleServer() override;

    void HandleException(std::exception_ptr error) override;
    TServerOptions Options() override;
    int MinUpdateRate() override { return min_update_rate_; }
    bool CallableOnAnyThread() override { return kCallableOnAnyThread; }
    TItemHandle GetItemInfoEx(const std::wstring& itemId, std::wstring& accessPath,
                              TAccessRights& accessRights, std::shared_ptr<IEUInfo>& euInfo,
                              std::shared_ptr<IItemProperties>& itemProperties) override;
    void LoadNamespace(TItemIdList& root) override;
    void GetItemValue(TItemHandle handle, WORD& quality, win::Variant& value) override;
    void SetItemValue(TItemHandle handle, const VARIANT& value) override;
    void ClientConnected(TClientInfo& client) override;
    void ClientDisconnected(TClientInfo& client) override;
    void GroupAdded(TGroupInfo& group) override;
    void GroupRemoved(TGroupInfo& group) override;
    void GroupCallbackFailed(HRESULT error, TGroupInfo& group, int kind) override;
    void ShutdownCallbackFailed(HRESULT error, TClientInfo& client, int kind) override;

  private:
    TSampleItems items_;
    int min_update_rate_;
};

}  // namespace porvex::opc::sample
