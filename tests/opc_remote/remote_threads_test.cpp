// The sample server under calls from several client threads at once while its groups tick,
// clients that call back into the server from inside a callback, and shutdown requests while
// calls are in flight (in whichever apartment the sample server serves its clients). A fault shows
// as a deadlock (a call that never returns: the test times out), a crash of the server (calls fail
// with RPC errors) or wrong results.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "remote_fixture.h"
#include "win/com_apartment.h"
#include "win/task_memory.h"

namespace porvex::opc::remote {
namespace {

using test::Advise;
using test::PumpUntil;

using TClock = std::chrono::steady_clock;

// A data callback that counts deliveries and may call the server from inside OnDataChange.
class TReentrantCallback final : public win::ComObject<IOPCDataCallback> {
  public:
    static win::ComPtr<TReentrantCallback> Create() {
        return win::ComPtr<TReentrantCallback>(new TReentrantCallback());
    }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                           OPCHANDLE* phClientItems, VARIANT*, WORD*, FILETIME*,
                                           HRESULT*) noexcept override {
        changes.fetch_add(1);
        if (removed) {
            largest_after_removal = std::max(largest_after_removal, dwCount);
        }
        if (on_change) {
            on_change(dwCount, phClientItems);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                             VARIANT*, WORD*, FILETIME*,
                                             HRESULT*) noexcept override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                              HRESULT*) noexcept override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) noexcept override { return S_OK; }

    std::function<void(DWORD, OPCHANDLE*)> on_change;
    std::atomic<int> changes{0};
    // Used by the single-threaded tests only (their callbacks run on the test's thread).
    bool removed = false;
    DWORD largest_after_removal = 0;

  private:
    TReentrantCallback() = default;
};

// A shutdown sink for any thread.
class TCountingShutdown final : public win::ComObject<IOPCShutdown> {
  public:
    static win::ComPtr<TCountingShutdown> Create() {
        return win::ComPtr<TCountingShutdown>(new TCountingShutdown());
    }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR) noexcept override {
        requests.fetch_add(1);
        return S_OK;
    }
    std::atomic<int> requests{0};

  private:
    TCountingShutdown() = default;
};

// A synchronous read of handles: the item errors (the call's failure for every item when it
// fails), and the first item's value.
std::vector<HRESULT> ReadAll(IOPCSyncIO& io, OPCDATASOURCE source, std::vector<OPCHANDLE> handles,
                             win::Variant* first = nullptr) {
    win::UniqueCoTaskMem<OPCITEMSTATE> states;
    win::UniqueCoTaskMem<HRESULT> errors;
    const HRESULT hr = io.Read(source, static_cast<DWORD>(handles.size()), handles.data(),
                               states.put(), errors.put());
    if (FAILED(hr) || !states.get() || !errors.get()) {
        return std::vector<HRESULT>(handles.size(), FAILED(hr) ? hr : E_POINTER);
    }
    std::vector<HRESULT> out(errors.get(), errors.get() + handles.size());
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (i == 0 && first) {
            VariantCopy(first->get(), &states[i].vDataValue);
        }
        VariantClear(&states[i].vDataValue);
    }
    return out;
}

// A group of server asking for 10 ms (a success code revises it to the server's minimum)
// holding one active item: its item management (null when either step failed), the group's
// handle and the item's server handle.
win::ComPtr<IOPCItemMgt> AddTickingGroup(IOPCServer& server, const wchar_t* itemId,
                                         OPCHANDLE& groupHandle, OPCHANDLE& itemHandle) {
    win::ComPtr<IOPCItemMgt> items;
    DWORD revised = 0;
    if (FAILED(server.AddGroup(L"", TRUE, 10, 5, nullptr, nullptr, 0, &groupHandle, &revised,
                               IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items.put())))) {
        return nullptr;
    }
    OPCITEMDEF definition{};
    definition.szAccessPath = const_cast<LPWSTR>(L"");
    definition.szItemID = const_cast<LPWSTR>(itemId);
    definition.bActive = TRUE;
    win::UniqueCoTaskMem<OPCITEMRESULT> results;
    win::UniqueCoTaskMem<HRESULT> errors;
    if (items->AddItems(1, &definition, results.put(), errors.put()) != S_OK) {
        return nullptr;
    }
    itemHandle = results[0].hServer;
    return items;
}

class RemoteThreadsTest : public RemoteTest {};

