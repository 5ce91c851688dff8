// door_alarms: the door server's Alarms & Events at plant scale, in one process as
// Porvex398 runs it without its window: the door model over the controller access library,
// the event engine fed by the door alarms observer, and one event client in the same
// apartment (its subscription delivering on the engine's timer, as to any client).
//
//   door_alarms [--controllers N] [--doors K] [--pause-ms P] [--cards C] [--seconds S]
//               [--buffer MS] [--control PORT]
//
// N controllers x K doors from a sample SQLite door database, served by ctlsim (started
// here on free ports, or with --control the one already running at that control port,
// e.g. the native ctlsim: build/linux-release/bin/ctlsim --controllers 1000 --base-port 0
// --control-port 7100 --quiet); once every door is online, C card reads per second for S
// seconds on random doors: time from the card command to the OnEvent call that carries
// that card, p50, p99 and the worst. Every card read is its own event, so none is
// replaced by a newer one. Each card is stamped at every stage of its way (card_stages.h):
// the table says which stage the tail comes from.
//
// Goal: p99 under the subscription's buffer time plus 100 ms.
#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "alarms/door_alarms.h"
#include "card_latency.h"
#include "card_stages.h"
#include "core/log.h"
#include "ctlsim_control.h"
#include "door_rig.h"
#include "door_run.h"
#include "door_server.h"
#include "frame/frame.h"
#include "opc/events/com/event_engine.h"
#include "opc/events/com/event_server.h"
#include "opc/idl/opc_ae_interfaces.h"
#include "paced_senders.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace {

using namespace porvex;
using bench::CardLatency;
using bench::CardStages;
using bench::CountingLog;
using bench::doors_online;
using bench::percentile;
using bench::Pump;
using bench::seconds_since;
using bench::Wall;

struct Options {
    int controllers = 1000;
    int doors = 8;
    int pause_ms = 10;
    int cards_per_second = 100;
    int seconds = 20;
    DWORD buffer_ms = 0;
    int control_port = 0;  // a running simulator; 0: start one
};

// Sees the card reads the door model decoded, on the event worker after the data lock:
// added before the alarms observer it stamps "decoded" (and counts, to tell where a
// missing card was lost), added after it "queued" in the event hub.
class CardStageWatch final : public DoorEventObserver {
  public:
    CardStageWatch(CardStages& stages, CardStages::Stage stage) : stages_(stages), stage_(stage) {}
    void door_events(std::span<const DoorEvent> events) override {
        for (const DoorEvent& event : events) {
            if (event.kind == DoorEvent::Kind::card_granted) {
                ++cards;
                if (const auto card = CardStages::card_number(event.card)) {
                    stages_.mark(*card, stage_);
                }
            }
        }
    }
    std::atomic<unsigned long> cards{0};

  private:
    CardStages& stages_;
    CardStages::Stage stage_;
};

class EventSink final : public win::ComObject<IOPCEventSink> {
  public:
    EventSink(CardLatency& cards, CardStages& stages) : cards_(cards), stages_(stages) {}
    HRESULT STDMETHODCALLTYPE OnEvent(OPCHANDLE, BOOL, BOOL, DWORD count,
                                      ONEVENTSTRUCT* received) noexcept override {
        ++calls;
        events += count;
        for (DWORD i = 0; i < count; ++i) {
            const ONEVENTSTRUCT& e = received[i];
            if (e.dwEventCategory == door_alarms::kCardRead && e.dwNumEventAttrs > 0 &&
                e.pEventAttributes[0].vt == VT_BSTR && e.pEventAttributes[0].bstrVal) {
                const BSTR card = e.pEventAttributes[0].bstrVal;
                if (const auto number =
                        CardStages::card_number(std::wstring_view(card, SysStringLen(card)))) {
                    stages_.mark(*number, CardStages::delivered);
                }
                cards_.seen(card);
            }
            if (e.dwEventCategory == opc::events::kServerCategory) {
                ++overflow_reports;
            }
        }
        return S_OK;
    }

