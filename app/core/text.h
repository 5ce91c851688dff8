// Text rules the door data follows: how numbers are read from leaf texts, settings and
// controller payloads, and how door keys compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace porvex {

// Whole-number text as operators and databases write it: leading blanks, an optional
// sign, an optional hexadecimal prefix ('$', 'x' or "0x"), then digits and nothing
// else. Hexadecimal values up to FFFFFFFF wrap into the 32-bit range; anything else
// outside it, empty text and trailing characters do not convert.
std::optional<std::int32_t> parse_int(std::string_view text);

// Decimal floating-point text: blanks around it allowed, an optional sign, digits with
// an optional '.' fraction and an optional exponent. No infinities, no NaN, no hex.
std::optional<double> parse_float(std::string_view text);

// The value of characters first..last (counted from 1, clipped to the text) read as
// hexadecimal digits of either case; 0 when they are empty or not all hexadecimal.
// This is how controller payload fields are read: a broken field reads as 0.
std::uint32_t hex_field(std::string_view text, std::size_t first, std::size_t last);

// Characters first..last counted from 1, clipped to the text.
std::string_view field(std::string_view text, std::size_t first, std::size_t last);

std::string ascii_upper(std::string_view text);
std::string ascii_lower(std::string_view text);

// Removes blanks (and control characters) at both ends.
std::string_view trim_blanks(std::string_view text);

// Length of UTF-8 text in the program's 8-bit Chinese code page (GBK): one byte per
// ASCII character, two for every other character.
std::size_t gbk_length(std::string_view utf8);

}  // namespace porvex
