// door_alarms: the door server's Alarms & Events at plant scale, in one process as
// Porvex398 runs it without its window: the door model over the controller access library,
// the event engine fed by the door alarms observer, and one event client in the same
// apartment (its subscription delivering on the engine's timer, as to any client).
//
//   door_alarms [--controllers N] [--doors K] [--pause-ms P] [--cards C] [--seconds S]
//               [--buffer MS] [--base-port PORT]
//
// N controllers x K doors from a sample SQLite door database, served by ctlsim; once every
// door is online, C card reads per second for S seconds on random doors: time from the card
// command to the OnEvent call that carries that card, p50, p99 and the worst. Every card
// read is its own event, so none is replaced by a newer one.
//
// Goal: p99 under the subscription's buffer time plus 100 ms.
#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "alarms/door_alarms.h"
#include "core/log.h"
#include "ctlsim_driver.h"
#include "door_run.h"
#include "door_server.h"
#include "door_startup.h"
#include "link/zorvik_link.h"
#include "opc/events/com/event_engine.h"
#include "opc/events/com/event_server.h"
#include "opc/idl/opc_ae_interfaces.h"
#include "sample_door_db.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace {

using namespace porvex;
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
    int base_port = 21000;  // below the ephemeral range, where outgoing connections sit
};

