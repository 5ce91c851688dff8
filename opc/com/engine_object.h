// TEngineObject: the base of a COM object of the engine whose final release works on
// engine state (and so takes the engine lock). Its Release takes the lock too, so that the
// count reaching zero and the final release are one step. Otherwise, in the multithreaded
// apartment, a call holding the lock could take and drop a reference in between, run the
// final release itself and free the object, and the first final release would then run
// on freed memory.
#pragma once

#include <windows.h>

#include "opc/com/engine_lock.h"

namespace porvex::opc {

template <class ComBase>
class TEngineObject : public ComBase {
  public:
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const TEngineGuard engine;
        return ComBase::Release();
    }
};

}  // namespace porvex::opc
