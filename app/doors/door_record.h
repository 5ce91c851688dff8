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
    std::string IP;              // controller address text, exactly as the database holds it
    std::string Port;            // controller port text, exactly as the database holds it
    std::int32_t InReader = 0;   // entry reader number (1, 2, 4 ... 128); 0 = none
    std::int32_t OutReader = 0;  // exit reader number; 0 = none

    NodeId DoorNode = kNoNode;  // the door's branch in the server tree
    NodeId StateNode = kNoNode;
    NodeId RemoteOpenNode = kNoNode;
    NodeId LastCardNode = kNoNode;
    NodeId InvalidCardNode = kNoNode;
    NodeId TamperNode = kNoNode;
    NodeId DoorOpenNode = kNoNode;
    NodeId ContactAlarmNode = kNoNode;
    NodeId SwipeTimeNode = kNoNode;  // "最后刷卡时间", present with the last-card point

    Moment StateTime = kLongAgo;
    Moment RemoteOpenTime = kLongAgo;
    Moment LastCardTime = kLongAgo;
    Moment InvalidCardTime = kLongAgo;
    Moment TamperTime = kLongAgo;
    Moment PollTime = kLongAgo;
    Moment OpenedTime = kNever;
    // Local time of the last card read as a VT_DATE value; 0 before the first.
    double LastSwipe = 0;

    // Online is the upkeep tick's "status poll queued" flag; Link is the link itself.
    bool Online = false;
    LinkState Link = LinkState::never_connected;
    bool RemoteOpenPending = false;
    // Who sent the pending remote open (an OPC client's name), for the operator log.
    std::string RemoteOpenBy;

    // The points' states (the initial ones are what a door's leaves are created with).
    AlarmState DoorState = AlarmState::normal;
    AlarmState Tamper = AlarmState::normal;
    RemoteOpenResult RemoteOpen = RemoteOpenResult::success;
    CardShown LastCard;
    CardShown InvalidCard;
    DoorOpenState DoorOpen = DoorOpenState::not_monitored;
    ContactState ContactOpen = ContactState::unknown;
    ContactAlarmState ContactAlarm = ContactAlarmState::not_monitored;

    // Position in Doors (query order).
    std::size_t Index = 0;
    // The port as the controller link is addressed: the Port text as a number, 5768
    // when it is not one.
    int LinkPort = 5768;

    NodeId node(PointKind kind) const;
};

inline constexpr int kDefaultControllerPort = 5768;

// The Port text as a link port: its number, or 5768 when it is not a number.
int link_port(const std::string& port_text);

}  // namespace porvex
