// The ICMP echo request of the control's echo probe, and the check of an answer.
//
// Request: type 8, code 0, checksum, identifier (low 16 bits of the process ID, in host
// byte order), sequence 0, the 32-bit send tick (host byte order), then the payload:
// size bytes of 0x45. With the usual size of 32 that is 44 bytes. The checksum is the
// Internet checksum of RFC 1071 over the whole packet with its checksum field 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnet {

inline constexpr std::size_t kEchoHeaderSize = 8;
inline constexpr std::size_t kEchoPayloadSize = 32;
inline constexpr std::uint8_t kEchoFill = 0x45;

// RFC 1071: one's complement of the one's complement sum of the 16-bit big-endian
// words (an odd last byte is padded with zero). Returned as the value whose big-endian
// bytes go into the checksum field.
std::uint16_t internet_checksum(std::span<const std::uint8_t> bytes);

// The echo request: 8 header bytes, 4 tick bytes and size bytes of 0x45.
std::vector<std::uint8_t> build_echo_request(std::uint16_t identifier, std::uint32_t tick,
                                             std::size_t size);

// Whether an IPv4 datagram (with its IP header, as a raw ICMP socket receives it) is an
// echo reply carrying identifier: it holds the IP header (4 x the low nibble of its first
// byte) and 8 more bytes, its ICMP type is 0 and its identifier matches.
bool is_echo_reply_for(std::span<const std::uint8_t> datagram, std::uint16_t identifier);

}  // namespace tarnet
