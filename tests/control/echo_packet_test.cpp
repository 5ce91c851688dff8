#include "echo_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tarnet {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(EchoPacket, InternetChecksumOfTheRfc1071Example) {
    // RFC 1071, section 3: the sum of 0001 f203 f4f5 f6f7 is ddf2; its complement 220d.
    EXPECT_EQ(internet_checksum(Bytes{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}), 0x220D);
    EXPECT_EQ(internet_checksum(Bytes{0xFF}), 0x00FF);  // odd length: padded with zero
    EXPECT_EQ(internet_checksum(Bytes{}), 0xFFFF);
}

TEST(EchoPacket, RequestLayout) {
    const Bytes p = build_echo_request(0x1234, 0xA1B2C3D4, kEchoPayloadSize);
    ASSERT_EQ(p.size(), 44u);
    EXPECT_EQ(p[0], 8);
    EXPECT_EQ(p[1], 0);
    std::uint16_t id = 0;
    std::memcpy(&id, &p[4], 2);
    EXPECT_EQ(id, 0x1234) << "identifier in host byte order";
    EXPECT_EQ(p[6], 0);
    EXPECT_EQ(p[7], 0);
    std::uint32_t tick = 0;
    std::memcpy(&tick, &p[8], 4);
    EXPECT_EQ(tick, 0xA1B2C3D4u);
    for (std::size_t i = 12; i < p.size(); ++i) {
        EXPECT_EQ(p[i], 0x45);
    }
    // A packet with a correct checksum sums to zero.
    EXPECT_EQ(internet_checksum(p), 0);
}

Bytes reply(std::uint8_t ihl_words, std::uint8_t type, std::uint16_t id) {
    Bytes d(4u * ihl_words + 8 + 4, 0);
    d[0] = static_cast<std::uint8_t>(0x40 | ihl_words);
    d[4u * ihl_words] = type;
    std::memcpy(&d[4u * ihl_words + 4], &id, 2);
    return d;
}

TEST(EchoPacket, ReplyCheck) {
    EXPECT_TRUE(is_echo_reply_for(reply(5, 0, 77), 77));
    EXPECT_TRUE(is_echo_reply_for(reply(6, 0, 77), 77)) << "IP options";
    EXPECT_FALSE(is_echo_reply_for(reply(5, 8, 77), 77)) << "our own request on loopback";
    EXPECT_FALSE(is_echo_reply_for(reply(5, 3, 77), 77)) << "destination unreachable";
    EXPECT_FALSE(is_echo_reply_for(reply(5, 0, 78), 77)) << "another process's probe";
    Bytes short_one = reply(5, 0, 77);
    short_one.resize(27);
    EXPECT_FALSE(is_echo_reply_for(short_one, 77));
    EXPECT_FALSE(is_echo_reply_for(Bytes{}, 77));
    EXPECT_FALSE(is_echo_reply_for(Bytes{0x4F}, 77));
}

}  // namespace
}  // namespace tarnet
