// PorvexServer: the door server's item server, the one TOpcItemServer of the program.
//
// OPC clients see the doors through it: one branch per door, one item per enabled point,
// item handles that are the server-tree leaves themselves (they live as long as the
// process). Reads, writes and item resolution go to the DoorServer, which finds leaves
// and doors through indexes built at start-up. Connected clients, their groups and items,
// and the three kinds of log line are handed to the monitor window through MonitorSink.
//
// The instance is created and registered before the window and the door model exist
// (the registration step needs it); the window attaches both once it has made them.
// Until then the namespace is empty and every item ID is unknown. All slots and
// notifications run on the main thread.
//
// Every door item the engine subscribes is pushed by the door model (ItemPushes): the
// engine's update ticks never read the doors; GetItemValue serves only the engine's own
// reads (the type probe, activation, device reads).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "door_opc/item_pushes.h"
#include "opc/server/item_server.h"

namespace porvex {

class DoorServer;

// The monitor window's side of the item server. Called on the main thread only.
class MonitorSink {
  public:
    virtual ~MonitorSink() = default;
    // A line for the log list, inserted at its top.
    virtual void log_line(const std::wstring& line) = 0;
    // The client tree. Each call names the engine object; the sink keeps its node in the
    // object's Data slot. Removals come parent first: a client before its groups, a
    // group before its items, so a removal may find its node already gone (Data null).
    virtual void client_connected(opc::TClientInfo& client) = 0;
    virtual void client_disconnected(opc::TClientInfo& client) = 0;
    virtual void client_name_changed(opc::TClientInfo& client) = 0;
    virtual void group_added(opc::TGroupInfo& group) = 0;
    virtual void group_removed(opc::TGroupInfo& group) = 0;
    virtual void group_item_added(opc::TGroupItemInfo& item) = 0;
    virtual void group_item_removed(opc::TGroupItemInfo& item) = 0;
};

// The registration facts of the door server's OPC class.
inline constexpr GUID kPorvexServerClsid = {
    0xE8B390BF, 0x326A, 0x452D, {0xAC, 0xF7, 0x49, 0xF4, 0xC6, 0x0F, 0xF1, 0x3E}};
inline constexpr int kPorvexServerVersion = 3;
inline constexpr wchar_t kPorvexServerDescription[] = L"Porvex Server(398)-V3.0";

class PorvexServer final : public opc::TOpcItemServer {
  public:
    PorvexServer() = default;
    ~PorvexServer() override;

    // Main thread, never from inside a door model notification. `doors` must outlive the
    // attachment (the item server observes it meanwhile); pass nulls to detach (the orderly
    // exit does so before it releases the doors, after which reads, writes and
    // resolutions find nothing, and subscribed items turn BAD). The monitor may be
    // attached without doors.
    void attach(DoorServer* doors, MonitorSink* monitor);

    // GetItemValue calls so far: subscribed items are never polled, so an idle update
    // tick adds none (tests and the benchmark count them).
    std::uint64_t item_reads() const noexcept { return item_reads_.load(); }
    // Items the engine has subscribed and not yet let go.
    std::size_t subscriptions() const { return pushes_.count(); }

    // ---- TOpcItemServer -------------------------------------------------------------
    opc::TServerOptions Options() override;
    void LoadNamespace(opc::TItemIdList& root) override;
    opc::TItemHandle GetItemInfo(const std::wstring& itemId, std::wstring& accessPath,
                                 opc::TAccessRights& accessRights) override;
    void ReleaseHandle(opc::TItemHandle handle) override;
    // Every door item is subscribed: the door model pushes its changes (ItemPushes).
    bool SubscribeItem(opc::TItemHandle handle, opc::TOnChange onChange) override;
    void UnsubscribeItem(opc::TItemHandle handle) override;
    // Values in the point's one canonical type; quality BAD (not connected, comm
    // failure) while the door's controller link is down, BAD for a failed read.
    void GetItemValue(opc::TItemHandle handle, WORD& quality, win::Variant& value) override;
    // A refused remote open (controller offline, frame refused) fails the client's
    // write with E_FAIL; a value that is not a number, a boolean or "true"/"false" with
    // OPC_E_BADTYPE. Every remote open is logged with the writing client's name.
    void SetItemValue(opc::TItemHandle handle, const VARIANT& value) override;
    void ConvertWrittenValue(opc::TItemHandle handle, const VARIANT& written, VARTYPE canonicalType,
                             win::Variant& converted) override;
    void ClientConnected(opc::TClientInfo& client) override;
    void ClientDisconnected(opc::TClientInfo& client) override;
    void ClientNameChanged(opc::TClientInfo& client) override;
    void GroupAdded(opc::TGroupInfo& group) override;
    void GroupRemoved(opc::TGroupInfo& group) override;
    void GroupItemAdded(opc::TGroupItemInfo& item) override;
    void GroupItemRemoved(opc::TGroupItemInfo& item) override;

  private:
    void log(const std::wstring& line);
    // The name a remote open is logged under: the client's own name, else
    // "(unnamed client connected <date time>)", the moment the client tree shows too.
    std::string writer_name(const opc::TClientInfo* client) const;

    DoorServer* doors_ = nullptr;
    MonitorSink* monitor_ = nullptr;
    // When each connected client came (main thread only, like every notification).
    std::unordered_map<const opc::TClientInfo*, std::wstring> connected_at_;
    ItemPushes pushes_;
    std::atomic<std::uint64_t> item_reads_{0};
};

}  // namespace porvex
