// Reads and writes of door points as OPC clients see them: the value a leaf reads as
// (made from its door's typed states, then kept in its value holder) and the write that
// opens a door.
#pragma once

#include <optional>

#include "doors/door_commands.h"
#include "doors/door_directory.h"
#include "doors/leaf_change.h"

namespace porvex {

// The value a point of the door reads as:
//  - door-state, tamper: 0 "正常", 1 "报警", 2 "没有监控" (32-bit);
//  - door-open-state: DoorOpen (-1, 0, 1), except one-byte 1 while the door reads
//    closed during a contact alarm;
//  - contact-alarm: ContactAlarm (-1, 0, 1, 2);
//  - last-card, invalid-card: the shown text when it is 8 bytes long in GBK (a card
//    number, or "没有监控"), otherwise "0";
//  - remote-open: 0 "成功", 1 "失败", 2 "锁定".
ItemValue point_value(const DoorRecord& door, PointKind kind);

// The leaf's value, stored into its value holder and returned; nothing when the leaf
// has no holder (the holders were never attached, or the node is a branch). Address
// leaves read as their stored value, the swipe-time leaf as last_swipe.
std::optional<ItemValue> read_leaf_value(DoorDirectory& directory, NodeId leaf);

// A client's write to a leaf: only remote-open leaves act. A value other than 1 shows
// "遥控开门:失败" (value 1); 1 opens the door (DoorCommands::OpenDoor) and the value
// follows the point's result.
RemoteOpenOutcome write_leaf_value(DoorDirectory& directory, DoorCommands& commands, Update& update,
                                   NodeId leaf, const ItemValue& value);

}  // namespace porvex
