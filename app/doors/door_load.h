// Loading one door row: the record, its branch and leaves, its reader keys, and its
// initial states (door and contact points "没有监控", times as a fresh load has them).
#pragma once

#include "doors/door_directory.h"
#include "doors/leaf_change.h"

namespace porvex {

DoorRecord& load_door(DoorDirectory& directory, Update& update, const DoorRow& row);

}  // namespace porvex
