// IOPCItemMgt of a group: adding, validating and removing items and changing their state.
#include <algorithm>

#include "opc/com/boundary.h"
#include "opc/com/call_args.h"
#include "opc/com/opc_task_elements.h"
#include "opc/group/group_impl.h"
#include "opc/group/item_enumerator.h"
#include "opc/server/item_server.h"

namespace porvex::opc {
namespace {

// The shared rule of the per-item methods: a positive count and the handle array, one
// error code per item in a task-allocated array, S_FALSE when any item failed.
template <class Action>
HRESULT ForEachItem(TGroupImpl& group, const char* method, DWORD count, const OPCHANDLE* handles,
                    HRESULT** ppErrors, Action&& action) {
    CheckItemArray(count, handles);
    CheckOut(ppErrors);
    win::TaskArray<HRESULT> errors(count);
    bool failed = false;
    for (DWORD i = 0; i < count; ++i) {
        try {
            action(group.ValidateItem(handles[i]), i);
            errors[i] = S_OK;
        } catch (...) {
            errors[i] = BoundaryResult(std::current_exception(), method);
            failed = true;
        }
    }
    *ppErrors = errors.detach();
    return failed ? S_FALSE : S_OK;
}

}  // namespace

void TGroupImpl::AddOneItem(const OPCITEMDEF& definition, OPCITEMRESULT& result) {
    if (!definition.szItemID || definition.szItemID[0] == L'\0') {
        throw EOpcError(OPC_E_INVALIDITEMID);
    }
    TOpcItemServer& server = Server();
    auto item = std::make_unique<TGroupItemImpl>(*this, definition.hClient, VT_EMPTY);
    TServerItem& shared = server.ServerItems().AddUser(definition.szItemID, *item);
    item->SetServerItem(shared);
    try {
        if (!IsAcceptedDataType(definition.vtRequestedDataType)) {
            throw EOpcError(OPC_E_BADTYPE);
        }
        item->SetRequestedType(definition.vtRequestedDataType);
        item->SetActive(definition.bActive != FALSE);
        item->SetServerHandle(server.Items().Register(item.get()));
        items_.push_back(std::move(item));
    } catch (...) {
        if (item->ServerHandle() != 0) {
            server.Items().Unregister(item->ServerHandle());
        }
        server.ServerItems().RemoveUser(shared, *item);
        throw;
    }
    TGroupItemImpl& added = *items_.back();
    result.hServer = added.ServerHandle();
    result.vtCanonicalDataType = shared.CanonicalType();
    result.dwAccessRights = shared.AccessRights();
    result.dwBlobSize = 0;
    result.pBlob = nullptr;
    server.Notify(TNotification::GroupItemAdded, added);
    added.announced = true;
}

HRESULT TGroupImpl::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                             HRESULT** ppErrors) noexcept {
    if (ppAddResults) {
        *ppAddResults = nullptr;
    }
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCItemMgt::AddItems", [&]() -> HRESULT {
        CheckNotRemoved();
        CheckItemArray(dwCount, pItemArray);
        CheckOut(ppAddResults);
        CheckOut(ppErrors);
        TOpcItemServer& server = Server();
        win::TaskArray<OPCITEMRESULT> results(dwCount);
        win::TaskArray<HRESULT> errors(dwCount);
        // Room first, so that appending an item that was resolved cannot fail.
        items_.reserve(items_.size() + dwCount);
        server.Items().Reserve(server.Items().Count() + dwCount);
        bool failed = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            try {
                AddOneItem(pItemArray[i], results[i]);
                errors[i] = S_OK;
            } catch (...) {
                errors[i] = BoundaryResult(std::current_exception(), "IOPCItemMgt::AddItems");
                failed = true;
            }
        }
        *ppAddResults = results.detach();
        *ppErrors = errors.detach();
        return failed ? S_FALSE : S_OK;
    });
}

HRESULT TGroupImpl::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL,
                                  OPCITEMRESULT** ppValidationResults,
                                  HRESULT** ppErrors) noexcept {
    if (ppValidationResults) {
        *ppValidationResults = nullptr;
    }
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCItemMgt::ValidateItems", [&]() -> HRESULT {
        CheckNotRemoved();
        CheckItemArray(dwCount, pItemArray);
        CheckOut(ppValidationResults);
        CheckOut(ppErrors);
        TOpcItemServer& server = Server();
        win::TaskArray<OPCITEMRESULT> results(dwCount);
        win::TaskArray<HRESULT> errors(dwCount);
        bool failed = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            try {
                const OPCITEMDEF& definition = pItemArray[i];
                if (!definition.szItemID || definition.szItemID[0] == L'\0') {
                    throw EOpcError(OPC_E_INVALIDITEMID);
                }
                TResolvedItem resolved = server.ServerItems().Resolve(definition.szItemID);
                results[i].vtCanonicalDataType = resolved->CanonicalType();
                results[i].dwAccessRights = resolved->AccessRights();
                errors[i] = S_OK;
            } catch (...) {
                errors[i] = BoundaryResult(std::current_exception(), "IOPCItemMgt::ValidateItems");
                failed = true;
            }
        }
        *ppValidationResults = results.detach();
        *ppErrors = errors.detach();
        return failed ? S_FALSE : S_OK;
    });
}

