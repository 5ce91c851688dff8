// IOPCAsyncIO of a group (OPC DA 1.0): reads, writes and refreshes completed as data-object
// blocks sent to the sinks the client attached with IDataObject::DAdvise.
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

void CheckSource(OPCDATASOURCE source) {
    if (source != OPC_DS_CACHE && source != OPC_DS_DEVICE) {
        throw EOpcError(E_INVALIDARG);
    }
}

}  // namespace

HRESULT TGroupAsync::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                          OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) noexcept {
    ClearOut(pTransactionID, ppErrors);
    return OpcBoundary("IOPCAsyncIO::Read", [&]() -> HRESULT {
        CheckUsable();
        CheckItemArray(dwCount, phServer);
        CheckConnection(dwConnection);
        CheckSource(dwSource);
        CheckOut(pTransactionID);
        CheckOut(ppErrors);
        // Every handle is checked now: a request with a bad one is refused as a whole.
        win::TaskArray<HRESULT> errors(dwCount);
        bool any_bad = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            errors[i] = group_.FindItem(phServer[i]) ? S_OK : OPC_E_INVALIDHANDLE;
            any_bad = any_bad || errors[i] != S_OK;
        }
        if (any_bad) {
            *ppErrors = errors.detach();
            return S_FALSE;
        }
        win::TaskArray<HRESULT> accepted = AcceptedErrors(dwCount);
        *pTransactionID = Queue(std::make_unique<TAsyncReadTask1>(
            *this, dwConnection, dwSource, std::vector<OPCHANDLE>(phServer, phServer + dwCount)));
        *ppErrors = accepted.detach();
        return S_OK;
    });
}

HRESULT TGroupAsync::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                           VARIANT* pItemValues, DWORD* pTransactionID,
                           HRESULT** ppErrors) noexcept {
    ClearOut(pTransactionID, ppErrors);
    return OpcBoundary("IOPCAsyncIO::Write", [&]() -> HRESULT {
        CheckUsable();
        CheckItemArray(dwCount, phServer);
        CheckItemArray(dwCount, pItemValues);
        CheckConnection(dwConnection);
        CheckOut(pTransactionID);
        CheckOut(ppErrors);
        win::TaskArray<HRESULT> errors(dwCount);
        bool any_bad = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            errors[i] = group_.FindItem(phServer[i]) ? S_OK : OPC_E_INVALIDHANDLE;
            any_bad = any_bad || errors[i] != S_OK;
        }
        if (any_bad) {
            *ppErrors = errors.detach();
            return S_FALSE;
        }
        std::vector<win::Variant> values;
        values.reserve(dwCount);
        for (DWORD i = 0; i < dwCount; ++i) {
            values.emplace_back(pItemValues[i]);
        }
        win::TaskArray<HRESULT> accepted = AcceptedErrors(dwCount);
        *pTransactionID = Queue(std::make_unique<TAsyncWriteTask1>(
            *this, std::vector<OPCHANDLE>(phServer, phServer + dwCount), std::move(values)));
        *ppErrors = accepted.detach();
        return S_OK;
    });
}

HRESULT TGroupAsync::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                             DWORD* pTransactionID) noexcept {
    ClearOut(pTransactionID, nullptr);
    return OpcBoundary("IOPCAsyncIO::Refresh", [&]() -> HRESULT {
        CheckUsable();
        CheckConnection(dwConnection);
        CheckSource(dwSource);
        CheckOut(pTransactionID);
        *pTransactionID = QueueRefresh1(dwConnection, dwSource);
        return S_OK;
    });
}

HRESULT TGroupAsync::Cancel(DWORD dwTransactionID) noexcept {
    return OpcBoundary("IOPCAsyncIO::Cancel", [&]() -> HRESULT {
        CheckUsable();
        return CancelPending(dwTransactionID);
    });
}

}  // namespace porvex::opc
