// CRC-16/XMODEM as the controllers compute it: polynomial 0x1021, initial value 0,
// no reflection, no final XOR, most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zorvik::frame {

// Continues a CRC over more bytes; start with crc = 0.
std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> bytes);

inline std::uint16_t crc16(std::span<const std::uint8_t> bytes) { return crc16_update(0, bytes); }

}  // namespace zorvik::frame
