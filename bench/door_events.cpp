// door_events: how fast the door server decodes and applies controller reports.
//
//   door_events [--controllers N] [--reports N] [--seconds S] [--rate R]
//
// 1. Load: N controllers x 8 doors from a sample SQLite door database.
// 2. Throughput: a mix of card records (1-4 per report), door events, alarms cleared and
//    tamper reports for random doors, applied one after another on one thread (decode,
//    door lookup, setters, leaf changes, observer) -- reports per second on one core.
//    Then the same reports through the whole path: library callback, EventQueue, event
//    worker.
// 3. Latency: R reports per second for S seconds from a "library" thread through the
//    callback, the queue and the worker, timed from the callback to the observer seeing
//    the door's leaf change -- p50, p99 and the worst.
//
// 4. The upkeep tick over every door (the program runs it every 2 s on its main thread,
//    under the data lock, where it holds up the event worker and the OPC deliveries):
//    the first tick after the reports, then the mean and worst of the next ones.
//
// Goals: at least 20,000 reports per second; p99 under 20 ms.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/log.h"
#include "door_server.h"
#include "door_startup.h"
#include "sample_door_db.h"

namespace {

using namespace porvex;
using Wall = std::chrono::steady_clock;
constexpr const char* kIp = "127.0.0.1";
constexpr int kBasePort = 20000;

// Stands in for the controller access library: accepts commands, raises callbacks.
class BenchLink final : public ControllerLink {
  public:
    void set_events(LinkEvents* events) override { events_.store(events); }
    bool connect(const std::string& ip, int port) override {
        if (auto* e = events_.load()) {
            e->on_connection(ip, port, true);
        }
        return true;
    }
    bool send_data(const std::string&, int, int, int, int, std::string_view) override {
        return true;
    }
    void enable_upload(const std::string&, int) override {}
    void disconnect_all() override {}

    void frame(int port, int cmd, const std::string& hex) {
        if (auto* e = events_.load()) {
            e->on_frame(kIp, port, 0, 0, cmd, hex);
        }
    }

  private:
    std::atomic<LinkEvents*> events_{nullptr};
};

class QuietLog final : public LogSink {
  public:
    void write(LogLevel level, std::string_view message) override {
        if (level == LogLevel::error) {
            std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
        }
    }
};

// Remembers, per door, when its last-card leaf was expected to change and how long it
// took; counts every change.
class LatencyObserver final : public DoorObserver {
  public:
    explicit LatencyObserver(std::size_t doors) : sent_(doors), leaf_door_() {}

    void map_leaf(NodeId leaf, std::size_t door) {
        if (leaf >= leaf_door_.size()) {
            leaf_door_.resize(leaf + 1, SIZE_MAX);
        }
        leaf_door_[leaf] = door;
    }
    void expect(std::size_t door, Wall::time_point at) {
        std::lock_guard lock(mutex_);
        sent_[door] = at;
    }
    void leaves_changed(std::span<const LeafChange> changes) override {
        const auto now = Wall::now();
        changes_ += changes.size();
        std::lock_guard lock(mutex_);
        for (const auto& c : changes) {
            if (c.leaf >= leaf_door_.size() || leaf_door_[c.leaf] == SIZE_MAX) {
                continue;
            }
            auto& sent = sent_[leaf_door_[c.leaf]];
            if (sent != Wall::time_point{}) {
                latencies_.push_back(std::chrono::duration<double, std::milli>(now - sent).count());
                sent = Wall::time_point{};
            }
        }
    }
    std::vector<double> latencies() {
        std::lock_guard lock(mutex_);
        return latencies_;
    }
    std::uint64_t changes() const { return changes_.load(); }