TEST_F(RemoteThreadsTest, ACallbackReadsAndRemovesTheDeliveredItemFromInsideOnDataChange) {
    TRemoteGroup group = MakeGroup({L"Simulation.Counter", L"Simulation.Analog"}, 10);
    ASSERT_EQ(group.handles.size(), 2u);
    win::ComPtr<TReentrantCallback> callback = TReentrantCallback::Create();
    std::vector<HRESULT> read_errors;
    HRESULT remove_result = E_UNEXPECTED;
    callback->on_change = [&](DWORD count, OPCHANDLE*) {
        if (callback->removed || count != 2) {
            return;
        }
        read_errors = ReadAll(*group.sync, OPC_DS_DEVICE, group.handles);
        HRESULT* errors = nullptr;
        remove_result = group.items->RemoveItems(1, &group.handles[1], &errors);
        EXPECT_EQ(TakeErrors(errors, 1), (std::vector<HRESULT>{S_OK}));
        callback->removed = true;
    };
    Advise(group.items.get(), IID_IOPCDataCallback, callback->identity());
    ASSERT_TRUE(PumpUntil([&] { return callback->removed && callback->changes.load() >= 4; }));
    EXPECT_EQ(read_errors, (std::vector<HRESULT>{S_OK, S_OK}));
    EXPECT_EQ(remove_result, S_OK);
    // The ticks after the removal deliver the item that is left, alone.
    EXPECT_EQ(callback->largest_after_removal, 1u);
    EXPECT_EQ(ReadAll(*group.sync, OPC_DS_CACHE, {group.handles[0]}), (std::vector<HRESULT>{S_OK}));
    Remove(group);
}

TEST_F(RemoteThreadsTest, ACallbackRemovesAndReleasesItsGroupFromInsideOnDataChange) {
    const LONG groups_before = ReadItem(Sample(), L"Diagnostics.Groups").value().lVal;
    TRemoteGroup group = MakeGroup({L"Simulation.Counter", L"Simulation.Analog"}, 10);
    win::ComPtr<TReentrantCallback> callback = TReentrantCallback::Create();
    HRESULT remove_result = E_UNEXPECTED;
    callback->on_change = [&](DWORD, OPCHANDLE*) {
        if (callback->removed) {
            return;
        }
        callback->removed = true;
        const OPCHANDLE handle = group.handle;
        group = TRemoteGroup();  // every reference of this client goes
        remove_result = Sample()->RemoveGroup(handle, FALSE);
    };
    Advise(group.items.get(), IID_IOPCDataCallback, callback->identity());
    ASSERT_TRUE(PumpUntil([&] { return callback->removed; }));
    // OPC_S_INUSE when the releases of the client's proxies have not reached the server
    // yet (the COM run-time's timing): the group goes with the last of them.
    EXPECT_TRUE(remove_result == S_OK || remove_result == OPC_S_INUSE) << remove_result;
    // The group is gone: no more deliveries, and the server counts it no more.
    const int changes = callback->changes.load();
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(callback->changes.load(), changes);
    EXPECT_EQ(ReadItem(Sample(), L"Diagnostics.Groups").value().lVal, groups_before);
}

// Runs body on a thread of the multithreaded apartment and waits for it.
void InMultithreadedApartment(const std::function<void()>& body) {
    std::thread thread([&] {
        const win::ComApartment apartment(COINIT_MULTITHREADED);
        ASSERT_TRUE(apartment.initialised());
        body();
    });
    thread.join();
}

