// The boundary of every COM method: the body runs inside, every exception is turned into
// the method's HRESULT (opc/com/errors.h) and none crosses into COM. The body runs under
// the engine lock (opc/com/engine_lock.h). Exceptions other than
// the engine's own are logged, since the client only sees E_FAIL for them. With the call
// profile on (opc/com/call_profile.h) the time inside is counted per method.
#pragma once

#include <windows.h>

#include <exception>

#include "opc/com/call_profile.h"
#include "opc/com/engine_lock.h"

namespace porvex::opc {

HRESULT BoundaryResult(const std::exception_ptr& error, const char* method) noexcept;

template <class Body>
HRESULT OpcBoundary(const char* method, Body&& body) noexcept {
    const TEngineGuard engine;
    const TCallTiming timing(method);
    try {
        return body();
    } catch (...) {
        return BoundaryResult(std::current_exception(), method);
    }
}

}  // namespace porvex::opc
