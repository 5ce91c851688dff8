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
    // Sent by the caller once the data lock is released; withdrawn (and the flag put
    // back) if the library does not take it.
    if (commands_.PrepareStatusQuery(update, &door)) {
        door.status_poll_queued = true;
    }
    door.poll_time = update.now;
}

void UpkeepTick::door_pass(Update& update, DoorRecord& door, int refresh_seconds) {
    PointSetters set(dir_, update);
    const Moment now = update.now;
    const PointSet enabled = dir_.enabled();

    // Status poll: a door whose link is believed down, or whose state is unknown,
    // is asked for its state; a door reported open is closed again once its contact
    // is closed, otherwise asked again.
    if (!door.status_poll_queued || (door.door_open == DoorOpenState::not_monitored &&
                                     more_than(kPollIntervalSeconds, door.poll_time, now))) {
        poll(update, door);
    } else if (door.door_open == DoorOpenState::open &&
               more_than(kOpenCheckSeconds, door.opened_time, now)) {
        if (door.contact_open == ContactState::closed) {
            set.SetDoorOpen(&door, DoorOpenState::closed);
        } else {
            poll(update, door);
            door.opened_time = now;
        }
    }

    // Door-state and contact alarms stay until the controller clears them (an
    // alarms-cleared report, or a status reply with the contact closed): an alarm of
    // an access-control system must not vanish on a timer.
    door.state_time = now;

    if (enabled.has(PointKind::last_card) && door.last_card_node != kNoNode &&
        more_than(refresh_seconds, door.last_card_time, now)) {
        door.last_card = CardShown::none();
        set.show(door, PointKind::last_card, false);
        door.last_card_time = now;
    }
    if (enabled.has(PointKind::tamper) && door.tamper_node != kNoNode &&
        more_than(kTamperRevertSeconds, door.tamper_time, now) &&
        door.tamper == AlarmState::alarm) {
        door.tamper = AlarmState::normal;
        set.show(door, PointKind::tamper, false);
        door.tamper_time = now;
    }
    if (enabled.has(PointKind::invalid_card) && door.invalid_card_node != kNoNode &&
        more_than(refresh_seconds, door.invalid_card_time, now)) {
        door.invalid_card = CardShown::none();
        set.show(door, PointKind::invalid_card, false);
        door.invalid_card_time = now;
    }
}

void UpkeepTick::remote_open_timeout(Update& update, DoorRecord& door) {
    if (door.remote_open_node == kNoNode ||
        !more_than(kRemoteOpenTimeoutSeconds, door.remote_open_time, update.now)) {
        return;
    }
    PointSetters set(dir_, update);
    // A pending command also ends here when a client's write of another value has
    // replaced "锁定" by "失败" meanwhile; otherwise the door could never be opened
    // remotely again.
    if (door.remote_open != RemoteOpenResult::locked && !door.remote_open_pending) {
        return;
    }
    if (door.remote_open_pending) {
        update.remote_open_ends.push_back({door.index, "time-out, no reply"});
    }
    door.remote_open = RemoteOpenResult::failure;
    set.show(door, PointKind::remote_open, false);
    update.events.push_back(door_event(DoorEvent::Kind::remote_open_failed, door, update.now));
    door.remote_open_pending = false;
    door.remote_open_time = update.now;
}

}  // namespace porvex
