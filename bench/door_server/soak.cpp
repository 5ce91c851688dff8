// The soak: o.soak_minutes of the door server with o.cards_per_second unique card reads on
// random doors, door events, alarms and tamper reports, and a link fault from the
// simulator every few seconds, taking turns:
//   - the connection dropped (ctlsim `disconnect`): the library sees end of stream, its
//     doors show "没有监控" until the library reconnects (30 s later);
//   - garbage bytes before the next frame (`fault garbage`), a false frame start among them;
//   - every frame split across 4 writes for 5 s (`fault split`);
//   - the controller silent for 40 s (`fault silent`): no replies, no reports; the library
//     declares the link lost when its keep-alive is not answered, and reconnects after.
// Every card is accounted for: delivered to the client (or replaced by a newer card at the
// same door before an update: the client is sent only a door's latest card), not sent
// because its link was down (ctlsim says so), lost around a link fault (sent in the
// update period before a fault took its link down, or while the doors still showed the
// link as down), or lost with its link up: the last is a failure (exit code 1).
#include "soak.h"

#include <random>
#include <string_view>
#include <thread>

#include "card_run.h"
#include "ctlsim_control.h"
#include "process_usage.h"

namespace door_bench {

namespace {

// Times during which a controller's link was down or about to go down, and every fault.
class FaultWindows {
  public:
    void note(int controller, double at_s, std::string what) {
        std::lock_guard lock(mutex_);
        notes_.push_back({controller, at_s, std::move(what)});
    }
    // The faults a controller had, as text.
    std::string faults_of(int controller) const {
        std::lock_guard lock(mutex_);
        std::string out;
        for (const Note& n : notes_) {
            if (n.controller == controller) {
                char at[32];
                std::snprintf(at, sizeof at, " %.1f s ", n.at_s);
                out += at + n.what + ";";
            }
        }
        return out.empty() ? " none" : out;
    }
    void add(int controller, Wall::time_point from, Wall::time_point to) {
        std::lock_guard lock(mutex_);
        windows_.push_back({controller, from, to});
    }
    bool covers(int controller, Wall::time_point t) const {
        std::lock_guard lock(mutex_);
        for (const Window& w : windows_) {
            if (w.controller == controller && t >= w.from && t <= w.to) {
                return true;
            }
        }
        return false;
    }

  private:
    struct Window {
        int controller;
        Wall::time_point from;
        Wall::time_point to;
    };
    struct Note {
        int controller;
        double at_s;
        std::string what;
    };
    mutable std::mutex mutex_;
    std::vector<Window> windows_;
    std::vector<Note> notes_;

