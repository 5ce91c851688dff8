#include "echo_packet.h"

#include <cstring>

namespace tarnet {

std::uint16_t internet_checksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += static_cast<std::uint32_t>((bytes[i] << 8) | bytes[i + 1]);
    }
    if (i < bytes.size()) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    }
    while ((sum >> 16) != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::vector<std::uint8_t> build_echo_request(std::uint16_t identifier, std::uint32_t tick,
                                             std::size_t size) {
    std::vector<std::uint8_t> packet(kEchoHeaderSize + sizeof tick + size, kEchoFill);
    packet[0] = 8;  // echo request
    packet[1] = 0;
    packet[2] = 0;
    packet[3] = 0;
    std::memcpy(&packet[4], &identifier, sizeof identifier);  // host byte order
    packet[6] = 0;                                            // sequence 0
    packet[7] = 0;
    std::memcpy(&packet[8], &tick, sizeof tick);  // host byte order
    const std::uint16_t sum = internet_checksum(packet);
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum & 0xFF);
    return packet;
}

bool is_echo_reply_for(std::span<const std::uint8_t> datagram, std::uint16_t identifier) {
    if (datagram.empty()) {
        return false;
    }
    const std::size_t ip_header = 4u * (datagram[0] & 0x0F);
    if (datagram.size() < ip_header + kEchoHeaderSize) {
        return false;
    }
    const std::uint8_t* icmp = datagram.data() + ip_header;
    std::uint16_t replied = 0;
    std::memcpy(&replied, icmp + 4, sizeof replied);
    return icmp[0] == 0 && replied == identifier;
}

}  // namespace tarnet
