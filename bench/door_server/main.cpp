// door_server: the door server at plant scale, in one process, as Porvex398 runs it without
// its window: the door model over the controller access library, the item server, and an
// OPC client in the same apartment.
//
//   door_server [--controllers N] [--doors K] [--pause-ms P] [--rate MS] [--cards C]
//               [--seconds S] [--idle S]
//
// 1. Start: N controllers x K doors from a sample SQLite door database, served by ctlsim;
//    time to load, to run the connect pass (P ms between doors, 10 as the program does),
//    and until every door is online (its controller linked, upload enabled).
// 2. Memory of the process with every link up.
// 3. One client subscribes to every item at MS ms; idle CPU over S seconds with the
//    2-second upkeep tick running and no controller traffic.
// 4. C card reads per second for S seconds on random doors: time from the card command
//    to the OnDataChange that carries the card number, p50, p99 and the worst.
//
// Goals: idle CPU under 5% of one core; p99 latency under the update rate plus 100 ms.
#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "core/utf.h"
#include "ctlsim_driver.h"
#include "db/door_loader.h"
#include "door_server.h"
#include "item_server/porvex_server.h"
#include "link/zorvik_link.h"
#include "opc/com/com_object.h"
#include "opc/com/com_ptr.h"
#include "opc/idl/opc_interfaces.h"
#include "opc/server/server_impl.h"
#include "opc_data_callback.h"
#include "process_usage.h"
#include "sample_door_db.h"

namespace {

using namespace porvex;
using Wall = std::chrono::steady_clock;

struct Options {
    int controllers = 1000;
    int doors = 8;
    int pause_ms = 10;
    DWORD rate_ms = 1000;
    int cards_per_second = 100;
    int seconds = 20;
    int idle_seconds = 10;
};

double seconds_since(Wall::time_point start) {
    return std::chrono::duration<double>(Wall::now() - start).count();
}

std::wstring widen(std::string_view utf8) {
    const std::u16string text = utf8_to_utf16(utf8);
    return std::wstring(text.begin(), text.end());
}

// Keeps only counts: the operator reads numbers, not a log.
class CountingLog final : public LogSink {
  public:
    void write(LogLevel level, std::string_view message) override {
        if (level != LogLevel::info && errors_.fetch_add(1) < 5) {
            std::fprintf(stderr, "log: %.*s\n", static_cast<int>(message.size()), message.data());
        }
    }
    unsigned long errors() const { return errors_.load(); }

  private:
    std::atomic<unsigned long> errors_{0};
};

// Card numbers sent and not yet seen, and the latencies of those seen.
class CardLatency {
  public:
    // A newer card at the same door before the next update replaces the older one in
    // the door's value: the client is only ever sent the door's latest card.
    void sent(int door, const std::wstring& card) {
        std::lock_guard lock(mutex_);
        if (const auto it = door_card_.find(door); it != door_card_.end()) {
            superseded_ += pending_.erase(it->second);
        }
        door_card_[door] = card;
        pending_[card] = Wall::now();
    }
    void forget(const std::wstring& card) {
        std::lock_guard lock(mutex_);
        pending_.erase(card);
    }
    std::size_t superseded() const {
        std::lock_guard lock(mutex_);
        return superseded_;
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
    std::map<int, std::wstring> door_card_;
    std::size_t superseded_ = 0;
    std::vector<double> latencies_ms_;
};

class Subscriber final : public bench::TIgnoringDataCallback {
  public:
    explicit Subscriber(CardLatency& cards) : cards_(cards) {}
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count,
                                           OPCHANDLE*, VARIANT* values, WORD*, FILETIME*,
                                           HRESULT*) noexcept override {
        ++calls;
        this->values += count;
        for (DWORD i = 0; i < count; ++i) {
            if (values[i].vt == VT_BSTR && values[i].bstrVal != nullptr &&
                SysStringLen(values[i].bstrVal) == 8) {
                cards_.seen(values[i].bstrVal);
            }
        }
        return S_OK;
    }

    unsigned long calls = 0;
    unsigned long long values = 0;

