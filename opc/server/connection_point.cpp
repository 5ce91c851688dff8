#include "opc/server/connection_point.h"

#include "opc/com/boundary.h"

namespace porvex::opc {

TConnectionPoint::TConnectionPoint(IUnknown& owner, IConnectionPointContainer& container,
                                   const IID& sinkIid, THook hook)
    : owner_(owner), container_(container), sink_iid_(sinkIid), hook_(std::move(hook)) {}

HRESULT TConnectionPoint::QueryInterface(REFIID riid, void** object) noexcept {
    if (!object) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT TConnectionPoint::GetConnectionInterface(IID* pIID) noexcept {
    if (!pIID) {
        return E_POINTER;
    }
    *pIID = sink_iid_;
    return S_OK;
}

HRESULT TConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept {
    if (!ppCPC) {
        return E_POINTER;
    }
    container_.AddRef();
    *ppCPC = &container_;
    return S_OK;
}

HRESULT TConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept {
    if (pdwCookie) {
        *pdwCookie = 0;
    }
    if (!pUnkSink || !pdwCookie) {
        return E_POINTER;
    }
    return OpcBoundary("IConnectionPoint::Advise", [&]() -> HRESULT {
        if (sink_) {
            return CONNECT_E_CANNOTCONNECT;
        }
        if (hook_ && FAILED(hook_(pUnkSink, true))) {
            return CONNECT_E_CANNOTCONNECT;
        }
        sink_ = win::ComPtr<IUnknown>(pUnkSink);
        *pdwCookie = 1;
        return S_OK;
    });
}

HRESULT TConnectionPoint::Unadvise(DWORD) noexcept {
    // The sink stays referenced until the hook has let go of its own reference, and its
    // last release (a call to the client's process) comes after the engine lock is free.
    TClientPtr<IUnknown> sink;
    return OpcBoundary("IConnectionPoint::Unadvise", [&]() -> HRESULT {
        if (!sink_) {
            return CONNECT_E_NOCONNECTION;
        }
        sink = std::move(sink_);
        if (hook_) {
            hook_(sink.get(), false);
        }
        return S_OK;
    });
}

HRESULT TConnectionPoint::EnumConnections(IEnumConnections** ppEnum) noexcept {
    if (ppEnum) {
        *ppEnum = nullptr;
    }
    return E_NOTIMPL;
}

win::ComPtr<IEnumConnectionPoints> TEnumerateCP::Create(IConnectionPoint& point, ULONG position) {
    return win::ComPtr<IEnumConnectionPoints>(new TEnumerateCP(point, position));
}

HRESULT TEnumerateCP::Next(ULONG cConnections, LPCONNECTIONPOINT* ppCP, ULONG* pcFetched) noexcept {
    if (pcFetched) {
        *pcFetched = 0;
    }
    if (cConnections > 0 && !ppCP) {
        return E_POINTER;
    }
    const ULONG left = 1 - position_;
    if (position_ == 0 && cConnections > 0) {
        point_->AddRef();
        ppCP[0] = point_.get();
        position_ = 1;
        if (pcFetched) {
            *pcFetched = 1;
        }
    }
    return left == cConnections ? S_OK : S_FALSE;
}

HRESULT TEnumerateCP::Skip(ULONG cConnections) noexcept {
    if (position_ == 0 && cConnections > 0) {
        position_ = 1;
        return cConnections == 1 ? S_OK : S_FALSE;
    }
    return cConnections == 0 ? S_OK : S_FALSE;
}

HRESULT TEnumerateCP::Reset() noexcept {
    position_ = 0;
    return S_OK;
}

HRESULT TEnumerateCP::Clone(IEnumConnectionPoints** ppEnum) noexcept {
    if (!ppEnum) {
        return E_POINTER;
    }
    *ppEnum = nullptr;
    return OpcBoundary("IEnumConnectionPoints::Clone", [&]() -> HRESULT {
        *ppEnum = Create(*point_.get(), position_).detach();
        return S_OK;
    });
}

HRESULT FindSinglePoint(TConnectionPoint& point, REFIID riid, IConnectionPoint** ppCP) noexcept {
    if (!ppCP) {
        return E_POINTER;
    }
    *ppCP = nullptr;
    if (!IsEqualIID(riid, point.SinkIid())) {
        return CONNECT_E_NOCONNECTION;
    }
    point.AddRef();
    *ppCP = &point;
    return S_OK;
}

HRESULT EnumSinglePoint(IConnectionPoint& point, IEnumConnectionPoints** ppEnum) noexcept {
    if (!ppEnum) {
        return E_POINTER;
    }
    *ppEnum = nullptr;
    return OpcBoundary("IConnectionPointContainer::EnumConnectionPoints", [&]() -> HRESULT {
        *ppEnum = TEnumerateCP::Create(point).detach();
        return S_OK;
    });
}

}  // namespace porvex::opc
