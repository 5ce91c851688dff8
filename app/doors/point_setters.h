// The setters through which every change of a door point goes, with the small state
// machine tying the door-open state, the door-contact input and the contact alarm
// together. All of them do nothing for a null door and touch a leaf only when the door
// has it (its point kind is enabled).
#pragma once

#include <string_view>

#include "core/wall_time.h"
#include "doors/door_directory.h"
#include "doors/leaf_change.h"

namespace porvex {

class PointSetters {
  public:
    PointSetters(DoorDirectory& directory, Update& update) : dir_(directory), update_(update) {}

    void SetDoorState(DoorRecord* door, std::string_view word);
    void SetLastCard(DoorRecord* door, std::string_view card);
    void SetInvalidCard(DoorRecord* door, std::string_view card);
    void SetTamper(DoorRecord* door, std::string_view word);
    void SetDoorOpen(DoorRecord* door, int state);
    void SetContactAlarm(DoorRecord* door, int state);
    void SetContactOpen(DoorRecord* door, int state);
    void SetRemoteOpenResult(DoorRecord* door, std::string_view word);
    // A card was read at the door at `at`: LastSwipe moves on (always forward, by at
    // least a millisecond, so that every read changes it) and the leaf shows the time
    // (reported as changed with visible refresh, also when its text stays the same).
    void SetSwipeTime(DoorRecord* door, const WallTime& at);

    // Sets a leaf's text directly (the upkeep tick's clearing and reverting, the
    // remote-open send); records a change when the text changed or when visible
    // refresh is asked for.
    void set_leaf(NodeId leaf, std::string_view prefix, std::string_view word,
                  bool visible_refresh);
    // The text after a leaf's prefix.
    std::string_view leaf_word(NodeId leaf, std::string_view prefix) const;

    Moment now() const { return update_.now; }

  private:
    void set_card(NodeId leaf, std::string_view prefix, std::string_view card);

    DoorDirectory& dir_;
    Update& update_;
};

// Remote-open leaf value for a word: 1 "失败", 2 "锁定", otherwise 0.
int remote_open_value(std::string_view word);

}  // namespace porvex
