// The item-server contract: the single instance, options, error texts, the default
// operations, client tracking and shutdown requests, the notification window, and the
// order in which the engine calls the item server per item ID.
#include <gtest/gtest.h>

#include "opc/com/errors.h"
#include "opc/server/notify_window.h"
#include "opc/server_object/server_impl.h"
#include "test_support.h"

namespace porvex::opc::test {
namespace {

// An item server that overrides only what it must.
class TBareItemServer final : public TOpcItemServer {
  public:
    void GetItemValue(TItemHandle, WORD&, win::Variant&) override {}
    void SetItemValue(TItemHandle, const VARIANT&) override {}
};

std::wstring ErrorText(IOPCServer* server, HRESULT code, LCID locale, HRESULT* result) {
    LPWSTR text = nullptr;
    *result = server->GetErrorString(code, locale, &text);
    std::wstring out = text ? text : L"";
    CoTaskMemFree(text);
    return out;
}

TEST(ItemServerInstance, ASecondInstanceFailsAndLeavesTheFirst) {
    TBareItemServer first;
    try {
        TBareItemServer second;
        FAIL() << "a second item server was allowed";
    } catch (const EOpcServer& e) {
        EXPECT_EQ(e.Message(), L"OPCSERV: Only one instance of namespace allowed");
    }
    EXPECT_EQ(TOpcItemServer::Instance(), &first);
}

TEST(ItemServerInstance, WithoutOneNoServerObjectCanBeMade) {
    ASSERT_EQ(TOpcItemServer::Instance(), nullptr);
    IUnknown* object = nullptr;
    EXPECT_EQ(CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(&object)), E_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_THROW(TOpcItemServer::Required(), EOpcServer);
}

TEST(ItemServerDefaults, OptionsMinimumRateAndClassName) {
    TBareItemServer server;
    EXPECT_EQ(server.PathDelimiter(), L'.');
    EXPECT_EQ(server.MinUpdateRate(), 500);
    EXPECT_FALSE(server.HasOption(soHierarchical));
    std::wstring name;
    server.GetProgIdClassName(3, name);
    EXPECT_EQ(name, L"TBareItemServer.3");
}

TEST(ItemServerDefaults, UnresolvedItemsAreInvalidItemIds) {
    TBareItemServer server;
    win::ComPtr<IOPCServer> client;
    ASSERT_EQ(CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(client.put())), S_OK);
    OPCHANDLE handle = 0;
    DWORD rate = 0;
    win::ComPtr<IOPCItemMgt> group;
    ASSERT_EQ(client->AddGroup(L"g", TRUE, 1000, 1, nullptr, nullptr, 0, &handle, &rate,
                               IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group.put())),
              S_OK);
    OPCITEMDEF def{};
    def.szItemID = const_cast<LPWSTR>(L"anything");
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->AddItems(1, &def, &results, &errors), S_FALSE);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(errors[0], OPC_E_INVALIDITEMID);
    EXPECT_EQ(results[0].hServer, 0u);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
}

TEST(ItemServerDefaults, BrowseFilterAppliesMaskRightsAndType) {
    TBareItemServer server;
    EXPECT_TRUE(server.MatchesBrowseFilter(L"", 0, VT_EMPTY, L"any", 0, VT_EMPTY));
    EXPECT_TRUE(server.MatchesBrowseFilter(L"d*", 0, VT_EMPTY, L"Door1", kAccessRead, VT_I2));
    EXPECT_FALSE(server.MatchesBrowseFilter(L"x*", 0, VT_EMPTY, L"Door1", kAccessRead, VT_I2));
    EXPECT_FALSE(server.MatchesBrowseFilter(L"", kAccessWrite, VT_EMPTY, L"a", kAccessRead, VT_I2));
    EXPECT_TRUE(
        server.MatchesBrowseFilter(L"", kAccessWrite, VT_EMPTY, L"a", kAccessReadWrite, VT_I2));
    EXPECT_FALSE(server.MatchesBrowseFilter(L"", 0, VT_BSTR, L"a", kAccessRead, VT_I2));
    try {
        server.MatchesBrowseFilter(L"[ab", 0, VT_EMPTY, L"a", 0, VT_EMPTY);
        FAIL() << "a malformed mask was accepted";
    } catch (const EOpcError& e) {
        EXPECT_EQ(e.Code(), OPC_E_INVALIDFILTER);
    }
}

