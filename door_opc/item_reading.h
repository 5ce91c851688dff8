// A door item as a client reads it, for the item server's reads and for its pushes alike,
// so that a subscribed client sees exactly what a device read gives.
#pragma once

#include <windows.h>

#include "doors/server_tree.h"
#include "win/variant.h"

namespace porvex {

class DoorServer;

// The leaf's value in its point's one canonical type and its quality: the quality of the
// door's controller link (GOOD, NOT_CONNECTED, COMM_FAILURE; the address leaves are always
// GOOD). A read that fails inside the server gives an empty value of the type with quality
// BAD, writes why to the program's log and returns false. Thread-safe (DoorServer's lock).
bool read_door_item(DoorServer& doors, NodeId leaf, WORD& quality, win::Variant& value);

}  // namespace porvex
