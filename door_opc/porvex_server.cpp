#include "door_opc/porvex_server.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "core/utf.h"
#include "door_opc/item_reading.h"
#include "door_opc/item_values.h"
#include "door_server.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/com/text.h"
#include "opc/idl/opc_errors.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex {

namespace {

using opc::TAccessRights;
using opc::TItemHandle;

std::wstring widen(std::string_view utf8) { return opc::WideFromUtf8(utf8); }

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

// Writes what failed, with the exception's text, to the engine's log (the program's log
// file): the window's log list keeps its fixed lines without it, and a client only sees a
// result code.
void log_failure(const std::wstring& what, const std::exception_ptr& error) noexcept {
    try {
        opc::LogLine(L"door items: " + what + L": " + message_of(error));
    } catch (...) {
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
    if (holder->Name == kSwipeTimeName && enabled.has(PointKind::last_card)) {
        branch.AddItem(widen(holder->Name), opc::kAccessRead, VT_DATE);
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
    pushes_.attach(nullptr);
    doors_ = nullptr;
    monitor_ = nullptr;
    DisconnectClients();
}

void PorvexServer::attach(DoorServer* doors, MonitorSink* monitor) {
    const bool doors_arrive = doors != nullptr && doors != doors_;
    doors_ = doors;
    monitor_ = monitor;
    // The subscribed items follow the model attached now (BAD without one).
    pushes_.attach(doors_);
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
                // A door repeating an earlier door's name and location has that door's
                // item IDs; the log told so when it was loaded.
                if (directory.is_duplicate_door_node(node)) {
                    continue;
                }
                // One door that cannot be added (a name that equals another but for
                // letter case) is logged and the doors after it still are.
                try {
                    add_to_namespace(tree, doors_->enabled(), node, root);
                } catch (const std::exception&) {
                    log(L"OPC客户端查询监控量异常(" + now_text() + L"):" +
                        message_of(std::current_exception()));
                }
            }
        });
    } catch (const std::exception&) {
        log(L"OPC客户端查询监控量异常(" + now_text() + L"):" +
            message_of(std::current_exception()));
    }
}

TItemHandle PorvexServer::GetItemInfo(const std::wstring& itemId, std::wstring&,
                                      TAccessRights& accessRights) {
    std::optional<NodeId> leaf;
    LeafOwner owner;
    try {
        if (doors_ != nullptr) {
            leaf = doors_->find_leaf(narrow(itemId));
            if (leaf) {
                owner = doors_->leaf_owner(*leaf);
            }
        }
    } catch (const std::exception&) {
        // The client learns only that the item cannot be found; the log says why.
        log_failure(L"looking up item ID \"" + itemId + L"\" failed", std::current_exception());
        leaf.reset();
    }
    if (!leaf) {
        throw opc::EOpcError(OPC_E_INVALIDITEMID);
    }
    // The rights the namespace announces: only remote-open points take writes.
    accessRights = leaf_rights(owner);
    return static_cast<TItemHandle>(*leaf);
}

void PorvexServer::ReleaseHandle(TItemHandle) {}

void PorvexServer::GetItemValue(TItemHandle handle, WORD& quality, win::Variant& value) {
    item_reads_.fetch_add(1, std::memory_order_relaxed);
    const std::optional<NodeId> leaf = to_leaf(handle);
    if (doors_ == nullptr || !leaf) {
        quality = OPC_QUALITY_BAD;
        return;
    }
    if (!read_door_item(*doors_, *leaf, quality, value)) {
        log(L"OPC客户端监控状态异常(" + now_text() + L")");
    }
}

bool PorvexServer::SubscribeItem(TItemHandle handle, opc::TOnChange onChange) {
    const std::optional<NodeId> leaf = to_leaf(handle);
    if (!leaf) {
        return false;
    }
    pushes_.subscribe(*leaf, std::move(onChange));
    return true;
}

void PorvexServer::UnsubscribeItem(TItemHandle handle) {
    if (const std::optional<NodeId> leaf = to_leaf(handle)) {
        pushes_.unsubscribe(*leaf);
    }
}

void PorvexServer::ConvertWrittenValue(TItemHandle handle, const VARIANT& written,
                                       VARTYPE canonicalType, win::Variant& converted) {
    const std::optional<NodeId> leaf = to_leaf(handle);
    const LeafOwner owner = doors_ != nullptr && leaf ? doors_->leaf_owner(*leaf) : LeafOwner{};
    if (owner.role == LeafRole::point && owner.kind == PointKind::remote_open) {
        const std::optional<std::int32_t> request = remote_open_request(written);
        if (!request) {
            throw opc::EOpcError(OPC_E_BADTYPE);
        }
        converted = win::Variant::i2(static_cast<SHORT>(*request));
        return;
    }
    TOpcItemServer::ConvertWrittenValue(handle, written, canonicalType, converted);
}

void PorvexServer::SetItemValue(TItemHandle handle, const VARIANT& value) {
    const std::optional<NodeId> leaf = to_leaf(handle);
    if (doors_ == nullptr || !leaf) {
        throw opc::EOpcError(E_FAIL);
    }
    const std::string writer = writer_name(WritingClient());
    DoorServer::WriteResult result;
    try {
        const std::optional<std::int32_t> request = remote_open_request(value);
        if (!request) {
            throw opc::EOpcError(OPC_E_BADTYPE);
        }
        result = doors_->write_item(*leaf, std::int32_t{*request}, writer);
    } catch (const opc::EOpcError&) {
        throw;
    } catch (const std::exception&) {
        log_failure(L"writing item " + std::to_wstring(handle) + L" failed",
                    std::current_exception());
        log(L"OPC客户端遥控开门异常(" + now_text() + L")");
        throw opc::EOpcError(E_FAIL);
    }
    switch (result.outcome) {
        case RemoteOpenOutcome::refused_offline:
        case RemoteOpenOutcome::refused_by_library:
            // The item shows 失败; the client learns it from the write as well.
            throw opc::EOpcError(E_FAIL);
        case RemoteOpenOutcome::not_remote_open:
            throw opc::EOpcError(OPC_E_BADRIGHTS);
        case RemoteOpenOutcome::sent:
        case RemoteOpenOutcome::locked:
        case RemoteOpenOutcome::refused_value:
            break;
    }
}

void PorvexServer::ClientConnected(opc::TClientInfo& client) {
    connected_at_[&client] = now_text();
    if (monitor_ != nullptr) {
        monitor_->client_connected(client);
    }
}

void PorvexServer::ClientDisconnected(opc::TClientInfo& client) {
    connected_at_.erase(&client);
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

std::string PorvexServer::writer_name(const opc::TClientInfo* client) const {
    if (client == nullptr) {
        return {};
    }
    if (!client->ClientName().empty()) {
        return narrow(client->ClientName());
    }
    const auto it = connected_at_.find(client);
    return it == connected_at_.end() ? std::string()
                                     : "(unnamed client connected " + narrow(it->second) + ")";
}

void PorvexServer::log(const std::wstring& line) {
    if (monitor_ != nullptr) {
        monitor_->log_line(line);
    }
}

}  // namespace porvex
