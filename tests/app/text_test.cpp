#include "core/text.h"

#include <gtest/gtest.h>

#include "core/utf.h"
#include "core/wall_time.h"

namespace porvex {
namespace {

TEST(WallTime, OleDatesReadAsLocalDateAndTime) {
    EXPECT_EQ(ole_date_text(36526.0), "2000-01-01 00:00:00");
    EXPECT_EQ(ole_date_text(36526.5 + 1.0 / 86400.0 * 61), "2000-01-01 12:01:01");
    EXPECT_EQ(ole_date_text(25569.0 + 59.0), "1970-03-01 00:00:00");
    const WallTime now = local_now();
    EXPECT_GT(now.ole_date, 44197.0);  // after 2021-01-01
    EXPECT_EQ(now.text, ole_date_text(now.ole_date));
}

TEST(ParseInt, AcceptsBlanksSignAndHexPrefixes) {
    EXPECT_EQ(parse_int("  42"), 42);
    EXPECT_EQ(parse_int("-17"), -17);
    EXPECT_EQ(parse_int("+5"), 5);
    EXPECT_EQ(parse_int("$1F"), 31);
    EXPECT_EQ(parse_int("0x10"), 16);
    EXPECT_EQ(parse_int("x10"), 16);
    EXPECT_EQ(parse_int("-$10"), -16);
    EXPECT_EQ(parse_int("$FFFFFFFF"), -1);
    EXPECT_EQ(parse_int("-2147483648"), INT32_MIN);
}

TEST(ParseInt, RejectsEverythingElse) {
    EXPECT_FALSE(parse_int(""));
    EXPECT_FALSE(parse_int("   "));
    EXPECT_FALSE(parse_int("12 "));
    EXPECT_FALSE(parse_int("1.0"));
    EXPECT_FALSE(parse_int("$"));
    EXPECT_FALSE(parse_int("2147483648"));
    EXPECT_FALSE(parse_int("$100000000"));
    EXPECT_FALSE(parse_int("正常"));
}

TEST(ParseFloat, DecimalTextOnly) {
    EXPECT_EQ(parse_float(" 1.5 "), 1.5);
    EXPECT_EQ(parse_float("-2e3"), -2000.0);
    EXPECT_EQ(parse_float(".5"), 0.5);
    EXPECT_EQ(parse_float("+7"), 7.0);
    EXPECT_FALSE(parse_float(""));
    EXPECT_FALSE(parse_float("inf"));
    EXPECT_FALSE(parse_float("nan"));
    EXPECT_FALSE(parse_float("1e"));
    EXPECT_FALSE(parse_float("0x10"));
    EXPECT_FALSE(parse_float("12abc"));
}

TEST(HexField, ReadsPositionsCountedFromOneAndBrokenFieldsAsZero) {
    EXPECT_EQ(hex_field("00000003", 1, 8), 3u);
    EXPECT_EQ(hex_field("0012ab34", 1, 8), 0x0012AB34u);
    EXPECT_EQ(hex_field("FFFFFFFF", 1, 8), 0xFFFFFFFFu);
    EXPECT_EQ(hex_field("00000002", 7, 8), 2u);
    EXPECT_EQ(hex_field("0G000001", 1, 8), 0u);  // not hexadecimal: reads as 0
    EXPECT_EQ(hex_field("03", 1, 8), 3u);        // short payload: what is there
    EXPECT_EQ(hex_field("03", 7, 8), 0u);        // nothing there
    EXPECT_EQ(hex_field("-1", 1, 2), 0u);
}

TEST(TextLengths, GbkCountsTwoBytesPerChineseCharacter) {
    EXPECT_EQ(gbk_length("0012AB34"), 8u);
    EXPECT_EQ(gbk_length("没有监控"), 8u);
    EXPECT_EQ(gbk_length("没有"), 4u);
    EXPECT_EQ(gbk_length(""), 0u);
}

TEST(Utf, RoundTripsChineseAndSurrogatePairs) {
    const std::string text = "A座3楼东门 😀";
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(text)), text);
    EXPECT_EQ(utf8_to_utf16("门").size(), 1u);
    EXPECT_EQ(utf8_to_utf16("😀").size(), 2u);
    EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(utf8_to_utf16("\xC3"), std::u16string(1, char16_t(0xFFFD)));
}

}  // namespace
}  // namespace porvex
