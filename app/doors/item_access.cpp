#include "doors/item_access.h"

#include "core/text.h"
#include "doors/point_setters.h"
#include "doors/point_text.h"

namespace porvex {

namespace {

ItemValue card_value(const CardShown& card) {
    const std::string_view shown = word_of(card);
    return gbk_length(shown) == 8 ? std::string(shown) : std::string("0");
}

}  // namespace

ItemValue point_value(const DoorRecord& door, PointKind kind) {
    switch (kind) {
        case PointKind::door_state:
            return std::int32_t{published(door.door_state)};
        case PointKind::tamper:
            return std::int32_t{published(door.tamper)};
        case PointKind::door_open_state:
            if (door.door_open == DoorOpenState::closed && is_contact_alarm(door.contact_alarm)) {
                return std::uint8_t{1};
            }
            return std::int32_t{published(door.door_open)};
        case PointKind::contact_alarm:
            return std::int32_t{published(door.contact_alarm)};
        case PointKind::last_card:
            return card_value(door.last_card);
        case PointKind::invalid_card:
            return card_value(door.invalid_card);
        case PointKind::remote_open:
            return std::int32_t{published(door.remote_open)};
    }
    return std::int32_t{0};
}

std::optional<ItemValue> read_leaf_value(DoorDirectory& directory, NodeId leaf) {
    ServerTree& tree = directory.tree();
    if (!tree.contains(leaf)) {
        return std::nullopt;
    }
    TItemInfo* holder = tree.info(leaf);
    if (holder == nullptr) {
        return std::nullopt;
    }
    const LeafOwner owner = directory.owner(leaf);
    if (owner.role == LeafRole::point) {
        holder->Value = point_value(*owner.door, owner.kind);
    } else if (owner.role == LeafRole::swipe_time) {
        holder->Value = owner.door->last_swipe;
    }
    return holder->Value;
}

RemoteOpenOutcome write_leaf_value(DoorDirectory& directory, DoorCommands& commands, Update& update,
                                   NodeId leaf, const ItemValue& value) {
    const LeafOwner owner = directory.owner(leaf);
    if (owner.role != LeafRole::point || owner.kind != PointKind::remote_open) {
        return RemoteOpenOutcome::not_remote_open;
    }
    DoorRecord* door = owner.door;
    PointSetters set(directory, update);
    if (!equals_one(value)) {
        door->remote_open = RemoteOpenResult::failure;
        set.show(*door, PointKind::remote_open, false);
        return RemoteOpenOutcome::refused_value;
    }
    const RemoteOpenOutcome outcome = commands.OpenDoor(update, door);
    if (TItemInfo* holder = directory.tree().info(leaf)) {
        holder->Value = point_value(*door, PointKind::remote_open);
    }
    return outcome;
}

}  // namespace porvex