  public:
    // True when the controller had a fault of that kind before `at_s`.
    bool had_before(int controller, std::string_view what, double at_s) const {
        std::lock_guard lock(mutex_);
        return std::any_of(notes_.begin(), notes_.end(), [&](const Note& n) {
            return n.controller == controller && n.what == what && n.at_s <= at_s;
        });
    }
};

// True when every door of the controller shows its link up again.
bool controller_online(DoorServer& doors, int controller, int doors_per_controller) {
    return doors.inspect([&](const DoorDirectory& dir) {
        for (int d = 0; d < doors_per_controller; ++d) {
            const std::size_t index =
                static_cast<std::size_t>(controller * doors_per_controller + d);
            if (index >= dir.door_count() ||
                dir.tree().text(dir.door(index).state_node).find("没有监控") != std::string::npos) {
                return false;
            }
        }
        return true;
    });
}

struct FaultCounts {
    std::atomic<int> disconnects{0};
    std::atomic<int> garbage{0};
    std::atomic<int> splits{0};
    std::atomic<int> silences{0};
    std::atomic<int> door_events{0};
    std::atomic<int> alarms{0};
};

}  // namespace

int run_soak(const Options& o, SoakParts p) {
    using namespace std::chrono_literals;
    const auto soak_length = std::chrono::minutes(o.soak_minutes);
    const double private_start = static_cast<double>(bench::committed_private_bytes()) / 1048576.0;
    const double resident_start = static_cast<double>(bench::resident_bytes()) / 1048576.0;
    constexpr double kPrivateGrowthBoundMiB = 64;
    std::printf(
        "  soak: %d minutes, %d controllers x %d doors, %d unique cards/s, a link "
        "fault every 3 s; memory at the start: resident %.1f MiB, private %.1f MiB\n",
        o.soak_minutes, o.controllers, o.doors, o.cards_per_second, resident_start, private_start);
    std::fflush(stdout);

    p.leaf_watch.watch(p.doors);
    const Wall::time_point start = Wall::now();
    const Wall::time_point end = start + soak_length;
    const auto update_period = std::chrono::milliseconds(p.update_rate_ms) + 1s;
    FaultWindows windows;
    FaultCounts faults;
    std::atomic<bool> stop_faults{false};

    // Cards: eight senders, each with its own control connection and its own doors.
    constexpr int kSenders = 8;
    std::atomic<int> sent{0};
    std::atomic<int> not_sent{0};
    std::atomic<int> senders_left{kSenders};
    bench::CardRunEnd run_end(std::chrono::milliseconds(p.update_rate_ms) + 30s);
    std::mutex run_end_lock;
    std::vector<std::thread> threads;
    for (int s = 0; s < kSenders; ++s) {
        threads.emplace_back([&, s] {
            bench::CtlsimControl control(p.sim.control_port());
            std::mt19937 random(4242u + static_cast<unsigned>(s));
            const auto interval =
                std::chrono::microseconds(1000000LL * kSenders / std::max(1, o.cards_per_second));
            Wall::time_point next = Wall::now();
            for (unsigned i = static_cast<unsigned>(s); Wall::now() < end; i += kSenders) {
                std::this_thread::sleep_until(next);
                next += interval;
                if (!send_card(control, p.cards, random, s, kSenders, o, 0x30000000u + i)) {
                    ++not_sent;  // the simulator could not send it: link down or silent
                }
                ++sent;
            }
            if (--senders_left == 0) {
                std::lock_guard lock(run_end_lock);
                run_end.sending_done(Wall::now());
            }
        });
    }

    // Faults, door events and alarms.
    threads.emplace_back([&] {
        bench::CtlsimControl control(p.sim.control_port());
        std::mt19937 random(99);
        int turn = 0;
        struct Pending {
            int controller;
            Wall::time_point from;
            Wall::time_point undo_at;
            std::string undo;  // command that ends the fault, empty: none
            bool link_down;
        };
        std::vector<Pending> pending;
        Wall::time_point next_fault = Wall::now() + 3s;
        while (!stop_faults.load()) {
            std::this_thread::sleep_for(200ms);
            const Wall::time_point now = Wall::now();
            // Door events and alarms on live controllers, about 5 a second.
            const std::string live =
                std::to_string(random() % static_cast<unsigned>(o.controllers));
            if (control.command("door-events " + live + " open=1 alarm=2").find("sent=1") !=
                std::string::npos) {
                ++faults.door_events;
            }
            if (control.command("alarms-cleared " + live + " 2").find("sent=1") !=
                std::string::npos) {
                ++faults.alarms;
            }
            // Faults that ended: undo them, and close the window once the doors are back.
            for (auto it = pending.begin(); it != pending.end();) {
                if (!it->undo.empty() && now >= it->undo_at) {
                    control.command(it->undo);
                    it->undo.clear();
                }
                if (it->undo.empty()) {
                    if (!it->link_down) {
                        it = pending.erase(it);
                        continue;
                    }
                    if (controller_online(p.doors, it->controller, o.doors) ||
                        now - it->undo_at > 90s) {
                        windows.add(it->controller, it->from, now + update_period);
                        windows.note(it->controller, seconds_since(start), "doors online again");
                        it = pending.erase(it);
                        continue;
                    }
                }
                ++it;
            }
            if (now < next_fault || now > end - 10s) {
                continue;
            }
            next_fault = now + 3s;
            int controller = -1;
            for (int attempt = 0; attempt < 10 && controller < 0; ++attempt) {
                const int c = static_cast<int>(random() % static_cast<unsigned>(o.controllers));
                const bool busy = std::any_of(pending.begin(), pending.end(),
                                              [c](const Pending& f) { return f.controller == c; });
                if (!busy && controller_online(p.doors, c, o.doors)) {
                    controller = c;
                }
            }
            if (controller < 0) {
                continue;
            }
            const std::string c = std::to_string(controller);
            // A link-taking fault's window opens an update period early: a card the door
            // model applied just before may be replaced by "没有监控" before the client's
            // next update.
            const Wall::time_point from = now - update_period;
            static constexpr const char* kKinds[] = {"connection dropped", "garbage", "split 5 s",
                                                     "silent 40 s"};
            windows.note(controller, seconds_since(start), kKinds[turn % 4]);
            switch (turn++ % 4) {
                case 0:
                    control.command("disconnect " + c);
                    ++faults.disconnects;
                    pending.push_back({controller, from, now, "", true});
                    break;
                case 1:
                    control.command("fault " + c + " garbage 00FF7E0102AA55");
                    ++faults.garbage;
                    break;
                case 2:
                    control.command("fault " + c + " split 4 5ms");
                    ++faults.splits;
                    pending.push_back(
                        {controller, from, now + 5s, "fault " + c + " split 1", false});
                    break;
                default:
                    control.command("fault " + c + " silent on");
                    ++faults.silences;
                    pending.push_back(
                        {controller, from, now + 40s, "fault " + c + " silent off", true});
                    break;
            }
        }
        // Undo what is still on; open windows stay open to the end.
        for (const Pending& f : pending) {
            if (!f.undo.empty()) {
                control.command(f.undo);
            }
            if (f.link_down) {
                windows.add(f.controller, f.from, Wall::time_point::max());
            }
        }
    });

    double send_s = 0;
    Wall::time_point next_report = start + 60s;
    const bool ended = p.pump.until(
        [&] {
            if (Wall::now() >= next_report) {
                next_report += 60s;
                std::printf("  %.0f s: %d cards sent, %zu still on their way, %d faults\n",
                            seconds_since(start), sent.load(), p.cards.missing(),
                            faults.disconnects + faults.garbage + faults.splits + faults.silences);
                std::fflush(stdout);
            }
            std::lock_guard lock(run_end_lock);
            if (run_end.sending()) {
                send_s = seconds_since(start);
            }
            return run_end.over(p.cards.missing(), Wall::now());
        },
        std::chrono::duration<double>(soak_length).count() + 900);
    stop_faults = true;
    for (std::thread& t : threads) {
        t.join();
    }

    int lost_around_fault = 0;
    int lost_link_up = 0;
    int lost_after_garbage = 0;
    int shown = 0;
    for (const auto& m : p.cards.all_missing()) {
        if (windows.covers(m.door / 256, m.sent)) {
            ++lost_around_fault;
        } else {
            ++lost_link_up;
            if (windows.had_before(m.door / 256, "garbage",
                                   std::chrono::duration<double>(m.sent - start).count())) {
                ++lost_after_garbage;
            }
            if (shown++ < 10) {
                std::printf(
                    "  LOST with its link up: card %ls, controller %d reader %d, sent "
                    "%.1f s into the soak; the controller's faults:%s\n",
                    m.card.c_str(), m.door / 256, m.door % 256,
                    std::chrono::duration<double>(m.sent - start).count(),
                    windows.faults_of(m.door / 256).c_str());
            }
        }
    }
    const std::size_t delivered = p.cards.latencies().size();
    const double private_end = static_cast<double>(bench::committed_private_bytes()) / 1048576.0;
    const double resident_end = static_cast<double>(bench::resident_bytes()) / 1048576.0;
    const bool memory_ok = private_end - private_start <= kPrivateGrowthBoundMiB;
    std::printf(
        "  soak cards: %d sent by the program's simulator commands in %.0f s (%.1f/s); not sent, "
        "link down (ctlsim) %d; delivered %zu; replaced by a newer card at the same door "
        "before an update %zu; lost around a link fault %d; LOST WITH THE LINK UP %d%s\n",
        sent.load(), send_s, send_s > 0 ? sent.load() / send_s : 0.0, not_sent.load(), delivered,
        p.cards.superseded(), lost_around_fault, lost_link_up, ended ? "" : " (gave up waiting)");
    std::printf(
        "  of the cards lost with the link up, %d went to a controller after garbage "
        "bytes had reached its link\n",
        lost_after_garbage);
    std::printf(
        "  soak faults: %d connections dropped, %d garbage bursts, %d split periods, %d "
        "silences; %d door-event and %d alarms-cleared reports sent\n",
        faults.disconnects.load(), faults.garbage.load(), faults.splits.load(),
        faults.silences.load(), faults.door_events.load(), faults.alarms.load());
    std::printf(
        "  soak memory: start resident %.1f / private %.1f MiB, end %.1f / %.1f MiB; "
        "private growth %.1f MiB (bound %.0f MiB)%s\n",
        resident_start, private_start, resident_end, private_end, private_end - private_start,
        kPrivateGrowthBoundMiB, memory_ok ? "" : " EXCEEDED");
    std::printf("  simulator: %s\n", p.sim.command("stats").c_str());
    std::fflush(stdout);
    return lost_link_up == 0 && memory_ok ? 0 : 1;
}

}  // namespace door_bench
