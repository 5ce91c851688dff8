#include "doors/door_load.h"

#include "doors/point_setters.h"

namespace porvex {

DoorRecord& load_door(DoorDirectory& directory, Update& update, const DoorRow& row) {
    DoorRecord& door = directory.add_door(row);
    // A new record's state fields start at zero; the setters then show the door and
    // contact points as not monitored.
    door.DoorOpen = DoorOpenState::closed;
    door.ContactOpen = ContactState::closed;
    door.ContactAlarm = ContactAlarmState::normal;
    PointSetters set(directory, update);
    set.SetContactAlarm(&door, ContactAlarmState::not_monitored);
    set.SetDoorOpen(&door, DoorOpenState::not_monitored);
    set.SetContactOpen(&door, ContactState::unknown);
    door.StateTime = update.now;
    door.TamperTime = update.now;
    door.LastCardTime = kLongAgo;
    door.InvalidCardTime = kLongAgo;
    door.RemoteOpenTime = kLongAgo;
    door.PollTime = kLongAgo;
    door.OpenedTime = kNever;
    door.RemoteOpenPending = false;
    return door;
}

}  // namespace porvex
