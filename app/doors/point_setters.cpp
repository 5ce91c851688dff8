#include "doors/point_setters.h"

#include <algorithm>

#include "doors/item_access.h"
#include "doors/point_text.h"

namespace porvex {

void PointSetters::set_text(NodeId leaf, std::string_view text, bool visible_refresh) {
    if (leaf == kNoNode) {
        return;
    }
    const bool changed = dir_.tree().set_text(leaf, text);
    if (changed || visible_refresh) {
        update_.changes.push_back(LeafChange{leaf, visible_refresh});
    }
}

void PointSetters::show(const DoorRecord& door, PointKind kind, bool visible_refresh) {
    const NodeId leaf = door.node(kind);
    if (leaf == kNoNode) {
        return;
    }
    set_text(leaf, point_text(door, kind), visible_refresh);
    // The value holder keeps the value a client reads now.
    if (TItemInfo* holder = dir_.tree().info(leaf)) {
        holder->Value = point_value(door, kind);
    }
}

void PointSetters::SetDoorState(DoorRecord* door, AlarmState state) {
    if (door == nullptr) {
        return;
    }
    door->door_state = state;
    show(*door, PointKind::door_state, true);
}

void PointSetters::set_card(DoorRecord& door, PointKind kind, CardShown& shown,
                            const CardShown& card) {
    // An empty card only clears the "没有监控" marker; it never erases a shown number.
    if (card.kind != CardShown::Kind::none || shown.kind == CardShown::Kind::not_monitored) {
        shown = card;
        show(door, kind, true);
    } else {
        update_.changes.push_back(LeafChange{door.node(kind), true});
    }
}

void PointSetters::SetLastCard(DoorRecord* door, const CardShown& card) {
    if (door == nullptr || door->last_card_node == kNoNode) {
        return;
    }
    set_card(*door, PointKind::last_card, door->last_card, card);
    door->last_card_time = update_.now;
}

void PointSetters::SetInvalidCard(DoorRecord* door, const CardShown& card) {
    if (door == nullptr || door->invalid_card_node == kNoNode) {
        return;
    }
    set_card(*door, PointKind::invalid_card, door->invalid_card, card);
    door->invalid_card_time = update_.now;
}

void PointSetters::SetTamper(DoorRecord* door, AlarmState state) {
    if (door == nullptr) {
        return;
    }
    door->tamper = state;
    show(*door, PointKind::tamper, true);
    door->tamper_time = update_.now;
}

void PointSetters::SetDoorOpen(DoorRecord* door, DoorOpenState state) {
    if (door == nullptr) {
        return;
    }
    door->door_open = state;
    show(*door, PointKind::door_open_state, false);
    if (state == DoorOpenState::open) {
        SetContactOpen(door, ContactState::unknown);
    }
}

void PointSetters::SetContactAlarm(DoorRecord* door, ContactAlarmState state) {
    if (door == nullptr) {
        return;
    }
    // Forced entry and held open never replace each other directly.
    if (is_contact_alarm(state) && is_contact_alarm(door->contact_alarm) &&
        state != door->contact_alarm) {
        return;
    }
    door->contact_alarm = state;
    show(*door, PointKind::contact_alarm, false);
    SetDoorOpen(door, door->door_open);
}

void PointSetters::SetContactOpen(DoorRecord* door, ContactState state) {
    if (door == nullptr || state == door->contact_open) {
        return;
    }
    door->contact_open = state;
    if (state == ContactState::closed) {
        SetContactAlarm(door, ContactAlarmState::normal);
        SetDoorState(door, AlarmState::normal);
    } else if (state == ContactState::open &&
               door->contact_alarm == ContactAlarmState::not_monitored) {
        if (door->door_open == DoorOpenState::closed) {
            SetContactAlarm(door, ContactAlarmState::forced_entry);
            SetDoorState(door, AlarmState::alarm);
        } else {
            SetContactAlarm(door, ContactAlarmState::normal);
            SetDoorState(door, AlarmState::normal);
        }
    }
}

void PointSetters::SetRemoteOpenResult(DoorRecord* door, RemoteOpenResult result) {
    if (door == nullptr || door->remote_open_node == kNoNode ||
        dir_.tree().info(door->remote_open_node) == nullptr) {
        return;
    }
    door->remote_open = result;
    show(*door, PointKind::remote_open, true);
    door->remote_open_pending = false;
}

void PointSetters::SetSwipeTime(DoorRecord* door, const WallTime& at) {
    if (door == nullptr || door->swipe_time_node == kNoNode) {
        return;
    }
    constexpr double kMillisecondInDays = 1.0 / 86400000.0;
    door->last_swipe = std::max(at.ole_date, door->last_swipe + kMillisecondInDays);
    std::string text(kSwipeTimePrefix);
    text += ole_date_text(door->last_swipe);
    // Reported even when the text (whole seconds) stays: the value moved on.
    set_text(door->swipe_time_node, text, true);
    if (TItemInfo* holder = dir_.tree().info(door->swipe_time_node)) {
        holder->Value = door->last_swipe;
    }
}

}  // namespace porvex
