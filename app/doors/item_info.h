// The value holder of a server-tree leaf: its name and its value as last computed.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
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

class LeafTextError : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

struct SplitText {
    std::string_view name;
    std::string_view value;
};

// Name before the first ':' and the value text after it; throws LeafTextError with the
// message `"<text>" is not valid text for a leaf` when there is no ':'.
SplitText SplitLeafText(std::string_view text);

// Maps the value words of the leaves to their numbers ("正常" -> "0", "报警" -> "1",
// "没有监控" -> "2", "成功" -> "0", "失败" -> "1", "锁定" -> "2"); other text is
// returned trimmed.
std::string StatusTextToValue(std::string_view text);

// Type code a value text gets: 3 when its mapped text is a whole number, else 5 when it
// is a floating-point number, else 8.
int ClassifyValue(std::string_view value_text);

class TItemInfo {
  public:
    // Made from a leaf's text; throws LeafTextError for text without ':'.
    explicit TItemInfo(std::string_view text);

    ItemValue Value;
    std::string Name;
    int DataType = kTypeString;
};

}  // namespace porvex
