// The controller frame: building, validating and classifying.
//
//   offset 0      1 byte   0x7E
//          1      1 byte   Cmd
//          2      2 bytes  ApCode (big-endian), echoed by the controller in its reply
//          4      3 bytes  Psw (big-endian, 24 bits)
//          7      2 bytes  Len (big-endian): number of payload bytes
//          9      Len      payload
//          9+Len  2 bytes  Crc (big-endian)
//
// The Crc covers only the first (Len + 8) mod 256 bytes of the body (Cmd through the
// last payload byte). That looks odd, but every controller and every peer in the field
// computes it this way, so frames must keep it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zorvik::frame {

inline constexpr std::uint8_t kFrameStart = 0x7E;
inline constexpr std::size_t kHeaderSize = 9;  // start byte up to and including Len
inline constexpr std::size_t kOverhead = 11;   // header and Crc
inline constexpr std::size_t kMaxFrameSize = 16384;
inline constexpr std::size_t kMaxPayload = kMaxFrameSize - kOverhead;  // 16373

// Command codes the system uses. 0x12..0x1F are unsolicited controller reports;
// any other code coming from a controller is a reply, matched to its request by ApCode.
inline constexpr std::uint8_t kCmdInit = 0x10;
inline constexpr std::uint8_t kCmdSetTime = 0x11;
inline constexpr std::uint8_t kCmdRemoteOpen = 0x20;
inline constexpr std::uint8_t kCmdStatusQuery = 0x21;
inline constexpr std::uint8_t kFirstReport = 0x12;
inline constexpr std::uint8_t kLastReport = 0x1F;

// Report codes the door server decodes (decimal as the controllers document them).
inline constexpr std::uint8_t kReportDoorEvents = 26;
inline constexpr std::uint8_t kReportAlarmsCleared = 27;
inline constexpr std::uint8_t kReportTamper = 28;
inline constexpr std::uint8_t kReportCardRecords = 30;

inline constexpr bool is_report(std::uint8_t cmd) {
    return cmd >= kFirstReport && cmd <= kLastReport;
}

// Number of body bytes the Crc covers for a payload of len bytes.
inline constexpr std::size_t crc_coverage(std::size_t len) { return (len + 8) % 256; }

// A frame's fields; data points into the bytes it was parsed from.
struct FrameView {
    std::uint8_t cmd = 0;
    std::uint16_t ap_code = 0;
    std::uint32_t psw = 0;  // 24 bits
    std::span<const std::uint8_t> data;
};

// Appends a frame to out. The caller keeps data within kMaxPayload; longer data is
// refused with false and nothing is appended. ApCode and Psw are cut to 16 and 24 bits.
bool append_frame(std::vector<std::uint8_t>& out, std::uint8_t cmd, std::uint32_t ap_code,
                  std::uint32_t psw, std::span<const std::uint8_t> data);

// Builds a frame; throws std::length_error for data longer than kMaxPayload.
std::vector<std::uint8_t> build_frame(std::uint8_t cmd, std::uint32_t ap_code, std::uint32_t psw,
                                      std::span<const std::uint8_t> data);

enum class Invalid {
    too_short,        // fewer than 11 bytes
    length_mismatch,  // size is not Len + 11
    too_long,         // more than 16384 bytes
    bad_start,        // first byte is not 0x7E
    bad_crc,
};

const char* to_string(Invalid why);

// Validates exactly one frame of bytes.size() bytes. On failure returns nothing and,
// when why is given, stores the first rule the bytes broke.
std::optional<FrameView> parse_frame(std::span<const std::uint8_t> bytes, Invalid* why = nullptr);

// Len of a frame whose first kHeaderSize bytes are given (no other check).
inline constexpr std::size_t payload_length(std::span<const std::uint8_t> header) {
    return (static_cast<std::size_t>(header[7]) << 8) | header[8];
}

// True when a start byte at or after `from` in `bytes` begins a complete valid frame
// lying wholly within `bytes`.
bool holds_complete_frame(std::span<const std::uint8_t> bytes, std::size_t from = 0);

}  // namespace zorvik::frame
