#include "frame/hex.h"

#include <gtest/gtest.h>

#include <vector>

namespace zorvik::frame {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Hex, ReportsAreUpperCaseAndRepliesLowerCase) {
    const Bytes payload{0x0A, 0x80, 0xFF, 0x00};
    EXPECT_EQ(to_hex(payload, HexCase::upper), "0A80FF00");
    EXPECT_EQ(to_hex(payload, HexCase::lower), "0a80ff00");
    EXPECT_EQ(to_hex({}, HexCase::upper), "");
}

TEST(Hex, LibraryRuleTakesEveryNonDigitAsCMinus0x37) {
    EXPECT_EQ(decode_hex_as_library("0A80", 4), (Bytes{0x0A, 0x80}));
    EXPECT_EQ(decode_hex_as_library("FF", 2), (Bytes{0xFF}));
    // 'a' is 0x61 - 0x37 = 42, so "0a" is 42 rather than 10.
    EXPECT_EQ(decode_hex_as_library("0a", 2), (Bytes{42}));
    // An odd length takes the terminating NUL: 'C' = 12, NUL = -0x37 -> 192 - 55 = 137.
    EXPECT_EQ(decode_hex_as_library("ABC", 3), (Bytes{0xAB, 137}));
    EXPECT_TRUE(decode_hex_as_library("", 0).empty());
}

TEST(Hex, ControlRuleTakesNonHexCharactersAsZero) {
    EXPECT_EQ(decode_hex_as_control("0aFz", 4), (Bytes{0x0A, 0xF0}));
    // An odd length drops the last character.
    EXPECT_EQ(decode_hex_as_control("0aFzC", 5), (Bytes{0x0A, 0xF0}));
    // A length beyond the text reads missing characters as zero, never past the text.
    EXPECT_EQ(decode_hex_as_control("1", 4), (Bytes{0x10, 0x00}));
    EXPECT_EQ(control_hex_value('g'), 0);
    EXPECT_EQ(control_hex_value('f'), 15);
}

}  // namespace
}  // namespace zorvik::frame
