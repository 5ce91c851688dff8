#include "crc16.h"

#include <array>

namespace zorvik::frame {
namespace {

constexpr std::array<std::uint16_t, 256> make_table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr auto kTable = make_table();
static_assert(kTable[1] == 0x1021 && kTable[255] == 0x1EF0);

}  // namespace

std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>(kTable[((crc >> 8) ^ b) & 0xFF] ^ (crc << 8));
    }
    return crc;
}

}  // namespace zorvik::frame
