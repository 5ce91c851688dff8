// IOPCGroupStateMgt of a group: its state, name and clones.
#include "opc/com/boundary.h"
#include "opc/com/call_args.h"
#include "opc/com/text.h"
#include "opc/group/group_impl.h"
#include "opc/server/item_server.h"
#include "win/task_memory.h"

namespace porvex::opc {

HRESULT TGroupImpl::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                             FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                             OPCHANDLE* phServerGroup) noexcept {
    if (ppName) {
        *ppName = nullptr;
    }
    return OpcBoundary("IOPCGroupStateMgt::GetState", [&]() -> HRESULT {
        CheckNotRemoved();
        for (const void* out :
             {static_cast<const void*>(pUpdateRate), static_cast<const void*>(pActive),
              static_cast<const void*>(ppName), static_cast<const void*>(pTimeBias),
              static_cast<const void*>(pPercentDeadband), static_cast<const void*>(pLCID),
              static_cast<const void*>(phClientGroup), static_cast<const void*>(phServerGroup)}) {
            CheckOut(out);
        }
        auto name = win::task_string(name_);
        *pUpdateRate = update_rate_;
        *pActive = active_ ? TRUE : FALSE;
        *pTimeBias = time_bias_;
        *pPercentDeadband = PercentDeadband();
        *pLCID = locale_id_;
        *phClientGroup = client_handle_;
        *phServerGroup = handle_;
        *ppName = name.release();
        return S_OK;
    });
}

HRESULT TGroupImpl::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                             LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                             OPCHANDLE* phClientGroup) noexcept {
    return OpcBoundary("IOPCGroupStateMgt::SetState", [&]() -> HRESULT {
        CheckNotRemoved();
        // Each step stands on its own: a failing one returns at once and what the steps
        // before it changed stays changed.
        if (pRequestedUpdateRate) {
            SetUpdateRate(*pRequestedUpdateRate);
        }
        if (pRevisedUpdateRate) {
            *pRevisedUpdateRate = update_rate_;
        }
        if (pActive) {
            SetGroupActive(*pActive != FALSE);
        }
        if (pTimeBias) {
            time_bias_ = *pTimeBias;
        }
        if (pPercentDeadband) {
            SetDeadband(*pPercentDeadband);
        }
        if (pLCID) {
            locale_id_ = *pLCID;
        }
        if (phClientGroup) {
            client_handle_ = *phClientGroup;
        }
        if (pRequestedUpdateRate && *pRequestedUpdateRate != update_rate_) {
            return OPC_S_UNSUPPORTEDRATE;
        }
        return S_OK;
    });
}

HRESULT TGroupImpl::SetName(LPCWSTR szName) noexcept {
    return OpcBoundary("IOPCGroupStateMgt::SetName", [&]() -> HRESULT {
        CheckNotRemoved();
        if (!szName) {
            return E_INVALIDARG;
        }
        std::wstring name = TrimBlanks(szName);
        if (name.empty()) {
            return E_INVALIDARG;
        }
        owner_->RenameGroup(*this, name);
        name_ = std::move(name);
        return S_OK;
    });
}

HRESULT TGroupImpl::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) noexcept {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    return OpcBoundary("IOPCGroupStateMgt::CloneGroup", [&]() -> HRESULT {
        CheckNotRemoved();
        CheckOut(ppUnk);
        TSettings settings;
        settings.name = FromClientString(szName);
        settings.active = false;
        settings.requested_rate = update_rate_;
        settings.client_handle = client_handle_;
        settings.time_bias = time_bias_;
        settings.deadband = PercentDeadband();
        settings.locale_id = locale_id_;
        TGroupImpl& clone = Create(*owner_, settings);
        try {
            TOpcItemServer& server = Server();
            clone.items_.reserve(items_.size());
            for (const auto& source : items_) {
                // Copies are not announced to the item server.
                auto copy = std::make_unique<TGroupItemImpl>(clone, source->ClientHandle(),
                                                             source->RequestedDataType());
                server.ServerItems().AddUser(source->Shared(), *copy);
                copy->SetServerItem(source->Shared());
                copy->SetServerHandle(server.Items().Register(copy.get()));
                clone.items_.push_back(std::move(copy));
                clone.items_.back()->SetActive(source->Active());
            }
            const HRESULT hr = clone.QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
            if (FAILED(hr)) {
                throw EOpcError(hr);
            }
        } catch (...) {
            owner_->TakeOutGroup(clone);
            clone.Destroy();
            throw;
        }
        return S_OK;
    });
}

}  // namespace porvex::opc
