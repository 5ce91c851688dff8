// What the door-server benchmark and its soak share: options, the card tally, the
// subscribed client, the leaf watch, the card senders (the pump and the rest come from
// bench/support/door_run.h).
#pragma once

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "card_latency.h"
#include "core/utf.h"
#include "ctlsim_control.h"
#include "door_run.h"
#include "door_server.h"
#include "opc_data_callback.h"

namespace door_bench {

using namespace porvex;
using bench::CardLatency;
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
    DWORD rate_ms = 1000;
    int cards_per_second = 100;
    int seconds = 20;
    int idle_seconds = 10;
    int soak_minutes = 0;  // > 0: the soak instead of the idle and card phases
    int control_port = 0;  // > 0: a simulator already running there instead of our own
};

inline std::wstring widen(std::string_view utf8) {
    const std::u16string text = utf8_to_utf16(utf8);
    return std::wstring(text.begin(), text.end());
}

class Subscriber final : public bench::TIgnoringDataCallback {
  public:
    explicit Subscriber(CardLatency& cards) : cards_(cards) {}
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count,
                                           OPCHANDLE* handles, VARIANT* delivered, WORD*, FILETIME*,
                                           HRESULT*) noexcept override {
        ++calls;
        values += count;

        for (DWORD i = 0; i < count; ++i) {
            if (keep_history && delivered[i].vt == VT_BSTR && delivered[i].bstrVal != nullptr) {
                std::lock_guard lock(history_lock);
                history[handles[i]].push_back(delivered[i].bstrVal);
            }
            if (delivered[i].vt == VT_BSTR && delivered[i].bstrVal != nullptr &&
                SysStringLen(delivered[i].bstrVal) == 8) {
                cards_.seen(delivered[i].bstrVal);
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

inline std::vector<std::wstring> every_item_id(DoorServer& doors) {
    return doors.inspect([](const DoorDirectory& dir) {
        std::vector<std::wstring> ids;
        for (std::size_t i = 0; i < dir.door_count(); ++i) {
            const std::string door = dir.tree().text(dir.door(i).door_node);
            for (const PointKind kind : kAllPointKinds) {
                ids.push_back(widen(door + "." + std::string(info(kind).name)));
            }
        }
        return ids;
    });
}

// One card read at a random door of sender's share of the controllers (the doors are split
// among the senders, so that one door's cards keep their order), card number `number` in
// hex. False when the simulator did not send it (no link with upload on): the card then
// leaves the tally.
inline bool send_card(bench::CtlsimControl& control, CardLatency& cards, std::mt19937& random,
                      int sender, int senders, const Options& o, unsigned number) {
    const int controller =
        sender + senders * static_cast<int>(random() % static_cast<unsigned>(
                                                           std::max(1, o.controllers / senders)));
    const int reader = 1 << (random() % static_cast<unsigned>(o.doors));
    char card[16];
    std::snprintf(card, sizeof card, "%08X", number);
    cards.sent(controller * 256 + reader, widen(card));
    const std::string reply = control.command("card " + std::to_string(controller) + " " + card +
                                              ":" + std::to_string(reader) + ":granted");
    if (reply.find("dropped=0") == std::string::npos) {
        cards.forget(widen(card));
        return false;
    }
    return true;
}

}  // namespace door_bench
