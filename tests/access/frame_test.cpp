#include "frame/frame.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "frame/crc16.h"
#include "frame/hex.h"
#include "frame/packets.h"

namespace zorvik::frame {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ascii(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(Crc16, MatchesTheXmodemCheckValue) {
    EXPECT_EQ(crc16(ascii("123456789")), 0x31C3);
    EXPECT_EQ(crc16({}), 0x0000);
    // Continuing over a second part gives the same as one pass.
    EXPECT_EQ(crc16_update(crc16(ascii("1234")), ascii("56789")), 0x31C3);
}

TEST(BuildFrame, ProducesTheDocumentedBytes) {
    EXPECT_EQ(build_frame(0x20, 1, 0, Bytes{0x01}),
              (Bytes{0x7E, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x3C, 0x8D}));
    EXPECT_EQ(build_frame(0x10, 0, 0, {}),
              (Bytes{0x7E, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3D, 0xB4}));
}

TEST(BuildFrame, CutsApCodeAndPswToTheirFieldWidths) {
    const auto frame = build_frame(0x21, 0x12345, 0x1ABCDEF, Bytes{0x05});
    const auto view = parse_frame(frame);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->ap_code, 0x2345);
    EXPECT_EQ(view->psw, 0xABCDEFu);
    EXPECT_EQ(frame[4], 0xAB);
}

TEST(BuildFrame, RefusesPayloadsBeyondTheLargestFrame) {
    Bytes out;
    EXPECT_TRUE(append_frame(out, 0x20, 0, 0, Bytes(kMaxPayload, 0x55)));
    EXPECT_EQ(out.size(), kMaxFrameSize);
    Bytes untouched;
    EXPECT_FALSE(append_frame(untouched, 0x20, 0, 0, Bytes(kMaxPayload + 1, 0x55)));
    EXPECT_TRUE(untouched.empty());
    EXPECT_THROW(build_frame(0x20, 0, 0, Bytes(kMaxPayload + 1)), std::length_error);
}

TEST(ParseFrame, ReadsTheFieldsOfAValidFrame) {
    const Bytes frame{0x7E, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x3C, 0x8D};
    const auto view = parse_frame(frame);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->cmd, 0x20);
    EXPECT_EQ(view->ap_code, 1);
    EXPECT_EQ(view->psw, 0u);
    ASSERT_EQ(view->data.size(), 1u);
    EXPECT_EQ(view->data[0], 0x01);
}

TEST(ParseFrame, EveryCoveredByteIsCheckedAndTheLengthBytesBreakTheSize) {
    const Bytes good{0x7E, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x3C, 0x8D};
    for (std::size_t offset : {1, 2, 3, 4, 5, 6, 9}) {
        Bytes bad = good;
        bad[offset] ^= 0x40;
        Invalid why{};
        EXPECT_FALSE(parse_frame(bad, &why)) << "offset " << offset;
        EXPECT_EQ(why, Invalid::bad_crc) << "offset " << offset;
    }
    for (std::size_t offset : {7, 8}) {
        Bytes bad = good;
        bad[offset] ^= 0x02;
        Invalid why{};
        EXPECT_FALSE(parse_frame(bad, &why)) << "offset " << offset;
        EXPECT_EQ(why, Invalid::length_mismatch) << "offset " << offset;
    }
    Bytes bad_start = good;
    bad_start[0] = 0x7F;
    Invalid why{};
    EXPECT_FALSE(parse_frame(bad_start, &why));
    EXPECT_EQ(why, Invalid::bad_start);
    EXPECT_FALSE(parse_frame(Bytes(good.begin(), good.begin() + 10), &why));
    EXPECT_EQ(why, Invalid::too_short);
}

TEST(ParseFrame, RefusesFramesBeyond16384Bytes) {
    // A Len of 16374 is representable but makes a frame one byte too long.
    Bytes frame(kMaxFrameSize + 1, 0);
    frame[0] = kFrameStart;
    frame[7] = static_cast<std::uint8_t>((kMaxPayload + 1) >> 8);
    frame[8] = static_cast<std::uint8_t>(kMaxPayload + 1);
    Invalid why{};
    EXPECT_FALSE(parse_frame(frame, &why));
    EXPECT_EQ(why, Invalid::too_long);
}

TEST(CrcCoverage, LongBodiesAreCoveredOnlyModulo256) {
    EXPECT_EQ(crc_coverage(247), 255u);
    EXPECT_EQ(crc_coverage(248), 0u);
    EXPECT_EQ(crc_coverage(300), 52u);

    // Len 248: the body is 256 bytes, so the Crc covers nothing and is 0000.
    Bytes payload248(248, 0x33);
    const auto frame248 = build_frame(0x22, 7, 0, payload248);
    EXPECT_EQ(frame248[frame248.size() - 2], 0x00);
    EXPECT_EQ(frame248[frame248.size() - 1], 0x00);
    EXPECT_TRUE(parse_frame(frame248));

    // Len 300: only the first 52 body bytes (Cmd .. 44th payload byte) are covered.
    Bytes payload300(300);
    for (std::size_t i = 0; i < payload300.size(); ++i) {
        payload300[i] = static_cast<std::uint8_t>(i);
    }
    auto frame300 = build_frame(0x22, 7, 0, payload300);
    ASSERT_TRUE(parse_frame(frame300));
    auto changed_late = frame300;
    changed_late[1 + 52] ^= 0xFF;  // first byte after the covered range
    changed_late[frame300.size() - 3] ^= 0xFF;
    EXPECT_TRUE(parse_frame(changed_late));
    auto changed_early = frame300;
    changed_early[1 + 51] ^= 0xFF;  // last covered byte
    EXPECT_FALSE(parse_frame(changed_early));
}

TEST(Classify, OnlyCodes0x12To0x1FAreReports) {
    EXPECT_FALSE(is_report(0x11));
    EXPECT_TRUE(is_report(0x12));
    EXPECT_TRUE(is_report(kReportCardRecords));
    EXPECT_TRUE(is_report(0x1F));
    EXPECT_FALSE(is_report(0x20));
    EXPECT_FALSE(is_report(0x00));
}

TEST(Packets, UploadSwitchAndBcdTimePayload) {
    EXPECT_EQ(Bytes(upload_switch(true).begin(), upload_switch(true).end()),
              (Bytes{0xAA, 0xAA, 0x03, 0x01, 0xBB}));
    EXPECT_EQ(Bytes(upload_switch(false).begin(), upload_switch(false).end()),
              (Bytes{0xAA, 0xAA, 0x03, 0x02, 0xBB}));
    EXPECT_EQ(to_bcd(2014 % 100), 0x14);
    EXPECT_EQ(to_bcd(59), 0x59);
    EXPECT_EQ(from_bcd(0x59), 59);

    // 2021-03-07 09:05:02, a Sunday.
    const auto payload = time_payload({2021, 3, 7, 0, 9, 5, 2});
    EXPECT_EQ(to_hex(payload, HexCase::upper), "21030700090502");
}

}  // namespace
}  // namespace zorvik::frame
