#include "doors/point_setters.h"

#include <algorithm>

namespace porvex {

namespace {

std::string_view contact_alarm_word(int state) {
    switch (state) {
        case kNotMonitored:
            return words::kNotMonitored;
        case 0:
            return words::kNormal;
        case kForcedEntry:
            return words::kForcedEntry;
        case kHeldOpen:
            return words::kHeldOpen;
        default:
            return {};
    }
}

bool is_contact_alarm(int state) { return state == kForcedEntry || state == kHeldOpen; }

}  // namespace

int remote_open_value(std::string_view word) {
    if (word == words::kFailure) {
        return 1;
    }
    if (word == words::kLocked) {
        return 2;
    }
    return 0;
}

void PointSetters::set_leaf(NodeId leaf, std::string_view prefix, std::string_view word,
                            bool visible_refresh) {
    if (leaf == kNoNode) {
        return;
    }
    std::string text;
    text.reserve(prefix.size() + word.size());
    text.append(prefix).append(word);
    const bool changed = dir_.tree().set_text(leaf, text);
    if (changed || visible_refresh) {
        update_.changes.push_back(LeafChange{leaf, visible_refresh});
    }
}

std::string_view PointSetters::leaf_word(NodeId leaf, std::string_view prefix) const {
    std::string_view text = dir_.tree().text(leaf);
    if (text.substr(0, prefix.size()) == prefix) {
        text.remove_prefix(prefix.size());
    }
    return text;
}

void PointSetters::SetDoorState(DoorRecord* door, std::string_view word) {
    if (door == nullptr) {
        return;
    }
    set_leaf(door->StateNode, info(PointKind::door_state).prefix, word, true);
}

void PointSetters::set_card(NodeId leaf, std::string_view prefix, std::string_view card) {
    // An empty card only clears the "没有监控" marker; it never erases a shown number.
    if (!card.empty() || leaf_word(leaf, prefix) == words::kNotMonitored) {
        set_leaf(leaf, prefix, card, true);
    } else {
        update_.changes.push_back(LeafChange{leaf, true});
    }
}

void PointSetters::SetLastCard(DoorRecord* door, std::string_view card) {
    if (door == nullptr || door->LastCardNode == kNoNode) {
        return;
    }
    set_card(door->LastCardNode, info(PointKind::last_card).prefix, card);
    door->LastCardTime = update_.now;
}

void PointSetters::SetInvalidCard(DoorRecord* door, std::string_view card) {
    if (door == nullptr || door->InvalidCardNode == kNoNode) {
        return;
    }
    set_card(door->InvalidCardNode, info(PointKind::invalid_card).prefix, card);
    door->InvalidCardTime = update_.now;
}

void PointSetters::SetTamper(DoorRecord* door, std::string_view word) {
    if (door == nullptr) {
        return;
    }
    set_leaf(door->TamperNode, info(PointKind::tamper).prefix, word, true);
    door->TamperTime = update_.now;
}

void PointSetters::SetDoorOpen(DoorRecord* door, int state) {
    if (door == nullptr) {
        return;
    }
    door->DoorOpen = state;
    const std::string_view prefix = info(PointKind::door_open_state).prefix;
    if (state == 0) {
        set_leaf(door->DoorOpenNode, prefix,
                 is_contact_alarm(door->ContactAlarm) ? words::kOpen : words::kClosed, false);
    } else if (state == 1) {
        set_leaf(door->DoorOpenNode, prefix, words::kOpen, false);
        SetContactOpen(door, kNotMonitored);
    } else {
        set_leaf(door->DoorOpenNode, prefix, words::kNotMonitored, false);
    }
}

void PointSetters::SetContactAlarm(DoorRecord* door, int state) {
    if (door == nullptr) {
        return;
    }
    // Forced entry and held open never replace each other directly.
    if (is_contact_alarm(state) && is_contact_alarm(door->ContactAlarm) &&
        state != door->ContactAlarm) {
        return;
    }
    door->ContactAlarm = state;
    set_leaf(door->ContactAlarmNode, info(PointKind::contact_alarm).prefix,
             contact_alarm_word(state), false);
    SetDoorOpen(door, door->DoorOpen);
}

void PointSetters::SetContactOpen(DoorRecord* door, int state) {
    if (door == nullptr || state == door->ContactOpen) {
        return;
    }
    door->ContactOpen = state;
    if (state == 0) {
        SetContactAlarm(door, 0);
        SetDoorState(door, words::kNormal);
    } else if (state == 1 && door->ContactAlarm == kNotMonitored) {
        if (door->DoorOpen == 0) {
            SetContactAlarm(door, kForcedEntry);
            SetDoorState(door, words::kAlarm);
        } else {
            SetContactAlarm(door, 0);
            SetDoorState(door, words::kNormal);
        }
    }
}

void PointSetters::SetRemoteOpenResult(DoorRecord* door, std::string_view word) {
    if (door == nullptr || door->RemoteOpenNode == kNoNode) {
        return;
    }
    TItemInfo* holder = dir_.tree().info(door->RemoteOpenNode);
    if (holder == nullptr) {
        return;
    }
    set_leaf(door->RemoteOpenNode, info(PointKind::remote_open).prefix, word, true);
    holder->Value = std::int32_t{remote_open_value(word)};
    door->RemoteOpenPending = false;
}

void PointSetters::SetSwipeTime(DoorRecord* door, const WallTime& at) {
    if (door == nullptr || door->SwipeTimeNode == kNoNode) {
        return;
    }
    constexpr double kMillisecondInDays = 1.0 / 86400000.0;
    door->LastSwipe = std::max(at.ole_date, door->LastSwipe + kMillisecondInDays);
    // Reported even when the text (whole seconds) stays: the value moved on.
    set_leaf(door->SwipeTimeNode, kSwipeTimePrefix, ole_date_text(door->LastSwipe), true);
}

}  // namespace porvex
