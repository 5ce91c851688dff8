#include "doors/item_info.h"

#include <gtest/gtest.h>

namespace porvex {
namespace {

TEST(TItemInfo, WordLeavesBecomeIntegers) {
    const TItemInfo door_open("门开关状态:没有监控");
    EXPECT_EQ(door_open.Name, "门开关状态");
    EXPECT_EQ(door_open.DataType, kTypeInt32);
    EXPECT_EQ(door_open.Value, ItemValue(std::int32_t{2}));

    EXPECT_EQ(TItemInfo("门禁状态:正常").Value, ItemValue(std::int32_t{0}));
    EXPECT_EQ(TItemInfo("防拆报警:报警").Value, ItemValue(std::int32_t{1}));
    EXPECT_EQ(TItemInfo("遥控开门:锁定").Value, ItemValue(std::int32_t{2}));
    EXPECT_EQ(TItemInfo("遥控开门:失败").Value, ItemValue(std::int32_t{1}));
}

TEST(TItemInfo, EmptyCardLeafIsAnEmptyString) {
    const TItemInfo card("最后一个刷卡人卡片号码:");
    EXPECT_EQ(card.Name, "最后一个刷卡人卡片号码");
    EXPECT_EQ(card.DataType, kTypeString);
    EXPECT_EQ(card.Value, ItemValue(std::string()));
}

TEST(TItemInfo, AddressLeaves) {
    const TItemInfo port("端口号:5768");
    EXPECT_EQ(port.DataType, kTypeInt32);
    EXPECT_EQ(port.Value, ItemValue(std::int32_t{5768}));
    const TItemInfo ip("IP:192.168.1.10");
    EXPECT_EQ(ip.Name, "IP");
    EXPECT_EQ(ip.DataType, kTypeString);
    EXPECT_EQ(ip.Value, ItemValue(std::string("192.168.1.10")));
}

TEST(TItemInfo, OnlyTheFirstColonSplits) {
    const TItemInfo t("a:b:c");
    EXPECT_EQ(t.Name, "a");
    EXPECT_EQ(t.Value, ItemValue(std::string("b:c")));
}

TEST(TItemInfo, FloatsAndUntrimmedStrings) {
    const TItemInfo f("x: 1.5");
    EXPECT_EQ(f.DataType, kTypeDouble);
    EXPECT_EQ(f.Value, ItemValue(1.5));
    const TItemInfo s("x: abc ");
    EXPECT_EQ(s.DataType, kTypeString);
    EXPECT_EQ(s.Value, ItemValue(std::string(" abc ")));
}

TEST(TItemInfo, TextWithoutColonFailsWithItsMessage) {
    try {
        TItemInfo bad("门禁状态");
        FAIL() << "no exception";
    } catch (const LeafTextError& e) {
        EXPECT_STREQ(e.what(), "\"门禁状态\" is not valid text for a leaf");
    }
}

TEST(StatusTextToValue, MapsTrimmedWordsOnly) {
    EXPECT_EQ(StatusTextToValue(" 正常 "), "0");
    EXPECT_EQ(StatusTextToValue("没有监控"), "2");
    EXPECT_EQ(StatusTextToValue(" 0012AB34"), "0012AB34");
    EXPECT_EQ(ClassifyValue("55555555"), kTypeInt32);
    EXPECT_EQ(ClassifyValue("0012AB34"), kTypeString);
}

TEST(EqualsOne, ComparesLikeAVariant) {
    EXPECT_TRUE(equals_one(std::int32_t{1}));
    EXPECT_TRUE(equals_one(1.0));
    EXPECT_TRUE(equals_one(std::string("1")));
    EXPECT_TRUE(equals_one(std::uint8_t{1}));
    EXPECT_FALSE(equals_one(std::int32_t{2}));
    EXPECT_FALSE(equals_one(std::string("yes")));
}

}  // namespace
}  // namespace porvex
