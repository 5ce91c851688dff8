#include "item_server/porvex_server.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "core/utf.h"
#include "door_server.h"
#include "item_server/item_values.h"
#include "opc/com/errors.h"
#include "opc/idl/opc_errors.h"

namespace porvex {

namespace {

using opc::TAccessRights;
using opc::TItemHandle;

std::wstring widen(std::string_view utf8) {
    const std::u16string text = utf8_to_utf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string narrow(std::wstring_view wide) {
    return utf16_to_utf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// The message of an exception as the log list shows it.
std::wstring message_of(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const opc::EOpcError& e) {
        return e.Message().empty() ? widen(e.what()) : e.Message();
    } catch (const opc::EOpcServer& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return widen(e.what());
    } catch (...) {
        return L"unknown error";
    }
}

// The published point kind of a leaf name, if it is one of the seven.
std::optional<PointKind> published_kind(std::string_view leaf_name) {
    for (const PointKind kind : kAllPointKinds) {
        if (info(kind).name == leaf_name) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<NodeId> to_leaf(TItemHandle handle) {
    if (handle < 0 || static_cast<std::uintmax_t>(handle) >= kNoNode) {
        return std::nullopt;
    }
    return static_cast<NodeId>(handle);
}

// Adds the branch of `node` (a node with children) or the item of `node` (a leaf) below
// `branch`, depth first, siblings in order. Runs under the door model's lock: the
// namespace calls here never reach back into the door model.
void add_to_namespace(const ServerTree& tree, PointSet enabled, NodeId node,
                      opc::TItemIdList& branch) {
    if (!tree.is_leaf(node)) {
        opc::TItemIdList& child = branch.NewBranch(widen(tree.text(node)));
        for (const NodeId grandchild : tree.children(node)) {
            add_to_namespace(tree, enabled, grandchild, child);
        }
        return;
    }
    const TItemInfo* holder = tree.info(node);
    if (holder == nullptr) {
        return;
    }
    const std::optional<PointKind> kind = published_kind(holder->Name);
    if (!kind || !enabled.has(*kind)) {
        return;  // the address leaves and disabled kinds are not browsable
    }
    branch.AddItem(widen(holder->Name), namespace_rights(*kind), namespace_type(*kind));
}

}  // namespace

PorvexServer::~PorvexServer() {
    // The window and the door model may be gone already; clients leaving now must not
    // reach them.
    doors_ = nullptr;
    monitor_ = nullptr;
    DisconnectClients();
}

void PorvexServer::attach(DoorServer* doors, MonitorSink* monitor) {
    const bool doors_arrive = doors != nullptr && doors != doors_;
    doors_ = doors;
    monitor_ = monitor;
    // A client that browsed before the doors were loaded saw an empty namespace; once the
    // doors are here the namespace shows them.
    if (doors_arrive && NamespaceRoot() != nullptr) {
        ReloadNamespace(false);
    }
}

opc::TServerOptions PorvexServer::Options() {
    return opc::TServerOptions::FromBits(TOpcItemServer::Options().Bits() |
                                         (1u << opc::soHierarchical));
}

void PorvexServer::LoadNamespace(opc::TItemIdList& root) {
    if (doors_ == nullptr) {
        return;
    }
    try {
        doors_->inspect([&](const DoorDirectory& directory) {
            const ServerTree& tree = directory.tree();
            for (const NodeId node : tree.roots()) {
                add_to_namespace(tree, doors_->enabled(), node, root);
            }
        });
    } catch (const std::exception&) {
        log(L"OPC客户端查询监控量异常(" + now_text() + L"):" +
            message_of(std::current_exception()));
    }
}

TItemHandle PorvexServer::GetItemInfo(const std::wstring& itemId, std::wstring&, TAccessRights&) {
    std::optional<NodeId> leaf;
    try {
        if (doors_ != nullptr) {
            leaf = doors_->find_leaf(narrow(itemId));
        }
    } catch (const std::exception&) {
        leaf.reset();
    }
    if (!leaf) {
        throw opc::EOpcError(OPC_E_INVALIDITEMID);
    }
    return static_cast<TItemHandle>(*leaf);
}

void PorvexServer::ReleaseHandle(TItemHandle) {}

void PorvexServer::GetItemValue(TItemHandle handle, WORD&, opc::TVariant& value) {
    const std::optional<NodeId> leaf = to_leaf(handle);
    if (doors_ == nullptr || !leaf) {
        return;
    }
    try {
        if (const std::optional<ItemValue> read = doors_->read_item(*leaf)) {
            value = to_variant(*read);
        }
    } catch (const std::exception&) {
        log(L"OPC客户端监控状态异常(" + now_text() + L")");
    }
}

void PorvexServer::SetItemValue(TItemHandle handle, const VARIANT& value) {
    const std::optional<NodeId> leaf = to_leaf(handle);
    if (doors_ == nullptr || !leaf) {
        return;
    }
    try {
        doors_->write_item(*leaf, from_variant(value));
    } catch (const std::exception&) {
        log(L"OPC客户端遥控开门异常(" + now_text() + L")");
    }
}

void PorvexServer::ClientConnected(opc::TClientInfo& client) {
    if (monitor_ != nullptr) {
        monitor_->client_connected(client);
    }
}

void PorvexServer::ClientDisconnected(opc::TClientInfo& client) {
    if (monitor_ != nullptr) {
        monitor_->client_disconnected(client);
    }
}

void PorvexServer::ClientNameChanged(opc::TClientInfo& client) {
    if (monitor_ != nullptr) {
        monitor_->client_name_changed(client);
    }
}

void PorvexServer::GroupAdded(opc::TGroupInfo& group) {
    if (monitor_ != nullptr) {
        monitor_->group_added(group);
    }
}

void PorvexServer::GroupRemoved(opc::TGroupInfo& group) {
    if (monitor_ != nullptr) {
        monitor_->group_removed(group);
    }
}

void PorvexServer::GroupItemAdded(opc::TGroupItemInfo& item) {
    if (monitor_ != nullptr) {
        monitor_->group_item_added(item);
    }
}

void PorvexServer::GroupItemRemoved(opc::TGroupItemInfo& item) {
    if (monitor_ != nullptr) {
        monitor_->group_item_removed(item);
    }
}

void PorvexServer::log(const std::wstring& line) {
    if (monitor_ != nullptr) {
        monitor_->log_line(line);
    }
}

}  // namespace porvex
