// The IOPCShutdown connection point of a server object (DA or A&E) and the sink a client
// advised on it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "opc/com/client_ptr.h"
#include "opc/server/connection_point.h"

namespace porvex::opc {

class TShutdownPoint {
  public:
    // attached tells whether the owner still serves: a sink advised after it has left is
    // refused with E_FAIL.
    TShutdownPoint(IUnknown& owner, IConnectionPointContainer& container,
                   std::function<bool()> attached);

    TConnectionPoint& Point() noexcept { return point_; }
    // Drops the sink without asking it anything (the owner is leaving).
    void Disconnect() noexcept;
    // Sends ShutdownRequest to the advised sink: nothing without one, otherwise the call's
    // result. A sink whose client cannot be reached is dropped and not asked again.
    std::optional<HRESULT> Request(const std::wstring& reason);

  private:
    HRESULT Advised(IUnknown* sink, bool advise);

    std::function<bool()> attached_;
    TConnectionPoint point_;
    TClientPtr<IOPCShutdown> sink_;
};

}  // namespace porvex::opc
