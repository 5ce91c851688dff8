#include "opc/server_object/server_impl.h"

#include "opc/com/boundary.h"
#include "opc/com/call_args.h"
#include "opc/com/text.h"
#include "opc/group/group_impl.h"
#include "opc/server/enumerators.h"
#include "opc/server/item_server.h"

namespace porvex::opc {

TServerImpl::TServerImpl()
    : server_(&TOpcItemServer::Required()),
      shutdown_(*identity(), *this, [this] { return server_ != nullptr; }) {
    locale_id_ = LOCALE_SYSTEM_DEFAULT;
}

win::ComPtr<TServerImpl> TServerImpl::Create() {
    win::ComPtr<TServerImpl> client(new TServerImpl());
    TOpcItemServer& server = client->Server();
    server.AddClient(*client);
    client->server_state_ = OPC_STATUS_RUNNING;
    server.Notify(TNotification::ClientConnected, *client);
    return client;
}

TServerImpl::~TServerImpl() { Detach(); }

void TServerImpl::Detach() noexcept {
    if (!server_) {
        return;
    }
    TOpcItemServer& server = *server_;
    server.RemoveClient(*this);
    if (server_state_ == OPC_STATUS_RUNNING) {
        server_state_ = OPC_STATUS_FAILED;
        try {
            server.Notify(TNotification::ClientDisconnected, *this);
        } catch (...) {
            server.ReportException(std::current_exception());
        }
    }
    DestroyGroups();
    shutdown_.Disconnect();
    {
        TLock lock(server.ClientListLock());
        browse_position_ = nullptr;
    }
    server_ = nullptr;
}

void TServerImpl::DestroyGroups() noexcept {
    std::map<std::wstring, TGroupImpl*> groups = std::move(groups_);
    groups_.clear();
    for (auto& [key, group] : groups) {
        group->Destroy();
    }
    std::set<TGroupImpl*> removed = std::move(removed_groups_);
    removed_groups_.clear();
    for (TGroupImpl* group : removed) {
        group->Destroy();
    }
}

TOpcItemServer& TServerImpl::Server() const {
    if (!server_) {
        throw EOpcServer(L"OPCSERV: No item server");
    }
    return *server_;
}

bool TServerImpl::refuses(REFIID riid) const noexcept {
    if (!IsEqualIID(riid, IID_IOPCBrowseServerAddressSpace) || !server_) {
        return false;
    }
    try {
        return server_->HasOption(soNoBrowse);
    } catch (...) {
        return false;
    }
}

void TServerImpl::RefreshLastUpdate() { last_update_ = Server().Now(); }

// ---- The client's groups -------------------------------------------------------------------

int TServerImpl::GroupCount() const { return static_cast<int>(groups_.size()); }

TGroupInfo& TServerImpl::GroupAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= groups_.size()) {
        throw EOpcServer(L"OPCSERV: Group index out of range");
    }
    auto it = groups_.begin();
    std::advance(it, index);
    return *it->second;
}

TGroupImpl* TServerImpl::FindGroupByName(const std::wstring& name) const {
    auto found = groups_.find(FoldCase(name));
    return found == groups_.end() ? nullptr : found->second;
}

bool TServerImpl::NameInUse(const std::wstring& name) const {
    return groups_.find(FoldCase(name)) != groups_.end();
}

void TServerImpl::InsertGroup(TGroupImpl& group) {
    if (!groups_.emplace(FoldCase(group.Name()), &group).second) {
        throw EOpcError(OPC_E_DUPLICATENAME);
    }
}

void TServerImpl::TakeOutGroup(TGroupImpl& group) noexcept {
    for (auto it = groups_.begin(); it != groups_.end(); ++it) {
        if (it->second == &group) {
            groups_.erase(it);
            return;
        }
    }
}

void TServerImpl::RenameGroup(TGroupImpl& group, const std::wstring& newName) {
    std::wstring key = FoldCase(newName);
    if (groups_.find(key) != groups_.end()) {
        throw EOpcError(OPC_E_DUPLICATENAME);
    }
    TakeOutGroup(group);
    groups_.emplace(std::move(key), &group);
}

void TServerImpl::KeepRemovedGroup(TGroupImpl& group) { removed_groups_.insert(&group); }

void TServerImpl::ForgetRemovedGroup(TGroupImpl& group) noexcept { removed_groups_.erase(&group); }

// ---- IOPCServer ----------------------------------------------------------------------------

