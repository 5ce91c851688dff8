// The server tree: one branch per door with one leaf per point, as the monitor window
// shows it and the OPC namespace is built from it. Nodes are added only while the door
// directory loads; afterwards the structure is fixed and only leaf texts (and the
// values in their holders) change.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "doors/item_info.h"

namespace porvex {

using NodeId = std::uint32_t;
inline constexpr NodeId kNoNode = 0xFFFFFFFFu;

class ServerTree {
  public:
    NodeId add_root(std::string text);
    NodeId add_child(NodeId parent, std::string text);

    // Structure (fixed after loading).
    std::size_t size() const { return nodes_.size(); }
    bool contains(NodeId id) const { return id < nodes_.size(); }
    std::span<const NodeId> roots() const { return roots_; }
    std::span<const NodeId> children(NodeId id) const { return nodes_.at(id).children; }
    NodeId parent(NodeId id) const { return nodes_.at(id).parent; }
    bool is_leaf(NodeId id) const { return nodes_.at(id).children.empty(); }

    const std::string& text(NodeId id) const { return nodes_.at(id).text; }
    // Returns true when the text changed. Leaf texts are views of the door states
    // (doors/point_text.h): nothing reads a value back from them.
    bool set_text(NodeId id, std::string_view text);

    // Gives every node without children (walked in index order) that has none yet the
    // value holder `make` returns for it.
    void attach_value_holders(const std::function<TItemInfo(NodeId)>& make);
    bool value_holders_attached() const { return holders_attached_; }
    // The holder of a leaf, or null before attach_value_holders (and for branches).
    TItemInfo* info(NodeId id) { return nodes_.at(id).info.get(); }
    const TItemInfo* info(NodeId id) const { return nodes_.at(id).info.get(); }

  private:
    struct Node {
        std::string text;
        NodeId parent = kNoNode;
        std::vector<NodeId> children;
        std::unique_ptr<TItemInfo> info;
    };
    std::vector<Node> nodes_;
    std::vector<NodeId> roots_;
    bool holders_attached_ = false;
};

}  // namespace porvex
