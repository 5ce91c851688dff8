#include "doors/server_tree.h"

#include <stdexcept>

namespace porvex {

NodeId ServerTree::add_root(std::string text) {
    const auto id = static_cast<NodeId>(nodes_.size());
    nodes_.push_back(Node{std::move(text), kNoNode, {}, nullptr});
    roots_.push_back(id);
    return id;
}

NodeId ServerTree::add_child(NodeId parent, std::string text) {
    if (!contains(parent)) {
        throw std::out_of_range("server tree: no parent node");
    }
    const auto id = static_cast<NodeId>(nodes_.size());
    nodes_.push_back(Node{std::move(text), parent, {}, nullptr});
    nodes_[parent].children.push_back(id);
    return id;
}

bool ServerTree::set_text(NodeId id, std::string_view text) {
    Node& node = nodes_.at(id);
    if (node.text == text) {
        return false;
    }
    node.text.assign(text);
    return true;
}

void ServerTree::attach_value_holders(const std::function<TItemInfo(NodeId)>& make) {
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        Node& node = nodes_[id];
        if (node.children.empty() && !node.info) {
            node.info = std::make_unique<TItemInfo>(make(id));
        }
    }
    holders_attached_ = true;
}

}  // namespace porvex
