#include "opc/group/group_impl.h"

#include <algorithm>
#include <cmath>

#include "opc/com/boundary.h"
#include "opc/com/errors.h"
#include "opc/com/text.h"
#include "opc/server/item_server.h"

namespace porvex::opc {
namespace {

// The stored rate before the first one is set: every request is smaller.
constexpr DWORD kNoRateYet = 2147483647;

}  // namespace

TGroupImpl::TGroupImpl(TGroupOwner& owner)
    : owner_(&owner),
      server_(&owner.Server()),
      callback_point_(
          *identity(), *this, IID_IOPCDataCallback,
          [this](IUnknown* sink, bool advise) { return CallbackAdvised(sink, advise); }) {
    owner_info_ = &owner;
}

TGroupImpl::~TGroupImpl() = default;

TGroupImpl& TGroupImpl::Create(TGroupOwner& owner, const TSettings& settings) {
    auto* group = new TGroupImpl(owner);
    try {
        group->Initialise(settings);
    } catch (...) {
        owner.TakeOutGroup(*group);
        group->Destroy();
        throw;
    }
    return *group;
}

void TGroupImpl::Initialise(const TSettings& settings) {
    TGroupOwner& owner = *owner_;
    name_ = TrimBlanks(settings.name);
    if (name_.empty()) {
        for (unsigned long n = 0;; ++n) {
            std::wstring candidate = L"Group" + std::to_wstring(n);
            if (!owner.NameInUse(candidate)) {
                name_ = std::move(candidate);
                break;
            }
        }
    }
    SetDeadband(settings.deadband);
    enabled_ = true;
    owner.InsertGroup(*this);
    handle_ = server_->Groups().Register(this);
    if (const TGroupExtensionFactory& factory = server_->GroupExtensionFactory()) {
        extension_ = factory(*this);
    }
    active_ = settings.active;
    client_handle_ = settings.client_handle;
    time_bias_ = settings.time_bias;
    locale_id_ = settings.locale_id;
    update_rate_ = kNoRateYet;
    SetUpdateRate(settings.requested_rate);
    server_->Notify(TNotification::GroupAdded, *this);
    group_added_sent_ = true;
}

TGroupImpl* TGroupImpl::Find(TOpcItemServer& server, OPCHANDLE handle) noexcept {
    // Only groups register there, so every entry is a TGroupImpl.
    return static_cast<TGroupImpl*>(server.Groups().Find(handle));
}

TOpcItemServer& TGroupImpl::Server() const {
    if (!server_) {
        throw EOpcServer(L"OPCSERV: No item server");
    }
    return *server_;
}

void TGroupImpl::CheckNotRemoved() const {
    if (removed_ || detached_) {
        throw EOpcError(E_FAIL);
    }
}

// ---- Lifetime ------------------------------------------------------------------------------

void TGroupImpl::Destroy() noexcept {
    if (detached_) {
        if (references() == 0 && !destroying_) {
            delete this;
        }
        return;
    }
    destroying_ = true;
    detached_ = true;
    removed_ = true;
    if (server_) {
        if (timer_running_) {
            server_->Window().StopTimer(handle_);
            timer_running_ = false;
        }
        if (handle_ != 0) {
            server_->Groups().Unregister(handle_);
        }
        if (extension_) {
            extension_->GroupLeaving();
        }
        if (group_added_sent_) {
            try {
                server_->Notify(TNotification::GroupRemoved, *this);
            } catch (...) {
                server_->ReportException(std::current_exception());
            }
        }
        std::vector<std::unique_ptr<TGroupItemImpl>> items = std::move(items_);
        items_.clear();
        for (auto& item : items) {
            DestroyItem(std::move(item));
        }
    }
    callback_point_.Disconnect();
    data_callback_.reset();
    changed_.clear();
    owner_ = nullptr;
    owner_info_ = nullptr;
    server_ = nullptr;
    destroying_ = false;
    if (references() == 0) {
        delete this;
    }
}

TGroupImpl::TEngineHold::TEngineHold(TGroupImpl& group) noexcept : group_(group) {
    group_.AddRef();
    ++group_.engine_holds_;
}

TGroupImpl::TEngineHold::~TEngineHold() {
    --group_.engine_holds_;
    group_.Release();  // may be the last reference: the group goes then
}

void TGroupImpl::final_release() noexcept {
    // The last reference may go on any thread: the group leaves under the engine lock,
    // unless a call holding the lock took a new reference meanwhile.
    const TEngineGuard engine;
    if (references() != 0 || destroying_) {
        return;
    }
    if (detached_) {
        delete this;
        return;
    }
    if (removed_) {
        if (owner_) {
            owner_->ForgetRemovedGroup(*this);
        }
        Destroy();
    }
    // Otherwise the client's group list still owns the group.
}

void* TGroupImpl::query_extra(REFIID riid) noexcept {
    return extension_ ? extension_->QueryInterface(riid) : nullptr;
}

void TGroupImpl::DestroyItem(std::unique_ptr<TGroupItemImpl> item) noexcept {
    if (!item) {
        return;
    }
    TOpcItemServer& server = *server_;
    if (item->announced) {
        try {
            server.Notify(TNotification::GroupItemRemoved, *item);
        } catch (...) {
            server.ReportException(std::current_exception());
        }
    }
    if (item->HasServerItem()) {
        server.ServerItems().RemoveUser(item->Shared(), *item);
    }
    if (item->ServerHandle() != 0) {
        server.Items().Unregister(item->ServerHandle());
    }
}

// ---- State ---------------------------------------------------------------------------------

void TGroupImpl::SetDeadband(float deadband) {
    if (std::isnan(deadband) || deadband < -1e-20f || deadband > 100.0f) {
        throw EOpcError(E_INVALIDARG);
    }
    deadband_.store(deadband, std::memory_order_relaxed);
}

void TGroupImpl::SetUpdateRate(DWORD requested) {
    if (timer_running_ && requested == update_rate_) {
        return;
    }
    TOpcItemServer& server = Server();
    // The platform's timers run no faster than USER_TIMER_MINIMUM and no slower than
    // USER_TIMER_MAXIMUM: the revised rate is the period the timer really has.
    const DWORD floor =
        static_cast<DWORD>(std::max(server.MinUpdateRate(), static_cast<int>(USER_TIMER_MINIMUM)));
    const DWORD revised = std::min<DWORD>(std::max(requested, floor), USER_TIMER_MAXIMUM);
    const DWORD previous = update_rate_;
    if (timer_running_) {
        server.Window().StopTimer(handle_);
        timer_running_ = false;
    }
    try {
        server.Window().StartTimer(handle_, revised);
    } catch (...) {
        if (previous != kNoRateYet) {
            try {
                server.Window().StartTimer(handle_, previous);
                timer_running_ = true;
            } catch (...) {
            }
        }
        throw;
    }
    timer_running_ = true;
    update_rate_ = revised;
}

void TGroupImpl::SetGroupActive(bool active) {
    if (active == active_) {
        return;
    }
    active_ = active;
    if (active) {
        for (auto& item : items_) {
            item->ActivationRead();
        }
    }
}

// ---- Items ---------------------------------------------------------------------------------

int TGroupImpl::ItemCount() const { return static_cast<int>(items_.size()); }

TGroupItemInfo& TGroupImpl::ItemAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) {
        throw EOpcServer(L"OPCSERV: Item index out of range");
    }
    return *items_[static_cast<std::size_t>(index)];
}

