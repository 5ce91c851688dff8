// What the door-server benchmark and its soak share: options, the card tally, the
// subscribed client, the leaf watch, the message pump with the upkeep tick.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/utf.h"
#include "door_server.h"
#include "opc_data_callback.h"

namespace door_bench {

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
    int soak_minutes = 0;  // > 0: the soak instead of the idle and card phases
    bool controllers_given = false;
};

inline double seconds_since(Wall::time_point start) {
    return std::chrono::duration<double>(Wall::now() - start).count();
}

inline std::wstring widen(std::string_view utf8) {
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
    // the door's value: the client is only ever sent the door's latest card. Only a card
    // sent at most kReplaceWithin before the newer one counts as replaced; an older one
    // that has not arrived stays missing (it would otherwise hide a loss).
    static constexpr std::chrono::milliseconds kReplaceWithin{2500};
    void sent(int door, const std::wstring& card) {
        std::lock_guard lock(mutex_);
        const Wall::time_point now = Wall::now();
        if (const auto it = door_card_.find(door); it != door_card_.end()) {
            if (const auto older = pending_.find(it->second);
                older != pending_.end() && now - older->second <= kReplaceWithin) {
                pending_.erase(older);
                ++superseded_;
            }
        }
        door_card_[door] = card;
        card_door_[card] = door;
        pending_[card] = now;
    }
    void forget(const std::wstring& card) {
        std::lock_guard lock(mutex_);
        pending_.erase(card);
        unsent_.insert(card);
    }
    // The card's number was shown by its door's last-card leaf.
    void at_leaf(const std::wstring& card) {
        std::lock_guard lock(mutex_);
        at_leaf_.insert(card);
    }
    std::size_t seen_at_leaf(const std::wstring& first, const std::wstring& last) const {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (auto it = at_leaf_.lower_bound(first); it != at_leaf_.end() && *it <= last; ++it) {
            n += unsent_.count(*it) == 0 ? 1 : 0;
        }
        return n;
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
    struct Missing {
        std::wstring card;
        int door = 0;  // controller * 256 + reader
        Wall::time_point sent;
    };
    std::vector<Missing> all_missing() const {
        std::lock_guard lock(mutex_);
        std::vector<Missing> out;
        for (const auto& [card, at] : pending_) {
            out.push_back({card, card_door_.at(card), at});
        }
        return out;
    }
    // (card, door key) of the first n cards still missing.
    std::vector<std::pair<std::wstring, int>> some_missing(std::size_t n) const {
        std::lock_guard lock(mutex_);
        std::vector<std::pair<std::wstring, int>> out;
        for (const auto& entry : pending_) {
            if (out.size() == n) {
                break;
            }
            out.emplace_back(entry.first, card_door_.at(entry.first));
        }
        return out;
    }
    // Cards still missing, by the second (from `start`) they were sent in.
    std::map<long, int> missing_by_second(Wall::time_point start) const {
        std::lock_guard lock(mutex_);
        std::map<long, int> by_second;
        for (const auto& [card, at] : pending_) {
            ++by_second[static_cast<long>(
                std::chrono::duration_cast<std::chrono::seconds>(at - start).count())];
        }
        return by_second;
    }

  private:
    mutable std::mutex mutex_;
    std::map<std::wstring, Wall::time_point> pending_;
    std::map<int, std::wstring> door_card_;
    std::set<std::wstring> at_leaf_;
    std::map<std::wstring, int> card_door_;
    std::set<std::wstring> unsent_;
    std::size_t superseded_ = 0;
    std::vector<double> latencies_ms_;
};

class Subscriber final : public bench::TIgnoringDataCallback {
  public:
    explicit Subscriber(CardLatency& cards) : cards_(cards) {}
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count,
                                           OPCHANDLE* handles, VARIANT* values, WORD*, FILETIME*,
                                           HRESULT*) noexcept override {
        ++calls;
        this->values += count;

        for (DWORD i = 0; i < count; ++i) {
            if (keep_history && values[i].vt == VT_BSTR && values[i].bstrVal != nullptr) {
                std::lock_guard lock(history_lock);
                history[handles[i]].push_back(values[i].bstrVal);
            }
            if (values[i].vt == VT_BSTR && values[i].bstrVal != nullptr &&
                SysStringLen(values[i].bstrVal) == 8) {
                cards_.seen(values[i].bstrVal);
            }
        }
        return S_OK;
    }

    unsigned long calls = 0;
    unsigned long long values = 0;
    // The text values each item got, for the report on missing cards (off in the soak).
    bool keep_history = true;
    std::mutex history_lock;
    std::map<OPCHANDLE, std::vector<std::wstring>> history;

  private:
    CardLatency& cards_;
};

// Sees every last-card leaf change of the door model (on the thread that made it) and
// notes the card number the leaf shows: the door-model stage of a card's way.
class CardLeafWatch final : public DoorObserver {
  public:
    explicit CardLeafWatch(CardLatency& cards) : cards_(cards) {}
    void watch(DoorServer& doors) { doors_.store(&doors); }
    void leaves_changed(std::span<const LeafChange> changes) override {
        DoorServer* doors = doors_.load();
        if (doors == nullptr) {
            return;
        }
        for (const LeafChange& change : changes) {
            const LeafOwner owner = doors->leaf_owner(change.leaf);
            if (owner.role != LeafRole::point || owner.kind != PointKind::last_card) {
                continue;
            }
            const std::string text = doors->node_text(change.leaf);
            const std::string_view prefix = info(PointKind::last_card).prefix;
            if (text.size() == prefix.size() + 8 && text.starts_with(prefix)) {
                cards_.at_leaf(widen(text.substr(prefix.size())));
            }
        }
    }

  private:
    CardLatency& cards_;
    std::atomic<DoorServer*> doors_{nullptr};
};

// Every stage's count side by side; names the first stage that counts fewer than the
// stage before it.
inline void print_stages(const std::vector<std::pair<std::string, long long>>& stages) {
    std::printf("  stages of the card reads (each should equal the one before):\n");
    const char* short_stage = nullptr;
    long long short_by = 0;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        std::printf("    %-58s %8lld\n", stages[i].first.c_str(), stages[i].second);
        if (i > 0 && short_stage == nullptr && stages[i].second < stages[i - 1].second) {
            short_stage = stages[i].first.c_str();
            short_by = stages[i - 1].second - stages[i].second;
        }
    }
    if (short_stage != nullptr) {
        std::printf("  FIRST STAGE SHORT: %s (%lld fewer than the stage before)\n", short_stage,
                    short_by);
    } else {
        std::printf("  no stage short: every card read reached the client\n");
    }
}

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

inline std::size_t doors_online(DoorServer& doors) {
    return doors.inspect([](const DoorDirectory& dir) {
        std::size_t online = 0;
        for (std::size_t i = 0; i < dir.door_count(); ++i) {
            const std::string& text = dir.tree().text(dir.door(i).StateNode);
            online += text.find("没有监控") == std::string::npos ? 1 : 0;
        }
        return online;
    });
}

inline std::vector<std::wstring> every_item_id(DoorServer& doors) {
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

inline double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

}  // namespace door_bench