    unsigned long calls = 0;
    unsigned long long events = 0;
    unsigned long overflow_reports = 0;

  private:
    CardLatency& cards_;
    CardStages& stages_;
};

Options parse(int argc, char** argv) {
    Options o;
    bench::parse_options(argc, argv, [&o](const std::string& name, int value) {
        if (name == "--controllers") {
            o.controllers = value;
        } else if (name == "--doors") {
            o.doors = value;
        } else if (name == "--pause-ms") {
            o.pause_ms = value;
        } else if (name == "--cards") {
            o.cards_per_second = value;
        } else if (name == "--seconds") {
            o.seconds = value;
        } else if (name == "--control") {
            o.control_port = value;
        } else if (name == "--buffer") {
            o.buffer_ms = static_cast<DWORD>(value);
        } else {
            return false;
        }
        return true;
    });
    return o;
}

int run(const Options& o) {
    std::printf("door_alarms: %d controllers x %d doors, %zu-bit build\n", o.controllers, o.doors,
                sizeof(void*) * 8);
    CountingLog log;
    bench::DoorRig rig({"porvex-door-alarms-bench", o.controllers, o.doors,
                        static_cast<std::uint16_t>(o.control_port)},
                       log);
    std::printf("  simulator: %s\n", rig.sim().describe().c_str());
    DoorServer& doors = rig.doors();
    opc::events::TEventEngine engine(opc::events::TEventCatalog(), L"door_alarms bench");
    DoorAlarms alarms(engine.Hub());
    CardStages stages;
    CardStageWatch decoded(stages, CardStages::decoded);
    CardStageWatch queued(stages, CardStages::queued);
    doors.add_event_observer(&decoded);
    doors.add_event_observer(&alarms);
    doors.add_event_observer(&queued);
    const bench::StopDoorsOnExit stop_doors(doors);
    rig.link().set_tap([&stages](int, int cmd, std::string_view hex) {
        // A card-records frame: record count (2 digits), then each card's 8 digits first.
        if (cmd == zorvik::frame::kReportCardRecords && hex.size() >= 10) {
            if (const auto card = CardStages::card_number(hex.substr(2, 8))) {
                stages.mark(*card, CardStages::callback);
            }
        }
    });
    rig.load();
    std::vector<AlarmDoor> list;
    for (std::size_t i = 0; i < doors.door_count(); ++i) {
        const DoorRecord door = doors.door(i);
        list.push_back({doors.node_text(door.door_node), door.ip, door.port});
    }
    engine.Hub().ReplaceCatalog(door_alarm_catalog(list));
    alarms.set_doors(std::move(list));

    Pump pump(doors);
    const bench::OnlineTimes online = rig.go_online(o.pause_ms, pump);
    std::printf("  start: %zu doors, %s after %.2f s\n", doors.door_count(),
                online.all_online ? "all online" : "NOT all online", online.online_s);

    // One event client: a subscription to the card reads with their Card attribute.
    win::ComPtr<IOPCEventServer> server;
    if (FAILED(opc::events::CreateEventServerObject(IID_IOPCEventServer,
                                                    reinterpret_cast<void**>(server.put())))) {
        std::printf("no event server object\n");
        return 1;
    }
    win::ComPtr<IOPCEventSubscriptionMgt> subscription;
    DWORD revised_buffer = 0;
    DWORD revised_size = 0;
    server->CreateEventSubscription(TRUE, o.buffer_ms, 0, 1, IID_IOPCEventSubscriptionMgt,
                                    reinterpret_cast<IUnknown**>(subscription.put()),
                                    &revised_buffer, &revised_size);
    DWORD card_attribute = door_alarms::kCardAttribute;
    subscription->SelectReturnedAttributes(door_alarms::kCardRead, 1, &card_attribute);
    CardLatency cards(std::chrono::milliseconds(0));  // every card is its own event
    win::ComPtr<EventSink> sink(new EventSink(cards, stages));
    win::ComPtr<IConnectionPointContainer> container;
    subscription.query(container);
    win::ComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(IID_IOPCEventSink, point.put());
    DWORD cookie = 0;
    point->Advise(sink->identity(), &cookie);
    pump.for_seconds(1);  // the link-up events of the start go by

    pump.reset_measures();
    const Wall::time_point cards_start = Wall::now();
    const bench::TappedLink::SendTimes sends_before = rig.link().send_times();
    std::atomic<bool> sending{true};
    bench::PacedSenders senders(
        rig.sim().control_port(), 4, o.cards_per_second, o.cards_per_second * o.seconds,
        cards_start,
        [&](bench::CtlsimControl& control, std::mt19937& random, int i) {
            const int controller =
                static_cast<int>(random() % static_cast<unsigned>(o.controllers));
            const int reader = 1 << (random() % static_cast<unsigned>(o.doors));
            char card[16];
            const auto number = 0x20000000u + static_cast<unsigned>(i);
            std::snprintf(card, sizeof card, "%08X", number);
            std::wstring wide_card(card, card + 8);
            cards.sent(controller * 256 + reader, wide_card);
            stages.mark(number, CardStages::sent);
            const std::string reply =
                control.command("card " + std::to_string(controller) + " " + card + ":" +
                                std::to_string(reader) + ":granted");
            stages.mark(number, CardStages::answered);
            if (reply.find("dropped=0") == std::string::npos) {
                cards.forget(wide_card);
                return false;
            }
            return true;
        },
        [&] { sending = false; });
    pump.until([&] { return !sending.load(); }, o.seconds + 60);
    const double send_s = seconds_since(cards_start);
    pump.until([&] { return cards.missing() == 0; }, 30);
    senders.join();
    const int sent = senders.sent();
    std::printf("  cards sent: %d in %.1f s (%.1f/s)\n", sent, send_s,
                sent / std::max(send_s, 0.001));
    const std::vector<double> latencies = cards.latencies();
    std::printf(
        "  card read -> OnEvent at %d/s for %d s, buffer time %lu ms: %zu of %d seen (%zu "
        "missing); p50 %.1f ms, p99 %.1f ms, worst %.1f ms (goal p99 < %lu ms)\n",
        o.cards_per_second, o.seconds, static_cast<unsigned long>(revised_buffer), latencies.size(),
        sent, cards.missing(), percentile(latencies, 0.5), percentile(latencies, 0.99),
        percentile(latencies, 1.0), static_cast<unsigned long>(revised_buffer + 100));
    std::printf(
        "  card reads decoded by the door model %lu; OnEvent calls %lu, events %llu, overflow "
        "reports %lu; log warnings and errors %lu; cards the simulator could not send %d; "
        "events processed by the door model's worker %llu\n",
        decoded.cards.load(), sink->calls, sink->events, sink->overflow_reports, log.errors(),
        senders.dropped(), static_cast<unsigned long long>(doors.events_handled()));

    stages.print(cards_start);
    std::printf(
        "  main thread during the cards: longest message %.1f ms; upkeep ticks %d, mean %.1f "
        "ms, longest %.1f ms\n",
        pump.longest_dispatch_ms(), pump.ticks(), pump.mean_tick_ms(), pump.longest_tick_ms());
    const bench::TappedLink::SendTimes sends = rig.link().send_times();
    const long long frames = sends.sends - sends_before.sends;
    std::printf(
        "  frames the door model handed to the library during the cards: %lld, mean %.2f ms "
        "in the call, longest %.1f ms\n",
        frames,
        frames > 0 ? static_cast<double>(sends.total_us - sends_before.total_us) / 1000.0 /
                         static_cast<double>(frames)
                   : 0.0,
        static_cast<double>(sends.longest_us) / 1000.0);

    point->Unadvise(cookie);
    subscription.reset();
    server.reset();
    doors.stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return porvex::bench::run_in_apartment("door_alarms", [&] { return run(parse(argc, argv)); });
}
