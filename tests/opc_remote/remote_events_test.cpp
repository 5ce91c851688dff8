// The sample server's Alarms & Events class out of process under Wine, through the
// project's proxy/stub DLL: events written through the DA items reach this program's
// IOPCEventSink with their attributes; conditions are raised, acknowledged and cleared with
// their change masks; filters, refresh, a dead sink, overflow, the catalog queries, the
// area browser and the argument checks of every method.
#include <algorithm>

#include "event_recorder.h"
#include "opc/com/file_time.h"
#include "opc/com/text.h"
#include "remote_fixture.h"
#include "win/task_memory.h"

namespace porvex::opc::remote {
namespace {

// A value outside the enumeration, as a faulty client sends it. Made at run time: a
// constant outside an enumeration's range is not a value of it.
template <class Enum>
Enum OutOfRange(int value) {
    return static_cast<Enum>(value);
}

constexpr wchar_t kEventsProgId[] = L"opcsample.SampleEvents.1";
constexpr DWORD kCardRead = 1;
constexpr DWORD kLevelAlarm = 3;
// The published interfaces make every array argument a reference: across processes the
// proxy refuses a null one even with a count of 0, so clients pass these.
DWORD no_ids[1] = {0};
LPWSTR no_names[1] = {const_cast<LPWSTR>(L"")};

struct TSubscription {
    win::ComPtr<IOPCEventSubscriptionMgt> mgt;
    win::ComPtr<TEventRecorder> sink = TEventRecorder::Create();
    win::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;

    ~TSubscription() {
        if (point && cookie) {
            point->Unadvise(cookie);
        }
    }
};

std::vector<std::wstring> TakeStrings(LPWSTR* texts, DWORD count) {
    std::vector<std::wstring> out;
    for (DWORD i = 0; texts && i < count; ++i) {
        out.emplace_back(texts[i] ? texts[i] : L"<null>");
        CoTaskMemFree(texts[i]);
    }
    CoTaskMemFree(texts);
    return out;
}

class RemoteEventsTest : public RemoteTest {
  protected:
    void SetUp() override {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(kEventsProgId, &clsid), S_OK);
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCEventServer,
                                   reinterpret_cast<void**>(server_.put())),
                  S_OK);
    }
    void TearDown() override {
        // Conditions left active would show in the next test's refresh.
        Write(L"Events.Tank1Level", win::Variant::i4(0));
        Write(L"Events.Tank2Level", win::Variant::i4(0));
    }

    static void Write(const wchar_t* item, const win::Variant& value) {
        EXPECT_EQ(WriteItem(Sample(), item, value), S_OK) << Utf8FromWide(item);
    }

    std::unique_ptr<TSubscription> Subscribe(OPCHANDLE handle, DWORD bufferTime = 0,
                                             DWORD maxSize = 0) {
        auto subscription = std::make_unique<TSubscription>();
        DWORD revised_time = 99;
        DWORD revised_size = 99;
        EXPECT_EQ(server_->CreateEventSubscription(
                      TRUE, bufferTime, maxSize, handle, IID_IOPCEventSubscriptionMgt,
                      reinterpret_cast<IUnknown**>(subscription->mgt.put()), &revised_time,
                      &revised_size),
                  S_OK);
        EXPECT_EQ(revised_time, bufferTime);
        EXPECT_EQ(revised_size, maxSize);
        if (!subscription->mgt) {
            return subscription;
        }
        win::ComPtr<IConnectionPointContainer> container;
        subscription->mgt.query(container);
        EXPECT_EQ(container->FindConnectionPoint(IID_IOPCEventSink, subscription->point.put()),
                  S_OK);
        EXPECT_EQ(subscription->point->Advise(subscription->sink.get(), &subscription->cookie),
                  S_OK);
        return subscription;
    }

    static bool WaitFor(const TEventRecorder& sink, std::size_t count, DWORD ms = 5000) {
        return test::PumpUntil([&] { return sink.EventCount() >= count; }, ms);
    }

    win::ComPtr<IOPCEventServer> server_;
};

