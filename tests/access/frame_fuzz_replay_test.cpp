// Replays the frame fuzz entry over seeded random input, so every build exercises it
// (the fuzz preset runs the same entry under libFuzzer).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frame/frame.h"
#include "frame/frame_fuzz.h"

namespace zorvik::frame {
namespace {

TEST(FrameFuzzReplay, RandomBytes) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> size(0, 400);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> input(static_cast<std::size_t>(size(rng)));
        for (auto& b : input) {
            b = static_cast<std::uint8_t>(byte(rng));
        }
        fuzz_frame_input(input.data(), input.size());
    }
}

TEST(FrameFuzzReplay, MutatedValidFrames) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint8_t> payload(static_cast<std::size_t>(round % 300));
        for (auto& b : payload) {
            b = static_cast<std::uint8_t>(byte(rng));
        }
        auto input = build_frame(static_cast<std::uint8_t>(round), round, round * 3, payload);
        const auto flips = round % 4;
        for (int i = 0; i < flips; ++i) {
            input[static_cast<std::size_t>(byte(rng)) % input.size()] ^=
                static_cast<std::uint8_t>(1 + byte(rng) % 255);
        }
        // Concatenate a second valid frame so streams hold several candidates.
        const auto second = build_frame(0x1E, 1, 2, payload);
        input.insert(input.end(), second.begin(), second.end());
        fuzz_frame_input(input.data(), input.size());
    }
}

}  // namespace
}  // namespace zorvik::frame
