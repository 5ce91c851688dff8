// OPC DA 2.0 across processes: callbacks with transaction IDs, cancel, removal with work
// pending, shutdown requests, and a client that is killed.
#include <chrono>
#include <thread>

#include "child_process.h"
#include "opc/com/text.h"
#include "remote_fixture.h"
#include "win/task_memory.h"

namespace porvex::opc::remote {
namespace {

using test::Advise;
using test::PumpUntil;
using test::TTestDataCallback;
using test::TTestShutdown;

class RemoteAsyncTest : public RemoteTest {};

TEST_F(RemoteAsyncTest, CompletionsCarryTheClientsTransactionIds) {
    TRemoteGroup group = MakeGroup({L"Simulation.ReadOnly", L"Simulation.Text"}, 600000);
    win::ComPtr<TTestDataCallback> callback = TTestDataCallback::Create();
    Advise(group.items.get(), IID_IOPCDataCallback, callback->identity());
    // The advise brings the device values with transaction 0.
    ASSERT_TRUE(PumpUntil([&] { return !callback->changes.empty(); }));
    EXPECT_EQ(callback->changes[0].transaction_id, 0u);
    EXPECT_EQ(callback->changes[0].client_group, 77u);

    DWORD cancel_id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(group.async2->Read(2, group.handles.data(), 0x1234, &cancel_id, &errors), S_OK);
    // The sample server answers every request with an error array.
    EXPECT_EQ(TakeErrors(errors, 2), (std::vector<HRESULT>{S_OK, S_OK}));
    ASSERT_TRUE(PumpUntil([&] { return !callback->reads.empty(); }));
    const test::TDataChange& read = callback->reads[0];
    EXPECT_EQ(read.transaction_id, 0x1234u);
    EXPECT_EQ(read.handles, (std::vector<OPCHANDLE>{1, 2}));
    EXPECT_EQ(read.values[0].value().iVal, 42);
    EXPECT_EQ(std::wstring(read.values[1].value().bstrVal), L"hello");
    // A transaction that ran cannot be cancelled.
    EXPECT_EQ(group.async2->Cancel2(cancel_id), E_FAIL);

    win::Variant value = win::Variant::string(L"written remotely");
    ASSERT_EQ(group.async2->Write(1, &group.handles[1], value.get(), 0x5678, &cancel_id, &errors),
              S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(PumpUntil([&] { return !callback->writes.empty(); }));
    EXPECT_EQ(callback->writes[0].transaction_id, 0x5678u);
    EXPECT_EQ(callback->writes[0].errors, (std::vector<HRESULT>{S_OK}));
    EXPECT_EQ(std::wstring(ReadItem(Sample(), L"Simulation.Text").value().bstrVal),
              L"written remotely");
    WriteItem(Sample(), L"Simulation.Text", win::Variant::string(L"hello"));

    callback->changes.clear();
    ASSERT_EQ(group.async2->Refresh2(OPC_DS_CACHE, 0x9ABC, &cancel_id), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !callback->changes.empty(); }));
    EXPECT_EQ(callback->changes[0].transaction_id, 0x9ABCu);
    Remove(group);
}

TEST_F(RemoteAsyncTest, ACancelledTransactionSendsNothing) {
    TRemoteGroup group = MakeGroup({L"Simulation.ReadOnly"}, 600000);
    win::ComPtr<TTestDataCallback> callback = TTestDataCallback::Create();
    Advise(group.items.get(), IID_IOPCDataCallback, callback->identity());
    ASSERT_TRUE(PumpUntil([&] { return !callback->changes.empty(); }));
    // Whether a cancel reaches the server before the read ran is up to the two processes;
    // either way a cancelled read must send nothing and a read that ran cannot be cancelled.
    int cancelled = 0;
    int ran = 0;
    for (DWORD i = 1; i <= 20; ++i) {
        DWORD cancel_id = 0;
        HRESULT* errors = nullptr;
        ASSERT_EQ(group.async2->Read(1, group.handles.data(), i, &cancel_id, &errors), S_OK);
        CoTaskMemFree(errors);
        (group.async2->Cancel2(cancel_id) == S_OK ? cancelled : ran) += 1;
    }
    HRESULT* errors = nullptr;
    DWORD last = 0;
    ASSERT_EQ(group.async2->Read(1, group.handles.data(), 999, &last, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(PumpUntil(
        [&] { return !callback->reads.empty() && callback->reads.back().transaction_id == 999; }));
    EXPECT_EQ(static_cast<int>(callback->reads.size()), ran + 1);
    RecordProperty("cancelled_before_running", cancelled);
    Remove(group);
}

TEST_F(RemoteAsyncTest, RemovingAGroupRunsNoneOfItsPendingTransactions) {
    TRemoteGroup group = MakeGroup({L"Simulation.ReadOnly"}, 600000);
    win::ComPtr<TTestDataCallback> callback = TTestDataCallback::Create();
    Advise(group.items.get(), IID_IOPCDataCallback, callback->identity());
    ASSERT_TRUE(PumpUntil([&] { return !callback->changes.empty(); }));
    // Another thread asks for the reads and removes the group while this one, which holds
    // the callback, pumps nothing: the server's first completion waits for this thread, and
    // the later reads stay queued behind it until the removal.
    IStream* async_stream = nullptr;
    IStream* server_stream = nullptr;
    ASSERT_EQ(
        CoMarshalInterThreadInterfaceInStream(IID_IOPCAsyncIO2, group.async2.get(), &async_stream),
        S_OK);
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IOPCServer, Sample(), &server_stream),
              S_OK);
    const OPCHANDLE group_handle = group.handle;
    const OPCHANDLE item_handle = group.handles[0];
    int accepted = 0;
    HRESULT removed = E_UNEXPECTED;
    std::thread client([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            win::ComPtr<IOPCAsyncIO2> async;
            win::ComPtr<IOPCServer> server;
            CoGetInterfaceAndReleaseStream(async_stream, IID_IOPCAsyncIO2,
                                           reinterpret_cast<void**>(async.put()));
            CoGetInterfaceAndReleaseStream(server_stream, IID_IOPCServer,
                                           reinterpret_cast<void**>(server.put()));
            for (DWORD i = 1; async && i <= 20; ++i) {
                DWORD cancel_id = 0;
                HRESULT* errors = nullptr;
                OPCHANDLE handle = item_handle;
                if (async->Read(1, &handle, i, &cancel_id, &errors) == S_OK) {
                    ++accepted;
                }
                CoTaskMemFree(errors);
            }
            if (server) {
                removed = server->RemoveGroup(group_handle, TRUE);
            }
        }
        CoUninitialize();
    });
    client.join();
    EXPECT_EQ(accepted, 20);
    EXPECT_EQ(removed, S_OK);
    // What the server still does now comes in; a status round trip lets queued work run.
    for (int i = 0; i < 3; ++i) {
        PumpUntil([] { return false; }, 100);
        win::UniqueCoTaskMem<OPCSERVERSTATUS> status;
        ASSERT_EQ(Sample()->GetStatus(status.put()), S_OK);
        CoTaskMemFree(status.get()->szVendorInfo);
    }
    PumpUntil([] { return false; }, 100);
    RecordProperty("completed", static_cast<int>(callback->reads.size()));
    EXPECT_GE(callback->reads.size(), 1u);
    EXPECT_LT(callback->reads.size(), 20u) << "reads of the removed group still ran";
    group.handle = 0;
    Remove(group);
}

