#include "doors/item_info.h"

#include "core/text.h"
#include "doors/point_kind.h"

namespace porvex {

int type_code(const ItemValue& value) {
    switch (value.index()) {
        case 0:
            return kTypeInt32;
        case 1:
            return kTypeDouble;
        case 2:
            return kTypeString;
        default:
            return kTypeUInt8;
    }
}

bool equals_one(const ItemValue& value) {
    if (const auto* i = std::get_if<std::int32_t>(&value)) {
        return *i == 1;
    }
    if (const auto* d = std::get_if<double>(&value)) {
        return *d == 1.0;
    }
    if (const auto* b = std::get_if<std::uint8_t>(&value)) {
        return *b == 1;
    }
    const auto& text = std::get<std::string>(value);
    const auto number = parse_float(text);
    return number && *number == 1.0;
}

std::string StatusTextToValue(std::string_view text) {
    const std::string_view trimmed = trim_blanks(text);
    if (trimmed == words::kNormal || trimmed == words::kSuccess) {
        return "0";
    }
    if (trimmed == words::kAlarm || trimmed == words::kFailure) {
        return "1";
    }
    if (trimmed == words::kNotMonitored || trimmed == words::kLocked) {
        return "2";
    }
    return std::string(trimmed);
}

int ClassifyValue(std::string_view value_text) {
    const std::string mapped = StatusTextToValue(value_text);
    if (parse_int(mapped)) {
        return kTypeInt32;
    }
    if (parse_float(value_text)) {
        return kTypeDouble;
    }
    return kTypeString;
}

ItemValue stored_text_value(std::string_view text) {
    const std::string mapped = StatusTextToValue(text);
    switch (ClassifyValue(text)) {
        case kTypeInt32:
            return parse_int(mapped).value_or(0);
        case kTypeDouble:
            return parse_float(mapped).value_or(0.0);
        default:
            return std::string(text);
    }
}

}  // namespace porvex
