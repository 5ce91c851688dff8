// RegisterEventServer: makes this program's OPC Alarms & Events server class known to the
// process's COM server role, beside its DA class. Called at start-up on the main thread,
// after the TEventEngine was made and before TComServer::Start. The class is a local
// server class like the DA class (same registry entries, same single running process),
// with ProgID = executable name + "." + className, claiming the category
// "OPC Event Server Version 1.0" (CATID_OPCEventServerCATID); its class object makes one
// TEventServer per client.
#pragma once

#include <windows.h>

#include <string>

#include "opc/registration/server_factory.h"

namespace porvex::opc::events {

TOpcServerFactory& RegisterEventServer(const CLSID& clsid, const std::wstring& className,
                                       const std::wstring& description,
                                       const std::wstring& vendor = {});

}  // namespace porvex::opc::events