TGroupItemImpl* TGroupImpl::FindItem(OPCHANDLE handle) const noexcept {
    if (detached_ || !server_) {
        return nullptr;
    }
    // Only group items register there, so every entry is a TGroupItemImpl.
    auto* item = static_cast<TGroupItemImpl*>(server_->Items().Find(handle));
    if (!item || item->removing) {
        return nullptr;
    }
    bool strict = true;
    try {
        strict = server_->HasOption(soStrictHandles);
    } catch (...) {
        // An item server that cannot tell its options gets the safe choice.
    }
    if (strict && &item->OwnerGroup() != this) {
        return nullptr;
    }
    return item;
}

TGroupItemImpl& TGroupImpl::ValidateItem(OPCHANDLE handle) const {
    TGroupItemImpl* item = FindItem(handle);
    if (!item) {
        throw EOpcError(OPC_E_INVALIDHANDLE);
    }
    return *item;
}

void TGroupImpl::WriteItem(TGroupItemImpl& item, const VARIANT& value) {
    TOpcItemServer& server = Server();
    const TServerItem& shared = item.Shared();
    shared.CheckWriteable();
    const TWritingClientScope writer(Owner());
    if (value.vt == shared.CanonicalType()) {
        server.SetItemValue(shared.Handle(), value);
        return;
    }
    win::Variant converted;
    server.ConvertWrittenValue(shared.Handle(), value, shared.CanonicalType(), converted);
    server.SetItemValue(shared.Handle(), converted.value());
}

std::vector<OPCHANDLE> TGroupImpl::ActiveItemHandles() const {
    std::vector<OPCHANDLE> handles;
    for (const auto& item : items_) {
        if (item->Active()) {
            handles.push_back(item->ServerHandle());
        }
    }
    return handles;
}

void TGroupImpl::ReportCallbackFailure(HRESULT error, int kind) noexcept {
    if (!server_) {
        return;
    }
    if (IsClientGone(error) &&
        (kind == ckDataChange || kind == ckReadComplete || kind == ckWriteComplete)) {
        DropDataCallback();
    }
    try {
        server_->GroupCallbackFailed(error, *this, kind);
    } catch (...) {
        server_->ReportException(std::current_exception());
    }
}

void TGroupImpl::DropDataCallback() noexcept {
    if (!data_callback_ && !callback_point_.Connected()) {
        return;
    }
    callback_point_.Disconnect();
    data_callback_.reset();
    if (extension_) {
        try {
            extension_->DataCallbackChanged(false);
        } catch (...) {
            if (server_) {
                server_->ReportException(std::current_exception());
            }
        }
    }
}

void TGroupImpl::MarkRemoved() noexcept {
    removed_ = true;
    if (extension_) {
        extension_->GroupRemoved();
    }
}

// ---- Connection point ----------------------------------------------------------------------

HRESULT TGroupImpl::CallbackAdvised(IUnknown* sink, bool advise) {
    if (advise) {
        if (detached_) {
            return E_FAIL;
        }
        win::ComPtr<IOPCDataCallback> callback;
        const HRESULT hr =
            sink->QueryInterface(IID_IOPCDataCallback, reinterpret_cast<void**>(callback.put()));
        if (FAILED(hr)) {
            return hr;
        }
        data_callback_ = std::move(callback);
    } else {
        data_callback_.reset();
    }
    if (extension_) {
        extension_->DataCallbackChanged(advise);
    }
    return S_OK;
}

HRESULT TGroupImpl::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept {
    if (!ppEnum) {
        return E_INVALIDARG;
    }
    *ppEnum = nullptr;
    return OpcBoundary("IConnectionPointContainer::EnumConnectionPoints", [&]() -> HRESULT {
        *ppEnum = TEnumerateCP::Create(callback_point_).detach();
        return S_OK;
    });
}

HRESULT TGroupImpl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept {
    return FindSinglePoint(callback_point_, riid, ppCP);
}

}  // namespace porvex::opc