// Cards sent and not yet seen, and the latencies of those seen.
class CardLatency {
  public:
    void sent(const std::wstring& card) {
        std::lock_guard lock(mutex_);
        pending_[card] = Wall::now();
    }
    void forget(const std::wstring& card) {
        std::lock_guard lock(mutex_);
        pending_.erase(card);
    }
    void seen(const std::wstring& card) {
        std::lock_guard lock(mutex_);
        const auto it = pending_.find(card);
        if (it != pending_.end()) {
            latencies_ms_.push_back(
                std::chrono::duration<double, std::milli>(Wall::now() - it->second).count());
            pending_.erase(it);
        }
    }
    std::vector<double> latencies() const {
        std::lock_guard lock(mutex_);
        return latencies_ms_;
    }
    std::size_t missing() const {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::map<std::wstring, Wall::time_point> pending_;
    std::vector<double> latencies_ms_;
};

// Counts the card reads the door model decoded (before the event engine), to tell where
// a missing card was lost.
class CardCounter final : public DoorEventObserver {
  public:
    void door_events(std::span<const DoorEvent> events) override {
        for (const DoorEvent& event : events) {
            if (event.kind == DoorEvent::Kind::card_granted) {
                ++cards;
            }
        }
    }
    std::atomic<unsigned long> cards{0};
};

class EventSink final : public win::ComObject<IOPCEventSink> {
  public:
    explicit EventSink(CardLatency& cards) : cards_(cards) {}
    HRESULT STDMETHODCALLTYPE OnEvent(OPCHANDLE, BOOL, BOOL, DWORD count,
                                      ONEVENTSTRUCT* received) noexcept override {
        ++calls;
        events += count;
        for (DWORD i = 0; i < count; ++i) {
            const ONEVENTSTRUCT& e = received[i];
            if (e.dwEventCategory == door_alarms::kCardRead && e.dwNumEventAttrs > 0 &&
                e.pEventAttributes[0].vt == VT_BSTR && e.pEventAttributes[0].bstrVal) {
                cards_.seen(e.pEventAttributes[0].bstrVal);
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
        } else if (name == "--base-port") {
            o.base_port = value;
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
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "porvex-door-alarms-bench";
    std::filesystem::create_directories(dir);
    const std::filesystem::path db = dir / "doors.db";
    SampleDoorDbOptions sample;
    sample.controllers = o.controllers;
    sample.doors_per_controller = o.doors;
    sample.base_port = o.base_port;
    create_sample_door_db(db, sample);

    ctlsim::testing::Ctlsim sim(
        ctlsim::testing::CtlsimOptions{0, {"--door-db", db.string()}, std::chrono::seconds(120)});

    Settings settings;
    settings.db_type = 2;
    settings.server = db.string();
    settings.points = PointSet::all();

    CountingLog log;
    SteadyClock clock;
    ZorvikLink link;
    opc::events::TEventEngine engine(opc::events::TEventCatalog(), L"door_alarms bench");
    DoorAlarms alarms(engine.Hub());
    DoorServer doors(settings.points, link, clock, log);
    doors.add_event_observer(&alarms);
    CardCounter decoded;
    doors.add_event_observer(&decoded);
    doors.start();
    const DirectoryOutcome outcome = load_door_directory(settings, doors, log);
    if (outcome.step != DirectoryStep::loaded) {
        std::printf("loading failed: %s\n", outcome.message.c_str());
        return 1;
    }
    std::vector<AlarmDoor> list;
    for (std::size_t i = 0; i < doors.door_count(); ++i) {
        const DoorRecord door = doors.door(i);
        list.push_back({doors.node_text(door.door_node), door.ip, door.port});
    }
    engine.Hub().ReplaceCatalog(door_alarm_catalog(list));
    alarms.set_doors(std::move(list));

    const Wall::time_point start = Wall::now();
    doors.connect_pass({}, std::chrono::milliseconds(o.pause_ms));
    Pump pump(doors);
    const std::size_t door_total = doors.door_count();
    const bool online = pump.until([&] { return doors_online(doors) == door_total; }, 120);
    std::printf("  start: %zu doors, %s after %.2f s\n", door_total,
                online ? "all online" : "NOT all online", seconds_since(start));

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
    CardLatency cards;
    win::ComPtr<EventSink> sink(new EventSink(cards));
    win::ComPtr<IConnectionPointContainer> container;
    subscription.query(container);
    win::ComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(IID_IOPCEventSink, point.put());
    DWORD cookie = 0;
    point->Advise(sink->identity(), &cookie);
    pump.for_seconds(1);  // the link-up events of the start go by

    std::atomic<bool> sending{true};
    std::atomic<int> sent{0};
    std::atomic<int> dropped{0};
    std::thread sender([&] {
        std::mt19937 random(2026);
        const auto interval = std::chrono::microseconds(1000000 / o.cards_per_second);
        Wall::time_point next = Wall::now();
        const int total = o.cards_per_second * o.seconds;
        for (int i = 0; i < total; ++i) {
            const int controller =
                static_cast<int>(random() % static_cast<unsigned>(o.controllers));
            const int reader = 1 << (random() % static_cast<unsigned>(o.doors));
            char card[16];
            std::snprintf(card, sizeof card, "%08X", 0x20000000u + static_cast<unsigned>(i));
            std::wstring wide_card(card, card + 8);
            cards.sent(wide_card);
            const std::string reply = sim.command("card " + std::to_string(controller) + " " +
                                                  card + ":" + std::to_string(reader) + ":granted");
            if (reply.find("dropped=0") == std::string::npos) {
                ++dropped;
                cards.forget(wide_card);
            }
            ++sent;
            next += interval;
            std::this_thread::sleep_until(next);
        }
        sending = false;
    });
    pump.until([&] { return !sending.load(); }, o.seconds + 60);
    pump.until([&] { return cards.missing() == 0; }, 30);
    sender.join();
    const std::vector<double> latencies = cards.latencies();
    std::printf(
        "  card read -> OnEvent at %d/s for %d s, buffer time %lu ms: %zu of %d seen (%zu "
        "missing); p50 %.1f ms, p99 %.1f ms, worst %.1f ms (goal p99 < %lu ms)\n",
        o.cards_per_second, o.seconds, static_cast<unsigned long>(revised_buffer), latencies.size(),
        sent.load(), cards.missing(), percentile(latencies, 0.5), percentile(latencies, 0.99),
        percentile(latencies, 1.0), static_cast<unsigned long>(revised_buffer + 100));
    std::printf(
        "  card reads decoded by the door model %lu; OnEvent calls %lu, events %llu, overflow "
        "reports %lu; log warnings and errors %lu; cards the simulator could not send %d; "
        "events processed by the door model's worker %llu\n",
        decoded.cards.load(), sink->calls, sink->events, sink->overflow_reports, log.errors(),
        dropped.load(), static_cast<unsigned long long>(doors.events_handled()));

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
