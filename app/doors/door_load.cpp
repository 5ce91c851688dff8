#include "doors/door_load.h"

#include "doors/point_setters.h"

namespace porvex {

DoorRecord& load_door(DoorDirectory& directory, Update& update, const DoorRow& row) {
    DoorRecord& door = directory.add_door(row);
    // A new record's state fields start at zero; the setters then show the door and
    // contact points as not monitored.
    door.door_open = DoorOpenState::closed;
    door.contact_open = ContactState::closed;
    door.contact_alarm = ContactAlarmState::normal;
    PointSetters set(directory, update);
    set.SetContactAlarm(&door, ContactAlarmState::not_monitored);
    set.SetDoorOpen(&door, DoorOpenState::not_monitored);
    set.SetContactOpen(&door, ContactState::unknown);
    door.state_time = update.now;
    door.tamper_time = update.now;
    door.last_card_time = kLongAgo;
    door.invalid_card_time = kLongAgo;
    door.remote_open_time = kLongAgo;
    door.poll_time = kLongAgo;
    door.opened_time = kNever;
    door.remote_open_pending = false;
    return door;
}

}  // namespace porvex
