// Small parsers for the control language and the scenario files: whitespace tokens,
// numbers (decimal, or hexadecimal with 0x), hexadecimal byte strings, durations and
// reader lists. Every parser returns nothing for bad input instead of throwing.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports.h"

namespace ctlsim {

std::vector<std::string_view> split_tokens(std::string_view line);

// Decimal, or hexadecimal after 0x / 0X; at most max.
std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t max);

// An even number of hexadecimal digits (either case); "-" is the empty string.
std::optional<Bytes> parse_hex_bytes(std::string_view text);

// A number of hexadecimal digits (no 0x) that fits 32 bits, e.g. a card number.
std::optional<std::uint32_t> parse_hex_u32(std::string_view text);

// "250ms", "2s", "500us", "1.5s" (a plain number means milliseconds).
std::optional<std::chrono::microseconds> parse_duration(std::string_view text);

// Readers as a mask: "1,4,128", "all" or "none". Every item must be 1, 2, 4 ... 128.
std::optional<std::uint8_t> parse_readers(std::string_view text);

// "on"/"off" (also 1/0, yes/no, true/false).
std::optional<bool> parse_switch(std::string_view text);

// For "key=value" tokens: the value when token starts with key and '='.
std::optional<std::string_view> option_value(std::string_view token, std::string_view key);

}  // namespace ctlsim
