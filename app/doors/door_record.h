// The door record: one per door row of the database, with the leaves of its points in
// the server tree and the live state that controller events change. The states are kept
// typed (door_state.h); the leaf texts and the item values are made from them.
#pragma once

#include <cstdint>
#include <string>

#include "core/clock.h"
#include "doors/door_state.h"
#include "doors/point_kind.h"
#include "doors/server_tree.h"

namespace porvex {

// What the door server knows of the link to a door's controller, from the library's
// link-up and link-down reports. OPC clients see it as the quality of the door's items,
// and a remote open is sent only while it is connected.
enum class LinkState : unsigned char {
    never_connected,  // no link since the program started
    connected,
    lost,  // the link was up once and is down now
};

struct DoorRecord {
    std::string ip;               // controller address text, exactly as the database holds it
    std::string port_text;        // controller port text, exactly as the database holds it
    std::int32_t in_reader = 0;   // entry reader number (1, 2, 4 ... 128); 0 = none
    std::int32_t out_reader = 0;  // exit reader number; 0 = none

    NodeId door_node = kNoNode;  // the door's branch in the server tree
    NodeId state_node = kNoNode;
    NodeId remote_open_node = kNoNode;
    NodeId last_card_node = kNoNode;
    NodeId invalid_card_node = kNoNode;
    NodeId tamper_node = kNoNode;
    NodeId door_open_node = kNoNode;
    NodeId contact_alarm_node = kNoNode;
    NodeId swipe_time_node = kNoNode;  // "最后刷卡时间", present with the last-card point

    Moment state_time = kLongAgo;
    Moment remote_open_time = kLongAgo;
    Moment last_card_time = kLongAgo;
    Moment invalid_card_time = kLongAgo;
    Moment tamper_time = kLongAgo;
    Moment poll_time = kLongAgo;
    Moment opened_time = kNever;
    // Local time of the last card read as a VT_DATE value; 0 before the first.
    double last_swipe = 0;

    // Set when the upkeep tick has queued a status poll; link is the link itself.
    bool status_poll_queued = false;
    LinkState link = LinkState::never_connected;
    bool remote_open_pending = false;
    // Who sent the pending remote open (an OPC client's name), for the operator log.
    std::string remote_open_by;

    // The points' states (the initial ones are what a door's leaves are created with).
    AlarmState door_state = AlarmState::normal;
    AlarmState tamper = AlarmState::normal;
    RemoteOpenResult remote_open = RemoteOpenResult::success;
    CardShown last_card;
    CardShown invalid_card;
    DoorOpenState door_open = DoorOpenState::not_monitored;
    ContactState contact_open = ContactState::unknown;
    ContactAlarmState contact_alarm = ContactAlarmState::not_monitored;

    // Position in the door list (query order).
    std::size_t index = 0;
    // The port as the controller link is addressed: port_text as a number, 5768
    // when it is not one.
    int port = 5768;

    NodeId node(PointKind kind) const;
};

inline constexpr int kDefaultControllerPort = 5768;

// The Port text as a link port: its number, or 5768 when it is not a number.
int link_port(const std::string& port_text);

}  // namespace porvex
