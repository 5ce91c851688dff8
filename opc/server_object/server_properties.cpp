// IOPCItemProperties of the server object: the six properties every item has.
#include <array>

#include "opc/com/boundary.h"
#include "opc/com/call_args.h"
#include "opc/com/file_time.h"
#include "opc/server/item_server.h"
#include "opc/server_object/server_impl.h"
#include "win/task_memory.h"

namespace porvex::opc {
namespace {

struct TPropertyInfo {
    DWORD id;
    const wchar_t* description;
    VARTYPE type;  // VT_VARIANT: the item's canonical type
};

constexpr std::array<TPropertyInfo, 6> kProperties{{
    {OPC_PROP_CDT, L"Item Canonical Data Type", VT_I2},
    {OPC_PROP_VALUE, L"Item Value", VT_VARIANT},
    {OPC_PROP_QUALITY, L"Item Quality", VT_I2},
    {OPC_PROP_TIME, L"Item Timestamp", VT_DATE},
    {OPC_PROP_RIGHTS, L"Item Access Rights", VT_I4},
    {OPC_PROP_SCANRATE, L"Item Server Scan Rate", VT_R4},
}};

// The value, quality and time of one device read, made when the first of properties 2, 3
// and 4 asks for it.
class TDeviceRead {
  public:
    explicit TDeviceRead(TOpcItemServer& server, const TServerItemRef& item)
        : server_(server), item_(item) {}

    void Need() {
        if (done_) {
            if (error_ != S_OK) {
                throw EOpcError(error_);
            }
            return;
        }
        done_ = true;
        try {
            item_.ReadDevice(quality_, value_);
            time_ = server_.Now();
        } catch (...) {
            error_ = ResultOfException(std::current_exception());
            throw;
        }
    }
    const win::Variant& Value() const { return value_; }
    WORD Quality() const { return quality_; }
    FILETIME Time() const { return time_; }

  private:
    TOpcItemServer& server_;
    const TServerItemRef& item_;
    bool done_ = false;
    HRESULT error_ = S_OK;
    win::Variant value_;
    WORD quality_ = kQualityGood;
    FILETIME time_{};
};

TResolvedItem ResolveForProperties(TOpcItemServer& server, LPCWSTR itemId) {
    if (!itemId) {
        throw EOpcError(E_INVALIDARG);
    }
    return server.ServerItems().Resolve(itemId);
}

}  // namespace

HRESULT TServerImpl::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                              DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                              VARTYPE** ppvtDataTypes) noexcept {
    if (pdwCount) {
        *pdwCount = 0;
    }
    if (ppPropertyIDs) {
        *ppPropertyIDs = nullptr;
    }
    if (ppDescriptions) {
        *ppDescriptions = nullptr;
    }
    if (ppvtDataTypes) {
        *ppvtDataTypes = nullptr;
    }
    return OpcBoundary("IOPCItemProperties::QueryAvailableProperties", [&]() -> HRESULT {
        CheckOut(pdwCount);
        CheckOut(ppPropertyIDs);
        CheckOut(ppDescriptions);
        CheckOut(ppvtDataTypes);
        TOpcItemServer& server = Server();
        TResolvedItem item = ResolveForProperties(server, szItemID);
        win::TaskArray<DWORD> ids(kProperties.size());
        win::TaskArray<LPWSTR> descriptions(kProperties.size());
        win::TaskArray<VARTYPE> types(kProperties.size());
        for (std::size_t i = 0; i < kProperties.size(); ++i) {
            ids[i] = kProperties[i].id;
            descriptions[i] = win::task_string(kProperties[i].description).release();
            types[i] =
                kProperties[i].type == VT_VARIANT ? item->CanonicalType() : kProperties[i].type;
        }
        *pdwCount = static_cast<DWORD>(kProperties.size());
        *ppPropertyIDs = ids.detach();
        *ppDescriptions = descriptions.detach();
        *ppvtDataTypes = types.detach();
        return S_OK;
    });
}

HRESULT TServerImpl::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                       VARIANT** ppvData, HRESULT** ppErrors) noexcept {
    if (ppvData) {
        *ppvData = nullptr;
    }
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCItemProperties::GetItemProperties", [&]() -> HRESULT {
        CheckItemArray(dwCount, pdwPropertyIDs);
        CheckOut(ppvData);
        CheckOut(ppErrors);
        TOpcItemServer& server = Server();
        TResolvedItem item = ResolveForProperties(server, szItemID);
        win::TaskArray<VARIANT> values(dwCount);
        win::TaskArray<HRESULT> errors(dwCount);
        TDeviceRead read(server, *item);
        for (DWORD i = 0; i < dwCount; ++i) {
            try {
                win::Variant value;
                switch (pdwPropertyIDs[i]) {
                    case OPC_PROP_CDT:
                        value = win::Variant::i2(static_cast<SHORT>(item->CanonicalType()));
                        break;
                    case OPC_PROP_VALUE:
                        read.Need();
                        value = read.Value();
                        break;
                    case OPC_PROP_QUALITY:
                        read.Need();
                        value = win::Variant::i2(static_cast<SHORT>(read.Quality()));
                        break;
                    case OPC_PROP_TIME:
                        read.Need();
                        value = win::Variant::date(OleDateFromFileTime(read.Time()));
                        break;
                    case OPC_PROP_RIGHTS:
                        value = win::Variant::i4(static_cast<LONG>(item->AccessRights()));
                        break;
                    case OPC_PROP_SCANRATE:
                        value = win::Variant::r4(static_cast<FLOAT>(server.MinUpdateRate()));
                        break;
                    default:
                        throw EOpcError(OPC_E_INVALID_PID);
                }
                value.move_to(values[i]);
                errors[i] = S_OK;
            } catch (...) {
                errors[i] = BoundaryResult(std::current_exception(),
                                           "IOPCItemProperties::GetItemProperties");
            }
        }
        *ppvData = values.detach();
        *ppErrors = errors.detach();
        return S_OK;
    });
}

HRESULT TServerImpl::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                   LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) noexcept {
    if (ppszNewItemIDs) {
        *ppszNewItemIDs = nullptr;
    }
    if (ppErrors) {
        *ppErrors = nullptr;
    }
    return OpcBoundary("IOPCItemProperties::LookupItemIDs", [&]() -> HRESULT {
        CheckItemArray(dwCount, pdwPropertyIDs);
        CheckOut(ppszNewItemIDs);
        CheckOut(ppErrors);
        TResolvedItem item = ResolveForProperties(Server(), szItemID);
        // No property of this engine has an item ID of its own.
        win::TaskArray<LPWSTR> ids(dwCount);
        win::TaskArray<HRESULT> errors(dwCount);
        for (DWORD i = 0; i < dwCount; ++i) {
            errors[i] = OPC_E_INVALID_PID;
        }
        *ppszNewItemIDs = ids.detach();
        *ppErrors = errors.detach();
        return S_FALSE;
    });
}

}  // namespace porvex::opc