  private:
    CardLatency& cards_;
};

// Handles the thread's messages (the engine's timers and notifications run here) for a
// while, running the door server's 2-second upkeep tick as the window's timer would.
class Pump {
  public:
    explicit Pump(DoorServer& doors) : doors_(doors) {}
    template <class Done>
    bool until(Done done, double seconds) {
        const Wall::time_point end = Wall::now() + std::chrono::duration_cast<Wall::duration>(
                                                       std::chrono::duration<double>(seconds));
        while (!done()) {
            if (Wall::now() >= end) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&msg);
            }
            if (Wall::now() >= next_tick_) {
                doors_.tick(10);
                next_tick_ = Wall::now() + std::chrono::seconds(2);
            }
        }
        return true;
    }
    void for_seconds(double seconds) {
        until([] { return false; }, seconds);
    }

  private:
    DoorServer& doors_;
    Wall::time_point next_tick_ = Wall::now();
};

std::size_t doors_online(DoorServer& doors) {
    return doors.inspect([](const DoorDirectory& dir) {
        std::size_t online = 0;
        for (std::size_t i = 0; i < dir.door_count(); ++i) {
            const std::string& text = dir.tree().text(dir.door(i).StateNode);
            online += text.find("没有监控") == std::string::npos ? 1 : 0;
        }
        return online;
    });
}

std::vector<std::wstring> every_item_id(DoorServer& doors) {
    return doors.inspect([](const DoorDirectory& dir) {
        std::vector<std::wstring> ids;
        for (std::size_t i = 0; i < dir.door_count(); ++i) {
            const std::string door = dir.tree().text(dir.door(i).DoorNode);
            for (const PointKind kind : kAllPointKinds) {
                ids.push_back(widen(door + "." + std::string(info(kind).name)));
            }
        }
        return ids;
    });
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (name == "--controllers") {
            o.controllers = value;
        } else if (name == "--doors") {
            o.doors = value;
        } else if (name == "--pause-ms") {
            o.pause_ms = value;
        } else if (name == "--rate") {
            o.rate_ms = static_cast<DWORD>(value);
        } else if (name == "--cards") {
            o.cards_per_second = value;
        } else if (name == "--seconds") {
            o.seconds = value;
        } else if (name == "--idle") {
            o.idle_seconds = value;
        } else {
            std::fprintf(stderr, "unknown option %s\n", name.c_str());
            std::exit(2);
        }
    }
    return o;
}