class ItemServerTest : public EngineTest {};

TEST_F(ItemServerTest, HasOptionOnlyForBitsZeroToSeven) {
    server_->options = TServerOptions::FromBits(0xFF);
    for (int bit = 0; bit < 8; ++bit) {
        EXPECT_TRUE(server_->HasOption(bit)) << bit;
    }
    EXPECT_FALSE(server_->HasOption(8));
    EXPECT_FALSE(server_->HasOption(-1));
    server_->options = {soStrictHandles};
    EXPECT_TRUE(server_->HasOption(soStrictHandles));
    EXPECT_FALSE(server_->HasOption(soNoBrowse));
}

TEST_F(ItemServerTest, ErrorStringsComeFromTheOpcTableThenTheSystem) {
    HRESULT hr = E_FAIL;
    EXPECT_EQ(ErrorText(client_.get(), OPC_E_INVALIDITEMID, 0x409, &hr),
              L"The item definition doesn't conform to the server's syntax.");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(ErrorText(client_.get(), OPC_E_INVALIDITEMID, 0x804, &hr),
              L"The item definition doesn't conform to the server's syntax.");
    EXPECT_EQ(ErrorText(client_.get(), OPC_S_UNSUPPORTEDRATE, LOCALE_SYSTEM_DEFAULT, &hr),
              L"The server does not support the requested data rate but will use the closest "
              L"available rate.");
    EXPECT_FALSE(ErrorText(client_.get(), E_OUTOFMEMORY, LOCALE_SYSTEM_DEFAULT, &hr).empty());
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(
        ErrorText(client_.get(), static_cast<HRESULT>(0xC004FFFF), LOCALE_SYSTEM_DEFAULT, &hr),
        L"");
    EXPECT_EQ(hr, E_INVALIDARG);

    win::ComPtr<IOPCCommon> common;
    ASSERT_EQ(client_.query(common), S_OK);
    LPWSTR text = nullptr;
    EXPECT_EQ(common->GetErrorString(OPC_E_BADRIGHTS, &text), S_OK);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, L"The Items AccessRights do not allow the operation.");
    CoTaskMemFree(text);
    EXPECT_EQ(common->GetErrorString(OPC_E_BADRIGHTS, nullptr), E_INVALIDARG);
}

TEST_F(ItemServerTest, ClientsAreCountedAndAnnounced) {
    EXPECT_EQ(server_->ClientCount(), 1);
    win::ComPtr<IOPCServer> second = Connect();
    EXPECT_EQ(server_->ClientCount(), 2);
    EXPECT_EQ(server_->Clients(1).ServerState(), static_cast<DWORD>(OPC_STATUS_RUNNING));
    EXPECT_THROW(server_->Clients(2), EOpcServer);
    EXPECT_THROW(server_->Clients(-1), EOpcServer);
    second.reset();
    EXPECT_EQ(server_->ClientCount(), 1);
    EXPECT_EQ(
        server_->notifications,
        (std::vector<std::wstring>{L"ClientConnected", L"ClientConnected", L"ClientDisconnected"}));
}

TEST_F(ItemServerTest, ShutdownRequestsReachOnlyAdvisedClients) {
    win::ComPtr<IOPCServer> second = Connect();
    win::ComPtr<IOPCServer> third = Connect();
    EXPECT_EQ(server_->ShutdownClients(L"nobody listens"), 0);

    auto sink = TTestShutdown::Create();
    auto failing = TTestShutdown::Create();
    failing->answer = RPC_E_DISCONNECTED;
    Advise(second.get(), IID_IOPCShutdown, sink->identity());
    Advise(third.get(), IID_IOPCShutdown, failing->identity());

    EXPECT_EQ(server_->ShutdownClients(L"服务器关闭"), 2);
    EXPECT_EQ(sink->reasons, std::vector<std::wstring>{L"服务器关闭"});
    EXPECT_EQ(failing->reasons.size(), 1u);
    EXPECT_EQ(server_->shutdown_failures, std::vector<HRESULT>{RPC_E_DISCONNECTED});

    EXPECT_EQ(server_->ShutdownClients(L"only the second", 1), 1);
    EXPECT_EQ(sink->reasons.size(), 2u);
    EXPECT_EQ(server_->ShutdownClients(L"first has no sink", 0), 0);
    EXPECT_EQ(server_->ShutdownClients(L"no such client", 7), 0);
}

