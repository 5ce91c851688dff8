#include "doors/item_info.h"

#include <gtest/gtest.h>

namespace porvex {
namespace {

TEST(TItemInfo, TheTypeIsTheValuesType) {
    const TItemInfo door_open("门开关状态", std::int32_t{-1});
    EXPECT_EQ(door_open.Name, "门开关状态");
    EXPECT_EQ(door_open.DataType, kTypeInt32);
    EXPECT_EQ(TItemInfo("最后一个刷卡人卡片号码", std::string("0")).DataType, kTypeString);
    EXPECT_EQ(TItemInfo("最后刷卡时间", 0.0).DataType, kTypeDouble);
    EXPECT_EQ(TItemInfo("门开关状态", std::uint8_t{1}).DataType, kTypeUInt8);
}

TEST(StoredTextValue, AddressTextsAreNumbersWhenTheyReadAsNumbers) {
    EXPECT_EQ(stored_text_value("5768"), ItemValue(std::int32_t{5768}));
    EXPECT_EQ(stored_text_value("192.168.1.10"), ItemValue(std::string("192.168.1.10")));
    EXPECT_EQ(stored_text_value("b:c"), ItemValue(std::string("b:c")));
    EXPECT_EQ(stored_text_value(""), ItemValue(std::string()));
}

TEST(StoredTextValue, FloatsAndUntrimmedStrings) {
    EXPECT_EQ(stored_text_value(" 1.5"), ItemValue(1.5));
    EXPECT_EQ(stored_text_value(" abc "), ItemValue(std::string(" abc ")));
}

TEST(StoredTextValue, TheValueWordsMapToTheirNumbers) {
    EXPECT_EQ(stored_text_value("正常"), ItemValue(std::int32_t{0}));
    EXPECT_EQ(stored_text_value("报警"), ItemValue(std::int32_t{1}));
    EXPECT_EQ(stored_text_value("没有监控"), ItemValue(std::int32_t{2}));
    EXPECT_EQ(stored_text_value("锁定"), ItemValue(std::int32_t{2}));
    EXPECT_EQ(stored_text_value("失败"), ItemValue(std::int32_t{1}));
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
