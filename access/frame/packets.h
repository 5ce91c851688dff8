// Short raw packets outside the frame format, and the time command's payload.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zorvik::frame {

// Upload switch sent to a controller: it sends its reports (0x12..0x1F) only while
// upload is enabled. No start byte, no Crc.
inline constexpr std::array<std::uint8_t, 5> kUploadEnable{0xAA, 0xAA, 0x03, 0x01, 0xBB};
inline constexpr std::array<std::uint8_t, 5> kUploadDisable{0xAA, 0xAA, 0x03, 0x02, 0xBB};

inline constexpr std::span<const std::uint8_t> upload_switch(bool enable) {
    return enable ? std::span<const std::uint8_t>(kUploadEnable)
                  : std::span<const std::uint8_t>(kUploadDisable);
}

// The controller's acknowledgement of the upload switch.
inline constexpr std::array<std::uint8_t, 4> kUploadAck{0xAA, 0xAA, 0x00, 0xBB};

// Packed BCD of 0..99: 59 -> 0x59.
inline constexpr std::uint8_t to_bcd(int value) {
    return static_cast<std::uint8_t>(((value / 10) % 10) * 16 + value % 10);
}

inline constexpr int from_bcd(std::uint8_t bcd) { return (bcd >> 4) * 10 + (bcd & 0x0F); }

// A calendar time as the controllers keep it.
struct ControllerTime {
    int year = 2000;  // full year; the controller stores year mod 100
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int weekday = 0;  // 0 = Sunday .. 6 = Saturday
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Payload of the time command (0x11): seven packed-BCD bytes.
inline constexpr std::array<std::uint8_t, 7> time_payload(const ControllerTime& t) {
    return {to_bcd(t.year % 100), to_bcd(t.month),  to_bcd(t.day),   to_bcd(t.weekday),
            to_bcd(t.hour),       to_bcd(t.minute), to_bcd(t.second)};
}

}  // namespace zorvik::frame