TEST_F(ItemServerTest, TheNotificationWindowIsMessageOnly) {
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, kNotifyWindowClass, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window, server_->Window().Handle());
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(ItemServerTest, ForeignEngineMessagesAreIgnored) {
    HWND window = server_->Window().Handle();
    const std::size_t before = server_->notifications.size();
    EXPECT_EQ(SendMessageW(window, kNotifyMessage, 1, 0x12345678), 0);
    EXPECT_EQ(SendMessageW(window, kNotifyMessage, 4, 0), 0);
    EXPECT_EQ(SendMessageW(window, kPostedWorkMessage, 0x12345678, 0), 0);
    PostMessageW(window, kPostedWorkMessage, 0xDEADBEEF, 0);
    PumpUntil([] { return false; }, 20);
    EXPECT_EQ(server_->notifications.size(), before);
    EXPECT_TRUE(server_->exceptions.empty());
}

TEST_F(ItemServerTest, NotificationFailuresGoToTheExceptionHandler) {
    server_->throw_in_notifications = true;
    TTestGroup group = AddGroup(L"g");
    EXPECT_EQ(group.result, S_OK);
    ASSERT_EQ(server_->exceptions.size(), 1u);
    EXPECT_EQ(server_->exceptions[0], L"notification handler failed");
}

class TRecordingWork final : public TPostedWork {
  public:
    TRecordingWork(int& runs, int& destroyed, bool fail)
        : runs_(runs), destroyed_(destroyed), fail_(fail) {}
    ~TRecordingWork() override { ++destroyed_; }
    void Run() override {
        ++runs_;
        if (fail_) {
            throw EOpcError(E_UNEXPECTED, L"work failed");
        }
    }

  private:
    int& runs_;
    int& destroyed_;
    bool fail_;
};

TEST_F(ItemServerTest, PostedWorkRunsLaterInOrderAndFailuresAreHandled) {
    int runs = 0;
    int destroyed = 0;
    server_->Window().Post(std::make_unique<TRecordingWork>(runs, destroyed, false));
    server_->Window().Post(std::make_unique<TRecordingWork>(runs, destroyed, true));
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(server_->Window().PendingWork(), 2u);
    ASSERT_TRUE(PumpUntil([&] { return destroyed == 2; }));
    EXPECT_EQ(runs, 2);
    ASSERT_EQ(server_->exceptions.size(), 1u);
    EXPECT_NE(server_->exceptions[0].find(L"work failed"), std::wstring::npos);
}

TEST(NotifyWindowLifetime, WorkNotTakenIsFreedWithTheWindow) {
    int runs = 0;
    int destroyed = 0;
    {
        TBareItemServer server;
        server.Window().Post(std::make_unique<TRecordingWork>(runs, destroyed, false));
    }
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(destroyed, 1);
}

