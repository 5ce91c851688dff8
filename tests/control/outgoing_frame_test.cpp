#include "outgoing_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame.h"

namespace tarnet {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes payload_of(const Bytes& frame) { return Bytes(frame.begin() + 9, frame.end() - 2); }

TEST(OutgoingFrame, MatchesTheControllerFrameOfTheSharedFormat) {
    EXPECT_EQ(build_control_frame(0x20, 1, 0, "01", 2),
              (Bytes{0x7E, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x3C, 0x8D}));
    EXPECT_EQ(build_control_frame(0x10, 0, 0, "", 0),
              (Bytes{0x7E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0x3D, 0xB4}));
}

TEST(OutgoingFrame, HexRuleGivesZeroForNonDigitsAndIgnoresAnOddLastCharacter) {
    EXPECT_EQ(payload_of(build_control_frame(0x20, 7, 0, "0aFz", 4)), (Bytes{0x0A, 0xF0}));
    EXPECT_EQ(payload_of(build_control_frame(0x20, 7, 0, "0aFz9", 5)), (Bytes{0x0A, 0xF0}));
    EXPECT_EQ(payload_of(build_control_frame(0x20, 7, 0, "ABcd-G", 6)), (Bytes{0xAB, 0xCD, 0x00}));
    // Only DataLen characters count: the rest of a longer text is not sent.
    EXPECT_EQ(payload_of(build_control_frame(0x20, 7, 0, "1234", 2)), (Bytes{0x12}));
}

TEST(OutgoingFrame, FieldsAreLowBytesOfTruncatingDivisions) {
    const Bytes plain = build_control_frame(0x21, 0x1234, 0xABCDEF, "", 0);
    EXPECT_EQ(Bytes(plain.begin() + 1, plain.begin() + 9),
              (Bytes{0x21, 0x12, 0x34, 0xAB, 0xCD, 0xEF, 0x00, 0x00}));
    // Values outside 16 / 24 bits keep what the controllers always received.
    const Bytes odd = build_control_frame(0x1FF, 70000, -1, "", 0);
    EXPECT_EQ(Bytes(odd.begin() + 1, odd.begin() + 7), (Bytes{0xFF, 0x11, 0x70, 0x00, 0x00, 0xFF}));
    const Bytes negative = build_control_frame(0x20, -1, 0x01020304, "", 0);
    EXPECT_EQ(Bytes(negative.begin() + 2, negative.begin() + 7),
              (Bytes{0x00, 0xFF, 0x02, 0x03, 0x04}));
}

TEST(OutgoingFrame, LongPayloadsCarryTheSharedPartialCrc) {
    for (std::size_t n : {247u, 248u, 300u, 4085u}) {
        std::string text;
        Bytes payload;
        for (std::size_t i = 0; i < n; ++i) {
            payload.push_back(static_cast<std::uint8_t>(i * 7));
            text += "0123456789abcdef"[payload.back() >> 4];
            text += "0123456789abcdef"[payload.back() & 15];
        }
        const Bytes frame = build_control_frame(0x20, 5, 6, text, static_cast<int>(text.size()));
        EXPECT_EQ(frame, zorvik::frame::build_frame(0x20, 5, 6, payload)) << n;
        EXPECT_TRUE(zorvik::frame::parse_frame(frame).has_value()) << n;
    }
}

TEST(OutgoingFrame, ArgumentsThatWouldOverrunTheSendBufferAreRefused) {
    const std::string longest(kMaxDataLen, '1');
    EXPECT_EQ(check_frame_arguments(longest, kMaxDataLen), FrameArguments::ok);
    EXPECT_EQ(build_control_frame(1, 1, 1, longest, kMaxDataLen).size(), kSendBufferSize);
    EXPECT_EQ(check_frame_arguments(longest + "1", kMaxDataLen + 1), FrameArguments::bad_length);
    EXPECT_EQ(check_frame_arguments("12", -2), FrameArguments::bad_length);
    EXPECT_EQ(check_frame_arguments("0aF", 4), FrameArguments::data_short);
    EXPECT_EQ(check_frame_arguments("", 1), FrameArguments::data_short);
    EXPECT_EQ(check_frame_arguments("", 0), FrameArguments::ok);
}

}  // namespace
}  // namespace tarnet
