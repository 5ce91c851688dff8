// Hexadecimal text as payloads cross the library's interface and the control's.
//
// Two input rules are in use and peers depend on both:
//  - the library's: a character's value is c - 0x30 for '0'..'9' and c - 0x37 for any
//    other character ('A'..'F' give 10..15; lower-case is not hexadecimal there), and a
//    byte is (first * 16 + second) mod 256;
//  - the control's: '0'..'9', 'A'..'F' and 'a'..'f' are hexadecimal, anything else is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorvik::frame {

enum class HexCase { upper, lower };

// Two digits per byte: reports reach hosts in upper case, replies in lower case.
std::string to_hex(std::span<const std::uint8_t> bytes, HexCase letter_case);
void append_hex(std::string& out, std::span<const std::uint8_t> bytes, HexCase letter_case);

// The library's rule for length characters of text. An odd length takes one more
// character (in the exported interface normally the caller's terminating NUL);
// characters beyond text.size() count as NUL.
std::vector<std::uint8_t> decode_hex_as_library(std::string_view text, std::size_t length);

// The control's rule: length / 2 bytes (an odd last character is ignored); characters
// beyond text.size() count as non-hexadecimal.
int control_hex_value(char c);
std::vector<std::uint8_t> decode_hex_as_control(std::string_view text, std::size_t length);

}  // namespace zorvik::frame