  private:
    std::mutex mutex_;
    std::vector<Wall::time_point> sent_;
    std::vector<std::size_t> leaf_door_;
    std::vector<double> latencies_;
    std::atomic<std::uint64_t> changes_{0};
};

struct Report {
    int port;
    int cmd;
    std::string hex;
};

std::string hex8(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

std::string card_record(std::uint32_t card, int reader, bool granted) {
    char text[32];
    std::snprintf(text, sizeof text, "%08X%02X%02X240601120000", card, reader, granted ? 0x80 : 0);
    return text;
}

std::vector<Report> mixed_reports(std::size_t count, int controllers, std::mt19937& rng) {
    std::vector<Report> out;
    out.reserve(count);
    std::uniform_int_distribution<int> controller(0, controllers - 1);
    std::uniform_int_distribution<int> reader_bit(0, 7);
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_int_distribution<std::uint32_t> card(1, 0x7FFFFFFF);
    for (std::size_t i = 0; i < count; ++i) {
        const int port = kBasePort + controller(rng);
        const int k = kind(rng);
        if (k < 50) {
            const int records = 1 + static_cast<int>(i % 4);
            char head[4];
            std::snprintf(head, sizeof head, "%02X", records);
            std::string hex = head;
            for (int r = 0; r < records; ++r) {
                hex += card_record(card(rng), 1 << reader_bit(rng), k % 4 != 0);
            }
            out.push_back({port, 30, hex});
        } else if (k < 75) {
            const int bit = reader_bit(rng);
            out.push_back({port, 26, hex8((k % 2 ? 1u : 3u) << (2 * bit))});
        } else if (k < 90) {
            out.push_back({port, 27, hex8(1u << reader_bit(rng))});
        } else {
            out.push_back({port, 28, hex8(1 + k % 3)});
        }
    }
    return out;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

int arg(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return std::atoi(argv[i + 1]);
        }
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const int controllers = arg(argc, argv, "--controllers", 1000);
    const int report_count = arg(argc, argv, "--reports", 200000);
    const int seconds = arg(argc, argv, "--seconds", 10);
    const int rate = arg(argc, argv, "--rate", 1000);

    const auto db = std::filesystem::temp_directory_path() / "porvex-bench-doors.db";
    SampleDoorDbOptions sample;
    sample.controllers = controllers;
    sample.base_port = kBasePort;
    create_sample_door_db(db, sample);

    SteadyClock clock;
    BenchLink link;
    QuietLog log;
    DoorServerOptions options;
    options.queue_limit = static_cast<std::size_t>(report_count) + 1000;
    DoorServer server(PointSet::all(), link, clock, log, options);

    Settings settings;
    settings.db_type = static_cast<int>(DatabaseKind::sqlite);
    settings.server = db.string();
    auto t0 = Wall::now();
    const auto outcome = load_door_directory(settings, server, log);
    const double load_ms = std::chrono::duration<double, std::milli>(Wall::now() - t0).count();
    std::filesystem::remove(db);
    if (outcome.step != DirectoryStep::loaded) {
        std::fprintf(stderr, "door_events: loading failed: %s\n", outcome.message.c_str());
        return 1;
    }
    const std::size_t doors = server.door_count();
    LatencyObserver observer(doors);
    for (std::size_t d = 0; d < doors; ++d) {
        observer.map_leaf(server.door(d).last_card_node, d);
    }
    server.add_observer(&observer);
    server.start();
    server.connect_pass({}, std::chrono::milliseconds(0));
    std::printf("door_events: %d controllers, %zu doors, loaded from SQLite in %.0f ms\n",
                controllers, doors, load_ms);

    // Throughput on one core.
    std::mt19937 rng(42);
    const auto reports = mixed_reports(static_cast<std::size_t>(report_count), controllers, rng);
    std::vector<ReceivedFrame> entries;
    entries.reserve(reports.size());
    for (const auto& r : reports) {
        entries.push_back(ReceivedFrame{kIp, r.port, 0, 0, static_cast<std::uint8_t>(r.cmd), r.hex,
                                        static_cast<int>(r.hex.size())});
    }
    t0 = Wall::now();
    for (const auto& e : entries) {
        server.receive(e);
    }
    double elapsed = std::chrono::duration<double>(Wall::now() - t0).count();
    std::printf("throughput, one thread: %d reports in %.3f s = %.0f reports/s (goal >= 20000)\n",
                report_count, elapsed, report_count / elapsed);

    const auto handled_before = server.events_handled();
    const auto changes_before = observer.changes();
    t0 = Wall::now();
    for (const auto& r : reports) {
        link.frame(r.port, r.cmd, r.hex);
    }
    const double queued = std::chrono::duration<double>(Wall::now() - t0).count();
    while (server.events_handled() - handled_before < reports.size()) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    elapsed = std::chrono::duration<double>(Wall::now() - t0).count();
    std::printf(
        "throughput, callback -> queue -> worker: %d reports in %.3f s = %.0f reports/s"
        " (callbacks took %.3f s; %llu leaf changes)\n",
        report_count, elapsed, report_count / elapsed, queued,
        static_cast<unsigned long long>(observer.changes() - changes_before));

    // Latency at a steady rate.
    const auto interval = std::chrono::nanoseconds(1'000'000'000LL / rate);
    const int total = rate * seconds;
    std::uniform_int_distribution<int> background(0, 3);
    auto next = Wall::now();
    std::uint32_t card = 0x10000000;
    for (int i = 0; i < total; ++i) {
        next += interval;
        std::this_thread::sleep_until(next);
        const std::size_t door = static_cast<std::size_t>(i) % doors;
        const int port = kBasePort + static_cast<int>(door / 8);
        if (background(rng) == 0) {  // unmeasured traffic in between
            link.frame(port, 26, hex8(1u << (2 * (door % 8))));
            continue;
        }
        const std::string hex = "01" + card_record(++card, 1 << (door % 8), true);
        observer.expect(door, Wall::now());
        link.frame(port, 30, hex);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto latencies = observer.latencies();
    std::printf(
        "latency at %d reports/s for %d s, callback -> leaf change: %zu samples, "
        "p50 %.2f ms, p99 %.2f ms, max %.2f ms (goal p99 < 20 ms)\n",
        rate, seconds, latencies.size(), percentile(latencies, 0.50), percentile(latencies, 0.99),
        percentile(latencies, 1.0));

    std::vector<double> ticks;
    for (int i = 0; i < 6; ++i) {
        t0 = Wall::now();
        server.tick(10);
        ticks.push_back(std::chrono::duration<double, std::milli>(Wall::now() - t0).count());
    }
    double later = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        later += ticks[i];
    }
    std::printf(
        "upkeep tick over %zu doors: first %.1f ms, the next %zu mean %.1f ms, worst %.1f ms\n",
        doors, ticks[0], ticks.size() - 1, later / static_cast<double>(ticks.size() - 1),
        *std::max_element(ticks.begin() + 1, ticks.end()));
    server.stop();
    return 0;
}
