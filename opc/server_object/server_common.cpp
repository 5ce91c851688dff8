// IOPCCommon of the server object, and the error texts of IOPCServer.
#include <algorithm>
#include <vector>

#include "opc/com/boundary.h"
#include "opc/com/call_args.h"
#include "opc/server/item_server.h"
#include "opc/server_object/server_impl.h"
#include "win/task_memory.h"

namespace porvex::opc {

HRESULT TServerImpl::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) noexcept {
    if (ppString) {
        *ppString = nullptr;
    }
    return OpcBoundary("IOPCServer::GetErrorString", [&]() -> HRESULT {
        CheckOut(ppString);
        std::wstring text;
        Server().GetErrorString(dwError, LANGIDFROMLCID(dwLocale), text);
        *ppString = win::task_string(text).release();
        return S_OK;
    });
}

HRESULT TServerImpl::GetErrorString(HRESULT dwError, LPWSTR* ppString) noexcept {
    return GetErrorString(dwError, locale_id_, ppString);
}

HRESULT TServerImpl::SetLocaleID(LCID dwLcid) noexcept {
    if (dwLcid != LOCALE_SYSTEM_DEFAULT && dwLcid != GetSystemDefaultLCID() &&
        dwLcid != GetUserDefaultLCID()) {
        return E_INVALIDARG;
    }
    locale_id_ = dwLcid;
    return S_OK;
}

HRESULT TServerImpl::GetLocaleID(LCID* pdwLcid) noexcept {
    if (!pdwLcid) {
        return E_INVALIDARG;
    }
    *pdwLcid = locale_id_;
    return S_OK;
}

HRESULT TServerImpl::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) noexcept {
    if (pdwCount) {
        *pdwCount = 0;
    }
    if (pdwLcid) {
        *pdwLcid = nullptr;
    }
    return OpcBoundary("IOPCCommon::QueryAvailableLocaleIDs", [&]() -> HRESULT {
        CheckOut(pdwCount);
        CheckOut(pdwLcid);
        // The locales SetLocaleID accepts, each once: the system's and the user's are
        // usually the same.
        std::vector<LCID> accepted;
        for (LCID locale :
             {LCID{LOCALE_SYSTEM_DEFAULT}, GetSystemDefaultLCID(), GetUserDefaultLCID()}) {
            if (std::find(accepted.begin(), accepted.end(), locale) == accepted.end()) {
                accepted.push_back(locale);
            }
        }
        win::TaskArray<LCID> locales(accepted.size());
        std::copy(accepted.begin(), accepted.end(), locales.get());
        *pdwCount = static_cast<DWORD>(accepted.size());
        *pdwLcid = locales.detach();
        return S_OK;
    });
}

HRESULT TServerImpl::SetClientName(LPCWSTR szName) noexcept {
    return OpcBoundary("IOPCCommon::SetClientName", [&]() -> HRESULT {
        if (!szName) {
            return E_INVALIDARG;
        }
        TOpcItemServer& server = Server();
        client_name_ = szName;
        server.Notify(TNotification::ClientNameChanged, *this);
        return S_OK;
    });
}

}  // namespace porvex::opc
