// tServerTree: the door model's server tree shown in a tree-view control. Built once
// after the door directory has loaded (the tree's structure never changes afterwards);
// leaf texts follow the model through ApplyChanges on the window's thread.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <span>
#include <vector>

#include "doors/leaf_change.h"

namespace porvex {
class DoorServer;
}

namespace porvex::ui {

class TServerTreeView {
  public:
    explicit TServerTreeView(HWND tree) : tree_(tree) {}

    // Fills the control from the model (replacing what it showed).
    void Build(const DoorServer& doors);
    // Shows the changed leaves' current texts; with `refresh_visible` (the box
    // "是否实时刷新") a change that asks for it expands the path to its leaf and scrolls
    // it into view.
    void ApplyChanges(const DoorServer& doors, std::span<const LeafChange> changes,
                      bool refresh_visible);
    // Forgets the model (the orderly exit released it); later changes are ignored.
    void Detach() { items_.clear(); }

    void ExpandAll();
    void CollapseAll();
    std::size_t NodeCount() const { return items_.size(); }

  private:
    void ExpandOrCollapse(UINT action);

    HWND tree_;
    std::vector<HTREEITEM> items_;  // by NodeId
};

}  // namespace porvex::ui
