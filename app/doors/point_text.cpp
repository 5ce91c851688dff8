#include "doors/point_text.h"

namespace porvex {

std::string_view word_of(AlarmState state) {
    switch (state) {
        case AlarmState::normal:
            return words::kNormal;
        case AlarmState::alarm:
            return words::kAlarm;
        case AlarmState::not_monitored:
            return words::kNotMonitored;
    }
    return {};
}

std::string_view word_of(RemoteOpenResult result) {
    switch (result) {
        case RemoteOpenResult::success:
            return words::kSuccess;
        case RemoteOpenResult::failure:
            return words::kFailure;
        case RemoteOpenResult::locked:
            return words::kLocked;
    }
    return {};
}

std::string_view word_of(ContactAlarmState state) {
    switch (state) {
        case ContactAlarmState::not_monitored:
            return words::kNotMonitored;
        case ContactAlarmState::normal:
            return words::kNormal;
        case ContactAlarmState::forced_entry:
            return words::kForcedEntry;
        case ContactAlarmState::held_open:
            return words::kHeldOpen;
    }
    return {};
}

std::string_view word_of(const CardShown& card) {
    switch (card.kind) {
        case CardShown::Kind::none:
            return {};
        case CardShown::Kind::number:
            return card.number;
        case CardShown::Kind::not_monitored:
            return words::kNotMonitored;
    }
    return {};
}

std::string_view door_open_word(DoorOpenState state, ContactAlarmState alarm) {
    switch (state) {
        case DoorOpenState::closed:
            return is_contact_alarm(alarm) ? words::kOpen : words::kClosed;
        case DoorOpenState::open:
            return words::kOpen;
        case DoorOpenState::not_monitored:
            return words::kNotMonitored;
    }
    return {};
}

std::string_view point_word(const DoorRecord& door, PointKind kind) {
    switch (kind) {
        case PointKind::door_state:
            return word_of(door.door_state);
        case PointKind::remote_open:
            return word_of(door.remote_open);
        case PointKind::last_card:
            return word_of(door.last_card);
        case PointKind::invalid_card:
            return word_of(door.invalid_card);
        case PointKind::tamper:
            return word_of(door.tamper);
        case PointKind::door_open_state:
            return door_open_word(door.door_open, door.contact_alarm);
        case PointKind::contact_alarm:
            return word_of(door.contact_alarm);
    }
    return {};
}

std::string point_text(const DoorRecord& door, PointKind kind) {
    const std::string_view prefix = info(kind).prefix;
    const std::string_view word = point_word(door, kind);
    std::string text;
    text.reserve(prefix.size() + word.size());
    text.append(prefix).append(word);
    return text;
}

}  // namespace porvex
