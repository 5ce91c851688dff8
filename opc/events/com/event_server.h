// TEventServer: the event server object of one OPC Alarms & Events client. It answers the
// catalog's questions (categories, conditions, attributes, item IDs), creates the client's
// subscriptions and area browsers, acknowledges, enables and disables conditions, reports
// condition states, and holds the client's IOPCShutdown sink.
#pragma once

#include <windows.h>

#include <string>

#include "opc/com/engine_object.h"
#include "opc/idl/opc_ae_interfaces.h"
#include "opc/server/shutdown_point.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::opc::events {

class TEventEngine;

class TEventServer final
    : public TEngineObject<win::ComObject<IOPCEventServer, IConnectionPointContainer>> {
  public:
    static win::ComPtr<TEventServer> Create(TEventEngine& engine);

    // IOPCEventServer
    HRESULT STDMETHODCALLTYPE
    GetStatus(OPCEVENTSERVERSTATUS** ppEventServerStatus) noexcept override;
    HRESULT STDMETHODCALLTYPE CreateEventSubscription(BOOL bActive, DWORD dwBufferTime,
                                                      DWORD dwMaxSize,
                                                      OPCHANDLE hClientSubscription, REFIID riid,
                                                      LPUNKNOWN* ppUnk, DWORD* pdwRevisedBufferTime,
                                                      DWORD* pdwRevisedMaxSize) noexcept override;
    HRESULT STDMETHODCALLTYPE QueryAvailableFilters(DWORD* pdwFilterMask) noexcept override;
    HRESULT STDMETHODCALLTYPE
    QueryEventCategories(DWORD dwEventType, DWORD* pdwCount, DWORD** ppdwEventCategories,
                         LPWSTR** ppszEventCategoryDescs) noexcept override;
    HRESULT STDMETHODCALLTYPE QueryConditionNames(DWORD dwEventCategory, DWORD* pdwCount,
                                                  LPWSTR** ppszConditionNames) noexcept override;
    HRESULT STDMETHODCALLTYPE QuerySubConditionNames(
        LPWSTR szConditionName, DWORD* pdwCount, LPWSTR** ppszSubConditionNames) noexcept override;
    HRESULT STDMETHODCALLTYPE QuerySourceConditions(LPWSTR szSource, DWORD* pdwCount,
                                                    LPWSTR** ppszConditionNames) noexcept override;
    HRESULT STDMETHODCALLTYPE QueryEventAttributes(DWORD dwEventCategory, DWORD* pdwCount,
                                                   DWORD** ppdwAttrIDs, LPWSTR** ppszAttrDescs,
                                                   VARTYPE** ppvtAttrTypes) noexcept override;
    HRESULT STDMETHODCALLTYPE TranslateToItemIDs(LPWSTR szSource, DWORD dwEventCategory,
                                                 LPWSTR szConditionName, LPWSTR szSubconditionName,
                                                 DWORD dwCount, DWORD* pdwAssocAttrIDs,
                                                 LPWSTR** ppszAttrItemIDs, LPWSTR** ppszNodeNames,
                                                 CLSID** ppCLSIDs) noexcept override;
    HRESULT STDMETHODCALLTYPE GetConditionState(
        LPWSTR szSource, LPWSTR szConditionName, DWORD dwNumEventAttrs, DWORD* pdwAttributeIDs,
        OPCCONDITIONSTATE** ppConditionState) noexcept override;
    HRESULT STDMETHODCALLTYPE EnableConditionByArea(DWORD dwNumAreas,
                                                    LPWSTR* pszAreas) noexcept override;
    HRESULT STDMETHODCALLTYPE EnableConditionBySource(DWORD dwNumSources,
                                                      LPWSTR* pszSources) noexcept override;
    HRESULT STDMETHODCALLTYPE DisableConditionByArea(DWORD dwNumAreas,
                                                     LPWSTR* pszAreas) noexcept override;
    HRESULT STDMETHODCALLTYPE DisableConditionBySource(DWORD dwNumSources,
                                                       LPWSTR* pszSources) noexcept override;
    HRESULT STDMETHODCALLTYPE AckCondition(DWORD dwCount, LPWSTR szAcknowledgerID, LPWSTR szComment,
                                           LPWSTR* pszSource, LPWSTR* pszConditionName,
                                           FILETIME* pftActiveTime, DWORD* pdwCookie,
                                           HRESULT** ppErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE CreateAreaBrowser(REFIID riid, LPUNKNOWN* ppUnk) noexcept override;

    // IConnectionPointContainer (IOPCShutdown)
    HRESULT STDMETHODCALLTYPE
    EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid,
                                                  IConnectionPoint** ppCP) noexcept override;

    // Asks the client to disconnect; false without a sink. A gone client's sink is dropped.
    bool RequestShutdown(const std::wstring& reason);
    // The engine is going: the object stops working.
    void Detach() noexcept;

  protected:
    void final_release() noexcept override;

  private:
    explicit TEventServer(TEventEngine& engine);
    ~TEventServer() override;

    HRESULT EnableBy(bool areas, bool enable, DWORD count, LPWSTR* names, const char* method);

    TEventEngine* engine_;
    TShutdownPoint shutdown_;
};

// The class object's way to make a server object for a client.
HRESULT CreateEventServerObject(REFIID riid, void** object) noexcept;

}  // namespace porvex::opc::events
