// The commands the door model has sent to a door's controller: opening the door and
// asking for its state. The controller side (link/EventDecoder) carries them out and
// pairs their replies with the doors; the door model (the item writes, the upkeep tick)
// only asks through this interface, so doors/ does not depend on link/.
#pragma once

#include <string_view>

#include "core/clock.h"
#include "doors/door_record.h"
#include "doors/leaf_change.h"

namespace porvex {

// What became of a client's request to open a door.
enum class RemoteOpenOutcome : unsigned char {
    sent,                // the command went to the library; the reply or time-out follows
    locked,              // an earlier remote open is still pending: nothing sent
    refused_offline,     // the controller's link is down: nothing sent, shown as failure
    refused_by_library,  // the library did not take the frame: shown as failure
    refused_value,       // the written value was not 1: nothing sent, shown as failure
    not_remote_open,     // the leaf is no remote-open point: nothing happens
};

// The log word of an outcome ("sent", "refused offline", ...).
std::string_view describe(RemoteOpenOutcome outcome);

class DoorCommands {
  public:
    virtual ~DoorCommands() = default;

    // Opens the door unless it has no remote-open leaf or one is pending. A door whose
    // controller link is not connected is refused at once: a command is sent now or
    // never, so nothing waits in a queue to open the door later. A refusal shows
    // "遥控开门:失败".
    virtual RemoteOpenOutcome OpenDoor(Update& update, DoorRecord* door) = 0;

    // Sends a status query; true when the library queued it.
    virtual bool SendStatusQuery(Update& update, DoorRecord* door) = 0;
    // Enters a status query as sent and puts its frame into update.status_queries, for
    // the caller to hand to the library after the data lock (EventDecoder::
    // send_status_queries); false when no request code is free.
    virtual bool PrepareStatusQuery(Update& update, DoorRecord* door) = 0;

    // Forgets the commands whose replies would come too late to count.
    virtual void purge_expired(Moment now) = 0;
};

}  // namespace porvex
