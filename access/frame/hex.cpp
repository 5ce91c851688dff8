#include "hex.h"

namespace zorvik::frame {

void append_hex(std::string& out, std::span<const std::uint8_t> bytes, HexCase letter_case) {
    const char* digits = letter_case == HexCase::upper ? "0123456789ABCDEF" : "0123456789abcdef";
    out.reserve(out.size() + bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
}

std::string to_hex(std::span<const std::uint8_t> bytes, HexCase letter_case) {
    std::string out;
    append_hex(out, bytes, letter_case);
    return out;
}

namespace {

int library_value(std::string_view text, std::size_t i) {
    const int c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    return (c >= '0' && c <= '9') ? c - 0x30 : c - 0x37;
}

}  // namespace

std::vector<std::uint8_t> decode_hex_as_library(std::string_view text, std::size_t length) {
    const std::size_t even = length + (length & 1U);
    std::vector<std::uint8_t> out;
    out.reserve(even / 2);
    for (std::size_t i = 0; i < even; i += 2) {
        const int value = library_value(text, i) * 16 + library_value(text, i + 1);
        out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
    return out;
}

int control_hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return 0;
}

std::vector<std::uint8_t> decode_hex_as_control(std::string_view text, std::size_t length) {
    auto at = [text](std::size_t i) { return i < text.size() ? control_hex_value(text[i]) : 0; };
    std::vector<std::uint8_t> out;
    out.reserve(length / 2);
    for (std::size_t k = 0; k < length / 2; ++k) {
        out.push_back(static_cast<std::uint8_t>(at(2 * k) * 16 + at(2 * k + 1)));
    }
    return out;
}

}  // namespace zorvik::frame
