// IOPCSyncIO of a group: synchronous reads from cache or device, and writes.
#include "opc/com/boundary.h"
#include "opc/com/call_args.h"
#include "opc/com/opc_task_elements.h"
#include "opc/group/group_impl.h"
#include "opc/server/item_server.h"

namespace porvex::opc {

HRESULT TGroupImpl::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                         OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) noexcept {
    if (ppItemValues) {
        *ppItemValues = nullptr;
    }
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCSyncIO::Read", [&]() -> HRESULT {
        if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) {
            return E_INVALIDARG;
        }
        CheckItemArray(dwCount, phServer);
        CheckOut(ppItemValues);
        CheckOut(ppErrors);
        win::TaskArray<OPCITEMSTATE> states(dwCount);
        win::TaskArray<HRESULT> errors(dwCount);
        bool failed = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            try {
                TGroupItemImpl& item = ValidateItem(phServer[i]);
                states[i].hClient = item.ClientHandle();
                item.Shared().CheckReadable();
                TItemReading reading = item.Read(dwSource);
                if (dwSource == OPC_DS_CACHE && (!item.Active() || !item.OwnerGroup().Active())) {
                    reading.quality = OPC_QUALITY_OUT_OF_SERVICE;
                }
                states[i].ftTimeStamp = reading.time;
                states[i].wQuality = reading.quality;
                reading.value.move_to(states[i].vDataValue);
                errors[i] = S_OK;
            } catch (...) {
                errors[i] = BoundaryResult(std::current_exception(), "IOPCSyncIO::Read");
                failed = true;
            }
        }
        if (owner_) {
            owner_->RefreshLastUpdate();
        }
        *ppItemValues = states.detach();
        *ppErrors = errors.detach();
        return failed ? S_FALSE : S_OK;
    });
}

HRESULT TGroupImpl::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                          HRESULT** ppErrors) noexcept {
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCSyncIO::Write", [&]() -> HRESULT {
        CheckItemArray(dwCount, phServer);
        CheckItemArray(dwCount, pItemValues);
        CheckOut(ppErrors);
        win::TaskArray<HRESULT> errors(dwCount);
        bool failed = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            try {
                WriteItem(ValidateItem(phServer[i]), pItemValues[i]);
                errors[i] = S_OK;
            } catch (...) {
                errors[i] = BoundaryResult(std::current_exception(), "IOPCSyncIO::Write");
                failed = true;
            }
        }
        *ppErrors = errors.detach();
        return failed ? S_FALSE : S_OK;
    });
}

}  // namespace porvex::opc
