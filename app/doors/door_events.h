// Discrete door events, for observers that must see every occurrence (the Alarms & Events
// server): a leaf change only says that a text changed, so two swipes of the same card
// collapse into one, while here they are two events. They are collected during an
// operation under data_lock_ (Update::events) and handed out after it, like leaf changes.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "core/clock.h"
#include "doors/door_record.h"

namespace porvex {

struct DoorEvent {
    enum class Kind : unsigned char {
        card_granted,        // a card opened the door (card, reader)
        card_refused,        // a card was refused (card, reader)
        contact_alarm,       // contact_alarm: forced entry or held open
        alarms_cleared,      // the controller cleared the door's alarms
        tamper_alarm,        // the reader group reported tampering
        remote_open_done,    // the controller confirmed a remote open
        remote_open_failed,  // refused, or no reply within 10 seconds
        link_up,             // the controller's link (ip, port) is up
        link_down,           // ... is down
    };
    static constexpr std::size_t kNoDoor = static_cast<std::size_t>(-1);

    Kind kind = Kind::card_granted;
    std::size_t door = kNoDoor;  // the door's Index; kNoDoor for link events
    std::string ip;
    int port = 0;
    std::string card;
    int reader = 0;
    ContactAlarmState contact_alarm = ContactAlarmState::normal;
    std::string client;  // remote opens: the OPC client that wrote the open
    Moment at{};
};

// An event of a door at a moment.
inline DoorEvent door_event(DoorEvent::Kind kind, const DoorRecord& door, Moment at,
                            ContactAlarmState contact_alarm = ContactAlarmState::normal) {
    DoorEvent event;
    event.kind = kind;
    event.door = door.index;
    event.ip = door.ip;
    event.port = door.port;
    event.contact_alarm = contact_alarm;
    event.at = at;
    if (kind == DoorEvent::Kind::remote_open_done || kind == DoorEvent::Kind::remote_open_failed) {
        event.client = door.remote_open_by;
    }
    return event;
}

// Receives door events after the data lock has been released, on the thread that made
// them (a library thread, the event worker, the upkeep tick). Must be thread-safe and quick.
class DoorEventObserver {
  public:
    virtual ~DoorEventObserver() = default;
    virtual void door_events(std::span<const DoorEvent> events) = 0;
};

}  // namespace porvex
