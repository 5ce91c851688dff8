// The value holder of a server-tree leaf: its name and its value as last computed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace porvex {

// A leaf value: a 32-bit integer, a double, a string, or a one-byte unsigned integer
// (the type a door-open-state read takes in one case).
using ItemValue = std::variant<std::int32_t, double, std::string, std::uint8_t>;

// Variant type codes as OPC clients see them.
inline constexpr int kTypeInt32 = 3;   // VT_I4
inline constexpr int kTypeDouble = 5;  // VT_R8
inline constexpr int kTypeString = 8;  // VT_BSTR
inline constexpr int kTypeUInt8 = 17;  // VT_UI1

int type_code(const ItemValue& value);

// True when the value equals 1 the way a variant comparison sees it (1, 1.0, "1").
bool equals_one(const ItemValue& value);

// Maps the value words ("正常" -> "0", "报警" -> "1", "没有监控" -> "2", "成功" -> "0",
// "失败" -> "1", "锁定" -> "2"); other text is returned trimmed.
std::string StatusTextToValue(std::string_view text);

// Type code a stored text gets: 3 when its mapped text is a whole number, else 5 when it
// is a floating-point number, else 8.
int ClassifyValue(std::string_view value_text);

// The value of a text the database gave (the address leaves' "IP" and "端口号"): a
// whole number or a floating-point number when it reads as one (after the mapping
// above), otherwise the text as it is.
ItemValue stored_text_value(std::string_view text);

struct TItemInfo {
    TItemInfo(std::string name, ItemValue value)
        : Value(std::move(value)), Name(std::move(name)), DataType(type_code(Value)) {}

    ItemValue Value;
    std::string Name;
    int DataType = kTypeString;  // of the value the holder was made with
};

}  // namespace porvex