TEST_F(RemoteEventsTest, StatusAndFilters) {
    win::UniqueCoTaskMem<OPCEVENTSERVERSTATUS> status;
    ASSERT_EQ(server_->GetStatus(status.put()), S_OK);
    EXPECT_EQ(status.get()->dwServerState, OPCAE_STATUS_RUNNING);
    EXPECT_EQ(status.get()->wMajorVersion, 1);
    EXPECT_EQ(std::wstring(status.get()->szVendorInfo), L"Porvex OPC Sample Event Server");
    CoTaskMemFree(status.get()->szVendorInfo);
    DWORD filters = 0;
    ASSERT_EQ(server_->QueryAvailableFilters(&filters), S_OK);
    EXPECT_EQ(filters, 0x1Fu);
}

TEST_F(RemoteEventsTest, EveryCardReadReachesTheSinkWithItsAttributes) {
    auto subscription = Subscribe(11);
    DWORD ids[] = {1, 2, 3};
    ASSERT_EQ(subscription->mgt->SelectReturnedAttributes(kCardRead, 3, ids), S_OK);
    Write(L"Events.CardRead", win::Variant::string(L"123"));
    Write(L"Events.CardRead", win::Variant::string(L"123"));  // the same card twice: two events
    ASSERT_TRUE(WaitFor(*subscription->sink, 2));
    const auto events = subscription->sink->Events();
    ASSERT_EQ(events.size(), 2u);
    for (const TReceivedEvent& e : events) {
        EXPECT_EQ(e.source, L"Plant.Hall1.Door1");
        EXPECT_EQ(e.type, static_cast<DWORD>(OPC_SIMPLE_EVENT));
        EXPECT_EQ(e.category, kCardRead);
        EXPECT_EQ(e.message, L"card 123 granted at reader 1");
        ASSERT_EQ(e.attributes.size(), 3u);
        ASSERT_EQ(e.attributes[0].value().vt, VT_BSTR);
        EXPECT_EQ(std::wstring(e.attributes[0].value().bstrVal), L"123");
        EXPECT_EQ(e.attributes[1].value().vt, VT_I4);
        EXPECT_EQ(e.attributes[1].value().lVal, 1);
        EXPECT_EQ(e.attributes[2].value().vt, VT_BOOL);
        EXPECT_EQ(e.attributes[2].value().boolVal, VARIANT_TRUE);
        EXPECT_NE(FileTimeTicks(e.time), 0u);
    }
    EXPECT_EQ(subscription->sink->calls[0].subscription, 11u);
    EXPECT_FALSE(subscription->sink->calls[0].refresh);

    DWORD count = 0;
    win::UniqueCoTaskMem<DWORD> selected;
    ASSERT_EQ(subscription->mgt->GetReturnedAttributes(kCardRead, &count, selected.put()), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(selected[2], 3u);
    ASSERT_EQ(subscription->mgt->GetReturnedAttributes(kLevelAlarm, &count, selected.put()), S_OK);
    EXPECT_EQ(count, 0u);
    DWORD unknown[] = {99};
    EXPECT_EQ(subscription->mgt->SelectReturnedAttributes(kCardRead, 1, unknown), E_INVALIDARG);
    EXPECT_EQ(subscription->mgt->SelectReturnedAttributes(77, 0, no_ids), E_INVALIDARG);
    EXPECT_EQ(subscription->mgt->GetReturnedAttributes(77, &count, selected.put()), E_INVALIDARG);
}

TEST_F(RemoteEventsTest, ConditionRaisedAcknowledgedAndCleared) {
    auto subscription = Subscribe(12);
    DWORD level[] = {20};
    ASSERT_EQ(subscription->mgt->SelectReturnedAttributes(kLevelAlarm, 1, level), S_OK);
    Write(L"Events.Tank1Level", win::Variant::i4(95));
    ASSERT_TRUE(WaitFor(*subscription->sink, 1));
    const TReceivedEvent raised = subscription->sink->Events().at(0);
    EXPECT_EQ(raised.source, L"Plant.Hall1.Tank1");
    EXPECT_EQ(raised.type, static_cast<DWORD>(OPC_CONDITION_EVENT));
    EXPECT_EQ(raised.condition, L"HighLevel");
    EXPECT_EQ(raised.subcondition, L"HiHi");
    EXPECT_EQ(raised.severity, 800u);
    EXPECT_EQ(raised.change_mask & (OPC_CHANGE_ACTIVE_STATE | OPC_CHANGE_ACK_STATE),
              OPC_CHANGE_ACTIVE_STATE | OPC_CHANGE_ACK_STATE);
    EXPECT_EQ(raised.new_state, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE);
    EXPECT_TRUE(raised.ack_required);
    ASSERT_EQ(raised.attributes.size(), 1u);
    EXPECT_EQ(raised.attributes[0].value().lVal, 95);

    // An acknowledgement of another activation is refused; the right one is taken once.
    LPWSTR source = const_cast<LPWSTR>(L"Plant.Hall1.Tank1");
    LPWSTR condition = const_cast<LPWSTR>(L"HighLevel");
    FILETIME wrong = FileTimeFromTicks(FileTimeTicks(raised.active_time) + 1);
    FILETIME active = raised.active_time;
    DWORD cookie = raised.cookie;
    win::UniqueCoTaskMem<HRESULT> errors;
    ASSERT_EQ(
        server_->AckCondition(1, const_cast<LPWSTR>(L"operator 7"), const_cast<LPWSTR>(L"checked"),
                              &source, &condition, &wrong, &cookie, errors.put()),
        S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDTIME);
    ASSERT_EQ(
        server_->AckCondition(1, const_cast<LPWSTR>(L"operator 7"), const_cast<LPWSTR>(L"checked"),
                              &source, &condition, &active, &cookie, errors.put()),
        S_OK);
    EXPECT_EQ(errors[0], S_OK);
    ASSERT_EQ(server_->AckCondition(1, const_cast<LPWSTR>(L"operator 7"), const_cast<LPWSTR>(L""),
                                    &source, &condition, &active, &cookie, errors.put()),
              S_FALSE);
    EXPECT_EQ(errors[0], OPC_S_ALREADYACKED);
    EXPECT_EQ(server_->AckCondition(1, const_cast<LPWSTR>(L""), const_cast<LPWSTR>(L""), &source,
                                    &condition, &active, &cookie, errors.put()),
              E_INVALIDARG);  // who acknowledges is required
    ASSERT_TRUE(WaitFor(*subscription->sink, 2));
    const TReceivedEvent acked = subscription->sink->Events().at(1);
    EXPECT_EQ(acked.change_mask, OPC_CHANGE_ACK_STATE);
    EXPECT_EQ(acked.new_state, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE | OPC_CONDITION_ACKED);
    EXPECT_EQ(acked.actor, L"operator 7");

    OPCCONDITIONSTATE* state = nullptr;
    DWORD attribute = 20;
    ASSERT_EQ(server_->GetConditionState(source, condition, 1, &attribute, &state), S_OK);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->wState, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE | OPC_CONDITION_ACKED);
    EXPECT_EQ(std::wstring(state->szActiveSubCondition), L"HiHi");
    EXPECT_EQ(std::wstring(state->szAcknowledgerID), L"operator 7");
    EXPECT_EQ(std::wstring(state->szComment), L"checked");
    ASSERT_EQ(state->dwNumSCs, 2u);
    EXPECT_EQ(std::wstring(state->pszSCNames[1]), L"HiHi");
    EXPECT_EQ(state->pdwSCSeverities[1], 800u);
    ASSERT_EQ(state->dwNumEventAttrs, 1u);
    EXPECT_EQ(state->pEventAttributes[0].lVal, 95);
    EXPECT_EQ(state->pErrors[0], S_OK);
    for (LPWSTR text : {state->szActiveSubCondition, state->szASCDefinition,
                        state->szASCDescription, state->szAcknowledgerID, state->szComment}) {
        CoTaskMemFree(text);
    }
    TakeStrings(state->pszSCNames, state->dwNumSCs);
    TakeStrings(state->pszSCDefinitions, state->dwNumSCs);
    TakeStrings(state->pszSCDescriptions, state->dwNumSCs);
    CoTaskMemFree(state->pdwSCSeverities);
    VariantClear(&state->pEventAttributes[0]);
    CoTaskMemFree(state->pEventAttributes);
    CoTaskMemFree(state->pErrors);
    CoTaskMemFree(state);

    Write(L"Events.Tank1Level", win::Variant::i4(10));
    ASSERT_TRUE(WaitFor(*subscription->sink, 3));
    const TReceivedEvent cleared = subscription->sink->Events().at(2);
    EXPECT_EQ(cleared.change_mask & OPC_CHANGE_ACTIVE_STATE, OPC_CHANGE_ACTIVE_STATE);
    EXPECT_EQ(cleared.new_state, OPC_CONDITION_ENABLED | OPC_CONDITION_ACKED);
    EXPECT_EQ(subscription->sink->EventCount(), 3u);

    EXPECT_EQ(
        server_->GetConditionState(const_cast<LPWSTR>(L"Nowhere"), condition, 0, no_ids, &state),
        E_INVALIDARG);
    EXPECT_EQ(state, nullptr);
}

