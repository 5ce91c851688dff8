#include "doors/upkeep_tick.h"

#include "doors/point_setters.h"

namespace porvex {

void UpkeepTick::run(Update& update, int refresh_seconds) {
    for (std::size_t i = 0; i < dir_.door_count(); ++i) {
        door_pass(update, dir_.door(i), refresh_seconds);
    }
    if (dir_.enabled().has(PointKind::remote_open)) {
        for (std::size_t i = 0; i < dir_.door_count(); ++i) {
            remote_open_timeout(update, dir_.door(i));
        }
    }
    commands_.purge_expired(update.now);
}

void UpkeepTick::poll(Update& update, DoorRecord& door) {
    if (commands_.SendStatusQuery(update, &door)) {
        door.Online = true;
    }
    door.PollTime = update.now;
}

void UpkeepTick::door_pass(Update& update, DoorRecord& door, int refresh_seconds) {
    PointSetters set(dir_, update);
    const Moment now = update.now;
    const PointSet enabled = dir_.enabled();

    // Status poll: a door whose link is believed down, or whose state is unknown,
    // is asked for its state; a door reported open is closed again once its contact
    // is closed, otherwise asked again.
    if (!door.Online || (door.DoorOpen == DoorOpenState::not_monitored &&
                         more_than(kPollIntervalSeconds, door.PollTime, now))) {
        poll(update, door);
    } else if (door.DoorOpen == DoorOpenState::open &&
               more_than(kOpenCheckSeconds, door.OpenedTime, now)) {
        if (door.ContactOpen == ContactState::closed) {
            set.SetDoorOpen(&door, DoorOpenState::closed);
        } else {
            poll(update, door);
            door.OpenedTime = now;
        }
    }

    // Door-state and contact alarms stay until the controller clears them (an
    // alarms-cleared report, or a status reply with the contact closed): an alarm of
    // an access-control system must not vanish on a timer.
    door.StateTime = now;

    if (enabled.has(PointKind::last_card) && door.LastCardNode != kNoNode &&
        more_than(refresh_seconds, door.LastCardTime, now)) {
        door.LastCard = CardShown::none();
        set.show(door, PointKind::last_card, false);
        door.LastCardTime = now;
    }
    if (enabled.has(PointKind::tamper) && door.TamperNode != kNoNode &&
        more_than(kTamperRevertSeconds, door.TamperTime, now) && door.Tamper == AlarmState::alarm) {
        door.Tamper = AlarmState::normal;
        set.show(door, PointKind::tamper, false);
        door.TamperTime = now;
    }
    if (enabled.has(PointKind::invalid_card) && door.InvalidCardNode != kNoNode &&
        more_than(refresh_seconds, door.InvalidCardTime, now)) {
        door.InvalidCard = CardShown::none();
        set.show(door, PointKind::invalid_card, false);
        door.InvalidCardTime = now;
    }
}

void UpkeepTick::remote_open_timeout(Update& update, DoorRecord& door) {
    if (door.RemoteOpenNode == kNoNode ||
        !more_than(kRemoteOpenTimeoutSeconds, door.RemoteOpenTime, update.now)) {
        return;
    }
    PointSetters set(dir_, update);
    // A pending command also ends here when a client's write of another value has
    // replaced "锁定" by "失败" meanwhile; otherwise the door could never be opened
    // remotely again.
    if (door.RemoteOpen != RemoteOpenResult::locked && !door.RemoteOpenPending) {
        return;
    }
    if (door.RemoteOpenPending) {
        update.remote_open_ends.push_back({door.Index, "time-out, no reply"});
    }
    door.RemoteOpen = RemoteOpenResult::failure;
    set.show(door, PointKind::remote_open, false);
    update.events.push_back(door_event(DoorEvent::Kind::remote_open_failed, door, update.now));
    door.RemoteOpenPending = false;
    door.RemoteOpenTime = update.now;
}

}  // namespace porvex