HRESULT TGroupImpl::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) noexcept {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCItemMgt::RemoveItems", [&]() -> HRESULT {
        CheckItemArray(dwCount, phServer);
        CheckOut(ppErrors);
        win::TaskArray<HRESULT> errors(dwCount);
        // Everything the removal needs is allocated first: once items are marked, nothing
        // may fail half-way.
        std::vector<TGroupItemImpl*> doomed;
        std::vector<std::unique_ptr<TGroupItemImpl>> taken;
        std::vector<TGroupImpl*> groups;
        doomed.reserve(dwCount);
        taken.reserve(dwCount);
        groups.reserve(dwCount);
        bool failed = false;
        // Validate and mark every item first (a handle named twice fails the second time),
        // then take them out of their groups in one pass per group, so that removing many
        // items stays linear.
        for (DWORD i = 0; i < dwCount; ++i) {
            TGroupItemImpl* item = FindItem(phServer[i]);
            if (!item) {
                errors[i] = OPC_E_INVALIDHANDLE;
                failed = true;
                continue;
            }
            item->removing = true;
            doomed.push_back(item);
            TGroupImpl* group = &item->OwnerGroup();
            if (std::find(groups.begin(), groups.end(), group) == groups.end()) {
                groups.push_back(group);
            }
            errors[i] = S_OK;
        }
        for (TGroupImpl* group : groups) {
            for (auto& owned : group->items_) {
                if (owned->removing) {
                    taken.push_back(std::move(owned));
                }
            }
            std::erase(group->items_, nullptr);
        }
        // The items go in the order the client named them.
        for (auto& owned : taken) {
            owned.release();
        }
        for (TGroupItemImpl* item : doomed) {
            item->OwnerGroup().DestroyItem(std::unique_ptr<TGroupItemImpl>(item));
        }
        *ppErrors = errors.detach();
        return failed ? S_FALSE : S_OK;
    });
}

HRESULT TGroupImpl::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                   HRESULT** ppErrors) noexcept {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCItemMgt::SetActiveState", [&]() -> HRESULT {
        return ForEachItem(*this, "IOPCItemMgt::SetActiveState", dwCount, phServer, ppErrors,
                           [&](TGroupItemImpl& item, DWORD) { item.SetActive(bActive != FALSE); });
    });
}

HRESULT TGroupImpl::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                     HRESULT** ppErrors) noexcept {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCItemMgt::SetClientHandles", [&]() -> HRESULT {
        CheckItemArray(dwCount, phClient);
        return ForEachItem(
            *this, "IOPCItemMgt::SetClientHandles", dwCount, phServer, ppErrors,
            [&](TGroupItemImpl& item, DWORD i) { item.SetClientHandle(phClient[i]); });
    });
}

HRESULT TGroupImpl::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                 HRESULT** ppErrors) noexcept {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCItemMgt::SetDatatypes", [&]() -> HRESULT {
        CheckItemArray(dwCount, pRequestedDatatypes);
        return ForEachItem(*this, "IOPCItemMgt::SetDatatypes", dwCount, phServer, ppErrors,
                           [&](TGroupItemImpl& item, DWORD i) {
                               const VARTYPE type = pRequestedDatatypes[i];
                               if (!IsAcceptedDataType(type)) {
                                   throw EOpcError(OPC_E_BADTYPE);
                               }
                               if (type != VT_EMPTY) {
                                   // The item's present value must be convertible to the new type.
                                   WORD quality = kQualityGood;
                                   win::Variant value;
                                   win::Variant converted;
                                   item.Shared().ReadDevice(quality, value);
                                   CheckResult(value.convert_to(type, converted));
                               }
                               item.SetRequestedType(type);
                           });
    });
}

HRESULT TGroupImpl::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) noexcept {
    if (ppUnk) {
        *ppUnk = nullptr;
    }
    return OpcBoundary("IOPCItemMgt::CreateEnumerator", [&]() -> HRESULT {
        CheckOut(ppUnk);
        CheckNotRemoved();
        if (!IsEqualIID(riid, IID_IEnumOPCItemAttributes)) {
            return E_INVALIDARG;
        }
        *ppUnk = TItemEnumerator::Create(*this).detach();
        return S_OK;
    });
}

}  // namespace porvex::opc
