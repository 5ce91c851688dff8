// Payloads of the reports a controller sends on its own (codes 26, 27, 28 and 30).
//
// A controller serves up to eight readers, numbered by bit value: 1, 2, 4 ... 128.
// Reader masks below hold one bit per reader in that numbering (reader 4 is 0x04).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "frame/packets.h"

namespace ctlsim {

using Bytes = std::vector<std::uint8_t>;

// Door events (26): a 32-bit big-endian field; reader 2^i has its opened bit at 2i and
// its alarm bit at 2i + 1.
std::uint32_t door_event_bits(std::uint8_t opened_readers, std::uint8_t alarm_readers);
Bytes door_events_payload(std::uint32_t bits);

// Alarms cleared (27): one bit per reader in the same 32-bit big-endian field.
Bytes alarms_cleared_payload(std::uint32_t bits);

// Tamper (28): the reader group in the two low bits of the last byte: 1 = readers 1..8,
// 2 = readers 16..128, 3 = all eight.
Bytes tamper_payload(std::uint8_t group_byte);

// One 12-byte card record of a card-records report (30).
struct CardRecord {
    std::uint32_t card = 0;               // shown as 8 hex digits; 0x55555555 means "no card"
    std::uint8_t reader = 1;              // 1, 2, 4 ... 128
    std::uint8_t status = 0;              // 128 or more: access granted, the door opened
    std::array<std::uint8_t, 6> extra{};  // controllers put the event time here
};

inline constexpr std::uint8_t kGranted = 0x80;
inline constexpr std::uint8_t kRefused = 0x00;
inline constexpr std::size_t kCardRecordSize = 12;
inline constexpr std::size_t kMaxCardRecords = 255;  // the count is one byte

// The count byte followed by the records; nothing for more than kMaxCardRecords.
std::optional<Bytes> card_records_payload(std::span<const CardRecord> records);

// Packed BCD year mod 100, month, day, hour, minute, second: what a card record's six
// further bytes hold in the simulator.
std::array<std::uint8_t, 6> bcd_stamp(const zorvik::frame::ControllerTime& t);

// The controller's time as received with the time command (0x11), if every field is
// packed BCD in range.
std::optional<zorvik::frame::ControllerTime> decode_time_payload(
    std::span<const std::uint8_t> payload);

}  // namespace ctlsim
