#include "doors/door_directory.h"

#include "core/text.h"
#include "doors/item_access.h"

namespace porvex {

std::string MakeDoorKey(std::string_view ip, std::string_view port, std::string_view reader) {
    std::string key;
    key.reserve(ip.size() + port.size() + reader.size() + 2);
    key.append(ip).append(":").append(port).append(":").append(reader);
    return key;
}

DoorRecord& DoorDirectory::add_door(const DoorRow& row) {
    auto record = std::make_unique<DoorRecord>();
    DoorRecord& door = *record;
    door.index = doors_.size();
    door.ip = row.ip;
    door.port_text = row.port;
    door.port = link_port(row.port);
    door.in_reader = row.in_reader;
    door.out_reader = row.out_reader;

    const std::string door_text = row.name + "(" + row.location + ")";
    door.door_node = tree_.add_root(door_text);
    if (const auto [first, added] = door_texts_.emplace(door_text, door.index); !added) {
        duplicates_.emplace(door.index, first->second);
    }
    owners_.resize(tree_.size());

    auto add_leaf = [&](std::string text, std::string_view name, LeafRole role, PointKind kind) {
        const NodeId leaf = tree_.add_child(door.door_node, std::move(text));
        owners_.resize(tree_.size());
        owners_[leaf] = LeafOwner{&door, role, kind};
        std::string item_id = door_text;
        item_id.append(".").append(name);
        item_ids_.emplace(std::move(item_id), leaf);
        return leaf;
    };

    add_leaf(std::string(kIpLeafPrefix) + row.ip, "IP", LeafRole::ip, PointKind::door_state);
    add_leaf(std::string(kPortLeafPrefix) + row.port, "端口号", LeafRole::port,
             PointKind::door_state);
    for (PointKind kind : kAllPointKinds) {
        if (!enabled_.has(kind)) {
            continue;
        }
        const PointKindInfo& point = info(kind);
        const NodeId leaf =
            add_leaf(std::string(point.creation_text), point.name, LeafRole::point, kind);
        switch (kind) {
            case PointKind::door_state:
                door.state_node = leaf;
                break;
            case PointKind::remote_open:
                door.remote_open_node = leaf;
                break;
            case PointKind::last_card:
                door.last_card_node = leaf;
                break;
            case PointKind::invalid_card:
                door.invalid_card_node = leaf;
                break;
            case PointKind::tamper:
                door.tamper_node = leaf;
                break;
            case PointKind::door_open_state:
                door.door_open_node = leaf;
                break;
            case PointKind::contact_alarm:
                door.contact_alarm_node = leaf;
                break;
        }
    }
    if (enabled_.has(PointKind::last_card)) {
        door.swipe_time_node = add_leaf(std::string(kSwipeTimePrefix), kSwipeTimeName,
                                        LeafRole::swipe_time, PointKind::last_card);
    }

    doors_.push_back(std::move(record));
    if (door.in_reader > 0) {
        add_key(door, door.in_reader);
    }
    if (door.out_reader > 0) {
        add_key(door, door.out_reader);
    }
    return door;
}

void DoorDirectory::add_key(DoorRecord& door, std::int32_t reader) {
    keys_.emplace(ascii_lower(MakeDoorKey(door.ip, door.port_text, std::to_string(reader))), &door);
}

DoorRecord* DoorDirectory::FindDoor(std::string_view ip, std::string_view port,
                                    std::string_view reader) const {
    const auto it = keys_.find(ascii_lower(MakeDoorKey(ip, port, reader)));
    return it == keys_.end() ? nullptr : it->second;
}

DoorRecord* DoorDirectory::FindDoor(std::string_view ip, int port, int reader) const {
    return FindDoor(ip, std::to_string(port), std::to_string(reader));
}

LeafOwner DoorDirectory::owner(NodeId node) const {
    return node < owners_.size() ? owners_[node] : LeafOwner{};
}

std::optional<NodeId> DoorDirectory::find_leaf(std::string_view item_id) const {
    const auto it = item_ids_.find(std::string(item_id));
    if (it == item_ids_.end()) {
        return std::nullopt;
    }
    return it->second;
}

const DoorRecord* DoorDirectory::duplicate_of(std::size_t index) const {
    const auto it = duplicates_.find(index);
    return it == duplicates_.end() ? nullptr : doors_.at(it->second).get();
}

bool DoorDirectory::is_duplicate_door_node(NodeId node) const {
    for (const auto& [index, first] : duplicates_) {
        if (doors_.at(index)->door_node == node) {
            return true;
        }
    }
    return false;
}

void DoorDirectory::attach_value_holders() {
    tree_.attach_value_holders([this](NodeId leaf) {
        const LeafOwner leaf_owner = owner(leaf);
        const DoorRecord* door = leaf_owner.door;
        switch (leaf_owner.role) {
            case LeafRole::ip:
                return TItemInfo("IP", stored_text_value(door->ip));
            case LeafRole::port:
                return TItemInfo("端口号", stored_text_value(door->port_text));
            case LeafRole::point:
                return TItemInfo(std::string(info(leaf_owner.kind).name),
                                 point_value(*door, leaf_owner.kind));
            case LeafRole::swipe_time:
                return TItemInfo(std::string(kSwipeTimeName), door->last_swipe);
            case LeafRole::none:
                break;
        }
        return TItemInfo(tree_.text(leaf), std::string());
    });
}

void DoorDirectory::clear() {
    door_texts_.clear();
    duplicates_.clear();
    keys_.clear();
    item_ids_.clear();
    owners_.clear();
    doors_.clear();
    tree_ = ServerTree();
}

}  // namespace porvex
