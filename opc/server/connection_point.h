// Connection points of the engine's objects: one sink per point (the server object's
// IOPCShutdown point, a group's IOPCDataCallback point), and the enumerator over a
// container's single point.
#pragma once

#include <functional>

#include "opc/com/client_ptr.h"
#include "opc/idl/opc_interfaces.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::opc {

// One connection point with at most one sink. It lives inside its owner and forwards
// AddRef and Release to it. The owner's hook runs on advise (true) and unadvise (false);
// a failing hook on advise refuses the sink with CONNECT_E_CANNOTCONNECT.
class TConnectionPoint final : public IConnectionPoint {
  public:
    using THook = std::function<HRESULT(IUnknown* sink, bool advise)>;

    TConnectionPoint(IUnknown& owner, IConnectionPointContainer& container, const IID& sinkIid,
                     THook hook);
    TConnectionPoint(const TConnectionPoint&) = delete;
    TConnectionPoint& operator=(const TConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return owner_.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) noexcept override;
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) noexcept override;

    const IID& SinkIid() const noexcept { return sink_iid_; }
    bool Connected() const noexcept { return static_cast<bool>(sink_); }
    // Drops the sink without calling the hook (the owner is leaving).
    void Disconnect() noexcept { sink_.reset(); }

  private:
    IUnknown& owner_;
    IConnectionPointContainer& container_;
    IID sink_iid_;
    THook hook_;
    TClientPtr<IUnknown> sink_;
};

// IEnumConnectionPoints over a container's single connection point.
class TEnumerateCP final : public win::ComObject<IEnumConnectionPoints> {
  public:
    static win::ComPtr<IEnumConnectionPoints> Create(IConnectionPoint& point, ULONG position = 0);

    HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, LPCONNECTIONPOINT* ppCP,
                                   ULONG* pcFetched) noexcept override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) noexcept override;
    HRESULT STDMETHODCALLTYPE Reset() noexcept override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** ppEnum) noexcept override;

  private:
    TEnumerateCP(IConnectionPoint& point, ULONG position) : point_(&point), position_(position) {}

    win::ComPtr<IConnectionPoint> point_;
    ULONG position_;
};

// FindConnectionPoint of a container with the single point: the point for its sink's
// interface ID, otherwise CONNECT_E_NOCONNECTION with the out pointer cleared.
HRESULT FindSinglePoint(TConnectionPoint& point, REFIID riid, IConnectionPoint** ppCP) noexcept;
// EnumConnectionPoints of a container with the single point: E_POINTER without an out
// pointer, otherwise a TEnumerateCP over the point.
HRESULT EnumSinglePoint(IConnectionPoint& point, IEnumConnectionPoints** ppEnum) noexcept;

}  // namespace porvex::opc
