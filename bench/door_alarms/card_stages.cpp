#include "card_stages.h"

#include <algorithm>
#include <cstdio>

namespace porvex::bench {
namespace {

constexpr const char* kStageNames[CardStages::kStages] = {
    "card command sent",
    "simulator answered (frame written)",
    "report callback (library -> program)",
    "door model decoded (event worker)",
    "event hub queued (alarms observer)",
    "OnEvent (engine delivery)",
};

double ms(Wall::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

template <class Char>
std::optional<std::uint32_t> parse_card(std::basic_string_view<Char> text) {
    if (text.size() != 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const Char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

struct Spread {
    double p50 = 0;
    double p99 = 0;
    double worst = 0;
};

Spread spread(std::vector<double> values) {
    return values.empty()
               ? Spread{}
               : Spread{percentile(values, 0.5), percentile(values, 0.99), percentile(values, 1.0)};
}

}  // namespace

std::optional<std::uint32_t> CardStages::card_number(std::string_view text) {
    return parse_card(text);
}

std::optional<std::uint32_t> CardStages::card_number(std::wstring_view text) {
    return parse_card(text);
}

void CardStages::mark(std::uint32_t card, Stage stage) {
    const Wall::time_point now = Wall::now();
    std::lock_guard lock(mutex_);
    auto it = cards_.find(card);
    if (it == cards_.end()) {
        if (stage != sent) {
            return;
        }
        it = cards_.emplace(card, Stamps{}).first;
    }
    if (it->second[stage] == Wall::time_point{}) {
        it->second[stage] = now;
    }
}

void CardStages::print(Wall::time_point run_start) const {
    std::vector<std::pair<std::uint32_t, Stamps>> complete;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [card, stamps] : cards_) {
            if (std::none_of(stamps.begin(), stamps.end(),
                             [](Wall::time_point t) { return t == Wall::time_point{}; })) {
                complete.emplace_back(card, stamps);
            }
        }
    }
    std::printf(
        "  stages of %zu cards that passed them all (ms): from the card command | "
        "since the stage before\n",
        complete.size());
    std::printf("    %-38s %8s %8s %8s | %8s %8s %8s\n", "stage", "p50", "p99", "worst", "p50",
                "p99", "worst");
    for (int s = 1; s < kStages; ++s) {
        std::vector<double> total;
        std::vector<double> step;
        for (const auto& [card, t] : complete) {
            total.push_back(ms(t[s] - t[sent]));
            step.push_back(ms(t[s] - t[s - 1]));
        }
        const Spread a = spread(total);
        const Spread b = spread(step);
        std::printf("    %-38s %8.1f %8.1f %8.1f | %8.1f %8.1f %8.1f\n", kStageNames[s], a.p50,
                    a.p99, a.worst, b.p50, b.p99, b.worst);
    }
    if (complete.empty()) {
        return;
    }
    // The tail: the cards whose whole way took at least the p99; which step held them.
    std::vector<double> whole;
    for (const auto& [card, t] : complete) {
        whole.push_back(ms(t[delivered] - t[sent]));
    }
    const double p99 = percentile(whole, 0.99);
    std::array<double, kStages> step_sum{};
    std::array<int, kStages> largest_count{};
    int tail = 0;
    for (const auto& [card, t] : complete) {
        if (ms(t[delivered] - t[sent]) < p99) {
            continue;
        }
        ++tail;
        int largest = 1;
        for (int s = 1; s < kStages; ++s) {
            step_sum[s] += ms(t[s] - t[s - 1]);
            if (t[s] - t[s - 1] > t[largest] - t[largest - 1]) {
                largest = s;
            }
        }
        ++largest_count[largest];
    }
    int tail_stage = 1;
    for (int s = 1; s < kStages; ++s) {
        if (step_sum[s] > step_sum[tail_stage]) {
            tail_stage = s;
        }
    }
    std::printf("  tail (%d cards at or above the p99 of %.1f ms), mean ms per step:", tail, p99);
    for (int s = 1; s < kStages; ++s) {
        std::printf(" [%d] %.1f (largest in %d)", s, step_sum[s] / tail, largest_count[s]);
    }
    std::printf("\n  TAIL STAGE: %s\n", kStageNames[tail_stage]);
    std::sort(complete.begin(), complete.end(), [](const auto& a, const auto& b) {
        return a.second[delivered] - a.second[sent] > b.second[delivered] - b.second[sent];
    });
    std::printf("  slowest cards (sent at s since the cards began: step ms [1]..[%d]):\n",
                kStages - 1);
    for (std::size_t i = 0; i < std::min<std::size_t>(8, complete.size()); ++i) {
        const Stamps& t = complete[i].second;
        std::printf("    %08X at %6.2f s:", complete[i].first, ms(t[sent] - run_start) / 1000.0);
        for (int s = 1; s < kStages; ++s) {
            std::printf(" %7.1f", ms(t[s] - t[s - 1]));
        }
        std::printf("\n");
    }
}

}  // namespace porvex::bench
