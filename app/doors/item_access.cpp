#include "doors/item_access.h"

#include "core/text.h"
#include "doors/point_setters.h"

namespace porvex {

namespace {

std::string_view word_after(const ServerTree& tree, NodeId leaf, std::string_view prefix) {
    std::string_view text = tree.text(leaf);
    if (text.substr(0, prefix.size()) == prefix) {
        text.remove_prefix(prefix.size());
    }
    return text;
}

std::int32_t alarm_value(std::string_view word) {
    if (word == words::kAlarm) {
        return 1;
    }
    if (word == words::kNotMonitored) {
        return 2;
    }
    return 0;
}

}  // namespace

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
        const DoorRecord& door = *owner.door;
        const std::string_view prefix = info(owner.kind).prefix;
        switch (owner.kind) {
            case PointKind::door_state:
            case PointKind::tamper:
                holder->Value = alarm_value(word_after(tree, leaf, prefix));
                break;
            case PointKind::door_open_state:
                if (door.DoorOpen == 0 &&
                    (door.ContactAlarm == kForcedEntry || door.ContactAlarm == kHeldOpen)) {
                    holder->Value = std::uint8_t{1};
                } else {
                    holder->Value = door.DoorOpen;
                }
                break;
            case PointKind::contact_alarm:
                holder->Value = door.ContactAlarm;
                break;
            case PointKind::last_card:
            case PointKind::invalid_card: {
                const std::string_view card = word_after(tree, leaf, prefix);
                holder->Value = gbk_length(card) == 8 ? std::string(card) : std::string("0");
                break;
            }
            case PointKind::remote_open:
                break;
        }
    } else if (owner.role == LeafRole::swipe_time) {
        holder->Value = owner.door->LastSwipe;
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
    TItemInfo* holder = directory.tree().info(leaf);
    PointSetters set(directory, update);
    const std::string_view prefix = info(PointKind::remote_open).prefix;
    if (!equals_one(value)) {
        set.set_leaf(leaf, prefix, words::kFailure, false);
        if (holder != nullptr) {
            holder->Value = std::int32_t{1};
        }
        return RemoteOpenOutcome::refused_value;
    }
    const RemoteOpenOutcome outcome = commands.OpenDoor(update, door);
    if (holder != nullptr) {
        holder->Value = std::int32_t{remote_open_value(set.leaf_word(leaf, prefix))};
    }
    return outcome;
}

}  // namespace porvex
