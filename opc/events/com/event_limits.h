// Limits of subscriptions: the max size a client may ask for is the buffer's capacity
// (TEventHub::kBufferCapacity); a larger one is revised to it (OPC_S_INVALIDMAXSIZE).
// 0 stays 0: no limit per OnEvent call. Buffer times are taken as asked; deliveries run
// on the engine's tick (TEventEngine::kTickMs), so a buffer time shorter than a tick
// waits for the next one.
#pragma once

#include <windows.h>

#include "opc/events/model/event_hub.h"
#include "opc/idl/opc_ae_interfaces.h"

namespace porvex::opc::events {

struct TRevised {
    DWORD value;
    HRESULT result;
};

inline TRevised ReviseMaxSize(DWORD requested) {
    constexpr DWORD kLimit = static_cast<DWORD>(TEventHub::kBufferCapacity);
    return requested > kLimit ? TRevised{kLimit, OPC_S_INVALIDMAXSIZE} : TRevised{requested, S_OK};
}

}  // namespace porvex::opc::events
