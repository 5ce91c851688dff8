// The card tally of the door benchmarks: which cards were sent to which door, which
// arrived at the client and how long each took, which were replaced by a newer card at the
// same door, which were never sent (no link) and which are still missing.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "door_run.h"

namespace porvex::bench {

// Card numbers sent and not yet seen, and the latencies of those seen (from the card
// command to the client's callback).
class CardLatency {
  public:
    // A client of item values is only ever sent a door's latest card: a newer card at
    // the same door before the next update replaces the older one. Only a card sent at
    // most `replace_within` before the newer one counts as replaced; an older one that
    // has not arrived stays missing (it would otherwise hide a loss). Zero: no card is
    // ever replaced (a client of events receives every card).
    static constexpr std::chrono::milliseconds kReplaceWithin{2500};
    explicit CardLatency(std::chrono::milliseconds replace_within = kReplaceWithin)
        : replace_within_(replace_within) {}

    void sent(int door, const std::wstring& card) {
        std::lock_guard lock(mutex_);
        const Wall::time_point now = Wall::now();
        if (const auto it = door_card_.find(door);
            it != door_card_.end() && replace_within_.count() > 0) {
            if (const auto older = pending_.find(it->second);
                older != pending_.end() && now - older->second <= replace_within_) {
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
    const std::chrono::milliseconds replace_within_;
    mutable std::mutex mutex_;
    std::map<std::wstring, Wall::time_point> pending_;
    std::map<int, std::wstring> door_card_;
    std::set<std::wstring> at_leaf_;
    std::map<std::wstring, int> card_door_;
    std::set<std::wstring> unsent_;
    std::size_t superseded_ = 0;
    std::vector<double> latencies_ms_;
};

}  // namespace porvex::bench