TEST_F(RemoteEventsTest, FiltersByTypeCategorySeverityAreaAndSource) {
    auto by_area = Subscribe(21);
    LPWSTR hall2 = const_cast<LPWSTR>(L"Plant.Hall2");
    ASSERT_EQ(by_area->mgt->SetFilter(OPC_ALL_EVENTS, 0, no_ids, 1, 1000, 1, &hall2, 0, no_names),
              S_OK);
    auto by_severity = Subscribe(22);
    ASSERT_EQ(by_severity->mgt->SetFilter(OPC_CONDITION_EVENT, 0, no_ids, 700, 1000, 0, no_names, 0,
                                          no_names),
              S_OK);
    auto by_category_and_source = Subscribe(23);
    DWORD cards[] = {kCardRead};
    LPWSTR door = const_cast<LPWSTR>(L"*.Door1");
    ASSERT_EQ(by_category_and_source->mgt->SetFilter(OPC_SIMPLE_EVENT, 1, cards, 1, 1000, 0,
                                                     no_names, 1, &door),
              S_OK);

    Write(L"Events.CardRead", win::Variant::string(L"9"));
    Write(L"Events.Tank1Level", win::Variant::i4(75));  // Hi: severity 500
    Write(L"Events.Tank2Level", win::Variant::i4(95));  // HiHi: severity 800
    ASSERT_TRUE(WaitFor(*by_area->sink, 1));
    ASSERT_TRUE(WaitFor(*by_severity->sink, 1));
    ASSERT_TRUE(WaitFor(*by_category_and_source->sink, 1));
    test::PumpUntil([] { return false; }, 200);  // anything that should not come, would
    ASSERT_EQ(by_area->sink->EventCount(), 1u);
    EXPECT_EQ(by_area->sink->Events()[0].source, L"Plant.Hall2.Tank2");
    ASSERT_EQ(by_severity->sink->EventCount(), 1u);
    EXPECT_EQ(by_severity->sink->Events()[0].source, L"Plant.Hall2.Tank2");
    ASSERT_EQ(by_category_and_source->sink->EventCount(), 1u);
    EXPECT_EQ(by_category_and_source->sink->Events()[0].source, L"Plant.Hall1.Door1");

    DWORD type = 0, categories = 0, low = 0, high = 0, areas = 0, sources = 0;
    win::UniqueCoTaskMem<DWORD> category_list;
    LPWSTR* area_list = nullptr;
    LPWSTR* source_list = nullptr;
    ASSERT_EQ(
        by_category_and_source->mgt->GetFilter(&type, &categories, category_list.put(), &low, &high,
                                               &areas, &area_list, &sources, &source_list),
        S_OK);
    EXPECT_EQ(type, static_cast<DWORD>(OPC_SIMPLE_EVENT));
    ASSERT_EQ(categories, 1u);
    EXPECT_EQ(category_list[0], kCardRead);
    EXPECT_EQ(TakeStrings(area_list, areas), std::vector<std::wstring>{});
    EXPECT_EQ(TakeStrings(source_list, sources), std::vector<std::wstring>{L"*.Door1"});

    DWORD unknown_category[] = {77};
    LPWSTR nowhere = const_cast<LPWSTR>(L"Plant.Nowhere");
    IOPCEventSubscriptionMgt* mgt = by_area->mgt.get();
    EXPECT_EQ(mgt->SetFilter(0, 0, no_ids, 1, 1000, 0, no_names, 0, no_names), E_INVALIDARG);
    EXPECT_EQ(
        mgt->SetFilter(OPC_ALL_EVENTS, 1, unknown_category, 1, 1000, 0, no_names, 0, no_names),
        E_INVALIDARG);
    EXPECT_EQ(mgt->SetFilter(OPC_ALL_EVENTS, 0, no_ids, 900, 100, 0, no_names, 0, no_names),
              E_INVALIDARG);
    EXPECT_EQ(mgt->SetFilter(OPC_ALL_EVENTS, 0, no_ids, 1, 1000, 1, &nowhere, 0, no_names),
              E_INVALIDARG);
    EXPECT_EQ(mgt->SetFilter(OPC_ALL_EVENTS, 0, no_ids, 1, 1000, 0, no_names, 1, &nowhere),
              E_INVALIDARG);
}

