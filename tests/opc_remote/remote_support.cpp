#include "remote_support.h"

#include <gtest/gtest.h>

#include <chrono>

#include "child_process.h"
#include "opc/com/text.h"
#include "process_list.h"
#include "win/registry.h"
#include "win/task_memory.h"

namespace porvex::opc::remote {
namespace {

using ctlsim::testing::ChildProcess;

std::string Folder() {
    std::wstring path = win::module_path(nullptr);
    path.erase(path.find_last_of(L"\\/") + 1);
    return Utf8FromWide(path);
}

// A temporary group with one item; its server handle.
struct TOneItem {
    TOneItem(IOPCServer* server, const std::wstring& itemId, bool active) : server_(server) {
        DWORD rate = 0;
        EXPECT_EQ(server->AddGroup(L"", active, 600000, 0, nullptr, nullptr, 0, &group_, &rate,
                                   IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items.put())),
                  S_OK);
        OPCITEMDEF definition{};
        definition.szAccessPath = const_cast<LPWSTR>(L"");
        definition.szItemID = const_cast<LPWSTR>(itemId.c_str());
        definition.bActive = active;
        win::UniqueCoTaskMem<OPCITEMRESULT> results;
        win::UniqueCoTaskMem<HRESULT> errors;
        if (items && SUCCEEDED(items->AddItems(1, &definition, results.put(), errors.put())) &&
            SUCCEEDED(errors[0])) {
            handle = results[0].hServer;
        }
    }
    ~TOneItem() {
        items.reset();
        server_->RemoveGroup(group_, TRUE);
    }
    IOPCServer* server_;
    OPCHANDLE group_ = 0;
    win::ComPtr<IOPCItemMgt> items;
    OPCHANDLE handle = 0;
};

}  // namespace

std::string TreeProgram(const char* name) { return Folder() + name; }

bool TRunResult::Has(const std::string& text) const {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      DWORD timeoutMs) {
    TRunResult result;
    ChildProcess child(program, args);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        std::optional<std::string> line = child.read_line(left);
        if (!line) {
            break;
        }
        result.lines.push_back(*line);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const std::optional<int> code = child.wait(std::max(left, std::chrono::milliseconds(100)));
    EXPECT_TRUE(code.has_value()) << program << " did not end in time";
    result.exit_code = code.value_or(-1);
    return result;
}

TRunResult Client(const std::vector<std::string>& args, DWORD timeoutMs) {
    return RunProgram(TreeProgram("opcclient.exe"), args, timeoutMs);
}

void RegisterProxyDll() {
    const std::wstring path = WideFromUtf8(TreeProgram("PorvexOpcPS.dll"));
    HMODULE dll = LoadLibraryW(path.c_str());
    ASSERT_NE(dll, nullptr) << "cannot load the proxy/stub DLL";
    auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg(), S_OK);
}

void RegisterSample() {
    const TRunResult result = RunProgram(TreeProgram("opcsample.exe"), {"-regserver"});
    ASSERT_EQ(result.exit_code, 0);
}

std::vector<DWORD> SampleServerProcesses() {
    return ctlsim::testing::ProcessesNamed(L"opcsample.exe");
}

void EndSampleServers() {
    // A killed server would stay registered with Wine's COM, and every later activation
    // would fail: a server is asked to exit, and killed only when it does not. The request
    // goes through activation, which starts a server of its own when the running one is
    // already ending; so every server listed after the request, that one included, is
    // waited for.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
    while (!SampleServerProcesses().empty() && Clock::now() < deadline) {
        {
            win::ComPtr<IOPCServer> server = ConnectSample();
            if (server) {
                WriteItem(server.get(), L"Control.Exit", win::Variant::boolean(true));
            }
        }
        for (DWORD id : SampleServerProcesses()) {
            if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id)) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                WaitForSingleObject(process,
                                    left.count() > 0 ? static_cast<DWORD>(left.count()) : 0);
                CloseHandle(process);
            }
        }
    }
    for (DWORD id : SampleServerProcesses()) {
        ADD_FAILURE() << "a sample server did not exit when asked; it is killed";
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
}

win::ComPtr<IOPCServer> ConnectSample() {
    win::ComPtr<IOPCServer> server;
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(kSampleProgId, &clsid), S_OK);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(server.put())),
              S_OK);
    return server;
}

win::Variant ReadItem(IOPCServer* server, const std::wstring& itemId) {
    TOneItem one(server, itemId, true);
    win::ComPtr<IOPCSyncIO> io;
    win::Variant value;
    if (!one.items || one.handle == 0 || FAILED(one.items.query(io))) {
        ADD_FAILURE() << "cannot read " << Utf8FromWide(itemId);
        return value;
    }
    win::UniqueCoTaskMem<OPCITEMSTATE> states;
    win::UniqueCoTaskMem<HRESULT> errors;
    if (SUCCEEDED(io->Read(OPC_DS_DEVICE, 1, &one.handle, states.put(), errors.put())) &&
        SUCCEEDED(errors[0])) {
        value.value() = states[0].vDataValue;  // adopted
    }
    return value;
}

HRESULT WriteItem(IOPCServer* server, const std::wstring& itemId, const win::Variant& value) {
    TOneItem one(server, itemId, false);
    win::ComPtr<IOPCSyncIO> io;
    if (!one.items || one.handle == 0 || FAILED(one.items.query(io))) {
        return E_FAIL;
    }
    win::UniqueCoTaskMem<HRESULT> errors;
    const HRESULT hr = io->Write(1, &one.handle, const_cast<VARIANT*>(value.get()), errors.put());
    return FAILED(hr) ? hr : errors[0];
}

}  // namespace porvex::opc::remote