TEST_F(RemoteAsyncTest, ShutdownRequestsReachAdvisedClients) {
    win::ComPtr<IOPCServer> other = ConnectSample();
    ASSERT_TRUE(other);
    win::ComPtr<TTestShutdown> sink = TTestShutdown::Create();
    Advise(other.get(), IID_IOPCShutdown, sink->identity());
    ASSERT_EQ(WriteItem(Sample(), L"Control.Shutdown", win::Variant::string(L"maintenance 7")),
              S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !sink->reasons.empty(); }));
    EXPECT_EQ(sink->reasons, (std::vector<std::wstring>{L"maintenance 7"}));
}

TEST_F(RemoteAsyncTest, AKilledClientDoesNotKeepTheServerCallingIt) {
    const LONG failures_before = ReadItem(Sample(), L"Diagnostics.CallbackFailures").value().lVal;
    {
        ctlsim::testing::ChildProcess client(
            TreeProgram("opcclient.exe"),
            {"subscribe", "opcsample.SampleServer.1", "Simulation.Counter", "--rate", "50"});
        const std::optional<std::string> first = client.read_line(std::chrono::seconds(20));
        ASSERT_TRUE(first.has_value());
        EXPECT_NE(first->find("Simulation.Counter = "), std::string::npos);
        client.kill();
    }
    // Its next tick fails and is reported. A call under way when the process died fails
    // with RPC_S_CALL_FAILED, which alone does not prove the client gone; the call after it
    // does, and the sink is dropped then.
    auto last_failure = [] {
        return std::wstring(ReadItem(Sample(), L"Diagnostics.LastCallbackFailure").value().bstrVal);
    };
    ASSERT_TRUE(PumpUntil(
        [&] {
            const std::wstring last = last_failure();
            return last.rfind(L"0x800706BA", 0) == 0 || last.rfind(L"0x80010108", 0) == 0;
        },
        10000))
        << Utf8FromWide(last_failure());
    EXPECT_NE(last_failure().find(L"kind 0"), std::wstring::npos);
    const LONG failures = ReadItem(Sample(), L"Diagnostics.CallbackFailures").value().lVal;
    EXPECT_LE(failures, failures_before + 2);
    // The counter changes every 100 ms at a 50 ms rate: no further call is tried.
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(ReadItem(Sample(), L"Diagnostics.CallbackFailures").value().lVal, failures);
    // The server keeps serving.
    win::UniqueCoTaskMem<OPCSERVERSTATUS> status;
    ASSERT_EQ(Sample()->GetStatus(status.put()), S_OK);
    EXPECT_EQ(status.get()->dwServerState, OPC_STATUS_RUNNING);
    CoTaskMemFree(status.get()->szVendorInfo);
}

}  // namespace
}  // namespace porvex::opc::remote
