#include "test_item_server.h"

#include <stdexcept>

#include "opc/com/errors.h"
#include "opc/idl/opc_interfaces.h"
#include "win/safe_array.h"

namespace porvex::opc::test {

void TTestEUInfo::EUInfo(win::Variant& info) {
    win::UniqueSafeArray limits = win::safe_array_vector(VT_R8, 2);
    LONG index = 0;
    SafeArrayPutElement(limits.get(), &index, &low_);
    index = 1;
    SafeArrayPutElement(limits.get(), &index, &high_);
    info.clear();
    info.value().vt = VT_ARRAY | VT_R8;
    info.value().parray = limits.release();
}

TTestItemServer::TTestItemServer() = default;

TTestItemServer::~TTestItemServer() {
    // The remaining client objects leave while this class's overrides still run.
    DisconnectClients();
}

TTestItem& TTestItemServer::Item(const std::wstring& id) { return items_[id]; }

void TTestItemServer::SetValue(const std::wstring& id, win::Variant value, WORD quality) {
    TTestItem& item = items_[id];
    item.value = std::move(value);
    item.quality = quality;
}

bool TTestItemServer::Push(const std::wstring& id, const win::Variant& value, WORD quality) {
    for (std::size_t i = 0; i < handles_.size(); ++i) {
        if (handles_[i] == id) {
            auto found = subscriptions_.find(static_cast<TItemHandle>(i + 1));
            if (found != subscriptions_.end()) {
                found->second(value.value(), quality);
                return true;
            }
        }
    }
    return false;
}

int TTestItemServer::Count(const std::wstring& call) const {
    int n = 0;
    for (const std::wstring& c : calls) {
        if (c == call) {
            ++n;
        }
    }
    return n;
}

TGroupInfo& TTestItemServer::Group(const std::wstring& name) const {
    auto found = groups.find(name);
    if (found == groups.end()) {
        throw std::runtime_error("no such group in the test item server");
    }
    return *found->second;
}

const std::wstring& TTestItemServer::IdOf(TItemHandle handle) const {
    if (handle < 1 || static_cast<std::size_t>(handle) > handles_.size()) {
        throw std::runtime_error("the engine passed a handle it was never given");
    }
    return handles_[static_cast<std::size_t>(handle - 1)];
}

void TTestItemServer::Noted(std::wstring text) {
    notifications.push_back(std::move(text));
    if (throw_in_notifications) {
        throw std::runtime_error("notification handler failed");
    }
}

void TTestItemServer::HandleException(std::exception_ptr error) {
    exceptions.push_back(DescribeException(error));
}

bool TTestItemServer::SubscribeItem(TItemHandle handle, TOnChange onChange) {
    const std::wstring& id = IdOf(handle);
    calls.push_back(L"SubscribeItem " + id);
    handed_out.push_back(onChange);
    if (!items_[id].push) {
        return false;
    }
    subscriptions_[handle] = std::move(onChange);
    return true;
}

void TTestItemServer::UnsubscribeItem(TItemHandle handle) {
    calls.push_back(L"UnsubscribeItem " + IdOf(handle));
    subscriptions_.erase(handle);
}

TItemHandle TTestItemServer::GetItemInfoEx(const std::wstring& itemId, std::wstring& accessPath,
                                           TAccessRights& accessRights,
                                           std::shared_ptr<IEUInfo>& euInfo,
                                           std::shared_ptr<IItemProperties>&) {
    calls.push_back(L"GetItemInfoEx " + itemId);
    auto found = items_.find(itemId);
    if (found == items_.end()) {
        throw EOpcError(OPC_E_UNKNOWNITEMID);
    }
    if (!accessPath.empty() || accessRights != kAccessReadWrite) {
        throw std::runtime_error("GetItemInfoEx got no preset arguments");
    }
    accessRights = found->second.rights;
    euInfo = found->second.eu;
    handles_.push_back(itemId);
    return static_cast<TItemHandle>(handles_.size());
}

void TTestItemServer::ReleaseHandle(TItemHandle handle) {
    calls.push_back(L"ReleaseHandle " + IdOf(handle));
}

void TTestItemServer::LoadNamespace(TItemIdList& root) {
    calls.push_back(L"LoadNamespace");
    if (build_namespace) {
        build_namespace(root);
    }
}

void TTestItemServer::GetItemValue(TItemHandle handle, WORD& quality, win::Variant& value) {
    const std::wstring& id = IdOf(handle);
    calls.push_back(L"GetItemValue " + id);
    if (quality != kQualityGood) {
        throw std::runtime_error("GetItemValue got no preset quality");
    }
    const TTestItem& item = items_[id];
    if (item.read_error != S_OK) {
        throw EOpcError(item.read_error);
    }
    value = item.value;
    quality = item.quality;
    if (item.while_read) {
        item.while_read();
    }
}

void TTestItemServer::SetItemValue(TItemHandle handle, const VARIANT& value) {
    const std::wstring& id = IdOf(handle);
    calls.push_back(L"SetItemValue " + id);
    TTestItem& item = items_[id];
    if (item.write_error != S_OK) {
        throw EOpcError(item.write_error);
    }
    writes[id].emplace_back(value);
    item.value = win::Variant(value);
}

void TTestItemServer::ClientConnected(TClientInfo&) { Noted(L"ClientConnected"); }

void TTestItemServer::ClientDisconnected(TClientInfo&) { Noted(L"ClientDisconnected"); }

void TTestItemServer::ClientNameChanged(TClientInfo& client) {
    Noted(L"ClientNameChanged " + client.ClientName());
}

void TTestItemServer::GroupAdded(TGroupInfo& group) {
    groups[group.Name()] = &group;
    Noted(L"GroupAdded " + group.Name());
}

void TTestItemServer::GroupRemoved(TGroupInfo& group) {
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        if (it->second == &group) {
            groups.erase(it);
            break;
        }
    }
    Noted(L"GroupRemoved " + group.Name());
}

void TTestItemServer::GroupItemAdded(TGroupItemInfo& item) {
    Noted(L"GroupItemAdded " + item.ServerItem().ItemId());
}

void TTestItemServer::GroupItemRemoved(TGroupItemInfo& item) {
    Noted(L"GroupItemRemoved " + item.ServerItem().ItemId());
}

void TTestItemServer::GroupItemChanged(TGroupItemInfo&) { ++changed_notifications; }

void TTestItemServer::GroupCallbackFailed(HRESULT error, TGroupInfo&, int kind) {
    callback_failures.emplace_back(error, kind);
}

void TTestItemServer::ShutdownCallbackFailed(HRESULT error, TClientInfo&, int) {
    shutdown_failures.push_back(error);
}

void TTestItemServer::GetTimestamp(FILETIME& time) {
    const std::uint64_t now = clock.fetch_add(10000) + 10000;
    time.dwLowDateTime = static_cast<DWORD>(now);
    time.dwHighDateTime = static_cast<DWORD>(now >> 32);
}

}  // namespace porvex::opc::test
