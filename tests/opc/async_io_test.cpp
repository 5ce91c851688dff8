// IOPCAsyncIO2 and the transaction queue: completions through IOPCDataCallback, always after
// the call that asked for them; cancel; groups removed with work pending; the advise-time
// refresh; sinks of clients that are gone.
#include <gtest/gtest.h>

#include "async_support.h"
#include "opc/group/group_impl.h"
#include "opc/server/item_server.h"

namespace porvex::opc::test {
namespace {

class AsyncIO2Test : public AsyncTest {};

TEST_F(AsyncIO2Test, AReadCompletesAfterTheCallWithTheClientsTransactionId) {
    MakeGroup({{L"Int", true, 11}, {L"Text", true, 12}});
    server_->SetValue(L"Int", win::Variant::i4(8));
    std::vector<OPCHANDLE> handles = added_.handles;
    handles.push_back(0xBAD);
    DWORD cancel_id = 0;
    HRESULT* errors = nullptr;
    // The bad handle is reported at once and left out; the others are read.
    ASSERT_EQ(async2_->Read(3, handles.data(), 4711, &cancel_id, &errors), S_FALSE);
    EXPECT_NE(cancel_id, 0u);
    EXPECT_EQ(Errors(errors, 3), (std::vector<HRESULT>{S_OK, S_OK, OPC_E_INVALIDHANDLE}));
    EXPECT_TRUE(callback_->reads.empty()) << "a read must not run inside the call";
    Drain();
    ASSERT_EQ(callback_->reads.size(), 1u);
    const TDataChange& read = callback_->reads[0];
    EXPECT_EQ(read.transaction_id, 4711u);
    EXPECT_EQ(read.client_group, 77u);
    EXPECT_EQ(read.handles, (std::vector<OPCHANDLE>{11, 12}));
    EXPECT_EQ(read.values[0].value().lVal, 8);  // from the device
    EXPECT_EQ(read.errors, (std::vector<HRESULT>{S_OK, S_OK}));
    EXPECT_EQ(read.master_error, S_OK);

    // Nothing valid: no transaction, every item's error.
    const OPCHANDLE bad[2] = {0xBAD, 0};
    cancel_id = 7;
    ASSERT_EQ(async2_->Read(2, const_cast<OPCHANDLE*>(bad), 4712, &cancel_id, &errors), S_FALSE);
    EXPECT_EQ(cancel_id, 0u);
    EXPECT_EQ(Errors(errors, 2), (std::vector<HRESULT>{OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE}));
    win::Variant values[2] = {win::Variant::i4(1), win::Variant::i4(2)};
    ASSERT_EQ(
        async2_->Write(2, const_cast<OPCHANDLE*>(bad), values[0].get(), 4713, &cancel_id, &errors),
        S_FALSE);
    EXPECT_EQ(Errors(errors, 2), (std::vector<HRESULT>{OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE}));
    Drain();
    EXPECT_EQ(callback_->reads.size(), 1u);
    EXPECT_TRUE(callback_->writes.empty());
    EXPECT_TRUE(server_->writes.empty());
}

TEST_F(AsyncIO2Test, RequestsAreCheckedBeforeAnythingIsQueued) {
    MakeGroup({{L"Int"}}, true, false);
    OPCHANDLE handle = added_.handles[0];
    DWORD id = 1;
    HRESULT* errors = nullptr;
    EXPECT_EQ(async2_->Read(1, &handle, 1, &id, &errors), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(async2_->Refresh2(OPC_DS_CACHE, 1, &id), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(async2_->SetEnable(FALSE), CONNECT_E_NOCONNECTION);
    BOOL enabled = FALSE;
    EXPECT_EQ(async2_->GetEnable(&enabled), CONNECT_E_NOCONNECTION);
    Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
    EXPECT_EQ(async2_->Read(0, &handle, 1, &id, &errors), E_INVALIDARG);
    EXPECT_EQ(async2_->Read(1, nullptr, 1, &id, &errors), E_INVALIDARG);
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(async2_->Write(1, &handle, nullptr, 1, &id, &errors), E_INVALIDARG);
    EXPECT_EQ(async2_->Refresh2(static_cast<OPCDATASOURCE>(3), 1, &id), E_INVALIDARG);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(async2_->SetEnable(FALSE), S_OK);
    ASSERT_EQ(async2_->GetEnable(&enabled), S_OK);
    EXPECT_FALSE(enabled);
    // Only the advise-time refresh was queued.
    EXPECT_EQ(server_->Window().PendingWork(), 1u);
}

TEST_F(AsyncIO2Test, AcceptedRequestsHandOutTheirErrorArray) {
    server_->options = TServerOptions();  // no option makes the engine hand it out
    MakeGroup({{L"Int"}, {L"Text"}});
    DWORD id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async2_->Read(2, added_.handles.data(), 1, &id, &errors), S_OK);
    EXPECT_EQ(Errors(errors, 2), (std::vector<HRESULT>{S_OK, S_OK}));
    win::Variant values[2] = {win::Variant::i4(1), win::Variant::string(L"x")};
    errors = nullptr;
    ASSERT_EQ(async2_->Write(2, added_.handles.data(), values[0].get(), 2, &id, &errors), S_OK);
    EXPECT_EQ(Errors(errors, 2), (std::vector<HRESULT>{S_OK, S_OK}));
}

TEST_F(AsyncIO2Test, WritesCompleteWithEachItemsResult) {
    MakeGroup({{L"Int", false, 1}, {L"ReadOnly", false, 2}, {L"Real", false, 3}});
    win::Variant values[3] = {win::Variant::string(L"42"), win::Variant::i2(1),
                              win::Variant::string(L"x")};
    DWORD id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async2_->Write(3, added_.handles.data(), values[0].get(), 99, &id, &errors), S_OK);
    // The values were copied: what the client does with its own afterwards changes nothing.
    values[0] = win::Variant::string(L"0");
    EXPECT_TRUE(server_->writes.empty());
    Drain();
    ASSERT_EQ(callback_->writes.size(), 1u);
    const TDataChange& write = callback_->writes[0];
    EXPECT_EQ(write.transaction_id, 99u);
    EXPECT_EQ(write.handles, (std::vector<OPCHANDLE>{1, 2, 3}));
    EXPECT_EQ(write.errors, (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS, OPC_E_BADTYPE}));
    EXPECT_EQ(write.master_error, S_FALSE);
    ASSERT_EQ(server_->writes[L"Int"].size(), 1u);
    EXPECT_EQ(server_->writes[L"Int"][0].value().vt, VT_I4);
    EXPECT_EQ(server_->writes[L"Int"][0].value().lVal, 42);
}

TEST_F(AsyncIO2Test, RefreshSendsTheActiveItemsWithTheTransactionId) {
    MakeGroup({{L"Int", true, 1}, {L"Text", false, 2}, {L"Real", true, 3}});
    DWORD id = 0;
    ASSERT_EQ(async2_->Refresh2(OPC_DS_DEVICE, 5, &id), S_OK);
    Drain();
    ASSERT_EQ(callback_->changes.size(), 1u);
    EXPECT_EQ(callback_->changes[0].transaction_id, 5u);
    EXPECT_EQ(callback_->changes[0].handles, (std::vector<OPCHANDLE>{1, 3}));
    // The enable flag gates only the tick.
    ASSERT_EQ(async2_->SetEnable(FALSE), S_OK);
    ASSERT_EQ(async2_->Refresh2(OPC_DS_CACHE, 6, &id), S_OK);
    Drain();
    ASSERT_EQ(callback_->changes.size(), 2u);
    EXPECT_EQ(callback_->changes[1].transaction_id, 6u);
}

TEST_F(AsyncIO2Test, RefreshWithoutAnActiveItemFailsAndSendsNothing) {
    MakeGroup({{L"Int", false}});
    DWORD id = 7;
    EXPECT_EQ(async2_->Refresh2(OPC_DS_CACHE, 1, &id), E_FAIL);
    EXPECT_EQ(id, 0u);
    BOOL inactive = FALSE;
    ASSERT_EQ(
        group_.state->SetState(nullptr, nullptr, &inactive, nullptr, nullptr, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(async2_->Refresh2(OPC_DS_CACHE, 1, &id), E_FAIL);
    Drain();
    EXPECT_TRUE(callback_->changes.empty());
}

TEST_F(AsyncIO2Test, CancelTakesBackPendingWorkOnly) {
    MakeGroup({{L"Int"}});
    DWORD first = 0;
    DWORD second = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async2_->Read(1, added_.handles.data(), 1, &first, &errors), S_OK);
    ASSERT_EQ(async2_->Read(1, added_.handles.data(), 2, &second, &errors), S_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(async2_->Cancel2(first), S_OK);
    EXPECT_EQ(async2_->Cancel2(first), E_FAIL);  // no longer pending
    Drain();
    ASSERT_EQ(callback_->reads.size(), 1u);
    EXPECT_EQ(callback_->reads[0].transaction_id, 2u);
    EXPECT_EQ(callback_->cancels, 0);             // a cancel is not confirmed
    EXPECT_EQ(async2_->Cancel2(second), E_FAIL);  // it ran
    EXPECT_EQ(async2_->Cancel2(12345), E_FAIL);
}

TEST_F(AsyncIO2Test, CancelOnlyReachesTheGroupsOwnWork) {
    MakeGroup({{L"Int"}});
    TTestGroup other = AddGroup(L"other", 600000);
    TAdded other_items = AddItems(other.items.get(), {{L"Int"}});
    win::ComPtr<IOPCAsyncIO2> other_async;
    ASSERT_EQ(other.items.query(other_async), S_OK);
    DWORD id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async2_->Read(1, added_.handles.data(), 1, &id, &errors), S_OK);
    EXPECT_EQ(other_async->Cancel2(id), E_FAIL);
    Drain();
    EXPECT_EQ(callback_->reads.size(), 1u);
}

TEST_F(AsyncIO2Test, RemovingAGroupRunsNoneOfItsPendingWork) {
    for (BOOL force : {TRUE, FALSE}) {
        SCOPED_TRACE(force ? "forced" : "still referenced");
        MakeGroup({{L"Int"}});
        DWORD id = 0;
        HRESULT* errors = nullptr;
        ASSERT_EQ(async2_->Read(1, added_.handles.data(), 1, &id, &errors), S_OK);
        win::Variant value = win::Variant::i4(5);
        ASSERT_EQ(async2_->Write(1, added_.handles.data(), value.get(), 2, &id, &errors), S_OK);
        ASSERT_EQ(async2_->Refresh2(OPC_DS_DEVICE, 3, &id), S_OK);
        const HRESULT removed = client_->RemoveGroup(group_.handle, force);
        EXPECT_EQ(removed, force ? S_OK : OPC_S_INUSE);
        EXPECT_EQ(async2_->Cancel2(id), E_FAIL);
        Drain();
        EXPECT_TRUE(callback_->reads.empty());
        EXPECT_TRUE(callback_->writes.empty());
        EXPECT_TRUE(callback_->changes.empty());
        EXPECT_TRUE(server_->writes.empty());
        group_ = TTestGroup();
        async1_.reset();
        async2_.reset();
        data_.reset();
    }
}

TEST_F(AsyncIO2Test, AdvisingTheCallbackSendsTheDeviceValuesAfterTheAdvise) {
    MakeGroup({{L"Int", true, 1}, {L"Text", false, 2}}, true, false);
    server_->SetValue(L"Int", win::Variant::i4(9));
    Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
    EXPECT_TRUE(callback_->changes.empty());
    Drain();
    ASSERT_EQ(callback_->changes.size(), 1u);
    EXPECT_EQ(callback_->changes[0].transaction_id, 0u);
    EXPECT_EQ(callback_->changes[0].handles, (std::vector<OPCHANDLE>{1}));
    EXPECT_EQ(callback_->changes[0].values[0].value().lVal, 9);
}

TEST_F(AsyncIO2Test, AdvisingReportsEachItemOnceUntilItChanges) {
    MakeGroup({{L"Int", true, 1}, {L"Text", true, 2}}, true, false);
    // A fast tick, set before anything is pumped: the activation reads of AddItems are
    // still marked as changes when the client advises.
    DWORD rate = 10;
    DWORD revised = 0;
    ASSERT_EQ(group_.state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
    Drain();
    EXPECT_TRUE(PumpTicks(server_->Group(L"g"), 3));
    std::vector<OPCHANDLE> reported;
    for (const TDataChange& change : callback_->changes) {
        reported.insert(reported.end(), change.handles.begin(), change.handles.end());
    }
    EXPECT_EQ(reported, (std::vector<OPCHANDLE>{1, 2})) << "an item was reported twice";
    // A real change still comes with the tick.
    server_->SetValue(L"Int", win::Variant::i4(31));
    callback_->changes.clear();
    EXPECT_TRUE(PumpUntil([&] { return !callback_->changes.empty(); }));
    ASSERT_FALSE(callback_->changes.empty());
    EXPECT_EQ(callback_->changes[0].handles, (std::vector<OPCHANDLE>{1}));
}

TEST_F(AsyncIO2Test, ATickBeforeTheAdviseReportDoesNotSendItsItemsFirst) {
    // In the multithreaded apartment a tick may take the engine lock between the advise
    // and the report the advise queued: the items must still come once.
    MakeGroup({{L"Int", true, 1}, {L"Text", true, 2}}, true, false);
    Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
    TGroupImpl* group = TGroupImpl::Find(*server_, group_.handle);
    ASSERT_NE(group, nullptr);
    group->Tick();
    EXPECT_TRUE(callback_->changes.empty()) << "the tick sent the items before the report";
    Drain();
    ASSERT_EQ(callback_->changes.size(), 1u);
    EXPECT_EQ(callback_->changes[0].handles, (std::vector<OPCHANDLE>{1, 2}));
}

TEST_F(AsyncIO2Test, AdvisingAnInactiveGroupSendsNothing) {
    MakeGroup({{L"Int"}}, false, false);
    Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
    Drain();
    EXPECT_TRUE(callback_->changes.empty());
}

TEST_F(AsyncIO2Test, ACallbackOfAClientThatIsGoneIsDropped) {
    MakeGroup({{L"Int"}});
    callback_->answer = RPC_E_DISCONNECTED;
    DWORD id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async2_->Read(1, added_.handles.data(), 1, &id, &errors), S_OK);
    Drain();
    ASSERT_EQ(server_->callback_failures.size(), 1u);
    EXPECT_EQ(server_->callback_failures[0], std::make_pair(RPC_E_DISCONNECTED, 1));
    // The sink is gone: the group asks for a new one, and no tick calls the old one.
    EXPECT_EQ(async2_->Read(1, added_.handles.data(), 1, &id, &errors), CONNECT_E_NOCONNECTION);
    server_->SetValue(L"Int", win::Variant::i4(100));
    DWORD rate = 10;
    DWORD revised = 0;
    ASSERT_EQ(group_.state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_TRUE(PumpTicks(server_->Group(L"g"), 3));
    EXPECT_EQ(callback_->changes.size(), 0u);
    EXPECT_EQ(server_->callback_failures.size(), 1u);
    // The group goes on working for a new sink.
    win::ComPtr<TTestDataCallback> fresh = TTestDataCallback::Create();
    Advise(group_.items.get(), IID_IOPCDataCallback, fresh->identity());
    EXPECT_TRUE(PumpUntil([&] { return !fresh->changes.empty(); }));
}

TEST_F(AsyncIO2Test, ACallbackThatMerelyFailsIsKept) {
    MakeGroup({{L"Int"}});
    callback_->answer = E_FAIL;
    DWORD id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async2_->Read(1, added_.handles.data(), 1, &id, &errors), S_OK);
    Drain();
    EXPECT_EQ(server_->callback_failures, (std::vector<std::pair<HRESULT, int>>{{E_FAIL, 1}}));
    EXPECT_EQ(async2_->Read(1, added_.handles.data(), 1, &id, &errors), S_OK);
    win::Variant value = win::Variant::i4(1);
    ASSERT_EQ(async2_->Write(1, added_.handles.data(), value.get(), 1, &id, &errors), S_OK);
    Drain();
    EXPECT_EQ(server_->callback_failures,
              (std::vector<std::pair<HRESULT, int>>{{E_FAIL, 1}, {E_FAIL, 1}, {E_FAIL, 2}}));
}

TEST_F(AsyncIO2Test, ATickToAClientThatIsGoneDropsItsSinkAndReportsKindZero) {
    MakeGroup({{L"Int"}});
    DWORD rate = 10;
    DWORD revised = 0;
    ASSERT_EQ(group_.state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    callback_->answer = static_cast<HRESULT>(0x800706BAL);  // the RPC server is unavailable
    server_->SetValue(L"Int", win::Variant::i4(1234));
    EXPECT_TRUE(PumpUntil([&] { return !server_->callback_failures.empty(); }));
    EXPECT_TRUE(PumpTicks(server_->Group(L"g"), 3));
    server_->SetValue(L"Int", win::Variant::i4(1235));
    EXPECT_TRUE(PumpTicks(server_->Group(L"g"), 3));
    EXPECT_EQ(server_->callback_failures,
              (std::vector<std::pair<HRESULT, int>>{{static_cast<HRESULT>(0x800706BAL), 0}}));
    EXPECT_EQ(callback_->changes.size(), 1u);
}

TEST_F(AsyncIO2Test, AShutdownSinkOfAClientThatIsGoneIsDropped) {
    win::ComPtr<TTestShutdown> sink = TTestShutdown::Create();
    Advise(client_.get(), IID_IOPCShutdown, sink->identity());
    sink->answer = RPC_E_DISCONNECTED;
    EXPECT_EQ(server_->ShutdownClients(L"going"), 1);
    EXPECT_EQ(server_->ShutdownClients(L"going again"), 0);
    EXPECT_EQ(sink->reasons.size(), 1u);
    EXPECT_EQ(server_->shutdown_failures, (std::vector<HRESULT>{RPC_E_DISCONNECTED}));
}

TEST_F(AsyncIO2Test, AForcedRemovalDuringACompletionLeavesNothingBehind) {
    MakeGroup({{L"Int"}});
    win::ComPtr<IOPCServer> client = client_;
    const OPCHANDLE handle = group_.handle;
    DWORD id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async2_->Refresh2(OPC_DS_CACHE, 1, &id), S_OK);
    ASSERT_EQ(async2_->Read(1, added_.handles.data(), 2, &id, &errors), S_OK);
    callback_->during_call = [client, handle] { client->RemoveGroup(handle, TRUE); };
    Drain();
    EXPECT_EQ(callback_->changes.size(), 1u);
    EXPECT_TRUE(callback_->reads.empty()) << "the read belonged to the removed group";
}

}  // namespace
}  // namespace porvex::opc::test