TEST_F(RemoteThreadsTest, TwoClientThreadsChangeOneGroupWhileItTicks) {
    InMultithreadedApartment([] {
        win::ComPtr<IOPCServer> server = ConnectSample();
        ASSERT_TRUE(server);
        // An item that changes at every tick stays in the group throughout.
        OPCHANDLE group_handle = 0;
        OPCHANDLE analog_handle = 0;
        win::ComPtr<IOPCItemMgt> items =
            AddTickingGroup(*server, L"Simulation.Analog", group_handle, analog_handle);
        ASSERT_TRUE(items);
        win::ComPtr<IOPCSyncIO> io;
        win::ComPtr<IOPCGroupStateMgt> state;
        items.query(io);
        items.query(state);
        ASSERT_TRUE(io && state);
        win::ComPtr<TReentrantCallback> callback = TReentrantCallback::Create();
        Advise(items.get(), IID_IOPCDataCallback, callback->identity());

        // Each thread adds its items to the ticking group, reads them from the device,
        // changes the group's rate and removes them again, for a second.
        std::atomic<int> failures{0};
        std::atomic<int> rounds{0};
        auto work = [&](OPCHANDLE clientBase) {
            const win::ComApartment apartment(COINIT_MULTITHREADED);
            const std::vector<std::wstring> ids = {L"Simulation.ReadOnly", L"Simulation.Counter",
                                                   L"Simulation.Analog", L"Simulation.Text"};
            const auto end = TClock::now() + std::chrono::milliseconds(1000);
            for (DWORD round = 0; TClock::now() < end && failures.load() == 0; ++round) {
                std::vector<OPCITEMDEF> definitions(ids.size());
                for (std::size_t i = 0; i < ids.size(); ++i) {
                    definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
                    definitions[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
                    definitions[i].bActive = TRUE;
                    definitions[i].hClient = clientBase + static_cast<OPCHANDLE>(i);
                }
                win::UniqueCoTaskMem<OPCITEMRESULT> results;
                win::UniqueCoTaskMem<HRESULT> errors;
                if (items->AddItems(static_cast<DWORD>(ids.size()), definitions.data(),
                                    results.put(), errors.put()) != S_OK) {
                    failures.fetch_add(1);
                    break;
                }
                std::vector<OPCHANDLE> handles;
                for (std::size_t i = 0; i < ids.size(); ++i) {
                    handles.push_back(results[i].hServer);
                }
                win::Variant first;
                if (ReadAll(*io, OPC_DS_DEVICE, handles, &first) !=
                        std::vector<HRESULT>(ids.size(), S_OK) ||
                    first.value().vt != VT_I2 || first.value().iVal != 42) {
                    failures.fetch_add(1);
                }
                // Now and then a new rate, which restarts the group's timer (at every round
                // the timer would never run out).
                if (round % 8 == 7) {
                    DWORD rate = round % 16 == 7 ? 10 : 100;
                    DWORD revised_rate = 0;
                    if (FAILED(state->SetState(&rate, &revised_rate, nullptr, nullptr, nullptr,
                                               nullptr, nullptr)) ||
                        revised_rate < rate) {
                        failures.fetch_add(1);
                    }
                }
                HRESULT* remove_errors = nullptr;
                if (items->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(),
                                       &remove_errors) != S_OK) {
                    failures.fetch_add(1);
                }
                CoTaskMemFree(remove_errors);
                rounds.fetch_add(1);
            }
        };
        const int changes_before = callback->changes.load();
        std::thread first(work, 100);
        std::thread second(work, 200);
        first.join();
        second.join();
        EXPECT_EQ(failures.load(), 0);
        EXPECT_GT(rounds.load(), 4);
        // The group ticks and delivers (in a single-threaded apartment the calls can keep
        // its timer from running until they stop), and only its own item is left.
        const auto end = TClock::now() + std::chrono::seconds(2);
        while (callback->changes.load() == changes_before && TClock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_GT(callback->changes.load(), changes_before);
        win::ComPtr<IEnumOPCItemAttributes> enumerator;
        ASSERT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                          reinterpret_cast<IUnknown**>(enumerator.put())),
                  S_OK);
        OPCITEMATTRIBUTES* attributes = nullptr;
        ULONG fetched = 99;
        enumerator->Next(10, &attributes, &fetched);
        EXPECT_EQ(fetched, 1u);  // the analog item alone
        if (attributes && fetched == 1) {
            EXPECT_EQ(std::wstring(attributes[0].szItemID), L"Simulation.Analog");
            CoTaskMemFree(attributes[0].szItemID);
            CoTaskMemFree(attributes[0].szAccessPath);
            VariantClear(&attributes[0].vEUInfo);
        }
        CoTaskMemFree(attributes);
        enumerator.reset();
        state.reset();
        io.reset();
        items.reset();
        EXPECT_EQ(server->RemoveGroup(group_handle, FALSE), S_OK);
    });
}

TEST_F(RemoteThreadsTest, ShutdownRequestsGoOutWhileOtherCallsAreInFlight) {
    InMultithreadedApartment([] {
        win::ComPtr<IOPCServer> server = ConnectSample();
        ASSERT_TRUE(server);
        win::ComPtr<TCountingShutdown> sink = TCountingShutdown::Create();
        Advise(server.get(), IID_IOPCShutdown, sink->identity());
        OPCHANDLE group_handle = 0;
        OPCHANDLE handle = 0;
        win::ComPtr<IOPCItemMgt> items =
            AddTickingGroup(*server, L"Simulation.ReadOnly", group_handle, handle);
        ASSERT_TRUE(items);
        win::ComPtr<IOPCSyncIO> io;
        items.query(io);
        ASSERT_TRUE(io);

        std::atomic<bool> stop{false};
        std::atomic<int> failed_reads{0};
        std::atomic<int> reads{0};
        auto read = [&] {
            const win::ComApartment apartment(COINIT_MULTITHREADED);
            while (!stop.load()) {
                if (ReadAll(*io, OPC_DS_DEVICE, {handle}) != std::vector<HRESULT>{S_OK}) {
                    failed_reads.fetch_add(1);
                }
                reads.fetch_add(1);
            }
        };
        std::thread first(read);
        std::thread second(read);
        constexpr int kRequests = 3;
        for (int i = 0; i < kRequests; ++i) {
            EXPECT_EQ(WriteItem(server.get(), L"Control.Shutdown",
                                win::Variant::string(L"maintenance " + std::to_wstring(i))),
                      S_OK);
        }
        const auto end = TClock::now() + std::chrono::seconds(5);
        while (sink->requests.load() < kRequests && TClock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop.store(true);
        first.join();
        second.join();
        EXPECT_EQ(sink->requests.load(), kRequests);
        EXPECT_EQ(failed_reads.load(), 0);
        EXPECT_GT(reads.load(), 0);
        io.reset();
        items.reset();
        EXPECT_EQ(server->RemoveGroup(group_handle, FALSE), S_OK);
    });
}

}  // namespace
}  // namespace porvex::opc::remote