TEST_F(RemoteEventsTest, RefreshDeliversActiveAndUnacknowledgedConditionsFlagged) {
    // Tank1 raised and cleared without an acknowledgement, Tank2 active: both are reported.
    Write(L"Events.Tank1Level", win::Variant::i4(75));
    Write(L"Events.Tank1Level", win::Variant::i4(10));
    Write(L"Events.Tank2Level", win::Variant::i4(80));
    auto subscription = Subscribe(31, 0, 1);  // max size 1: one condition per call
    EXPECT_EQ(subscription->mgt->Refresh(subscription->cookie + 1), E_INVALIDARG);
    ASSERT_EQ(subscription->mgt->Refresh(subscription->cookie), S_OK);
    ASSERT_TRUE(test::PumpUntil([&] {
        return !subscription->sink->calls.empty() && subscription->sink->calls.back().last_refresh;
    }));
    const auto& calls = subscription->sink->calls;
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].refresh);
    EXPECT_FALSE(calls[0].last_refresh);
    const auto refreshed = subscription->sink->Events(true);
    ASSERT_EQ(refreshed.size(), 2u);
    EXPECT_EQ(refreshed[0].source, L"Plant.Hall1.Tank1");
    EXPECT_EQ(refreshed[0].new_state, OPC_CONDITION_ENABLED);
    EXPECT_EQ(refreshed[1].source, L"Plant.Hall2.Tank2");
    EXPECT_EQ(refreshed[1].subcondition, L"Hi");
    EXPECT_EQ(refreshed[1].new_state, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE);
    EXPECT_EQ(subscription->mgt->CancelRefresh(subscription->cookie), E_FAIL);  // none pending

    // Nothing that passes the filter: one empty last call.
    DWORD cards[] = {kCardRead};
    ASSERT_EQ(
        subscription->mgt->SetFilter(OPC_ALL_EVENTS, 1, cards, 1, 1000, 0, no_names, 0, no_names),
        S_OK);
    ASSERT_EQ(subscription->mgt->Refresh(subscription->cookie), S_OK);
    ASSERT_TRUE(test::PumpUntil([&] { return calls.size() > 2; }));
    EXPECT_TRUE(calls.back().refresh);
    EXPECT_TRUE(calls.back().last_refresh);
    EXPECT_TRUE(calls.back().events.empty());
}