HRESULT TServerImpl::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                              OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                              DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                              REFIID riid, LPUNKNOWN* ppUnk) noexcept {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    return OpcBoundary("IOPCServer::AddGroup", [&]() -> HRESULT {
        CheckOut(ppUnk);
        CheckOut(phServerGroup);
        CheckOut(pRevisedUpdateRate);
        Server();
        TGroupImpl::TSettings settings;
        settings.name = FromClientString(szName);
        settings.active = bActive != FALSE;
        settings.requested_rate = dwRequestedUpdateRate;
        settings.client_handle = hClientGroup;
        if (pTimeBias) {
            settings.time_bias = *pTimeBias;
        } else {
            TIME_ZONE_INFORMATION zone{};
            GetTimeZoneInformation(&zone);
            settings.time_bias = zone.Bias;
        }
        settings.deadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
        settings.locale_id = dwLCID;
        TGroupImpl& group = TGroupImpl::Create(*this, settings);
        try {
            const HRESULT hr = group.QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
            if (FAILED(hr)) {
                throw EOpcError(hr);
            }
        } catch (...) {
            TakeOutGroup(group);
            group.Destroy();
            throw;
        }
        *phServerGroup = group.ServerHandle();
        *pRevisedUpdateRate = group.UpdateRate();
        return group.UpdateRate() == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
    });
}

HRESULT TServerImpl::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) noexcept {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    return OpcBoundary("IOPCServer::GetGroupByName", [&]() -> HRESULT {
        CheckOut(ppUnk);
        if (!szName) {
            return E_INVALIDARG;
        }
        TGroupImpl* group = FindGroupByName(szName);
        if (!group) {
            return E_INVALIDARG;
        }
        return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    });
}

HRESULT TServerImpl::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) noexcept {
    return OpcBoundary("IOPCServer::RemoveGroup", [&]() -> HRESULT {
        TGroupImpl* group = TGroupImpl::Find(Server(), hServerGroup);
        if (!group || group->OwnerServer() != this || group->Removed() ||
            FindGroupByName(group->Name()) != group) {
            return E_INVALIDARG;
        }
        TakeOutGroup(*group);
        if (group->ClientReferences() == 0 || bForce) {
            group->Destroy();
            return S_OK;
        }
        group->MarkRemoved();
        KeepRemovedGroup(*group);
        return OPC_S_INUSE;
    });
}

HRESULT TServerImpl::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                           LPUNKNOWN* ppUnk) noexcept {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    return OpcBoundary("IOPCServer::CreateGroupEnumerator", [&]() -> HRESULT {
        CheckOut(ppUnk);
        // Groups made through AddGroup are never public: the private and the all scopes
        // list them all, the public scopes none.
        const bool listed = dwScope == OPC_ENUM_PRIVATE_CONNECTIONS ||
                            dwScope == OPC_ENUM_PRIVATE || dwScope == OPC_ENUM_ALL_CONNECTIONS ||
                            dwScope == OPC_ENUM_ALL;
        std::size_t count = 0;
        if (IsEqualIID(riid, IID_IEnumUnknown)) {
            std::vector<win::ComPtr<IUnknown>> objects;
            if (listed) {
                for (auto& [key, group] : groups_) {
                    objects.emplace_back(group->identity());
                }
            }
            count = objects.size();
            *ppUnk = TUnkEnumerator::Create(std::move(objects)).detach();
        } else if (IsEqualIID(riid, IID_IEnumString)) {
            std::vector<std::wstring> names;
            if (listed) {
                for (auto& [key, group] : groups_) {
                    names.push_back(group->Name());
                }
            }
            count = names.size();
            *ppUnk = TStringsEnumerator::Create(std::move(names)).detach();
        } else {
            return E_NOINTERFACE;
        }
        return count == 0 ? S_FALSE : S_OK;
    });
}

// ---- IConnectionPointContainer -------------------------------------------------------------

HRESULT TServerImpl::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept {
    if (!ppEnum) {
        return E_INVALIDARG;
    }
    return EnumSinglePoint(shutdown_.Point(), ppEnum);
}

HRESULT TServerImpl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept {
    return FindSinglePoint(shutdown_.Point(), riid, ppCP);
}

bool TServerImpl::RequestShutdown(const std::wstring& reason) {
    const std::optional<HRESULT> result = shutdown_.Request(reason);
    if (!result) {
        return false;
    }
    const HRESULT hr = *result;
    if (FAILED(hr) && server_) {
        try {
            server_->ShutdownCallbackFailed(hr, *this, 0);
        } catch (...) {
            server_->ReportException(std::current_exception());
        }
    }
    return true;
}

HRESULT CreateServerObject(REFIID riid, void** object) noexcept {
    if (!object) {
        return E_INVALIDARG;
    }
    *object = nullptr;
    return OpcBoundary("CreateServerObject", [&]() -> HRESULT {
        win::ComPtr<TServerImpl> client = TServerImpl::Create();
        return client->QueryInterface(riid, object);
    });
}

void TServerImpl::final_release() noexcept {
    // The last reference may go on any thread: the object leaves the engine under its lock,
    // unless a call holding the lock took a new reference meanwhile.
    const TEngineGuard engine;
    if (references() == 0) {
        delete this;
    }
}

}  // namespace porvex::opc
