#include "ui/server_tree_view.h"

#include <unordered_set>

#include "door_server.h"
#include "opc/com/text.h"

namespace porvex::ui {
namespace {

HTREEITEM Insert(HWND tree, HTREEITEM parent, const std::string& text) {
    std::wstring wide = opc::WideFromUtf8(text);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = wide.data();
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

}  // namespace

void TServerTreeView::Build(const DoorServer& doors) {
    SendMessageW(tree_, WM_SETREDRAW, FALSE, 0);
    TreeView_DeleteAllItems(tree_);
    items_.clear();
    doors.inspect([this](const DoorDirectory& dir) {
        const ServerTree& tree = dir.tree();
        // Depth-first in the tree's own order; a node's parent is always inserted first.
        std::vector<std::pair<NodeId, HTREEITEM>> stack;
        const auto roots = tree.roots();
        for (auto it = roots.rbegin(); it != roots.rend(); ++it) {
            stack.emplace_back(*it, TVI_ROOT);
        }
        while (!stack.empty()) {
            const auto [node, parent] = stack.back();
            stack.pop_back();
            const HTREEITEM item = Insert(tree_, parent, tree.text(node));
            if (items_.size() <= node) {
                items_.resize(node + 1, nullptr);
            }
            items_[node] = item;
            const auto children = tree.children(node);
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                stack.emplace_back(*it, item);
            }
        }
        return 0;
    });
    SendMessageW(tree_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree_, nullptr, TRUE);
}

void TServerTreeView::ApplyChanges(const DoorServer& doors, std::span<const LeafChange> changes,
                                   bool refresh_visible) {
    std::unordered_set<NodeId> shown;
    // Newest first, so each leaf is read once and the last visible refresh wins.
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        const NodeId leaf = it->leaf;
        if (leaf >= items_.size() || items_[leaf] == nullptr) {
            continue;
        }
        if (shown.insert(leaf).second) {
            std::wstring text = opc::WideFromUtf8(doors.node_text(leaf));
            TVITEMW item{};
            item.mask = TVIF_TEXT;
            item.hItem = items_[leaf];
            item.pszText = text.data();
            SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
        if (refresh_visible && it->visible_refresh) {
            TreeView_EnsureVisible(tree_, items_[leaf]);
        }
    }
}

void TServerTreeView::ExpandOrCollapse(UINT action) {
    SendMessageW(tree_, WM_SETREDRAW, FALSE, 0);
    for (HTREEITEM item : items_) {
        if (item && TreeView_GetChild(tree_, item)) {
            TreeView_Expand(tree_, item, action);
        }
    }
    SendMessageW(tree_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree_, nullptr, TRUE);
}

void TServerTreeView::ExpandAll() { ExpandOrCollapse(TVE_EXPAND); }
void TServerTreeView::CollapseAll() { ExpandOrCollapse(TVE_COLLAPSE); }

}  // namespace porvex::ui
