// TAreaBrowser: a client's walk through the event server's areas (IOPCEventAreaBrowser).
// It starts at the root; areas are the catalog's area paths, sources are listed by their
// name within their area and qualified to their full name.
#pragma once

#include <windows.h>

#include <string>

#include "opc/com/engine_object.h"
#include "opc/idl/opc_ae_interfaces.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::opc::events {

class TEventEngine;

class TAreaBrowser final : public TEngineObject<win::ComObject<IOPCEventAreaBrowser>> {
  public:
    static win::ComPtr<TAreaBrowser> Create(TEventEngine& engine);

    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCAEBROWSEDIRECTION dwBrowseDirection,
                                                   LPCWSTR szString) noexcept override;
    HRESULT STDMETHODCALLTYPE BrowseOPCAreas(OPCAEBROWSETYPE dwBrowseFilterType,
                                             LPCWSTR szFilterCriteria,
                                             LPENUMSTRING* ppIEnumString) noexcept override;
    HRESULT STDMETHODCALLTYPE GetQualifiedAreaName(LPCWSTR szAreaName,
                                                   LPWSTR* pszQualifiedAreaName) noexcept override;
    HRESULT STDMETHODCALLTYPE
    GetQualifiedSourceName(LPCWSTR szSourceName, LPWSTR* pszQualifiedSourceName) noexcept override;

  protected:
    void final_release() noexcept override;

  private:
    explicit TAreaBrowser(TEventEngine& engine) : engine_(&engine) {}
    // The engine, or null when it has gone since the browser was made.
    TEventEngine* Engine() const noexcept;

    TEventEngine* engine_;
    std::wstring position_;  // "" is the root
};

}  // namespace porvex::opc::events
