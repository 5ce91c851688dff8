// A controller frame as the control fills it from SendData's arguments.
//
//   7E | Cmd | ApCode/256, ApCode%256 | Psw/65536, Psw/256, Psw%256 | n/256, n%256 |
//   n payload bytes | Crc high, Crc low              with n = DataLen / 2
//
// Every field byte is the low byte of the C++ quotient or remainder (division truncates
// toward zero), so ApCode 0..65535 and Psw 0..16777215 give plain big-endian fields and
// other values give what the controllers have always received from this control.
// Payload byte i is value(Data[2i]) * 16 + value(Data[2i+1]) with the control's
// hexadecimal rule (0 for any character that is not a hexadecimal digit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnet {

// The send buffer holds one frame of at most 4096 bytes: 4085 payload bytes.
inline constexpr std::size_t kSendBufferSize = 4096;
inline constexpr std::int32_t kMaxDataLen = 8171;  // (4096 - 11) * 2 + 1

enum class FrameArguments {
    ok,
    bad_length,  // DataLen negative or above kMaxDataLen
    data_short,  // Data holds fewer characters than DataLen
};

FrameArguments check_frame_arguments(std::string_view data, std::int32_t data_len);

// Builds the frame; the arguments must have passed check_frame_arguments.
std::vector<std::uint8_t> build_control_frame(std::int32_t cmd, std::int32_t ap_code,
                                              std::int32_t psw, std::string_view data,
                                              std::int32_t data_len);

}  // namespace tarnet
