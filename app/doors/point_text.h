// The leaf texts of a door's points, made from the door's typed states: what the window
// shows and the log writes. Every text is the point's prefix and one value word.
#pragma once

#include <string>
#include <string_view>

#include "doors/door_record.h"
#include "doors/door_state.h"
#include "doors/point_kind.h"

namespace porvex {

std::string_view word_of(AlarmState state);
std::string_view word_of(RemoteOpenResult result);
std::string_view word_of(ContactAlarmState state);
std::string_view word_of(const CardShown& card);
// "开" for an open door, and for a closed one while a contact alarm stands.
std::string_view door_open_word(DoorOpenState state, ContactAlarmState alarm);

// The word a point of the door shows.
std::string_view point_word(const DoorRecord& door, PointKind kind);
// Its leaf's whole text: the kind's prefix and the word.
std::string point_text(const DoorRecord& door, PointKind kind);

}  // namespace porvex