TEST_F(RemoteEventsTest, ADeadSinkIsDropped) {
    auto subscription = Subscribe(41);
    subscription->sink->answer = RPC_E_DISCONNECTED;  // what the proxy of a gone client says
    Write(L"Events.CardRead", win::Variant::string(L"1"));
    ASSERT_TRUE(WaitFor(*subscription->sink, 1));
    Write(L"Events.CardRead", win::Variant::string(L"2"));
    test::PumpUntil([] { return false; }, 200);
    EXPECT_EQ(subscription->sink->calls.size(), 1u);
    // No sink any more: a refresh has nowhere to go.
    EXPECT_EQ(subscription->mgt->Refresh(subscription->cookie), E_INVALIDARG);
    subscription->cookie = 0;
}

TEST_F(RemoteEventsTest, StateBufferTimeMaxSizeAndOverflow) {
    auto subscription = Subscribe(51, 0, 1000);
    BOOL active = FALSE;
    DWORD buffer_time = 0, max_size = 0;
    OPCHANDLE handle = 0;
    ASSERT_EQ(subscription->mgt->GetState(&active, &buffer_time, &max_size, &handle), S_OK);
    EXPECT_TRUE(active);
    EXPECT_EQ(max_size, 1000u);
    EXPECT_EQ(handle, 51u);
    DWORD too_big = 50000;
    DWORD revised_time = 0, revised_size = 0;
    EXPECT_EQ(
        subscription->mgt->SetState(nullptr, nullptr, &too_big, 52, &revised_time, &revised_size),
        OPC_S_INVALIDMAXSIZE);
    EXPECT_EQ(revised_size, 10000u);
    DWORD thousand = 1000;
    ASSERT_EQ(
        subscription->mgt->SetState(nullptr, nullptr, &thousand, 52, &revised_time, &revised_size),
        S_OK);

    // One write posts 10,050 events before the next delivery: the buffer (10,000) drops the
    // 50 oldest and says so first.
    Write(L"Events.CardBurst", win::Variant::i4(10050));
    ASSERT_TRUE(WaitFor(*subscription->sink, 10001, 20000));
    const auto& calls = subscription->sink->calls;
    for (const TReceivedCall& call : calls) {
        EXPECT_LE(call.events.size(), 1000u);
        EXPECT_EQ(call.subscription, 52u);
    }
    const TReceivedEvent& report = calls.at(0).events.at(0);
    EXPECT_EQ(report.category, 9000u);
    EXPECT_EQ(report.message, L"50 events were dropped: the subscription's buffer was full");
    EXPECT_EQ(calls.at(0).events.at(1).message, L"card burst-51 granted at reader 1");
    EXPECT_EQ(subscription->sink->EventCount(), 10001u);

    // Inactive: nothing arrives.
    active = FALSE;
    ASSERT_EQ(
        subscription->mgt->SetState(&active, nullptr, nullptr, 52, &revised_time, &revised_size),
        S_OK);
    Write(L"Events.CardRead", win::Variant::string(L"x"));
    test::PumpUntil([] { return false; }, 200);
    EXPECT_EQ(subscription->sink->EventCount(), 10001u);
}

