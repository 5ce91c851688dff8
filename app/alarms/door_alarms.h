// The door server's alarms and events (OPC Alarms & Events): what it offers (the catalog
// built from the loaded doors and their controllers) and the observer that turns the door
// model's events (doors/door_events.h) into events and condition changes of the hub.
//
//   category 1   "Card read"           simple     Card, Reader, Granted, Controller
//   category 2   "Remote open"         tracking   Outcome, Client
//   category 3   "Controller link"     simple     Controller
//   category 10  "Door alarm"          condition  DoorAlarm: ForcedEntry 800, HeldOpen 600
//   category 11  "Tamper alarm"        condition  Tamper: Tamper 700
//   category 12  "Controller offline"  condition  ControllerOffline: Offline 500
//
// Sources: every door under its branch name "NAME(LOCATION)" in the area LOCATION (the
// root when empty), with DoorAlarm and Tamper; every controller as "IP:PORT" in the area
// "Controllers", with ControllerOffline. docs/alarms-events.md has the full tables.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "doors/door_events.h"
#include "opc/events/model/event_hub.h"

namespace porvex {

namespace door_alarms {
inline constexpr std::uint32_t kCardRead = 1;
inline constexpr std::uint32_t kRemoteOpen = 2;
inline constexpr std::uint32_t kControllerLink = 3;
inline constexpr std::uint32_t kDoorAlarm = 10;
inline constexpr std::uint32_t kTamperAlarm = 11;
inline constexpr std::uint32_t kControllerOffline = 12;

inline constexpr std::uint32_t kCardAttribute = 1;
inline constexpr std::uint32_t kReaderAttribute = 2;
inline constexpr std::uint32_t kGrantedAttribute = 3;
inline constexpr std::uint32_t kControllerAttribute = 4;
inline constexpr std::uint32_t kOutcomeAttribute = 5;
inline constexpr std::uint32_t kClientAttribute = 6;

inline constexpr wchar_t kControllersArea[] = L"Controllers";
}  // namespace door_alarms

// One loaded door as the alarms see it.
struct AlarmDoor {
    std::string branch;  // "NAME(LOCATION)", the door's branch text (UTF-8)
    std::string ip;
    int port = 0;
};

// The program's text (UTF-8) as a wide text.
std::wstring wide_text(std::string_view utf8);
// The location of a branch text "NAME(LOCATION)": what is inside the last parentheses.
std::string branch_location(std::string_view branch);
// "IP:PORT".
std::wstring controller_source(std::string_view ip, int port);

opc::events::TEventCatalog door_alarm_catalog(const std::vector<AlarmDoor>& doors);

// Feeds the hub from the door model's events (any thread; the hub locks). The doors may
// be given after the door model started (set_doors), when they are loaded.
class DoorAlarms final : public DoorEventObserver {
  public:
    explicit DoorAlarms(opc::events::TEventHub& hub, std::vector<AlarmDoor> doors = {});
    void set_doors(std::vector<AlarmDoor> doors);
    void door_events(std::span<const DoorEvent> events) override;

  private:
    void one(const DoorEvent& event);
    const AlarmDoor* door(std::size_t index) const;

    opc::events::TEventHub& hub_;
    std::mutex doors_lock_;
    std::vector<AlarmDoor> doors_;  // by door Index
};

}  // namespace porvex
