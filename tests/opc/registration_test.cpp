// Registration and the local-server role in this process: the switches, the exact registry
// entries and category claims, the class object, ending after the last object of a start by
// COM, and the close warning. Uses a class ID of its own in the test prefix.
#include <gtest/gtest.h>

#include <comcat.h>
#include <shellapi.h>

#include <algorithm>
#include <set>

#include "opc/com/engine_lock.h"
#include "opc/com/text.h"
#include "opc/registration/com_server.h"
#include "opc/registration/register_server.h"
#include "opc/registration/start_mode.h"
#include "opc/server_object/server_impl.h"
#include "test_item_server.h"
#include "test_support.h"
#include "win/com_object.h"
#include "win/com_ptr.h"
#include "win/registry.h"

namespace porvex::opc::test {
namespace {

// {EB2A4D8F-9C17-4F6A-9478-7717B2799EC1}
constexpr CLSID kTestClsid = {
    0xEB2A4D8F, 0x9C17, 0x4F6A, {0x94, 0x78, 0x77, 0x17, 0xB2, 0x79, 0x9E, 0xC1}};
constexpr wchar_t kDescription[] = L"Registration test server";

std::set<std::wstring> Subkeys(const std::wstring& path) {
    std::set<std::wstring> names;
    win::RegistryKey key;
    if (key.open(HKEY_CLASSES_ROOT, path) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return names;
        }
        names.insert(name);
    }
}

// The names of a key's values ("" for the default value).
std::set<std::wstring> Values(const std::wstring& path) {
    std::set<std::wstring> names;
    win::RegistryKey key;
    if (key.open(HKEY_CLASSES_ROOT, path) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return names;
        }
        names.insert(name);
    }
}

std::vector<std::wstring> ClaimedCategories(const CLSID& clsid) {
    std::vector<std::wstring> out;
    win::ComPtr<ICatInformation> info;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatInformation, reinterpret_cast<void**>(info.put())))) {
        return out;
    }
    win::ComPtr<IEnumGUID> ids;
    if (FAILED(info->EnumImplCategoriesOfClass(clsid, ids.put()))) {
        return out;
    }
    GUID id{};
    ULONG fetched = 0;
    while (ids->Next(1, &id, &fetched) == S_OK && fetched == 1) {
        out.push_back(win::guid_text(id));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Pumps messages until WM_QUIT comes (true) or the time is up.
bool QuitWithin(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                return true;
            }
            DispatchMessageW(&msg);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT);
    }
}

TEST(StartModeTest, CommandLinesAreSplitAsTheSystemSplitsThem) {
    for (const wchar_t* line : {
             L"prog.exe -Embedding",
             L"\"C:\\my dir\\prog.exe\" -MinUpdateRate 10 -Embedding",
             L"C:\\dir\\prog.exe  \t a\\b \"c d\" e\"f g\"h",
             L"prog \\\\\"quoted\\\\\" \\\"literal\\\" \"in \"\" quotes\" x\\\\",
             L"\"unclosed program",
             L"prog \"unclosed argument",
             L"prog \"\" end",
         }) {
        int count = 0;
        LPWSTR* system = CommandLineToArgvW(line, &count);
        ASSERT_NE(system, nullptr);
        const std::vector<std::wstring> expected(system, system + count);
        LocalFree(system);
        EXPECT_EQ(CommandLineArguments(line), expected) << Utf8FromWide(line);
    }
}

TEST(StartModeTest, SwitchesAreMatchedWithEitherPrefixInAnyCase) {
    EXPECT_EQ(StartModeFromCommandLine(L"prog.exe -regserver"), TStartMode::RegServer);
    EXPECT_EQ(StartModeFromCommandLine(L"prog.exe /UNREGSERVER"), TStartMode::UnregServer);
    EXPECT_EQ(StartModeFromCommandLine(L"\"C:\\my dir\\prog.exe\" -Embedding"),
              TStartMode::Embedding);
    EXPECT_EQ(StartModeFromCommandLine(L"prog.exe /Automation"), TStartMode::Automation);
    EXPECT_EQ(StartModeFromCommandLine(L"prog.exe"), TStartMode::Normal);
    EXPECT_EQ(StartModeFromCommandLine(L""), TStartMode::Normal);
    // Only whole arguments with a prefix count; the first switch decides.
    EXPECT_EQ(StartModeFromCommandLine(L"prog.exe regserver --regserver -regservers"),
              TStartMode::Normal);
    EXPECT_EQ(StartModeFromCommandLine(L"prog.exe -x -unregserver -regserver"),
              TStartMode::UnregServer);
    EXPECT_TRUE(StartedByCom(TStartMode::Embedding));
    EXPECT_FALSE(StartedByCom(TStartMode::Normal));
}

class RegistrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        com_ = std::make_unique<TComServer>();
        factory_ = &RegisterOpcServer(kTestClsid, 1, kDescription,
                                      std::make_unique<TTestItemServer>(), L"Tester");
        clsid_key_ = L"CLSID\\" + win::guid_text(kTestClsid);
    }
    void TearDown() override {
        try {
            factory_->ApplyRegistration(false);
        } catch (...) {
        }
        com_.reset();
        PumpUntil([] { return true; }, 0);
        EXPECT_EQ(win::ObjectCount::live(), 0) << "COM objects leaked";
    }

    std::unique_ptr<TComServer> com_;
    TOpcServerFactory* factory_ = nullptr;
    std::wstring clsid_key_;
};

TEST_F(RegistrationTest, TheProgIdIsTheProgramNameAndTheItemServersClassName) {
    EXPECT_EQ(factory_->ClassName(), L"TTestItemServer.1");
    EXPECT_EQ(factory_->ProgId(), ExecutableName() + L".TTestItemServer.1");
    EXPECT_EQ(TOpcItemServer::Required().VendorInfo(), L"Registration test server Tester");
    EXPECT_THROW(TComServer(), EOpcServer);
}

// Notes how deep the engine lock is held while its own (derived) part is destroyed.
class TEndingItemServer final : public TTestItemServer {
  public:
    explicit TEndingItemServer(int& depth) : depth_(depth) {}
    ~TEndingItemServer() override { depth_ = TEngineLock::Depth(); }

  private:
    int& depth_;
};

TEST(ComServerEnd, TheItemServerGoesWholeUnderTheEngineLock) {
    // Calls on other threads (the multithreaded apartment) must never find the item server
    // with its derived part gone and its base still registered.
    int depth_in_destructor = -1;
    {
        TComServer com;
        com.AdoptItemServer(std::make_unique<TEndingItemServer>(depth_in_destructor));
    }
    EXPECT_GT(depth_in_destructor, 0);
    EXPECT_EQ(TOpcItemServer::Instance(), nullptr);
}

TEST_F(RegistrationTest, RegisteringWritesExactlyTheEntries) {
    factory_->ApplyRegistration(true);
    const std::wstring clsid = win::guid_text(kTestClsid);
    const std::wstring prog_id = factory_->ProgId();
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, clsid_key_), kDescription);
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, clsid_key_ + L"\\LocalServer32"),
              win::module_path(nullptr));
    EXPECT_EQ(Values(clsid_key_ + L"\\LocalServer32"), (std::set<std::wstring>{L""}))
        << "no ThreadingModel for a program";
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, clsid_key_ + L"\\ProgID"), prog_id);
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, prog_id), kDescription);
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, prog_id + L"\\Clsid"), clsid);
    EXPECT_EQ(Values(prog_id + L"\\Opc"), std::set<std::wstring>{});
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, prog_id + L"\\Opc\\Vendor"), L"Tester");
    EXPECT_EQ(Subkeys(clsid_key_),
              (std::set<std::wstring>{L"Implemented Categories", L"LocalServer32", L"ProgID"}));
    EXPECT_EQ(Subkeys(prog_id), (std::set<std::wstring>{L"Clsid", L"Opc"}));
    EXPECT_EQ(ClaimedCategories(kTestClsid),
              (std::vector<std::wstring>{L"{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}",
                                         L"{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"}));
    EXPECT_EQ(
        win::read_key_text(HKEY_CLASSES_ROOT,
                           L"Component Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}", L"409"),
        L"OPC Data Access Servers Version 2.0");

    factory_->ApplyRegistration(false);
    EXPECT_FALSE(win::key_exists(HKEY_CLASSES_ROOT, clsid_key_));
    EXPECT_FALSE(win::key_exists(HKEY_CLASSES_ROOT, prog_id));
    EXPECT_TRUE(ClaimedCategories(kTestClsid).empty());
    // The categories themselves stay for other servers.
    EXPECT_TRUE(win::key_exists(HKEY_CLASSES_ROOT,
                                L"Component Categories\\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"));
}

TEST_F(RegistrationTest, AVendorTextAlreadyThereIsKept) {
    factory_->ApplyRegistration(true);
    const std::wstring vendor_key = factory_->ProgId() + L"\\Opc\\Vendor";
    ASSERT_EQ(win::write_key_default(HKEY_CLASSES_ROOT, vendor_key, L"Installed by hand"),
              ERROR_SUCCESS);
    factory_->ApplyRegistration(true);
    EXPECT_EQ(win::read_key_text(HKEY_CLASSES_ROOT, vendor_key), L"Installed by hand");
}