TEST_F(RemoteEventsTest, CatalogQueries) {
    DWORD count = 0;
    win::UniqueCoTaskMem<DWORD> ids;
    LPWSTR* texts = nullptr;
    ASSERT_EQ(server_->QueryEventCategories(OPC_ALL_EVENTS, &count, ids.put(), &texts), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(ids[0], 9000u);  // the engine's own server messages
    EXPECT_EQ(TakeStrings(texts, count),
              (std::vector<std::wstring>{L"Server messages", L"Card read", L"Level alarm"}));
    ASSERT_EQ(server_->QueryEventCategories(OPC_TRACKING_EVENT, &count, ids.put(), &texts), S_OK);
    EXPECT_EQ(count, 0u);
    TakeStrings(texts, count);
    EXPECT_EQ(server_->QueryEventCategories(0, &count, ids.put(), &texts), E_INVALIDARG);
    EXPECT_EQ(server_->QueryEventCategories(8, &count, ids.put(), &texts), E_INVALIDARG);

    ASSERT_EQ(server_->QueryConditionNames(kLevelAlarm, &count, &texts), S_OK);
    EXPECT_EQ(TakeStrings(texts, count), std::vector<std::wstring>{L"HighLevel"});
    ASSERT_EQ(server_->QueryConditionNames(kCardRead, &count, &texts), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(server_->QueryConditionNames(77, &count, &texts), E_INVALIDARG);
    ASSERT_EQ(server_->QuerySubConditionNames(const_cast<LPWSTR>(L"HighLevel"), &count, &texts),
              S_OK);
    EXPECT_EQ(TakeStrings(texts, count), (std::vector<std::wstring>{L"Hi", L"HiHi"}));
    EXPECT_EQ(server_->QuerySubConditionNames(const_cast<LPWSTR>(L"Nope"), &count, &texts),
              E_INVALIDARG);
    ASSERT_EQ(
        server_->QuerySourceConditions(const_cast<LPWSTR>(L"Plant.Hall2.Tank2"), &count, &texts),
        S_OK);
    EXPECT_EQ(TakeStrings(texts, count), std::vector<std::wstring>{L"HighLevel"});
    EXPECT_EQ(server_->QuerySourceConditions(const_cast<LPWSTR>(L"Nope"), &count, &texts),
              E_INVALIDARG);

    win::UniqueCoTaskMem<VARTYPE> types;
    ASSERT_EQ(server_->QueryEventAttributes(kCardRead, &count, ids.put(), &texts, types.put()),
              S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(TakeStrings(texts, count),
              (std::vector<std::wstring>{L"Card", L"Reader", L"Granted"}));
    EXPECT_EQ(types[0], VT_BSTR);
    EXPECT_EQ(types[2], VT_BOOL);
    EXPECT_EQ(server_->QueryEventAttributes(77, &count, ids.put(), &texts, types.put()),
              E_INVALIDARG);

    DWORD level[] = {20};
    LPWSTR* items = nullptr;
    LPWSTR* nodes = nullptr;
    win::UniqueCoTaskMem<CLSID> clsids;
    ASSERT_EQ(
        server_->TranslateToItemIDs(const_cast<LPWSTR>(L"Plant.Hall1.Tank1"), kLevelAlarm,
                                    const_cast<LPWSTR>(L"HighLevel"), const_cast<LPWSTR>(L"Hi"), 1,
                                    level, &items, &nodes, clsids.put()),
        S_OK);
    EXPECT_EQ(TakeStrings(items, 1), std::vector<std::wstring>{L"Events.Tank1Level"});
    EXPECT_EQ(TakeStrings(nodes, 1), std::vector<std::wstring>{L""});
    EXPECT_TRUE(IsEqualCLSID(clsids[0], kSampleClsid));
    EXPECT_EQ(server_->TranslateToItemIDs(const_cast<LPWSTR>(L"Nope"), kLevelAlarm,
                                          const_cast<LPWSTR>(L""), const_cast<LPWSTR>(L""), 1,
                                          level, &items, &nodes, clsids.put()),
              E_INVALIDARG);
}

TEST_F(RemoteEventsTest, EnableAndDisableConditions) {
    auto subscription = Subscribe(61);
    LPWSTR tank1 = const_cast<LPWSTR>(L"Plant.Hall1.Tank1");
    LPWSTR nope = const_cast<LPWSTR>(L"Nope");
    EXPECT_EQ(server_->DisableConditionBySource(1, &nope), E_INVALIDARG);
    EXPECT_EQ(server_->DisableConditionByArea(1, &nope), E_INVALIDARG);
    EXPECT_EQ(server_->DisableConditionBySource(0, no_names), E_INVALIDARG);
    ASSERT_EQ(server_->DisableConditionBySource(1, &tank1), S_OK);
    ASSERT_TRUE(WaitFor(*subscription->sink, 1));
    EXPECT_EQ(subscription->sink->Events()[0].change_mask, OPC_CHANGE_ENABLE_STATE);
    Write(L"Events.Tank1Level", win::Variant::i4(99));  // disabled: silent
    LPWSTR hall1 = const_cast<LPWSTR>(L"Plant.Hall1");
    ASSERT_EQ(server_->EnableConditionByArea(1, &hall1), S_OK);
    ASSERT_TRUE(WaitFor(*subscription->sink, 2));
    const TReceivedEvent enabled = subscription->sink->Events()[1];
    EXPECT_EQ(enabled.change_mask & (OPC_CHANGE_ENABLE_STATE | OPC_CHANGE_ACTIVE_STATE),
              OPC_CHANGE_ENABLE_STATE | OPC_CHANGE_ACTIVE_STATE);
    EXPECT_EQ(enabled.new_state, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE);
}

TEST_F(RemoteEventsTest, AreaBrowser) {
    win::ComPtr<IOPCEventAreaBrowser> browser;
    ASSERT_EQ(server_->CreateAreaBrowser(IID_IOPCEventAreaBrowser,
                                         reinterpret_cast<IUnknown**>(browser.put())),
              S_OK);
    auto names = [&](OPCAEBROWSETYPE type, const wchar_t* filter) {
        std::vector<std::wstring> out;
        win::ComPtr<IEnumString> list;
        const HRESULT hr = browser->BrowseOPCAreas(type, filter, list.put());
        EXPECT_TRUE(SUCCEEDED(hr));
        LPOLESTR name = nullptr;
        while (list && list->Next(1, &name, nullptr) == S_OK) {
            out.emplace_back(name);
            CoTaskMemFree(name);
        }
        return out;
    };
    EXPECT_EQ(names(OPC_AREA, L""), std::vector<std::wstring>{L"Plant"});
    ASSERT_EQ(browser->ChangeBrowsePosition(OPCAE_BROWSE_DOWN, L"Plant"), S_OK);
    EXPECT_EQ(names(OPC_AREA, L""), (std::vector<std::wstring>{L"Hall1", L"Hall2"}));
    EXPECT_EQ(names(OPC_AREA, L"*2"), std::vector<std::wstring>{L"Hall2"});
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCAE_BROWSE_DOWN, L"Nope"), OPC_E_INVALIDBRANCHNAME);
    ASSERT_EQ(browser->ChangeBrowsePosition(OPCAE_BROWSE_DOWN, L"Hall1"), S_OK);
    EXPECT_EQ(names(OPC_SOURCE, L""), (std::vector<std::wstring>{L"Door1", L"Tank1"}));
    LPWSTR qualified = nullptr;
    ASSERT_EQ(browser->GetQualifiedSourceName(L"Tank1", &qualified), S_OK);
    EXPECT_EQ(std::wstring(qualified), L"Plant.Hall1.Tank1");
    CoTaskMemFree(qualified);
    EXPECT_EQ(browser->GetQualifiedSourceName(L"Nope", &qualified), E_INVALIDARG);
    EXPECT_EQ(qualified, nullptr);
    ASSERT_EQ(browser->ChangeBrowsePosition(OPCAE_BROWSE_UP, L""), S_OK);
    ASSERT_EQ(browser->GetQualifiedAreaName(L"Hall2", &qualified), S_OK);
    EXPECT_EQ(std::wstring(qualified), L"Plant.Hall2");
    CoTaskMemFree(qualified);
    ASSERT_EQ(browser->ChangeBrowsePosition(OPCAE_BROWSE_TO, L""), S_OK);
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCAE_BROWSE_UP, L""), E_FAIL);
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCAE_BROWSE_TO, L"Plant.Hall9"),
              OPC_E_INVALIDBRANCHNAME);
    win::ComPtr<IEnumString> list;
    EXPECT_EQ(browser->BrowseOPCAreas(OutOfRange<OPCAEBROWSETYPE>(7), L"", list.put()),
              E_INVALIDARG);
}

}  // namespace
}  // namespace porvex::opc::remote

