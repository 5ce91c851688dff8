#include "frame.h"

#include <stdexcept>

#include "crc16.h"

namespace zorvik::frame {

bool append_frame(std::vector<std::uint8_t>& out, std::uint8_t cmd, std::uint32_t ap_code,
                  std::uint32_t psw, std::span<const std::uint8_t> data) {
    if (data.size() > kMaxPayload) {
        return false;
    }
    const std::size_t start = out.size();
    const std::size_t n = data.size();
    out.reserve(start + n + kOverhead);
    out.push_back(kFrameStart);
    out.push_back(cmd);
    out.push_back(static_cast<std::uint8_t>(ap_code >> 8));
    out.push_back(static_cast<std::uint8_t>(ap_code));
    out.push_back(static_cast<std::uint8_t>(psw >> 16));
    out.push_back(static_cast<std::uint8_t>(psw >> 8));
    out.push_back(static_cast<std::uint8_t>(psw));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), data.begin(), data.end());
    const std::span<const std::uint8_t> body(out.data() + start + 1, n + 8);
    const std::uint16_t crc = crc16(body.first(crc_coverage(n)));
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    out.push_back(static_cast<std::uint8_t>(crc));
    return true;
}

std::vector<std::uint8_t> build_frame(std::uint8_t cmd, std::uint32_t ap_code, std::uint32_t psw,
                                      std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out;
    if (!append_frame(out, cmd, ap_code, psw, data)) {
        throw std::length_error("controller frame payload longer than 16373 bytes");
    }
    return out;
}

const char* to_string(Invalid why) {
    switch (why) {
        case Invalid::too_short:
            return "shorter than 11 bytes";
        case Invalid::length_mismatch:
            return "size does not match Len + 11";
        case Invalid::too_long:
            return "longer than 16384 bytes";
        case Invalid::bad_start:
            return "first byte is not 0x7E";
        case Invalid::bad_crc:
            return "Crc mismatch";
    }
    return "invalid";
}

std::optional<FrameView> parse_frame(std::span<const std::uint8_t> bytes, Invalid* why) {
    auto fail = [why](Invalid reason) -> std::optional<FrameView> {
        if (why != nullptr) {
            *why = reason;
        }
        return std::nullopt;
    };
    const std::size_t size = bytes.size();
    if (size < kOverhead) {
        return fail(Invalid::too_short);
    }
    if (size > kMaxFrameSize) {
        return fail(Invalid::too_long);
    }
    const std::size_t len = payload_length(bytes);
    if (size != len + kOverhead) {
        return fail(Invalid::length_mismatch);
    }
    if (bytes[0] != kFrameStart) {
        return fail(Invalid::bad_start);
    }
    const std::uint16_t stored =
        static_cast<std::uint16_t>((bytes[size - 2] << 8) | bytes[size - 1]);
    if (crc16(bytes.subspan(1, crc_coverage(len))) != stored) {
        return fail(Invalid::bad_crc);
    }
    FrameView view;
    view.cmd = bytes[1];
    view.ap_code = static_cast<std::uint16_t>((bytes[2] << 8) | bytes[3]);
    view.psw = (static_cast<std::uint32_t>(bytes[4]) << 16) |
               (static_cast<std::uint32_t>(bytes[5]) << 8) | bytes[6];
    view.data = bytes.subspan(kHeaderSize, len);
    return view;
}

bool holds_complete_frame(std::span<const std::uint8_t> bytes, std::size_t from) {
    for (std::size_t at = from; at + kOverhead <= bytes.size(); ++at) {
        if (bytes[at] != kFrameStart) {
            continue;
        }
        const auto tail = bytes.subspan(at);
        const std::size_t len = payload_length(tail);
        if (len <= kMaxPayload && len + kOverhead <= tail.size() &&
            parse_frame(tail.first(len + kOverhead))) {
            return true;
        }
    }
    return false;
}

}  // namespace zorvik::frame
