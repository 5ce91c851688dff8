// The entry of the Windows test programs that are COM clients or host the OPC engine: they
// run in a single-threaded apartment, as the door server's main thread and OPC clients
// usually do, so callbacks arrive as messages the tests pump.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include "opc/com/client_callbacks.h"
#include "win/com_apartment.h"
#include "win/rpc_interface_anchor.h"

int main(int argc, char** argv) {
    const porvex::win::ComApartment apartment;
    if (!apartment.initialised()) {
        return 2;
    }
    porvex::win::AnchorRpcInterfaces(porvex::opc::ClientCallbackInterfaces());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
