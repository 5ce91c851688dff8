// IOPCShutdown across processes: a sink advised by an STA client and one advised by an MTA
// client both receive the server's request with its reason.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace porvex::opc::conformance {

// Advises both sinks, runs trigger (which makes the server ask its clients to disconnect)
// and checks that each sink received exactly the expected reason.
void ExpectShutdownReachesStaAndMta(const CLSID& clsid, const std::function<void()>& trigger,
                                    const std::wstring& reason);

}  // namespace porvex::opc::conformance
