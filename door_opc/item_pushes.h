// ItemPushes: the door items the OPC engine subscribed, kept current by the door model.
//
// The engine polls no subscribed item: every change has to reach it through the item's
// TOnChange. The door model already tells its observers after each step which leaves
// changed (DoorObserver) and when a controller link went up or down (DoorEventObserver);
// ItemPushes observes both and pushes a fresh reading (read_door_item, the same as a
// device read) of every subscribed item of each door the step touched:
//   - a leaf change pushes all items of the leaf's door, since one state can show in
//     several items (the door-open value follows the contact alarm, the swipe time moves
//     with the last card);
//   - a link event pushes all items of the controller's doors: their quality changed even
//     where no text did.
// The engine stores a pushed value only when value or quality differ from its cache, with
// the time of the push. Pushes run on the thread that made the change (the event worker, a
// library thread, the main thread), after the door model's lock was released; the door
// model hands out one notification at a time, so pushes of successive steps arrive in
// order and the last one reads the state after the last change.
#pragma once

#include <windows.h>

#include <mutex>
#include <span>
#include <unordered_map>
#include <vector>

#include "doors/door_events.h"
#include "doors/leaf_change.h"
#include "opc/items/on_change.h"

namespace porvex {

class DoorServer;

class ItemPushes final : public DoorObserver, public DoorEventObserver {
  public:
    ItemPushes() = default;
    // Stops observing; the DoorServer attached must still exist.
    ~ItemPushes() override;
    ItemPushes(const ItemPushes&) = delete;
    ItemPushes& operator=(const ItemPushes&) = delete;

    // Main thread, never from inside a notification. Observes `doors` (null: none) instead
    // of the model before, and pushes a fresh reading of every subscribed item: BAD with
    // an empty value while no model is attached, as a read then gives.
    void attach(DoorServer* doors);

    // Called by the engine (main thread) for each item it subscribes or lets go.
    void subscribe(NodeId leaf, opc::TOnChange on_change);
    void unsubscribe(NodeId leaf);
    // Subscriptions held (tests).
    std::size_t count() const;

    void leaves_changed(std::span<const LeafChange> changes) override;
    void door_events(std::span<const DoorEvent> events) override;

  private:
    // Reads and pushes every subscribed item among the children of these door branches.
    void push_doors(DoorServer& doors, std::span<const NodeId> door_nodes);
    // Reads and pushes these subscribed items (null doors: BAD, empty).
    void push_leaves(DoorServer* doors, std::span<const NodeId> leaves);
    bool any_subscribed() const;

    // Set on the main thread only while not observing, so notifications read it unlocked.
    DoorServer* doors_ = nullptr;
    mutable std::mutex lock_;
    // Several engine items may hold one leaf; each keeps its own callback.
    std::unordered_map<NodeId, std::vector<opc::TOnChange>> subscribed_;
};

}  // namespace porvex
