// The states of a door's points as the door model keeps them. The leaf texts the window
// and the log show (point_text.h) and the values OPC clients read (item_access.h) are
// both made from these; nothing is read back from a text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace porvex {

// The door-state and tamper points: "正常", "报警", "没有监控". The numbers are the
// points' values as clients read them.
enum class AlarmState : std::uint8_t { normal = 0, alarm = 1, not_monitored = 2 };

// Whether the door is open: "没有监控", "关", "开" (the leaf shows "开" for a closed door
// while a contact alarm stands). Clients read -1, 0, 1.
enum class DoorOpenState : std::int8_t { not_monitored = -1, closed = 0, open = 1 };

// The door-contact input as the last status reply gave it.
enum class ContactState : std::int8_t { unknown = -1, closed = 0, open = 1 };

// The contact alarm: "没有监控", "正常", "强行闯入" (forced entry), "超时未关" (held open
// too long). Clients read -1, 0, 1, 2.
enum class ContactAlarmState : std::int8_t {
    not_monitored = -1,
    normal = 0,
    forced_entry = 1,
    held_open = 2,
};

// The result a remote-open point shows: "成功", "失败", "锁定" (an open is pending).
// Clients read 0, 1, 2.
enum class RemoteOpenResult : std::uint8_t { success = 0, failure = 1, locked = 2 };

// What a card point (last card, invalid card) shows: nothing, a card number, or
// "没有监控".
struct CardShown {
    enum class Kind : std::uint8_t { none, number, not_monitored };
    Kind kind = Kind::none;
    std::string number;  // Kind::number: the card as the controller sent it

    static CardShown none() { return {}; }
    static CardShown card(std::string number) { return {Kind::number, std::move(number)}; }
    static CardShown not_monitored() { return {Kind::not_monitored, {}}; }
    friend bool operator==(const CardShown&, const CardShown&) = default;
};

// The number a client (or the window) sees for a state.
constexpr int published(AlarmState s) { return static_cast<int>(s); }
constexpr int published(DoorOpenState s) { return static_cast<int>(s); }
constexpr int published(ContactState s) { return static_cast<int>(s); }
constexpr int published(ContactAlarmState s) { return static_cast<int>(s); }
constexpr int published(RemoteOpenResult s) { return static_cast<int>(s); }

constexpr bool is_contact_alarm(ContactAlarmState s) {
    return s == ContactAlarmState::forced_entry || s == ContactAlarmState::held_open;
}

}  // namespace porvex
