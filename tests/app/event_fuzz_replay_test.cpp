// Replays the controller-event fuzz entry over seeded random input, so every build
// exercises it (the fuzz preset runs the same entry under libFuzzer).
#include "link/event_fuzz.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace porvex {
namespace {

TEST(EventFuzzReplay, RandomEventStreams) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> size(0, 600);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 1500; ++round) {
        std::vector<std::uint8_t> input(static_cast<std::size_t>(size(rng)));
        for (auto& b : input) {
            b = static_cast<std::uint8_t>(byte(rng));
        }
        fuzz_controller_event(input.data(), input.size());
    }
}

TEST(EventFuzzReplay, WellFormedCardReportsWithFlippedBytes) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 1500; ++round) {
        // Selector 3 is code 30; hex-encode; a count byte and 12-byte records.
        const int records = 1 + round % 4;
        std::vector<std::uint8_t> input{3, 0, 1, static_cast<std::uint8_t>(1 + records * 12),
                                        static_cast<std::uint8_t>(records)};
        for (int r = 0; r < records * 12; ++r) {
            input.push_back(static_cast<std::uint8_t>(byte(rng)));
        }
        input[4 + 1 + 4] = static_cast<std::uint8_t>(1 << (round % 8));  // a known reader
        if (round % 3 == 0) {
            input[static_cast<std::size_t>(byte(rng)) % input.size()] ^= 0x5A;
        }
        fuzz_controller_event(input.data(), input.size());
    }
}

}  // namespace
}  // namespace porvex
