// TEventEngine: the Alarms & Events server of a process, beside the DA engine. The program
// makes one on its main thread with the catalog of what it offers (categories, conditions,
// sources) and then feeds it through Hub() from any thread. Clients get event server
// objects from the class object (event_factory.h); their subscriptions deliver on the
// engine's timer, on the main thread, never inside a client's incoming call:
//
//   - a hidden message-only window ticks every kTickMs; each tick lets every subscription
//     hand what is due (buffer time, max size) and any pending refresh to its sink;
//   - a sink whose client is gone (RPC_E_DISCONNECTED and the like) is dropped and logged.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opc/events/model/event_hub.h"

namespace porvex::opc::events {

class TEventSubscription;
class TEventServer;

// Item IDs of the DA server for an event attribute (TranslateToItemIDs): source,
// category, condition, subcondition, attribute ID -> item ID, empty when there is none.
using TItemIdTranslator = std::function<std::wstring(
    const std::wstring&, std::uint32_t, const std::wstring&, const std::wstring&, std::uint32_t)>;

class TEventEngine {
  public:
    static constexpr UINT kTickMs = 20;

    // EOpcServer when the process already has one or the window cannot be made.
    TEventEngine(TEventCatalog catalog, std::wstring vendorInfo, TEventClock clock = {});
    TEventEngine(const TEventEngine&) = delete;
    TEventEngine& operator=(const TEventEngine&) = delete;
    ~TEventEngine();

    static TEventEngine* Instance() noexcept;

    TEventHub& Hub() noexcept { return hub_; }
    const std::wstring& VendorInfo() const noexcept { return vendor_info_; }
    FILETIME StartTime() const noexcept { return start_time_; }
    FILETIME LastUpdateTime() const noexcept;

    void SetItemIdTranslator(TItemIdTranslator translator, const CLSID& daServer);
    std::wstring TranslateItemId(const std::wstring& source, std::uint32_t category,
                                 const std::wstring& condition, const std::wstring& subcondition,
                                 std::uint32_t attribute) const;
    const CLSID& DaServer() const noexcept { return da_server_; }

    // Subscriptions and server objects announce themselves for ticks and shutdown.
    void Add(TEventSubscription& subscription);
    void Remove(TEventSubscription& subscription) noexcept;
    void Add(TEventServer& server);
    void Remove(TEventServer& server) noexcept;
    std::size_t ServerCount() const noexcept { return servers_.size(); }
    // Asks every connected client to disconnect (IOPCShutdown); the count asked.
    std::size_t RequestShutdown(const std::wstring& reason);

    // Runs one delivery pass now (the timer does it every kTickMs).
    void Tick() noexcept;

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    TEventHub hub_;
    std::wstring vendor_info_;
    FILETIME start_time_{};
    HWND hwnd_ = nullptr;
    std::vector<TEventSubscription*> subscriptions_;
    std::vector<TEventServer*> servers_;
    TItemIdTranslator translator_;
    CLSID da_server_{};
    bool ticking_ = false;
};

}  // namespace porvex::opc::events