TEST_F(ItemServerTest, EachItemIdIsResolvedOnceInTheDocumentedOrder) {
    server_->SetValue(L"A", win::Variant::i4(1));
    server_->Item(L"B").push = true;
    server_->SetValue(L"B", win::Variant::i4(2));
    TTestGroup first = AddGroup(L"g1");
    win::ComPtr<IOPCServer> other = Connect();
    TTestGroup second = AddGroup(L"g2", 10, true, nullptr, other.get());
    TAdded a = AddItems(first.items.get(), {{L"A"}, {L"B"}});
    TAdded b = AddItems(second.items.get(), {{L"a"}, {L"B"}});
    ASSERT_EQ(a.result, S_OK);
    ASSERT_EQ(b.result, S_OK);
    EXPECT_EQ(server_->Count(L"GetItemInfoEx A"), 1);
    EXPECT_EQ(server_->Count(L"GetItemInfoEx B"), 1);
    EXPECT_EQ(server_->ServerItems().Count(), 2u);

    const std::vector<std::wstring> expected_start{
        L"GetItemInfoEx A", L"GetItemValue A", L"SubscribeItem A", L"GetItemValue A",
        L"GetItemInfoEx B", L"GetItemValue B", L"SubscribeItem B", L"GetItemValue B"};
    ASSERT_GE(server_->calls.size(), expected_start.size());
    EXPECT_EQ(std::vector<std::wstring>(server_->calls.begin(),
                                        server_->calls.begin() + expected_start.size()),
              expected_start);

    HRESULT* errors = nullptr;
    EXPECT_EQ(first.items->RemoveItems(2, a.handles.data(), &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(server_->Count(L"ReleaseHandle A"), 0);  // still used by the other client
    server_->calls.clear();
    EXPECT_EQ(second.items->RemoveItems(2, b.handles.data(), &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(server_->calls, (std::vector<std::wstring>{L"ReleaseHandle A", L"UnsubscribeItem B",
                                                         L"ReleaseHandle B"}));
    EXPECT_EQ(server_->ServerItems().Count(), 0u);
}

TEST_F(ItemServerTest, APushAfterTheItemWentDoesNothing) {
    server_->Item(L"P").push = true;
    server_->SetValue(L"P", win::Variant::i4(1));
    TTestGroup group = AddGroup(L"g");
    TAdded added = AddItems(group.items.get(), {{L"P"}});
    ASSERT_EQ(added.result, S_OK);
    ASSERT_EQ(server_->handed_out.size(), 1u);
    TOnChange kept = server_->handed_out[0];
    EXPECT_TRUE(kept.Connected());
    HRESULT* errors = nullptr;
    ASSERT_EQ(group.items->RemoveItems(1, added.handles.data(), &errors), S_OK);
    CoTaskMemFree(errors);
    // An item server that keeps the callback and calls it late reaches nothing.
    EXPECT_FALSE(kept.Connected());
    const int changed = server_->changed_notifications;
    kept(win::Variant::i4(5).value(), kQualityGood);
    EXPECT_EQ(server_->changed_notifications, changed);
}

TEST_F(ItemServerTest, AValuePushedWhileTheDeviceIsReadIsNotOverwrittenByTheRead) {
    server_->Item(L"P").push = true;
    server_->SetValue(L"P", win::Variant::i4(1));
    TTestGroup group = AddGroup(L"g", 10, true);
    TAdded added = AddItems(group.items.get(), {{L"P", false}});
    ASSERT_EQ(added.result, S_OK);
    // Activation and a device read each take 1 from the device while 2 is pushed.
    server_->Item(L"P").while_read = [&] {
        server_->SetValue(L"P", win::Variant::i4(2));
        server_->Push(L"P", win::Variant::i4(2));
    };
    auto cached = [&] {
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_EQ(group.io->Read(OPC_DS_CACHE, 1, added.handles.data(), &states, &errors), S_OK);
        const LONG value = states[0].vDataValue.lVal;
        VariantClear(&states[0].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return value;
    };
    HRESULT* errors = nullptr;
    ASSERT_EQ(group.items->SetActiveState(1, added.handles.data(), TRUE, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(cached(), 2);
    server_->SetValue(L"P", win::Variant::i4(1));
    server_->Push(L"P", win::Variant::i4(1));
    server_->Item(L"P").while_read = [&] {
        server_->SetValue(L"P", win::Variant::i4(3));
        server_->Push(L"P", win::Variant::i4(3));
    };
    OPCITEMSTATE* states = nullptr;
    ASSERT_EQ(group.io->Read(OPC_DS_DEVICE, 1, added.handles.data(), &states, &errors), S_OK);
    EXPECT_EQ(states[0].vDataValue.lVal, 1);  // the device read answers what it read
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    EXPECT_EQ(cached(), 3);
}

}  // namespace
}  // namespace porvex::opc::test
