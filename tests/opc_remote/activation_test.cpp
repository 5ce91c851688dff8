// Registration and activation of the sample server as separate processes: the switches
// write and remove exactly the entries, COM starts the server with -Embedding and it ends
// after its last object, -MinUpdateRate in its command lets groups run faster; the
// proxy/stub DLL leaves interfaces registered by others alone.
#include <gtest/gtest.h>

#include <comcat.h>

#include "../opc/test_support.h"
#include "opc/com/text.h"
#include "remote_support.h"
#include "win/registry.h"

namespace porvex::opc::remote {
namespace {

const std::wstring kClsidKey = L"CLSID\\{2BA2546D-BF15-42CC-B885-DD3C29527601}";

bool ClaimsCategory(const wchar_t* catid) {
    return win::key_exists(HKEY_CLASSES_ROOT, kClsidKey + L"\\Implemented Categories\\" + catid);
}

class ActivationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EndSampleServers();
        RegisterProxyDll();
    }
    void TearDown() override { RegisterSample(); }

    // The sample server registered to start with extra switches (TearDown registers it
    // again without them).
    void RegisterSampleWith(const std::wstring& switches) {
        RegisterSample();
        const std::optional<std::wstring> command =
            win::read_key_text(HKEY_CLASSES_ROOT, kClsidKey + L"\\LocalServer32", L"");
        ASSERT_TRUE(command);
        ASSERT_EQ(win::write_key_default(HKEY_CLASSES_ROOT, kClsidKey + L"\\LocalServer32",
                                         *command + switches),
                  ERROR_SUCCESS);
    }
};

TEST_F(ActivationTest, TheSwitchesWriteAndRemoveExactlyTheEntries) {
    ASSERT_EQ(RunProgram(TreeProgram("opcsample.exe"), {"-regserver"}).exit_code, 0);
    EXPECT_TRUE(SampleServerProcesses().empty()) << "-regserver ends at once";
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, kClsidKey), L"Porvex OPC Sample Server");
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, kClsidKey + L"\\LocalServer32"),
              WideFromUtf8(TreeProgram("opcsample.exe")));
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, kClsidKey + L"\\ProgID"), kSampleProgId);
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, kSampleProgId), L"Porvex OPC Sample Server");
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, std::wstring(kSampleProgId) + L"\\Clsid"),
              L"{2BA2546D-BF15-42CC-B885-DD3C29527601}");
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, std::wstring(kSampleProgId) + L"\\Opc\\Vendor"),
              L"Porvex");
    EXPECT_TRUE(ClaimsCategory(L"{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"));
    EXPECT_TRUE(ClaimsCategory(L"{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"));

    // An existing vendor text stays.
    ASSERT_EQ(
        win::write_key_default(HKEY_CLASSES_ROOT, std::wstring(kSampleProgId) + L"\\Opc\\Vendor",
                               L"Set by the installer"),
        ERROR_SUCCESS);
    ASSERT_EQ(RunProgram(TreeProgram("opcsample.exe"), {"-RegServer"}).exit_code, 0);
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, std::wstring(kSampleProgId) + L"\\Opc\\Vendor"),
              L"Set by the installer");

    ASSERT_EQ(RunProgram(TreeProgram("opcsample.exe"), {"/UNREGSERVER"}).exit_code, 0);
    EXPECT_FALSE(win::key_exists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_FALSE(win::key_exists(HKEY_CLASSES_ROOT, kSampleProgId));
    EXPECT_TRUE(win::key_exists(HKEY_CLASSES_ROOT,
                                L"Component Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"));
    // Without the entries no client finds the server.
    EXPECT_EQ(Client({"status", "opcsample.SampleServer.1"}).exit_code, 3);
    EXPECT_FALSE(Client({"servers"}).Has("opcsample.SampleServer.1"));
}

