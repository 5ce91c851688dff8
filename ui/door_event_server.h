// The door server's OPC Alarms & Events class Porvex398.PorvexEvents.1, beside the DA class
// Porvex398.PorvexServer.3 in the same process: the event engine, its registration, and the
// feed from the door model (app/alarms). The program makes one in its entry, after the DA
// class and before TComServer::Start; the monitor window then attaches the door model
// (before its event worker starts) and tells it when the doors are loaded. Clients that come
// before that see an empty catalog; the doors' sources appear once they are loaded.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "alarms/door_alarms.h"
#include "opc/events/com/event_engine.h"

namespace porvex {
class DoorServer;
}

namespace porvex::ui {

// {3C5E7A1B-2D4F-4B8E-9A61-7F0C2E9B5D34}
inline constexpr GUID kPorvexEventsClsid = {
    0x3C5E7A1B, 0x2D4F, 0x4B8E, {0x9A, 0x61, 0x7F, 0x0C, 0x2E, 0x9B, 0x5D, 0x34}};
inline constexpr wchar_t kPorvexEventsClassName[] = L"PorvexEvents.1";
inline constexpr wchar_t kPorvexEventsDescription[] = L"Porvex Events(398)-V3.0";

class TDoorEventServer {
  public:
    // Makes the engine and registers the class with the process's TComServer.
    TDoorEventServer();
    TDoorEventServer(const TDoorEventServer&) = delete;
    TDoorEventServer& operator=(const TDoorEventServer&) = delete;
    ~TDoorEventServer();

    static TDoorEventServer* Instance() noexcept;

    opc::events::TEventEngine& Engine() noexcept { return engine_; }
    // Before the door model starts: its events come to the engine from then on.
    void Attach(DoorServer& doors);
    // After the doors were loaded: their sources and conditions (main thread).
    void DoorsLoaded(DoorServer& doors);
    // Before the door model goes: no more item IDs from it.
    void Detach() noexcept { doors_ = nullptr; }

  private:
    std::wstring ItemId(const std::wstring& source, std::uint32_t attribute) const;

    opc::events::TEventEngine engine_;
    DoorAlarms alarms_;
    DoorServer* doors_ = nullptr;
};

// The process's door event server, when it has one (the window's tests run without).
inline void AttachDoorEvents(DoorServer& doors) {
    if (TDoorEventServer* server = TDoorEventServer::Instance()) {
        server->Attach(doors);
    }
}
inline void DoorEventsLoaded(DoorServer& doors) {
    if (TDoorEventServer* server = TDoorEventServer::Instance()) {
        server->DoorsLoaded(doors);
    }
}

}  // namespace porvex::ui
