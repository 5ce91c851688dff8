#include "connection_point.h"

#include <olectl.h>

#include <algorithm>

#include "enumerator.h"

namespace tarnet::ax {

namespace {

struct ConnectDataTraits {
    static void hold(CONNECTDATA& c) { c.pUnk->AddRef(); }
    static void release(CONNECTDATA& c) { c.pUnk->Release(); }
    static HRESULT copy_out(const CONNECTDATA& c, CONNECTDATA* out) {
        *out = c;
        out->pUnk->AddRef();
        return S_OK;
    }
};

using ConnectionsEnumerator = Enumerator<IEnumConnections, CONNECTDATA, ConnectDataTraits>;

}  // namespace

HRESULT ConnectionPoint::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) {
        return E_POINTER;
    }
    *iid = events_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = &container_;
    container_.AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie == nullptr) {
        return E_POINTER;
    }
    *cookie = 0;
    if (sink == nullptr) {
        return E_POINTER;
    }
    // A sink implements the event interface as a dispinterface; script engines often
    // only answer for IDispatch.
    win::ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(events_, dispatch.put_void())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.put_void()))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    try {
        sinks_.emplace_back(next_cookie_, std::move(dispatch));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    *cookie = next_cookie_++;
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
    auto it = std::find_if(sinks_.begin(), sinks_.end(),
                           [cookie](const auto& s) { return s.first == cookie; });
    if (it == sinks_.end()) {
        return CONNECT_E_NOCONNECTION;
    }
    sinks_.erase(it);
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** out) {
    try {
        std::vector<CONNECTDATA> items;
        for (const auto& [cookie, sink] : sinks_) {
            items.push_back(CONNECTDATA{sink.get(), cookie});
        }
        return ConnectionsEnumerator::create(std::move(items), out);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void ConnectionPoint::fire(DISPID id, std::span<const win::Variant> arguments) {
    if (sinks_.empty()) {
        return;
    }
    // DISPPARAMS carries the arguments last to first; the sinks borrow them ([in]), so
    // plain copies of the VARIANTs that still belong to arguments.
    std::vector<VARIANT> reversed;
    reversed.reserve(arguments.size());
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) {
        reversed.push_back(it->value());
    }
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    const auto sinks = sinks_;  // each held once more while it is called
    for (const auto& [cookie, sink] : sinks) {
        (void)cookie;
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                     nullptr);
    }
}

}  // namespace tarnet::ax
