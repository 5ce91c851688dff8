// The callback interfaces an OPC client serves to its servers (its sinks): a client program
// anchors them (win/rpc_interface_anchor.h) for the same reason a server anchors the
// interfaces it serves.
#pragma once

#include <windows.h>

#include <span>

#include "opc/idl/opc_ae_interfaces.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex::opc {

inline std::span<const IID> ClientCallbackInterfaces() {
    static const IID callbacks[] = {__uuidof(IUnknown), __uuidof(IOPCDataCallback),
                                    __uuidof(IOPCShutdown), __uuidof(IAdviseSink),
                                    __uuidof(IOPCEventSink)};
    return callbacks;
}

}  // namespace porvex::opc
