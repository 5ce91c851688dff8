// The door directory: Doors (the records in query order), DoorKeys (controller address,
// port and reader to record) and the server tree, with the indexes the rest of the
// program looks things up by. Not thread-safe by itself: DoorServer guards it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "doors/door_record.h"
#include "doors/door_row.h"
#include "doors/point_kind.h"
#include "doors/server_tree.h"

namespace porvex {

// What a leaf is: an address leaf of a door, one of its points, or its last-swipe time.
enum class LeafRole : unsigned char { none, ip, port, point, swipe_time };

struct LeafOwner {
    DoorRecord* door = nullptr;
    LeafRole role = LeafRole::none;
    PointKind kind = PointKind::door_state;
};

// "%s:%s:%s" of address, port and reader.
std::string MakeDoorKey(std::string_view ip, std::string_view port, std::string_view reader);

class DoorDirectory {
  public:
    explicit DoorDirectory(PointSet enabled) : enabled_(enabled) {}

    PointSet enabled() const { return enabled_; }

    // Adds the record, its branch with the "IP:" and "端口号:" leaves, one leaf per
    // enabled point (with its creation text) and, with the last-card point, the
    // "最后刷卡时间:" leaf, and its reader keys. The caller sets the initial states.
    DoorRecord& add_door(const DoorRow& row);

    // Door of a controller reader: the key built from the three texts, compared
    // without regard to letter case. The first record entered under a key keeps it.
    DoorRecord* FindDoor(std::string_view ip, std::string_view port, std::string_view reader) const;
    DoorRecord* FindDoor(std::string_view ip, int port, int reader) const;

    std::size_t door_count() const { return doors_.size(); }
    DoorRecord& door(std::size_t index) { return *doors_.at(index); }
    const DoorRecord& door(std::size_t index) const { return *doors_.at(index); }

    ServerTree& tree() { return tree_; }
    const ServerTree& tree() const { return tree_; }

    // The door and point a leaf belongs to (role none for branches and unknown nodes).
    LeafOwner owner(NodeId node) const;

    // Leaf of an item ID: door node text, '.', leaf name; exact and case-sensitive. The
    // first door loaded under a name wins. Address leaves resolve too.
    std::optional<NodeId> find_leaf(std::string_view item_id) const;

    // The earlier door whose node text (name and location) the door at `index` repeats,
    // or null. Such a door's item IDs resolve to the earlier door, and the namespace
    // leaves it out.
    const DoorRecord* duplicate_of(std::size_t index) const;
    bool is_duplicate_door_node(NodeId node) const;

    // Gives every leaf its value holder: its item name and the value it reads as now
    // (item_access.h; the address leaves the value of their database text).
    void attach_value_holders();

    // Releases every record, key and node (the orderly exit).
    void clear();

  private:
    void add_key(DoorRecord& door, std::int32_t reader);

    PointSet enabled_;
    ServerTree tree_;
    std::vector<std::unique_ptr<DoorRecord>> doors_;
    std::unordered_map<std::string, DoorRecord*> keys_;
    std::vector<LeafOwner> owners_;  // by NodeId
    std::unordered_map<std::string, NodeId> item_ids_;
    std::unordered_map<std::string, std::size_t> door_texts_;  // first door per text
    std::unordered_map<std::size_t, std::size_t> duplicates_;  // door -> earlier door
};

}  // namespace porvex
