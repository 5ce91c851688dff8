#include "reports.h"

namespace ctlsim {

namespace zf = zorvik::frame;

std::uint32_t door_event_bits(std::uint8_t opened_readers, std::uint8_t alarm_readers) {
    std::uint32_t bits = 0;
    for (unsigned i = 0; i < 8; ++i) {
        if (opened_readers & (1U << i)) {
            bits |= 1U << (2 * i);
        }
        if (alarm_readers & (1U << i)) {
            bits |= 1U << (2 * i + 1);
        }
    }
    return bits;
}

namespace {

Bytes u32_be(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

bool is_bcd(std::uint8_t b) { return (b >> 4) <= 9 && (b & 0x0F) <= 9; }

}  // namespace

Bytes door_events_payload(std::uint32_t bits) { return u32_be(bits); }

Bytes alarms_cleared_payload(std::uint32_t bits) { return u32_be(bits); }

Bytes tamper_payload(std::uint8_t group_byte) { return {0x00, 0x00, 0x00, group_byte}; }

std::optional<Bytes> card_records_payload(std::span<const CardRecord> records) {
    if (records.size() > kMaxCardRecords) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(1 + records.size() * kCardRecordSize);
    out.push_back(static_cast<std::uint8_t>(records.size()));
    for (const auto& r : records) {
        const Bytes card = u32_be(r.card);
        out.insert(out.end(), card.begin(), card.end());
        out.push_back(r.reader);
        out.push_back(r.status);
        out.insert(out.end(), r.extra.begin(), r.extra.end());
    }
    return out;
}

std::array<std::uint8_t, 6> bcd_stamp(const zf::ControllerTime& t) {
    return {zf::to_bcd(t.year % 100), zf::to_bcd(t.month),  zf::to_bcd(t.day),
            zf::to_bcd(t.hour),       zf::to_bcd(t.minute), zf::to_bcd(t.second)};
}

std::optional<zf::ControllerTime> decode_time_payload(std::span<const std::uint8_t> payload) {
    if (payload.size() < 7) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < 7; ++i) {
        if (!is_bcd(payload[i])) {
            return std::nullopt;
        }
    }
    zf::ControllerTime t;
    t.year = 2000 + zf::from_bcd(payload[0]);
    t.month = zf::from_bcd(payload[1]);
    t.day = zf::from_bcd(payload[2]);
    t.weekday = zf::from_bcd(payload[3]);
    t.hour = zf::from_bcd(payload[4]);
    t.minute = zf::from_bcd(payload[5]);
    t.second = zf::from_bcd(payload[6]);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.weekday > 6 || t.hour > 23 ||
        t.minute > 59 || t.second > 59) {
        return std::nullopt;
    }
    return t;
}

}  // namespace ctlsim
