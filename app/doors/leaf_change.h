// How the door model tells its observers (the monitor window, the item server) which
// leaf changed.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "doors/door_events.h"
#include "doors/server_tree.h"

namespace porvex {

struct LeafChange {
    NodeId leaf = kNoNode;
    // The setter asks for the leaf to be made visible (the window does so while its
    // "是否实时刷新" box is checked). Such a setter reports the leaf even when its text
    // stayed the same.
    bool visible_refresh = false;
};

// Receives changes after the data lock has been released, on the thread that made them
// (a library thread, the event worker or the caller of DoorServer). Implementations
// must be thread-safe and quick; they may read the model back through DoorServer.
class DoorObserver {
  public:
    virtual ~DoorObserver() = default;
    virtual void leaves_changed(std::span<const LeafChange> changes) = 0;
};

// How a remote open that was sent ended: the controller's reply or the time-out.
struct RemoteOpenEnd {
    std::size_t door = 0;     // index in Doors
    std::string_view result;  // "reply: opened", "reply: refused", "time-out"
};

// One operation on the model: its "now", the leaf changes it made, the door events it saw
// and the remote opens it ended (for the operator log).
// A status query the upkeep tick prepared under the data lock (its reply expected),
// handed to the library once the lock is released: a send can hold its caller for a
// millisecond under Wine, and one tick may ask hundreds of doors, while the event worker
// waits for the lock.
struct StatusQuerySend {
    std::size_t door = 0;  // the door's Index
    std::string ip;
    int port = 0;
    int cmd = 0;
    int code = 0;  // the request code its reply carries
    std::string payload;
    bool poll_queued_before = false;  // the door's status_poll_queued before the tick
};

struct Update {
    explicit Update(Moment at) : now(at) {}
    Moment now;
    std::vector<LeafChange> changes;
    std::vector<RemoteOpenEnd> remote_open_ends;
    std::vector<DoorEvent> events;
    std::vector<StatusQuerySend> status_queries;
};

}  // namespace porvex
