// The connection point of a control's event interface, and the firing of its events.
//
// The point lives inside its container (the control) and shares its lifetime: its
// AddRef and Release are the container's. Sinks are held as IDispatch; firing works on
// a copy of the list, so a sink may unadvise (or the host may release the control)
// while an event is being delivered.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <span>
#include <utility>
#include <vector>

#include "win/com_ptr.h"
#include "win/variant.h"

namespace tarnet::ax {

namespace win = porvex::win;

class ConnectionPoint final : public IConnectionPoint {
  public:
    ConnectionPoint(IConnectionPointContainer& container, const IID& events)
        : container_(container), events_(events) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return container_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return container_.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

    const IID& events() const { return events_; }
    std::size_t sink_count() const { return sinks_.size(); }
    // Calls every sink's Invoke with the arguments in declaration order.
    void fire(DISPID id, std::span<const win::Variant> arguments);
    void clear() { sinks_.clear(); }

  private:
    IConnectionPointContainer& container_;
    const IID& events_;
    std::vector<std::pair<DWORD, win::ComPtr<IDispatch>>> sinks_;
    DWORD next_cookie_ = 1;
};

}  // namespace tarnet::ax
