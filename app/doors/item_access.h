// Reads and writes of door points as OPC clients see them: the value a leaf reads as
// (derived from its text and its door's state fields, then kept in its value holder)
// and the write that opens a door.
#pragma once

#include <optional>

#include "doors/door_commands.h"
#include "doors/door_directory.h"
#include "doors/leaf_change.h"

namespace porvex {

// The leaf's value, stored into its value holder and returned; nothing when the leaf
// has no holder (the holders were never attached, or the node is a branch).
//  - door-state, tamper: 1 "报警", 2 "没有监控", otherwise 0 (32-bit);
//  - door-open-state: DoorOpen, except one-byte 1 while the door reads closed during a
//    contact alarm;
//  - contact-alarm: ContactAlarm;
//  - last-card, invalid-card: the card text when it is 8 bytes long in GBK (a card
//    number, or "没有监控"), otherwise "0";
//  - remote-open and the address leaves: the stored value.
std::optional<ItemValue> read_leaf_value(DoorDirectory& directory, NodeId leaf);

// A client's write to a leaf: only remote-open leaves act. A value other than 1 shows
// "遥控开门:失败" (value 1); 1 opens the door (DoorCommands::OpenDoor) and the value
// follows the leaf's word.
RemoteOpenOutcome write_leaf_value(DoorDirectory& directory, DoorCommands& commands, Update& update,
                                   NodeId leaf, const ItemValue& value);

}  // namespace porvex
