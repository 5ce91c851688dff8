// Porvex398's Alarms & Events class out of process under Wine, fed by a simulated
// controller through the real door model: card reads (the same card twice is two events)
// with their attributes, a door alarm raised, acknowledged and cleared, tamper, the link of
// the controller, the catalog of the loaded doors and the item IDs of the DA class.
#include <gtest/gtest.h>

#include "../opc_remote/event_recorder.h"
#include "app_support.h"
#include "ctlsim_driver.h"
#include "sample_door_db.h"
#include "temp_dir.h"
#include "ui/monitor_window.h"
#include "win/task_memory.h"

namespace porvex::ui::testing {
namespace {

using opc::remote::TEventRecorder;
using opc::remote::TReceivedEvent;

constexpr wchar_t kEventsProgId[] = L"Porvex398.PorvexEvents.1";

std::wstring DoorSource(int controller, int door) {
    return Wide(sample_door_name(controller, door) + "(" + sample_door_location(controller, door) +
                ")");
}

std::vector<std::wstring> TakeStrings(LPWSTR* texts, DWORD count) {
    std::vector<std::wstring> out;
    for (DWORD i = 0; texts && i < count; ++i) {
        out.emplace_back(texts[i]);
        CoTaskMemFree(texts[i]);
    }
    CoTaskMemFree(texts);
    return out;
}

TEST(PorvexEvents, DoorEventsReachAnEventClient) {
    RegisterOnce();
    test::TempDir dir;
    ctlsim::testing::Ctlsim sim{1};
    WriteOneControllerSettings(dir.path(), sim.port(0), 2);
    TPorvexApp app(Environment{{L"PORVEX_MANUAL_CLOCK", L"1"}, {L"PORVEX_EXIT_WAIT_MS", L"5000"}});
    ASSERT_NE(app.Window(), nullptr);
    ASSERT_TRUE(sim.wait_upload(0, true, 20s));

    win::ComPtr<IOPCEventServer> server;
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(kEventsProgId, &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCEventServer,
                               reinterpret_cast<void**>(server.put())),
              S_OK);
    const std::wstring door0 = DoorSource(0, 0);
    const std::wstring door1 = DoorSource(0, 1);
    DWORD count = 0;
    LPWSTR* names = nullptr;
    ASSERT_EQ(server->QuerySourceConditions(const_cast<LPWSTR>(door1.c_str()), &count, &names),
              S_OK);
    EXPECT_EQ(TakeStrings(names, count), (std::vector<std::wstring>{L"DoorAlarm", L"Tamper"}));

    // The DA item of a card read's Card attribute is the door's last-card point.
    DWORD card_attribute[] = {1};
    LPWSTR* items = nullptr;
    LPWSTR* nodes = nullptr;
    win::UniqueCoTaskMem<CLSID> servers;
    ASSERT_EQ(server->TranslateToItemIDs(const_cast<LPWSTR>(door0.c_str()), 1,
                                         const_cast<LPWSTR>(L""), const_cast<LPWSTR>(L""), 1,
                                         card_attribute, &items, &nodes, servers.put()),
              S_OK);
    EXPECT_EQ(TakeStrings(items, 1),
              std::vector<std::wstring>{DoorItem(0, 0, "最后一个刷卡人卡片号码")});
    TakeStrings(nodes, 1);

    win::ComPtr<IOPCEventSubscriptionMgt> subscription;
    DWORD revised_time = 0, revised_size = 0;
    ASSERT_EQ(server->CreateEventSubscription(TRUE, 0, 0, 7, IID_IOPCEventSubscriptionMgt,
                                              reinterpret_cast<IUnknown**>(subscription.put()),
                                              &revised_time, &revised_size),
              S_OK);
    DWORD card_attributes[] = {1, 2, 3, 4};
    ASSERT_EQ(subscription->SelectReturnedAttributes(1, 4, card_attributes), S_OK);
    auto sink = TEventRecorder::Create();
    win::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(subscription.query(container), S_OK);
    win::ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCEventSink, point.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);
    const auto wait_events = [&](std::size_t n) {
        return WaitFor([&] { return sink->EventCount() >= n; }, 10s);
    };