TEST_F(ActivationTest, ComStartsTheServerWithEmbeddingAndItEndsAfterTheLastRelease) {
    RegisterSample();
    ASSERT_TRUE(SampleServerProcesses().empty());
    win::ComPtr<IOPCServer> first = ConnectSample();
    ASSERT_TRUE(first);
    win::ComPtr<IOPCServer> second = ConnectSample();
    ASSERT_TRUE(second);
    const std::wstring command_line =
        ReadItem(first.get(), L"Diagnostics.CommandLine").value().bstrVal;
    EXPECT_NE(command_line.find(L"-Embedding"), std::wstring::npos) << Utf8FromWide(command_line);
    EXPECT_EQ(ReadItem(second.get(), L"Diagnostics.Clients").value().lVal, 2);
    const DWORD id =
        static_cast<DWORD>(ReadItem(first.get(), L"Diagnostics.ProcessId").value().lVal);
    EXPECT_EQ(SampleServerProcesses(), std::vector<DWORD>{id}) << "one server for every client";
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    ASSERT_NE(process, nullptr);
    first.reset();
    EXPECT_EQ(WaitForSingleObject(process, 300), static_cast<DWORD>(WAIT_TIMEOUT))
        << "a client is still served";
    second.reset();
    EXPECT_EQ(WaitForSingleObject(process, 10000), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the server did not end after its last object";
    CloseHandle(process);
}

TEST_F(ActivationTest, TheMinimumUpdateRateSwitchLetsGroupsRunAt10Ms) {
    ASSERT_NO_FATAL_FAILURE(RegisterSampleWith(L" -MinUpdateRate 10"));
    win::ComPtr<IOPCServer> server = ConnectSample();
    ASSERT_TRUE(server);
    // The rate granted, and whether AddGroup said it differs from the one asked for.
    auto granted = [&](DWORD requested, HRESULT expected) {
        OPCHANDLE handle = 0;
        DWORD revised = 0;
        win::ComPtr<IUnknown> group;
        EXPECT_EQ(server->AddGroup(L"", FALSE, requested, 1, nullptr, nullptr, 0, &handle, &revised,
                                   IID_IUnknown, group.put()),
                  expected);
        group.reset();
        server->RemoveGroup(handle, TRUE);
        return revised;
    };
    EXPECT_EQ(granted(10, S_OK), 10u);
    EXPECT_EQ(granted(1, OPC_S_UNSUPPORTEDRATE), 10u) << "the engine's floor";
    EXPECT_EQ(granted(35, S_OK), 35u);
}

TEST_F(ActivationTest, TheCallProfileSwitchTimesTheEngineMethodsForTheDiagnosticItem) {
    ASSERT_NO_FATAL_FAILURE(RegisterSampleWith(L" -CallProfile"));
    win::ComPtr<IOPCServer> server = ConnectSample();
    ASSERT_TRUE(server);
    // A write restarts the profile; item IDs are found in any case.
    auto restart = [&] {
        ASSERT_EQ(WriteItem(server.get(), L"Diagnostics.CallProfile", win::Variant::string(L"")),
                  S_OK);
    };
    auto profile = [&] {
        return std::wstring(ReadItem(server.get(), L"diagnostics.callprofile").value().bstrVal);
    };
    restart();
    for (int i = 0; i < 3; ++i) {
        OPCSERVERSTATUS* status = nullptr;
        ASSERT_EQ(server->GetStatus(&status), S_OK);
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    }
    const std::wstring timed = profile();
    EXPECT_NE(timed.find(L"IOPCServer::GetStatus calls=3 median_us="), std::wstring::npos)
        << Utf8FromWide(timed);
    EXPECT_NE(profile().find(L"IOPCServer::GetStatus calls=3 "), std::wstring::npos)
        << "a read leaves the profile alone";
    restart();
    EXPECT_EQ(profile().find(L"IOPCServer::GetStatus"), std::wstring::npos);
}

TEST_F(ActivationTest, TheProxyDllLeavesInterfacesOfOthersAlone) {
    const std::wstring ours = L"Interface\\{39C13A4D-011E-11D0-9675-0020AFD8ADB3}";  // IOPCServer
    const std::wstring theirs =
        L"Interface\\{13486D50-4821-11D2-A494-3CB306C10000}";  // IOPCServerList
    const std::wstring foreign = L"{00000000-0000-0000-0000-0000000000AB}";
    HMODULE dll = LoadLibraryW(WideFromUtf8(TreeProgram("PorvexOpcPS.dll")).c_str());
    ASSERT_NE(dll, nullptr);
    using TEntry = HRESULT(STDAPICALLTYPE*)();
    auto reg =
        reinterpret_cast<TEntry>(reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
    auto unreg = reinterpret_cast<TEntry>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllUnregisterServer")));
    ASSERT_TRUE(reg && unreg);
    ASSERT_EQ(unreg(), S_OK);
    EXPECT_FALSE(win::key_exists(HKEY_CLASSES_ROOT, ours));
    ASSERT_EQ(win::write_key_default(HKEY_CLASSES_ROOT, theirs, L"installed by another vendor"),
              ERROR_SUCCESS);
    ASSERT_EQ(win::write_key_default(HKEY_CLASSES_ROOT, theirs + L"\\ProxyStubClsid32", foreign),
              ERROR_SUCCESS);
    ASSERT_EQ(reg(), S_OK);
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, ours), L"IOPCServer");
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, ours + L"\\NumMethods"), L"9");
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, ours + L"\\ProxyStubClsid32"),
              L"{565AB45A-823E-4C7C-9E34-09FE6EE5F87D}");
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, theirs + L"\\ProxyStubClsid32"), foreign);
    ASSERT_EQ(unreg(), S_OK);
    EXPECT_FALSE(win::key_exists(HKEY_CLASSES_ROOT, ours));
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, theirs), L"installed by another vendor");
    win::delete_key(HKEY_CLASSES_ROOT, theirs + L"\\ProxyStubClsid32");
    win::delete_key(HKEY_CLASSES_ROOT, theirs);
    ASSERT_EQ(reg(), S_OK);
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, theirs + L"\\ProxyStubClsid32"),
              L"{565AB45A-823E-4C7C-9E34-09FE6EE5F87D}");
}

}  // namespace
}  // namespace porvex::opc::remote
