// Replays the block decoder's fuzz entry over seeded random and mutated blocks, so every
// build exercises it (the fuzz preset runs it under libFuzzer).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "stream_decode.h"
#include "stream_fuzz.h"

namespace porvex::opcstream {
namespace {

TEST(StreamFuzzReplay, RandomBytes) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> size(0, 300);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> input(static_cast<std::size_t>(size(rng)));
        for (auto& b : input) {
            b = static_cast<std::uint8_t>(byte(rng));
        }
        // Plausible headers now and then, so decoding goes past them.
        if (input.size() >= 20 && round % 2 == 0) {
            input[0] = static_cast<std::uint8_t>(input.size());
            input[1] = input[2] = input[3] = 0;
            input[4] = static_cast<std::uint8_t>(round % 4);
            input[5] = input[6] = input[7] = 0;
        }
        FuzzStreamInput(input.data(), input.size());
    }
}

TEST(StreamFuzzReplay, MutatedValidBlocks) {
    // One item: a string record "abc" after a VT_BSTR VARIANT.
    const std::vector<std::uint8_t> valid = {60, 0, 0, 0, 1, 0, 0, 0,  77, 0,  0, 0,  9, 0,   0,
                                             0,  0, 0, 0, 0, 1, 0, 0,  0,  32, 0, 0,  0, 192, 0,
                                             0,  0, 8, 0, 0, 0, 0, 0,  0,  0,  0, 0,  0, 0,   0,
                                             0,  0, 0, 6, 0, 0, 0, 97, 0,  98, 0, 99, 0, 0,   0};
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> input = valid;
        for (int i = 0; i < 1 + round % 3; ++i) {
            input[static_cast<std::size_t>(byte(rng)) % input.size()] =
                static_cast<std::uint8_t>(byte(rng));
        }
        FuzzStreamInput(input.data(), input.size());
    }
}

TEST(StreamFuzzReplay, TheSeedBlockIsValid) {
    const std::vector<std::uint8_t> valid = {60, 0, 0, 0, 1, 0, 0, 0,  77, 0,  0, 0,  9, 0,   0,
                                             0,  0, 0, 0, 0, 1, 0, 0,  0,  32, 0, 0,  0, 192, 0,
                                             0,  0, 8, 0, 0, 0, 0, 0,  0,  0,  0, 0,  0, 0,   0,
                                             0,  0, 0, 6, 0, 0, 0, 97, 0,  98, 0, 99, 0, 0,   0};
    const auto decoded = DecodeDataBlock(valid, false);
    ASSERT_TRUE(decoded.block) << decoded.error;
    EXPECT_EQ(decoded.block->items[0].value.text, u"abc");
}

}  // namespace
}  // namespace porvex::opcstream