    sim.ok("card 0 0012ab34:1:granted");
    sim.ok("card 0 0012ab34:1:granted");
    ASSERT_TRUE(wait_events(2));
    for (const TReceivedEvent& e : sink->Events()) {
        EXPECT_EQ(e.source, door0);
        EXPECT_EQ(e.category, 1u);
        EXPECT_EQ(e.message, L"card 0012AB34 granted at reader 1");
        ASSERT_EQ(e.attributes.size(), 4u);
        EXPECT_EQ(std::wstring(e.attributes[0].value().bstrVal), L"0012AB34");
        EXPECT_EQ(e.attributes[1].value().lVal, 1);
        EXPECT_EQ(e.attributes[2].value().boolVal, VARIANT_TRUE);
    }

    sim.ok("door-events 0 alarm=2");
    ASSERT_TRUE(wait_events(3));
    const TReceivedEvent alarm = sink->Events()[2];
    EXPECT_EQ(alarm.source, door1);
    EXPECT_EQ(alarm.condition, L"DoorAlarm");
    EXPECT_EQ(alarm.new_state, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE);
    LPWSTR source = const_cast<LPWSTR>(door1.c_str());
    LPWSTR condition = const_cast<LPWSTR>(L"DoorAlarm");
    FILETIME active = alarm.active_time;
    DWORD condition_cookie = alarm.cookie;
    win::UniqueCoTaskMem<HRESULT> errors;
    ASSERT_EQ(
        server->AckCondition(1, const_cast<LPWSTR>(L"guard 1"), const_cast<LPWSTR>(L"on my way"),
                             &source, &condition, &active, &condition_cookie, errors.put()),
        S_OK);
    ASSERT_TRUE(wait_events(4));
    EXPECT_EQ(sink->Events()[3].change_mask, OPC_CHANGE_ACK_STATE);
    EXPECT_EQ(sink->Events()[3].actor, L"guard 1");
    sim.ok("alarms-cleared 0 2");
    ASSERT_TRUE(wait_events(5));
    EXPECT_EQ(sink->Events()[4].new_state, OPC_CONDITION_ENABLED | OPC_CONDITION_ACKED);

    sim.ok("tamper 0 1");
    ASSERT_TRUE(wait_events(7));  // both doors of the controller
    EXPECT_EQ(sink->Events()[5].condition, L"Tamper");

    // The controller goes: a link event and its offline condition.
    sim.fault(0, "refuse on");
    sim.ok("disconnect 0");
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const TReceivedEvent& e : sink->Events()) {
                if (e.condition == L"ControllerOffline" && (e.new_state & OPC_CONDITION_ACTIVE)) {
                    return true;
                }
            }
            return false;
        },
        20s));
    point->Unadvise(cookie);
}

class TShutdownSink final : public win::ComObject<IOPCShutdown> {
  public:
    static win::ComPtr<TShutdownSink> Create() {
        return win::ComPtr<TShutdownSink>(new TShutdownSink());
    }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) noexcept override {
        reasons.emplace_back(szReason ? szReason : L"");
        return S_OK;
    }
    std::vector<std::wstring> reasons;

  private:
    TShutdownSink() = default;
};

TEST(PorvexEvents, OpcExitAsksEventClientsToDisconnectToo) {
    RegisterOnce();
    test::TempDir dir;
    ctlsim::testing::Ctlsim sim{1};
    WriteOneControllerSettings(dir.path(), sim.port(0), 1);
    TPorvexApp app(Environment{{L"PORVEX_EXIT_WAIT_MS", L"20000"}});
    ASSERT_NE(app.Window(), nullptr);

    win::ComPtr<IOPCEventServer> server;
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(kEventsProgId, &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCEventServer,
                               reinterpret_cast<void**>(server.put())),
              S_OK);
    win::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(server.query(container), S_OK);
    win::ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.put()), S_OK);
    auto sink = TShutdownSink::Create();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);

    // "OPC退出" through the script's switch: the event client is asked, lets go, and the
    // program ends well before its bound.
    ctlsim::testing::ChildProcess exit(TreeProgram("Porvex398.exe"), {"-exit"});
    ASSERT_TRUE(WaitFor([&] { return !sink->reasons.empty(); }, 15s));
    EXPECT_EQ(sink->reasons.front(), kShutdownReason);
    point->Unadvise(cookie);
    point.reset();
    container.reset();
    server.reset();
    EXPECT_EQ(app.WaitExit(15s).value_or(99), 0u);
    EXPECT_EQ(exit.wait(15s).value_or(-1), 0);
}

}  // namespace
}  // namespace porvex::ui::testing
