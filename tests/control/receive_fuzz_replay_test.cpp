// Replays the receive fuzz entry over seeded random streams, so every build exercises it
// (the fuzz preset runs the same entry under libFuzzer).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frame/frame.h"
#include "receive_fuzz.h"

namespace tarnet {
namespace {

TEST(ReceiveFuzzReplay, RandomBytes) {
    std::mt19937 rng(4242);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint8_t> input(static_cast<std::size_t>(round % 700));
        for (auto& b : input) {
            b = static_cast<std::uint8_t>(byte(rng));
        }
        fuzz_receive_input(input.data(), input.size());
    }
}

TEST(ReceiveFuzzReplay, MutatedFrameStreams) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 1500; ++round) {
        std::vector<std::uint8_t> input{static_cast<std::uint8_t>(byte(rng))};
        for (int f = 0; f < 4; ++f) {
            std::vector<std::uint8_t> payload(static_cast<std::size_t>(byte(rng) * (f + 1)));
            for (auto& b : payload) {
                b = static_cast<std::uint8_t>(byte(rng));
            }
            auto frame = zorvik::frame::build_frame(static_cast<std::uint8_t>(byte(rng) % 40),
                                                    round, 0, payload);
            if (byte(rng) < 64) {
                frame[static_cast<std::size_t>(byte(rng)) % frame.size()] ^= 0x5A;
            }
            if (byte(rng) < 32) {
                input.insert(input.end(), {0xAA, 0xAA, 0x00, 0xBB});
            }
            input.insert(input.end(), frame.begin(), frame.end());
        }
        fuzz_receive_input(input.data(), input.size());
    }
}

}  // namespace
}  // namespace tarnet
