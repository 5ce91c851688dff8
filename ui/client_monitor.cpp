#include "ui/client_monitor.h"

#include <cwchar>

namespace porvex::ui {
namespace {

std::uintptr_t TokenOf(void* slot) { return reinterpret_cast<std::uintptr_t>(slot); }

}  // namespace

std::wstring NowText() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t date[80] = {};
    wchar_t time[80] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 80);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, 80);
    return std::wstring(date) + L" " + time;
}

void TClientMonitor::log_line(const std::wstring& line) {
    SendMessageW(log_, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

void TClientMonitor::ClearLog() { SendMessageW(log_, LB_RESETCONTENT, 0, 0); }

void* TClientMonitor::Add(HTREEITEM parent, const std::wstring& text) {
    std::wstring copy = text;
    const std::uintptr_t token = next_token_++;
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = copy.data();
    insert.item.lParam = static_cast<LPARAM>(token);
    const auto item = reinterpret_cast<HTREEITEM>(
        SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (item == nullptr) {
        return nullptr;
    }
    nodes_.emplace(token, item);
    if (parent != TVI_ROOT) {
        TreeView_Expand(tree_, parent, TVE_EXPAND);
    }
    return reinterpret_cast<void*>(token);
}

HTREEITEM TClientMonitor::Find(void* token) const {
    const auto it = nodes_.find(TokenOf(token));
    return it == nodes_.end() ? nullptr : it->second;
}

void TClientMonitor::Forget(HTREEITEM item) {
    TVITEMW data{};
    data.mask = TVIF_PARAM;
    data.hItem = item;
    if (SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data))) {
        nodes_.erase(static_cast<std::uintptr_t>(data.lParam));
    }
    for (HTREEITEM child = TreeView_GetChild(tree_, item); child;
         child = TreeView_GetNextSibling(tree_, child)) {
        Forget(child);
    }
}

void TClientMonitor::Remove(void*& slot) {
    if (HTREEITEM item = Find(slot)) {
        Forget(item);
        TreeView_DeleteItem(tree_, item);
    }
    slot = nullptr;
}

void TClientMonitor::client_connected(opc::TClientInfo& client) {
    wchar_t text[160];
    std::swprintf(text, 160, L"OPC客户端 %ls建立连接", NowText().c_str());
    client.Data = Add(TVI_ROOT, text);
}

void TClientMonitor::client_disconnected(opc::TClientInfo& client) { Remove(client.Data); }

void TClientMonitor::client_name_changed(opc::TClientInfo& client) {
    HTREEITEM item = Find(client.Data);
    if (item == nullptr) {
        return;
    }
    std::wstring text = L"客户端: " + client.ClientName();
    TVITEMW data{};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    data.pszText = text.data();
    SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&data));
}

void TClientMonitor::group_added(opc::TGroupInfo& group) {
    HTREEITEM parent = group.Owner() ? Find(group.Owner()->Data) : nullptr;
    group.Data = parent ? Add(parent, group.Name()) : nullptr;
}

void TClientMonitor::group_removed(opc::TGroupInfo& group) { Remove(group.Data); }

void TClientMonitor::group_item_added(opc::TGroupItemInfo& item) {
    HTREEITEM parent = Find(item.Group().Data);
    item.Data = parent ? Add(parent, item.ItemId()) : nullptr;
}

void TClientMonitor::group_item_removed(opc::TGroupItemInfo& item) { Remove(item.Data); }

}  // namespace porvex::ui
