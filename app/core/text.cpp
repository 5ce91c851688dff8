#include "core/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace porvex {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

int digit_value(char c, int radix) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return v < radix ? v : -1;
}

}  // namespace

std::optional<std::int32_t> parse_int(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int radix = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        radix = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        radix = 16;
        i += 2;
    }
    if (i >= text.size()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = digit_value(text[i], radix);
        if (d < 0) {
            return std::nullopt;
        }
        value = value * radix + d;
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    if (radix == 16) {
        const auto bits = static_cast<std::uint32_t>(value);
        const auto signed_bits = static_cast<std::int32_t>(bits);
        return negative ? static_cast<std::int32_t>(0u - bits) : signed_bits;
    }
    if (negative) {
        if (value > 0x80000000ull) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(value));
    }
    if (value > 0x7FFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<double> parse_float(std::string_view text) {
    text = trim_blanks(text);
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        std::size_t exponent_digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
            ++exponent_digits;
        }
        if (exponent_digits == 0) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    // from_chars takes no leading '+'.
    std::string_view number = text;
    if (!number.empty() && number.front() == '+') {
        number.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string_view field(std::string_view text, std::size_t first, std::size_t last) {
    if (first < 1 || first > text.size() || last < first) {
        return {};
    }
    const std::size_t count = std::min(last, text.size()) - first + 1;
    return text.substr(first - 1, count);
}

std::uint32_t hex_field(std::string_view text, std::size_t first, std::size_t last) {
    const std::string_view digits = field(text, first, last);
    if (digits.empty() || digits.size() > 8) {
        return 0;
    }
    std::uint32_t value = 0;
    for (char c : digits) {
        const int d = digit_value(c, 16);
        if (d < 0) {
            return 0;
        }
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
}

std::string ascii_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string_view trim_blanks(std::string_view text) {
    auto is_space = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && is_space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::size_t gbk_length(std::string_view utf8) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            length += 1;
            i += 1;
            continue;
        }
        length += 2;
        const std::size_t step = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        i += step;
    }
    return length;
}

}  // namespace porvex
