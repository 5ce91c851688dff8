// IOPCAsyncIO2 of a group: reads, writes and refreshes completed through the client's
// IOPCDataCallback, cancel, and the enable flag.
#include "opc/async/group_async.h"
#include "opc/com/boundary.h"
#include "opc/com/call_args.h"
#include "opc/group/group_impl.h"

namespace porvex::opc {
namespace {

void ClearOut(DWORD* id, HRESULT** errors) noexcept {
    if (id) {
        *id = 0;
    }
    if (errors) {
        *errors = nullptr;
    }
}

}  // namespace

std::vector<OPCHANDLE> TGroupAsync::CheckHandles(DWORD count, const OPCHANDLE* handles,
                                                 win::TaskArray<HRESULT>& errors) const {
    std::vector<OPCHANDLE> valid;
    valid.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        if (group_.FindItem(handles[i])) {
            errors[i] = S_OK;
            valid.push_back(handles[i]);
        } else {
            errors[i] = OPC_E_INVALIDHANDLE;
        }
    }
    return valid;
}

HRESULT TGroupAsync::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                          DWORD* pdwCancelID, HRESULT** ppErrors) noexcept {
    ClearOut(pdwCancelID, ppErrors);
    return OpcBoundary("IOPCAsyncIO2::Read", [&]() -> HRESULT {
        CheckUsable();
        CheckDataCallback();
        CheckItemArray(dwCount, phServer);
        CheckOut(pdwCancelID);
        CheckOut(ppErrors);
        // A bad handle is reported now and left out; the others are read when the
        // transaction runs.
        win::TaskArray<HRESULT> errors(dwCount);
        const std::vector<OPCHANDLE> valid = CheckHandles(dwCount, phServer, errors);
        if (!valid.empty()) {
            *pdwCancelID = Queue(std::make_unique<TAsyncReadTask>(*this, dwTransactionID, valid));
        }
        *ppErrors = errors.detach();
        return valid.size() == dwCount ? S_OK : S_FALSE;
    });
}

HRESULT TGroupAsync::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                           DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) noexcept {
    ClearOut(pdwCancelID, ppErrors);
    return OpcBoundary("IOPCAsyncIO2::Write", [&]() -> HRESULT {
        CheckUsable();
        CheckDataCallback();
        CheckItemArray(dwCount, phServer);
        CheckItemArray(dwCount, pItemValues);
        CheckOut(pdwCancelID);
        CheckOut(ppErrors);
        win::TaskArray<HRESULT> errors(dwCount);
        const std::vector<OPCHANDLE> valid = CheckHandles(dwCount, phServer, errors);
        std::vector<win::Variant> values;
        values.reserve(valid.size());
        for (DWORD i = 0; i < dwCount; ++i) {
            if (errors[i] == S_OK) {
                values.emplace_back(pItemValues[i]);
            }
        }
        if (!valid.empty()) {
            *pdwCancelID = Queue(std::make_unique<TAsyncWriteTask>(*this, dwTransactionID, valid,
                                                                   std::move(values)));
        }
        *ppErrors = errors.detach();
        return valid.size() == dwCount ? S_OK : S_FALSE;
    });
}

HRESULT TGroupAsync::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                              DWORD* pdwCancelID) noexcept {
    ClearOut(pdwCancelID, nullptr);
    return OpcBoundary("IOPCAsyncIO2::Refresh2", [&]() -> HRESULT {
        CheckUsable();
        CheckDataCallback();
        if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) {
            return E_INVALIDARG;
        }
        CheckOut(pdwCancelID);
        *pdwCancelID = QueueRefresh2(dwSource, dwTransactionID);
        return S_OK;
    });
}

HRESULT TGroupAsync::Cancel2(DWORD dwCancelID) noexcept {
    return OpcBoundary("IOPCAsyncIO2::Cancel2", [&]() -> HRESULT {
        CheckUsable();
        return CancelPending(dwCancelID);
    });
}

HRESULT TGroupAsync::SetEnable(BOOL bEnable) noexcept {
    return OpcBoundary("IOPCAsyncIO2::SetEnable", [&]() -> HRESULT {
        CheckUsable();
        CheckDataCallback();
        group_.SetEnabled(bEnable != FALSE);
        return S_OK;
    });
}

HRESULT TGroupAsync::GetEnable(BOOL* pbEnable) noexcept {
    return OpcBoundary("IOPCAsyncIO2::GetEnable", [&]() -> HRESULT {
        CheckUsable();
        CheckDataCallback();
        CheckOut(pbEnable);
        *pbEnable = group_.Enabled() ? TRUE : FALSE;
        return S_OK;
    });
}

}  // namespace porvex::opc