TEST_F(RegistrationTest, UnregisteringLeavesKeysOfOthersAlone) {
    factory_->ApplyRegistration(true);
    ASSERT_EQ(win::write_key_default(HKEY_CLASSES_ROOT, clsid_key_ + L"\\Foreign", L"x"),
              ERROR_SUCCESS);
    factory_->ApplyRegistration(false);
    EXPECT_EQ(Subkeys(clsid_key_), (std::set<std::wstring>{L"Foreign"}));
    EXPECT_FALSE(win::key_exists(HKEY_CLASSES_ROOT, factory_->ProgId()));
    win::delete_key(HKEY_CLASSES_ROOT, clsid_key_ + L"\\Foreign");
    win::delete_key(HKEY_CLASSES_ROOT, clsid_key_);
}

TEST_F(RegistrationTest, RegServerAndUnregServerEndTheStart) {
    EXPECT_EQ(com_->Start(L"prog.exe -regserver"), std::optional<int>(0));
    EXPECT_FALSE(com_->Serving());
    EXPECT_TRUE(win::key_exists(HKEY_CLASSES_ROOT, clsid_key_ + L"\\LocalServer32"));
    EXPECT_EQ(com_->Start(L"prog.exe /UnRegServer"), std::optional<int>(0));
    EXPECT_FALSE(win::key_exists(HKEY_CLASSES_ROOT, clsid_key_));
}

TEST_F(RegistrationTest, ANormalStartServesClientsThroughTheClassObject) {
    ASSERT_EQ(com_->Start(L"prog.exe"), std::nullopt);
    EXPECT_TRUE(com_->Serving());
    EXPECT_TRUE(win::key_exists(HKEY_CLASSES_ROOT, clsid_key_));
    win::ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(kTestClsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(factory.put())),
              S_OK);
    win::ComPtr<IOPCServer> server;
    ASSERT_EQ(
        factory->CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void**>(server.put())),
        S_OK);
    win::ComPtr<IUnknown> outer;
    EXPECT_EQ(
        factory->CreateInstance(server.get(), IID_IUnknown, reinterpret_cast<void**>(outer.put())),
        CLASS_E_NOAGGREGATION);
    EXPECT_EQ(TOpcItemServer::Required().ClientCount(), 1);
    EXPECT_GE(com_->ObjectCount(), 1);
    server.reset();
    // A normal start does not end with its last client.
    EXPECT_FALSE(QuitWithin(100));
}

TEST_F(RegistrationTest, AStartByComEndsWhenTheLastObjectGoes) {
    ASSERT_EQ(com_->Start(L"prog.exe -Embedding"), std::nullopt);
    EXPECT_TRUE(com_->StartedByCom());
    win::ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(kTestClsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(factory.put())),
              S_OK);
    win::ComPtr<IOPCServer> first;
    win::ComPtr<IOPCServer> second;
    ASSERT_EQ(
        factory->CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void**>(first.put())),
        S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    ASSERT_EQ(
        factory->CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void**>(second.put())),
        S_OK);
    first.reset();
    second.reset();
    EXPECT_FALSE(QuitWithin(100)) << "a server lock keeps the program";
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);  // one unlock too many changes nothing
    EXPECT_TRUE(QuitWithin(2000));
    EXPECT_FALSE(com_->Serving()) << "no new client may attach to an ending program";
}

TEST_F(RegistrationTest, ClosingWithLiveObjectsAsksTheUser) {
    std::vector<std::wstring> asked;
    int answer = IDNO;
    com_->SetAskUser([&](HWND, const std::wstring& text, const std::wstring& title, UINT flags) {
        asked.push_back(title);
        EXPECT_EQ(text,
                  L"There are still active COM objects in this application.  One or more clients "
                  L"may have references to these objects, so manually closing this application "
                  L"may cause those client application(s) to fail.\r\n\r\nAre you sure you want "
                  L"to close this application?");
        EXPECT_EQ(flags, static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
        return answer;
    });
    EXPECT_TRUE(com_->ConfirmClose(nullptr));
    EXPECT_TRUE(asked.empty());
    win::ComPtr<IOPCServer> client;
    ASSERT_EQ(CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(client.put())), S_OK);
    EXPECT_FALSE(com_->ConfirmClose(nullptr));
    answer = IDYES;
    EXPECT_TRUE(com_->ConfirmClose(nullptr));
    EXPECT_EQ(asked, (std::vector<std::wstring>{L"COM Server Warning", L"COM Server Warning"}));
}

}  // namespace
}  // namespace porvex::opc::test
