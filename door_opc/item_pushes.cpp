#include "door_opc/item_pushes.h"

#include <algorithm>
#include <utility>

#include "door_opc/item_reading.h"
#include "door_server.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex {

ItemPushes::~ItemPushes() {
    if (doors_ != nullptr) {
        doors_->remove_observer(this);
        doors_->remove_event_observer(this);
    }
}

void ItemPushes::attach(DoorServer* doors) {
    if (doors == doors_) {
        return;
    }
    if (doors_ != nullptr) {
        // Waits for a notification in progress: afterwards none reads doors_.
        doors_->remove_observer(this);
        doors_->remove_event_observer(this);
    }
    doors_ = doors;
    if (doors_ != nullptr) {
        doors_->add_observer(this);
        doors_->add_event_observer(this);
    }
    std::vector<NodeId> leaves;
    {
        std::lock_guard lock(lock_);
        leaves.reserve(subscribed_.size());
        for (const auto& [leaf, callbacks] : subscribed_) {
            leaves.push_back(leaf);
        }
    }
    push_leaves(doors_, leaves);
}

void ItemPushes::subscribe(NodeId leaf, opc::TOnChange on_change) {
    std::lock_guard lock(lock_);
    subscribed_[leaf].push_back(std::move(on_change));
}

void ItemPushes::unsubscribe(NodeId leaf) {
    std::lock_guard lock(lock_);
    const auto found = subscribed_.find(leaf);
    if (found == subscribed_.end()) {
        return;
    }
    // The engine cuts an item's callback before it unsubscribes the item: the callbacks
    // no longer connected are the ones that go (another item of the same leaf stays).
    std::erase_if(found->second,
                  [](const opc::TOnChange& callback) { return !callback.Connected(); });
    if (found->second.empty()) {
        subscribed_.erase(found);
    }
}

std::size_t ItemPushes::count() const {
    std::lock_guard lock(lock_);
    std::size_t total = 0;
    for (const auto& [leaf, callbacks] : subscribed_) {
        total += callbacks.size();
    }
    return total;
}

bool ItemPushes::any_subscribed() const {
    std::lock_guard lock(lock_);
    return !subscribed_.empty();
}

void ItemPushes::leaves_changed(std::span<const LeafChange> changes) {
    if (doors_ == nullptr || !any_subscribed()) {
        return;
    }
    std::vector<NodeId> door_nodes = doors_->inspect([&](const DoorDirectory& directory) {
        std::vector<NodeId> nodes;
        for (const LeafChange& change : changes) {
            const LeafOwner owner = directory.owner(change.leaf);
            if (owner.door != nullptr) {
                nodes.push_back(owner.door->door_node);
            }
        }
        return nodes;
    });
    std::sort(door_nodes.begin(), door_nodes.end());
    door_nodes.erase(std::unique(door_nodes.begin(), door_nodes.end()), door_nodes.end());
    push_doors(*doors_, door_nodes);
}

void ItemPushes::door_events(std::span<const DoorEvent> events) {
    if (doors_ == nullptr || !any_subscribed()) {
        return;
    }
    for (const DoorEvent& event : events) {
        if (event.kind == DoorEvent::Kind::link_up || event.kind == DoorEvent::Kind::link_down) {
            push_doors(*doors_, doors_->controller_door_nodes(event.ip, event.port));
        }
    }
}

void ItemPushes::push_doors(DoorServer& doors, std::span<const NodeId> door_nodes) {
    if (door_nodes.empty()) {
        return;
    }
    std::vector<NodeId> leaves = doors.inspect([&](const DoorDirectory& directory) {
        std::vector<NodeId> children;
        const ServerTree& tree = directory.tree();
        for (const NodeId door : door_nodes) {
            if (tree.contains(door)) {
                const std::span<const NodeId> below = tree.children(door);
                children.insert(children.end(), below.begin(), below.end());
            }
        }
        return children;
    });
    push_leaves(&doors, leaves);
}

void ItemPushes::push_leaves(DoorServer* doors, std::span<const NodeId> leaves) {
    for (const NodeId leaf : leaves) {
        std::vector<opc::TOnChange> callbacks;
        {
            std::lock_guard lock(lock_);
            const auto found = subscribed_.find(leaf);
            if (found == subscribed_.end()) {
                continue;
            }
            callbacks = found->second;
        }
        WORD quality = OPC_QUALITY_BAD;
        win::Variant value;
        if (doors != nullptr) {
            read_door_item(*doors, leaf, quality, value);
        }
        // Outside lock_: a push takes the engine's cache lock.
        for (const opc::TOnChange& callback : callbacks) {
            callback(value.value(), quality);
        }
    }
}

}  // namespace porvex
