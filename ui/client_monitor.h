// The monitor window's side of the item server: the client tree (connected OPC clients,
// their groups and items) and the log list.
//
// Each engine object's Data slot holds a token naming its tree node, never the node
// itself: the tokens live in a map owned here, and deleting a node forgets the tokens of
// everything under it. The engine removes parents first (a client before its groups, a
// group before its items), so a later removal finds its token gone and changes nothing;
// no stale tree handle is ever used.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <unordered_map>

#include "door_opc/porvex_server.h"

namespace porvex::ui {

class TClientMonitor final : public MonitorSink {
  public:
    TClientMonitor(HWND client_tree, HWND log_list) : tree_(client_tree), log_(log_list) {}

    void log_line(const std::wstring& line) override;
    void client_connected(opc::TClientInfo& client) override;
    void client_disconnected(opc::TClientInfo& client) override;
    void client_name_changed(opc::TClientInfo& client) override;
    void group_added(opc::TGroupInfo& group) override;
    void group_removed(opc::TGroupInfo& group) override;
    void group_item_added(opc::TGroupItemInfo& item) override;
    void group_item_removed(opc::TGroupItemInfo& item) override;

    // "清空内容".
    void ClearLog();
    std::size_t NodeCount() const { return nodes_.size(); }

  private:
    void* Add(HTREEITEM parent, const std::wstring& text);
    HTREEITEM Find(void* token) const;
    void Remove(void*& slot);
    void Forget(HTREEITEM item);

    HWND tree_;
    HWND log_;
    std::uintptr_t next_token_ = 1;
    std::unordered_map<std::uintptr_t, HTREEITEM> nodes_;
};

// The current date and time in the system's short formats ("2026/12/8 6:05:09").
std::wstring NowText();

}  // namespace porvex::ui