int run(const Options& o) {
    std::printf("door_server: %d controllers x %d doors, %zu-bit build\n", o.controllers, o.doors,
                sizeof(void*) * 8);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "porvex-door-server-bench";
    std::filesystem::create_directories(dir);
    const std::filesystem::path db = dir / "doors.db";
    SampleDoorDbOptions sample;
    sample.controllers = o.controllers;
    sample.doors_per_controller = o.doors;
    sample.base_port = 31000;
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
    PorvexServer items;
    const Wall::time_point start = Wall::now();
    DoorServer doors(settings.points, link, clock, log);
    doors.start();
    const DirectoryOutcome outcome = load_door_directory(settings, doors, log);
    if (outcome.step != DirectoryStep::loaded) {
        std::printf("loading failed: %s\n", outcome.message.c_str());
        return 1;
    }
    items.attach(&doors, nullptr);
    const double loaded_s = seconds_since(start);

    const Wall::time_point pass_start = Wall::now();
    doors.connect_pass({}, std::chrono::milliseconds(o.pause_ms));
    const double pass_s = seconds_since(pass_start);
    Pump pump(doors);
    const std::size_t door_total = doors.door_count();
    const bool online = pump.until([&] { return doors_online(doors) == door_total; }, 120);
    const double online_s = seconds_since(start);
    std::printf(
        "  start: %zu doors loaded in %.2f s; connect pass %.2f s; %s after %.2f s "
        "(%zu online)\n",
        door_total, loaded_s, pass_s, online ? "all online" : "NOT all online", online_s,
        doors_online(doors));

    std::printf(
        "  memory with every link up: resident %.1f MiB, private %.1f MiB, address "
        "space %.1f MiB\n",
        static_cast<double>(bench::resident_bytes()) / 1048576.0,
        static_cast<double>(bench::committed_private_bytes()) / 1048576.0,
        static_cast<double>(bench::address_space_bytes()) / 1048576.0);

    // One client, every item, at the update rate.
    opc::TComPtr<IOPCServer> client;
    if (FAILED(opc::CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(client.Put())))) {
        std::printf("no server object\n");
        return 1;
    }
    OPCHANDLE group_handle = 0;
    DWORD revised = 0;
    opc::TComPtr<IOPCItemMgt> group;
    client->AddGroup(L"all", TRUE, o.rate_ms, 1, nullptr, nullptr, 0, &group_handle, &revised,
                     IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group.Put()));
    const std::vector<std::wstring> ids = every_item_id(doors);
    std::vector<OPCITEMDEF> defs(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        defs[i] = OPCITEMDEF{};
        defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        defs[i].bActive = TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const Wall::time_point add_start = Wall::now();
    const HRESULT added =
        group->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    const double add_s = seconds_since(add_start);
    std::size_t failed = 0;
    for (std::size_t i = 0; errors != nullptr && i < ids.size(); ++i) {
        failed += FAILED(errors[i]) ? 1 : 0;
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    CardLatency cards;
    opc::TComPtr<Subscriber> subscriber(new Subscriber(cards));
    opc::TComPtr<IConnectionPointContainer> container;
    group.As(container);
    opc::TComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(IID_IOPCDataCallback, point.Put());
    DWORD cookie = 0;
    point->Advise(subscriber->Identity(), &cookie);
    pump.until([&] { return subscriber->values >= ids.size(); }, 60);
    std::printf(
        "  subscribed: %zu items (%zu failed, AddItems 0x%08lX in %.2f s), rate %lu ms, "
        "first update %llu values\n",
        ids.size(), failed, static_cast<unsigned long>(added), add_s,
        static_cast<unsigned long>(revised), subscriber->values);

    // Idle: links up, keep-alives only, the upkeep tick and the group's update timer.
    const double cpu_before = bench::cpu_seconds();
    const Wall::time_point idle_start = Wall::now();
    pump.for_seconds(o.idle_seconds);
    const double idle_cpu = 100.0 * (bench::cpu_seconds() - cpu_before) / seconds_since(idle_start);
    std::printf("  idle CPU with the subscription: %.2f%% of one core over %d s\n", idle_cpu,
                o.idle_seconds);

    // Card reads at a steady rate from another thread; the main thread serves the client.
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
            std::snprintf(card, sizeof card, "%08X", 0x10000000u + static_cast<unsigned>(i));
            cards.sent(controller * 256 + reader, widen(card));
            const std::string reply = sim.command("card " + std::to_string(controller) + " " +
                                                  card + ":" + std::to_string(reader) + ":granted");
            if (reply.find("dropped=0") == std::string::npos) {
                ++dropped;  // the controller had no link with upload on: nothing was sent
                cards.forget(widen(card));
            }
            ++sent;
            next += interval;
            std::this_thread::sleep_until(next);
        }
        sending = false;
    });
    const double cpu_load_before = bench::cpu_seconds();
    const Wall::time_point load_start = Wall::now();
    pump.until([&] { return !sending.load(); }, o.seconds + 60);
    const double load_cpu =
        100.0 * (bench::cpu_seconds() - cpu_load_before) / seconds_since(load_start);
    // Late deliveries still count: wait up to 30 s after the last card for them.
    pump.until([&] { return cards.missing() == 0; }, o.rate_ms / 1000.0 + 30);
    sender.join();
    const std::vector<double> latencies = cards.latencies();
    std::printf(
        "  card read -> OnDataChange at %d/s for %d s: %zu of %d seen (%zu replaced by a "
        "newer card at the same door before an update, %zu missing); p50 %.1f ms, "
        "p99 %.1f ms, worst %.1f ms (goal p99 < %lu ms); CPU %.1f%%\n",
        o.cards_per_second, o.seconds, latencies.size(), sent.load(), cards.superseded(),
        cards.missing(), percentile(latencies, 0.5), percentile(latencies, 0.99),
        percentile(latencies, 1.0), static_cast<unsigned long>(revised + 100), load_cpu);
    std::printf(
        "  OnDataChange calls %lu, values %llu; log warnings and errors %lu; cards the "
        "simulator could not send (link down) %d; doors online at the end %zu\n",
        subscriber->calls, subscriber->values, log.errors(), dropped.load(), doors_online(doors));
    std::printf("  simulator: %s\n", sim.command("stats").c_str());

    point->Unadvise(cookie);
    group.Reset();
    client.Reset();
    items.attach(nullptr, nullptr);
    doors.stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    int result = 1;
    try {
        result = run(parse(argc, argv));
    } catch (const std::exception& e) {
        std::printf("door_server: %s\n", e.what());
    }
    CoUninitialize();
    return result;
}
