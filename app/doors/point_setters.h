// The setters through which every change of a door point goes, with the small state
// machine tying the door-open state, the door-contact input and the contact alarm
// together. Each changes the door's typed state and then shows it in the point's leaf
// (point_text.h). All of them do nothing for a null door and touch a leaf only when
// the door has it (its point kind is enabled).
#pragma once

#include "core/wall_time.h"
#include "doors/door_directory.h"
#include "doors/door_state.h"
#include "doors/leaf_change.h"

namespace porvex {

class PointSetters {
  public:
    PointSetters(DoorDirectory& directory, Update& update) : dir_(directory), update_(update) {}

    void SetDoorState(DoorRecord* door, AlarmState state);
    // A card number, or "没有监控"; an empty card only clears "没有监控" and never erases
    // a shown number.
    void SetLastCard(DoorRecord* door, const CardShown& card);
    void SetInvalidCard(DoorRecord* door, const CardShown& card);
    void SetTamper(DoorRecord* door, AlarmState state);
    void SetDoorOpen(DoorRecord* door, DoorOpenState state);
    void SetContactAlarm(DoorRecord* door, ContactAlarmState state);
    void SetContactOpen(DoorRecord* door, ContactState state);
    // The reply to a pending remote open (or its end); nothing before the leaves have
    // their value holders.
    void SetRemoteOpenResult(DoorRecord* door, RemoteOpenResult result);
    // A card read at the door at `at`: last_swipe moves on (always forward, by at
    // least a millisecond, so that every read changes it) and the leaf shows the time
    // (reported as changed with visible refresh, also when its text stays the same).
    void SetSwipeTime(DoorRecord* door, const WallTime& at);

    // Shows the door's state of `kind` in its leaf (after the caller changed it, as the
    // upkeep tick's clearing and reverting and the remote-open send do); records a
    // change when the text changed or when visible refresh is asked for.
    void show(const DoorRecord& door, PointKind kind, bool visible_refresh);

    Moment now() const { return update_.now; }

  private:
    void set_card(DoorRecord& door, PointKind kind, CardShown& shown, const CardShown& card);
    void set_text(NodeId leaf, std::string_view text, bool visible_refresh);

    DoorDirectory& dir_;
    Update& update_;
};

}  // namespace porvex
