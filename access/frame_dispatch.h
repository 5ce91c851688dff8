// What happens to a frame once it has been cut from a controller's stream.
//
// Reports (0x12..0x1F) go to DoorDataUpCallback with upper-case hex. Every other code is
// a reply: it is offered to the calls waiting for a reply, and goes to
// DoorCommandRecvCallback with lower-case hex when none of them takes it. (The I/O thread
// has set the link's lastReply when it cut the frame.) Runs on a delivery thread.
#pragma once

#include <cstdint>
#include <span>

namespace zorvik::access {

class Connection;
struct LinkServices;

// bytes holds exactly one frame that passed validation.
void dispatch_frame(LinkServices& services, Connection& link, std::span<const std::uint8_t> bytes);

}  // namespace zorvik::access
