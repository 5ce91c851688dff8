#include "alarms/door_alarms.h"

#include "core/utf.h"
#include "doors/door_record.h"

namespace porvex {

using namespace opc::events;
using namespace door_alarms;

namespace {

constexpr wchar_t kDoorAlarmCondition[] = L"DoorAlarm";
constexpr wchar_t kTamperCondition[] = L"Tamper";
constexpr wchar_t kOfflineCondition[] = L"ControllerOffline";

}  // namespace

std::wstring wide_text(std::string_view utf8) {
    const std::u16string units = utf8_to_utf16(utf8);
    std::wstring out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if constexpr (sizeof(wchar_t) == 4) {
            // A surrogate pair is one character where wchar_t holds any character.
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                units[i + 1] < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
                ++i;
            }
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

std::string branch_location(std::string_view branch) {
    const std::size_t open = branch.rfind('(');
    if (open == std::string_view::npos || branch.empty() || branch.back() != ')') {
        return {};
    }
    return std::string(branch.substr(open + 1, branch.size() - open - 2));
}

std::wstring controller_source(std::string_view ip, int port) {
    return wide_text(ip) + L":" + std::to_wstring(port);
}

TEventCatalog door_alarm_catalog(const std::vector<AlarmDoor>& doors) {
    TEventCatalog catalog;
    catalog.AddCategory({kCardRead,
                         kSimpleEvent,
                         L"Card read",
                         {{kCardAttribute, L"Card", kTypeText},
                          {kReaderAttribute, L"Reader", kTypeInt},
                          {kGrantedAttribute, L"Granted", kTypeBool},
                          {kControllerAttribute, L"Controller", kTypeText}}});
    catalog.AddCategory(
        {kRemoteOpen,
         kTrackingEvent,
         L"Remote open",
         {{kOutcomeAttribute, L"Outcome", kTypeText}, {kClientAttribute, L"Client", kTypeText}}});
    catalog.AddCategory({kControllerLink,
                         kSimpleEvent,
                         L"Controller link",
                         {{kControllerAttribute, L"Controller", kTypeText}}});
    catalog.AddCategory({kDoorAlarm, kConditionEvent, L"Door alarm", {}});
    catalog.AddCategory({kTamperAlarm, kConditionEvent, L"Tamper alarm", {}});
    catalog.AddCategory({kControllerOffline, kConditionEvent, L"Controller offline", {}});
    catalog.AddCondition(
        {kDoorAlarmCondition,
         kDoorAlarm,
         {{L"ForcedEntry", L"opened without a card or a remote open", 800, L"Door forced open"},
          {L"HeldOpen", L"left open too long", 600, L"Door held open"}}});
    catalog.AddCondition(
        {kTamperCondition, kTamperAlarm, {{L"Tamper", L"reader tampered with", 700, L"Tamper"}}});
    catalog.AddCondition(
        {kOfflineCondition,
         kControllerOffline,
         {{L"Offline", L"no link to the controller", 500, L"Controller offline"}}});
    for (const AlarmDoor& door : doors) {
        const std::wstring source = wide_text(door.branch);
        if (catalog.Source(source)) {
            continue;  // a second door of the same name and location shares the source
        }
        catalog.AddSource({source,
                           wide_text(branch_location(door.branch)),
                           {kDoorAlarmCondition, kTamperCondition}});
    }
    for (const AlarmDoor& door : doors) {
        const std::wstring controller = controller_source(door.ip, door.port);
        if (!catalog.Source(controller)) {
            catalog.AddSource({controller, kControllersArea, {kOfflineCondition}});
        }
    }
    return catalog;
}

DoorAlarms::DoorAlarms(TEventHub& hub, std::vector<AlarmDoor> doors)
    : hub_(hub), doors_(std::move(doors)) {}

const AlarmDoor* DoorAlarms::door(std::size_t index) const {
    return index < doors_.size() ? &doors_[index] : nullptr;
}

void DoorAlarms::set_doors(std::vector<AlarmDoor> doors) {
    std::lock_guard lock(doors_lock_);
    doors_ = std::move(doors);
}

void DoorAlarms::door_events(std::span<const DoorEvent> events) {
    std::lock_guard lock(doors_lock_);
    for (const DoorEvent& event : events) {
        one(event);
    }
}

void DoorAlarms::one(const DoorEvent& event) {
    const std::wstring controller = controller_source(event.ip, event.port);
    const AlarmDoor* record = door(event.door);
    const std::wstring source = record ? wide_text(record->branch) : controller;
    switch (event.kind) {
        case DoorEvent::Kind::card_granted:
        case DoorEvent::Kind::card_refused: {
            const bool granted = event.kind == DoorEvent::Kind::card_granted;
            TEvent read;
            read.source = source;
            read.category = kCardRead;
            read.severity = granted ? 100 : 400;
            read.message = L"card " + wide_text(event.card) +
                           (granted ? L" granted" : L" refused") + L" at reader " +
                           std::to_wstring(event.reader);
            read.attributes = {{kCardAttribute, wide_text(event.card)},
                               {kReaderAttribute, static_cast<std::int32_t>(event.reader)},
                               {kGrantedAttribute, granted},
                               {kControllerAttribute, controller}};
            hub_.Post(std::move(read));
            return;
        }
        case DoorEvent::Kind::remote_open_done:
        case DoorEvent::Kind::remote_open_failed: {
            const bool done = event.kind == DoorEvent::Kind::remote_open_done;
            TEvent open;
            open.source = source;
            open.type = kTrackingEvent;
            open.category = kRemoteOpen;
            open.severity = done ? 300 : 500;
            open.message = done ? L"remote open done" : L"remote open failed";
            open.attributes = {{kOutcomeAttribute, std::wstring(done ? L"success" : L"failure")},
                               {kClientAttribute, wide_text(event.client)}};
            hub_.Post(std::move(open));
            return;
        }
        case DoorEvent::Kind::contact_alarm: {
            const bool held = event.contact_alarm == ContactAlarmState::held_open;
            hub_.SetCondition(source, kDoorAlarmCondition, true, 0,
                              held ? L"HeldOpen" : L"ForcedEntry", 0,
                              held ? L"door held open" : L"door forced open");
            return;
        }
        case DoorEvent::Kind::alarms_cleared:
            hub_.SetCondition(source, kDoorAlarmCondition, false, 0, L"", 0,
                              L"alarm cleared by the controller");
            return;
        case DoorEvent::Kind::tamper_alarm:
            hub_.SetCondition(source, kTamperCondition, true, 0, L"Tamper", 0,
                              L"reader tampered with");
            return;
        case DoorEvent::Kind::link_up:
        case DoorEvent::Kind::link_down: {
            const bool up = event.kind == DoorEvent::Kind::link_up;
            TEvent link;
            link.source = controller;
            link.category = kControllerLink;
            link.severity = up ? 200 : 600;
            link.message = up ? L"link up" : L"link down";
            link.attributes = {{kControllerAttribute, controller}};
            hub_.Post(std::move(link));
            hub_.SetCondition(controller, kOfflineCondition, !up, 0, up ? L"" : L"Offline", 0,
                              up ? L"controller back online" : L"controller offline");
            if (up) {
                // A new link shows the doors' tamper points normal again.
                for (const AlarmDoor& d : doors_) {
                    if (d.ip == event.ip && d.port == event.port) {
                        hub_.SetCondition(wide_text(d.branch), kTamperCondition, false, 0, L"", 0,
                                          L"tamper cleared: link up");
                    }
                }
            }
            return;
        }
    }
}

}  // namespace porvex