namespace porvex::opc::remote {
namespace {

class OpcClientEventsTest : public RemoteEventsTest {};

TEST_F(OpcClientEventsTest, ListsPrintsAndAcknowledges) {
    const TRunResult servers = Client({"servers"});
    EXPECT_EQ(servers.exit_code, 0);
    EXPECT_TRUE(
        servers.Has("opcsample.SampleEvents.1  {6F1C0D42-9B7E-4E55-A3C1-5D2E8B6A9F10}  AE  "
                    "Porvex OPC Sample Event Server"));

    Write(L"Events.Tank2Level", win::Variant::i4(95));
    const TRunResult events =
        Client({"events", "opcsample.SampleEvents.1", "--filter", "type=condition", "--filter",
                "source=*Tank2", "--refresh", "--count", "1", "--duration", "20"});
    EXPECT_EQ(events.exit_code, 0);
    ASSERT_EQ(events.lines.size(), 1u);
    const std::string& line = events.lines[0];
    EXPECT_EQ(line.rfind("refresh ", 0), 0u) << line;
    for (const char* part :
         {" Plant.Hall2.Tank2 condition \"Level alarm\" severity=800 condition=HighLevel/HiHi",
          " state=enabled,active,unacked ", " \"level 95 (HiHi)\" Level=95"}) {
        EXPECT_NE(line.find(part), std::string::npos) << line;
    }

    const std::vector<std::string> ack = {"ack",
                                          "opcsample.SampleEvents.1",
                                          "Plant.Hall2.Tank2",
                                          "HighLevel",
                                          "--actor",
                                          "tester",
                                          "--comment",
                                          "seen"};
    const TRunResult first = Client(ack);
    EXPECT_EQ(first.exit_code, 0);
    ASSERT_EQ(first.lines.size(), 1u);
    EXPECT_NE(first.lines[0].find("acknowledged by tester"), std::string::npos) << first.lines[0];
    const TRunResult second = Client(ack);
    EXPECT_EQ(second.exit_code, 0);
    ASSERT_EQ(second.lines.size(), 1u);
    EXPECT_NE(second.lines[0].find("was already acknowledged"), std::string::npos);

    Write(L"Events.Tank2Level", win::Variant::i4(0));
    Write(L"Events.Tank1Level", win::Variant::i4(0));
    const TRunResult none = Client(
        {"ack", "opcsample.SampleEvents.1", "Plant.Hall2.Tank2", "HighLevel", "--actor", "x"});
    EXPECT_EQ(none.exit_code, 1);  // cleared and acknowledged: nothing to acknowledge
    EXPECT_EQ(
        Client({"events", "opcsample.SampleEvents.1", "--filter", "category=77", "--duration", "1"})
            .exit_code,
        3);  // the server refuses the filter
}

}  // namespace
}  // namespace porvex::opc::remote
