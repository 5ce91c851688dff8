// TEventSubscription: one event subscription of a client (IOPCEventSubscriptionMgt) with
// its connection point for the client's IOPCEventSink. Its filter lives in the hub, which
// buffers the events that pass it; the engine's tick calls Deliver, which sends what is
// due (and a requested refresh) to the sink. Buffer time 0 delivers on the next tick; max
// size 0 puts no limit on the events of one OnEvent call.
#pragma once

#include <windows.h>

#include "opc/com/client_ptr.h"
#include "opc/com/engine_object.h"
#include "opc/events/com/event_batch.h"
#include "opc/events/model/event_hub.h"
#include "opc/idl/opc_ae_interfaces.h"
#include "opc/server/connection_point.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::opc::events {

class TEventEngine;

class TEventSubscription final
    : public TEngineObject<win::ComObject<IOPCEventSubscriptionMgt, IConnectionPointContainer>> {
  public:
    static win::ComPtr<TEventSubscription> Create(TEventEngine& engine, bool active,
                                                  DWORD bufferTime, DWORD maxSize,
                                                  OPCHANDLE clientHandle);

    // IOPCEventSubscriptionMgt
    HRESULT STDMETHODCALLTYPE SetFilter(DWORD dwEventType, DWORD dwNumCategories,
                                        DWORD* pdwEventCategories, DWORD dwLowSeverity,
                                        DWORD dwHighSeverity, DWORD dwNumAreas, LPWSTR* pszAreaList,
                                        DWORD dwNumSources,
                                        LPWSTR* pszSourceList) noexcept override;
    HRESULT STDMETHODCALLTYPE GetFilter(DWORD* pdwEventType, DWORD* pdwNumCategories,
                                        DWORD** ppdwEventCategories, DWORD* pdwLowSeverity,
                                        DWORD* pdwHighSeverity, DWORD* pdwNumAreas,
                                        LPWSTR** ppszAreaList, DWORD* pdwNumSources,
                                        LPWSTR** ppszSourceList) noexcept override;
    HRESULT STDMETHODCALLTYPE SelectReturnedAttributes(DWORD dwEventCategory, DWORD dwCount,
                                                       DWORD* dwAttributeIDs) noexcept override;
    HRESULT STDMETHODCALLTYPE GetReturnedAttributes(DWORD dwEventCategory, DWORD* pdwCount,
                                                    DWORD** ppdwAttributeIDs) noexcept override;
    HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection) noexcept override;
    HRESULT STDMETHODCALLTYPE CancelRefresh(DWORD dwConnection) noexcept override;
    HRESULT STDMETHODCALLTYPE GetState(BOOL* pbActive, DWORD* pdwBufferTime, DWORD* pdwMaxSize,
                                       OPCHANDLE* phClientSubscription) noexcept override;
    HRESULT STDMETHODCALLTYPE SetState(BOOL* pbActive, DWORD* pdwBufferTime, DWORD* pdwMaxSize,
                                       OPCHANDLE hClientSubscription, DWORD* pdwRevisedBufferTime,
                                       DWORD* pdwRevisedMaxSize) noexcept override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE
    EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid,
                                                  IConnectionPoint** ppCP) noexcept override;

    // Engine side: sends what is due to the sink (on the engine's tick).
    void Deliver() noexcept;
    // The engine is going: the subscription stops working.
    void Detach() noexcept;
    FILETIME LastDelivery() const noexcept { return last_delivery_; }

  protected:
    void final_release() noexcept override;

  private:
    TEventSubscription(TEventEngine& engine, bool active, DWORD bufferTime, DWORD maxSize,
                       OPCHANDLE clientHandle);
    ~TEventSubscription() override;

    HRESULT SinkAdvised(IUnknown* sink, bool advise);
    // One OnEvent call; false when the sink failed (a gone client's sink is dropped).
    bool Send(const std::vector<TEvent>& events, bool refresh, bool lastRefresh);
    void DeliverRefresh();

    TEventEngine* engine_;
    TEventHub::TSubscriberId id_ = 0;
    bool active_;
    DWORD buffer_time_;
    DWORD max_size_;
    OPCHANDLE client_handle_;
    TReturnedAttributes returned_;
    TConnectionPoint sink_point_;
    TClientPtr<IOPCEventSink> sink_;
    bool refresh_pending_ = false;
    FILETIME last_delivery_{};
};

}  // namespace porvex::opc::events
