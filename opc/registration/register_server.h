// RegisterOpcServer: makes this program's OPC DA server class known to the process's COM
// server role (opc/registration/com_server.h). Called once at start-up, on the main thread,
// after TComServer was made and before TComServer::Start:
//   1. registers the clipboard formats of the DA 1.0 streams (EOpcServer "Could not register
//      <name> clip format" when the system refuses one) and gives every group the
//      asynchronous interfaces;
//   2. the item server's vendor info := description + " " + vendor;
//   3. the class name := the item server's GetProgIdClassName(version);
//   4. creates the TOpcServerFactory (ProgID: executable name + "." + class name) and adds
//      it to the COM server, which also takes over the item server.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "opc/registration/server_factory.h"

namespace porvex::opc {

class TOpcItemServer;

TOpcServerFactory& RegisterOpcServer(const CLSID& clsid, int version,
                                     const std::wstring& description,
                                     std::unique_ptr<TOpcItemServer> itemServer,
                                     const std::wstring& vendor = {});

}  // namespace porvex::opc
