#include "outgoing_frame.h"

#include "frame/crc16.h"
#include "frame/hex.h"

namespace tarnet {

namespace {

std::uint8_t low_byte(std::int32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

}  // namespace

FrameArguments check_frame_arguments(std::string_view data, std::int32_t data_len) {
    if (data_len < 0 || data_len > kMaxDataLen) {
        return FrameArguments::bad_length;
    }
    if (data.size() < static_cast<std::size_t>(data_len)) {
        return FrameArguments::data_short;
    }
    return FrameArguments::ok;
}

std::vector<std::uint8_t> build_control_frame(std::int32_t cmd, std::int32_t ap_code,
                                              std::int32_t psw, std::string_view data,
                                              std::int32_t data_len) {
    const std::int32_t n = data_len / 2;
    std::vector<std::uint8_t> frame;
    frame.reserve(static_cast<std::size_t>(n) + 11);
    frame.push_back(0x7E);
    frame.push_back(low_byte(cmd));
    frame.push_back(low_byte(ap_code / 256));
    frame.push_back(low_byte(ap_code % 256));
    frame.push_back(low_byte(psw / 65536));
    frame.push_back(low_byte(psw / 256));
    frame.push_back(low_byte(psw % 256));
    frame.push_back(low_byte(n / 256));
    frame.push_back(low_byte(n % 256));
    for (std::int32_t i = 0; i < n; ++i) {
        const int high = zorvik::frame::control_hex_value(data[2 * i]);
        const int low = zorvik::frame::control_hex_value(data[2 * i + 1]);
        frame.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    const std::size_t covered = static_cast<std::size_t>(n + 8) % 256;
    const std::uint16_t crc =
        zorvik::frame::crc16(std::span<const std::uint8_t>(frame.data() + 1, covered));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return frame;
}

}  // namespace tarnet
