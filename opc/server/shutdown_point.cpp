#include "opc/server/shutdown_point.h"

#include "opc/com/engine_lock.h"
#include "opc/com/errors.h"

namespace porvex::opc {

TShutdownPoint::TShutdownPoint(IUnknown& owner, IConnectionPointContainer& container,
                               std::function<bool()> attached)
    : attached_(std::move(attached)),
      point_(owner, container, IID_IOPCShutdown,
             [this](IUnknown* sink, bool advise) { return Advised(sink, advise); }) {}

void TShutdownPoint::Disconnect() noexcept {
    point_.Disconnect();
    sink_.reset();
}

HRESULT TShutdownPoint::Advised(IUnknown* sink, bool advise) {
    if (!advise) {
        sink_.reset();
        return S_OK;
    }
    if (!attached_()) {
        return E_FAIL;
    }
    win::ComPtr<IOPCShutdown> shutdown;
    const HRESULT hr =
        sink->QueryInterface(IID_IOPCShutdown, reinterpret_cast<void**>(shutdown.put()));
    if (SUCCEEDED(hr)) {
        sink_ = std::move(shutdown);
    }
    return hr;
}

std::optional<HRESULT> TShutdownPoint::Request(const std::wstring& reason) {
    TClientPtr<IOPCShutdown> sink = sink_;  // the client may unadvise during the call
    if (!sink) {
        return std::nullopt;
    }
    HRESULT hr = S_OK;
    {
        const TEngineUnlock unlocked;  // the client may call the server meanwhile
        hr = sink->ShutdownRequest(reason.c_str());
    }
    if (IsClientGone(hr) && sink_.get() == sink.get()) {
        Disconnect();
    }
    return hr;
}

}  // namespace porvex::opc
