// What the out-of-process tests share: the tree's programs (opcsample, opcclient, the
// proxy/stub DLL) found beside the test program, registration in the test prefix, running
// a program to its end, and small client helpers against the sample server.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "opc/idl/opc_interfaces.h"
#include "win/com_ptr.h"
#include "win/variant.h"

namespace porvex::opc::remote {

inline constexpr wchar_t kSampleProgId[] = L"opcsample.SampleServer.1";
// {2BA2546D-BF15-42CC-B885-DD3C29527601}
inline constexpr CLSID kSampleClsid = {
    0x2BA2546D, 0xBF15, 0x42CC, {0xB8, 0x85, 0xDD, 0x3C, 0x29, 0x52, 0x76, 0x01}};

// A program of the build tree (in the test program's own folder).
std::string TreeProgram(const char* name);

struct TRunResult {
    int exit_code = -1;
    std::vector<std::string> lines;  // standard output
    bool Has(const std::string& text) const;
};
// Runs a program to its end (EXPECT failure and exit code -1 after the time-out).
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      DWORD timeoutMs = 30000);
// opcclient with arguments.
TRunResult Client(const std::vector<std::string>& args, DWORD timeoutMs = 30000);

// Registers the proxy/stub DLL (through its own DllRegisterServer) and the sample server.
void RegisterProxyDll();
void RegisterSample();

// Ends every running sample server process (a server whose client was killed stays,
// since Wine never releases that client's objects).
void EndSampleServers();
// The process IDs of running sample servers.
std::vector<DWORD> SampleServerProcesses();

// A new client of the sample server (starting it when it is not running).
win::ComPtr<IOPCServer> ConnectSample();

// Synchronous helpers through a temporary group of server.
win::Variant ReadItem(IOPCServer* server, const std::wstring& itemId);
HRESULT WriteItem(IOPCServer* server, const std::wstring& itemId, const win::Variant& value);

}  // namespace porvex::opc::remote
