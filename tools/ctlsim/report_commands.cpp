// Report commands: door events, alarms cleared, tamper, card records, raw frames and bytes.
#include <algorithm>
#include <bit>
#include <chrono>

#include "command_support.h"
#include "frame/frame.h"
#include "text.h"

namespace ctlsim {

namespace zf = zorvik::frame;
using namespace commands;

namespace {

zf::ControllerTime utc_now() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto day = floor<days>(now);
    const year_month_day ymd{day};
    const hh_mm_ss hms{floor<seconds>(now - day)};
    zf::ControllerTime t;
    t.year = static_cast<int>(ymd.year());
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.weekday = static_cast<int>(weekday{day}.c_encoding());
    t.hour = static_cast<int>(hms.hours().count());
    t.minute = static_cast<int>(hms.minutes().count());
    t.second = static_cast<int>(hms.seconds().count());
    return t;
}

}  // namespace

std::string Simulator::deliver_report(Selection& sel, std::uint8_t cmd, const Bytes& payload,
                                      std::uint32_t ap, std::uint32_t psw) {
    Bytes frame;
    if (!zf::append_frame(frame, cmd, ap, psw, payload)) {
        return "error payload longer than " + std::to_string(zf::kMaxPayload) + " bytes";
    }
    std::uint64_t sent = 0;
    std::uint64_t dropped = 0;
    std::string reason = sel.none_reason;
    for (auto* c : sel.list) {
        std::string why;
        if (!c->connected()) {
            why = "not-connected";
        } else if (c->model.silent()) {
            why = "silent";
        } else if (!c->model.upload_enabled()) {
            why = "upload-off";
        }
        if (!why.empty()) {
            ++dropped;
            ++c->reports_dropped;
            if (reason.empty()) {
                reason = why;
            }
            continue;
        }
        for (int k = 0; k < std::max(1, c->faults.repeat); ++k) {
            send_frame(*c, frame, Clock::duration::zero());
            ++sent;
            ++c->reports_sent;
        }
    }
    if (!sel.none_reason.empty()) {
        ++dropped;
    }
    std::string out = "ok sent=" + std::to_string(sent) + " dropped=" + std::to_string(dropped);
    if (dropped > 0) {
        out += " reason=" + reason;
    }
    return out;
}

std::string Simulator::cmd_report(const Tokens& t) {
    const std::string_view word = t[0];
    if (t.size() < 3) {
        if (word == "door-events") {
            return usage(
                "door-events <controller> [open=<readers>] [alarm=<readers>] [bits=<hex>]");
        }
        if (word == "alarms-cleared") {
            return usage("alarms-cleared <controller> <readers>|bits=<hex>");
        }
        if (word == "tamper") {
            return usage("tamper <controller> <group 0..3>");
        }
        if (word == "card") {
            return usage("card <controller> <card>:<reader>:<status>[:<extra>] ...");
        }
        if (word == "frame") {
            return usage("frame <controller> <cmd> <hex|-> [ap=<n>] [psw=<n>]");
        }
        return usage("raw <controller> <hex>");
    }
    Selection sel = select(t[1]);
    if (!sel.error.empty()) {
        return "error " + sel.error;
    }
    std::uint32_t ap = 0;
    std::uint32_t psw = 0;
    std::string error;

    if (word == "raw") {
        const auto bytes = t.size() == 3 ? parse_hex_bytes(t[2]) : std::nullopt;
        if (!bytes || bytes->empty()) {
            return usage("raw <controller> <hex>");
        }
        std::uint64_t sent = 0;
        for (auto* c : sel.list) {
            if (c->connected()) {
                send_raw(*c, *bytes);
                ++sent;
            }
        }
        return "ok sent=" + std::to_string(sent) + " dropped=" +
               std::to_string(sel.list.size() - sent + (sel.none_reason.empty() ? 0 : 1));
    }
    if (word == "frame") {
        const auto cmd = parse_number(t[2], 255);
        const auto data = t.size() >= 4 ? parse_hex_bytes(t[3]) : std::nullopt;
        if (!cmd || !data) {
            return usage("frame <controller> <cmd> <hex|-> [ap=<n>] [psw=<n>]");
        }
        const auto o = parse_options(t, 4, {"ap", "psw"});
        if (!o.error.empty() || !frame_ids(o, ap, psw, error)) {
            return "error " + (o.error.empty() ? error : o.error);
        }
        Bytes frame;
        if (!zf::append_frame(frame, static_cast<std::uint8_t>(*cmd), ap, psw, *data)) {
            return "error payload longer than " + std::to_string(zf::kMaxPayload) + " bytes";
        }
        std::uint64_t sent = 0;
        for (auto* c : sel.list) {
            if (c->connected()) {
                send_frame(*c, frame, Clock::duration::zero());
                ++sent;
            }
        }
        return "ok sent=" + std::to_string(sent) + " dropped=" +
               std::to_string(sel.list.size() - sent + (sel.none_reason.empty() ? 0 : 1));
    }

    Bytes payload;
    std::uint8_t cmd = 0;
    std::size_t options_from = 2;
    if (word == "door-events" || word == "alarms-cleared") {
        cmd = word == "door-events" ? zf::kReportDoorEvents : zf::kReportAlarmsCleared;
        std::uint32_t bits = 0;
        if (word == "alarms-cleared" && t[2].find('=') == std::string_view::npos) {
            const auto readers = parse_readers(t[2]);
            if (!readers) {
                return "error readers are 1,2,4,8,16,32,64,128 (comma-separated), all or none";
            }
            bits = *readers;
            options_from = 3;
        }
        const auto o = word == "door-events"
                           ? parse_options(t, options_from, {"open", "alarm", "bits", "ap", "psw"})
                           : parse_options(t, options_from, {"bits", "ap", "psw"});
        if (!o.error.empty() || !frame_ids(o, ap, psw, error)) {
            return "error " + (o.error.empty() ? error : o.error);
        }
        std::uint8_t opened = 0;
        std::uint8_t alarm = 0;
        for (auto [key, target] : {std::pair{"open", &opened}, std::pair{"alarm", &alarm}}) {
            if (auto it = o.values.find(key); it != o.values.end()) {
                const auto readers = parse_readers(it->second);
                if (!readers) {
                    return "error readers are 1,2,4,8,16,32,64,128 (comma-separated), all or none";
                }
                *target = *readers;
            }
        }
        if (word == "door-events") {
            bits = door_event_bits(opened, alarm);
        }
        if (auto it = o.values.find("bits"); it != o.values.end()) {
            const auto v = parse_hex_u32(it->second);
            if (!v) {
                return "error bits= takes up to 8 hexadecimal digits";
            }
            bits |= *v;
        }
        payload = word == "door-events" ? door_events_payload(bits) : alarms_cleared_payload(bits);
    } else if (word == "tamper") {
        cmd = zf::kReportTamper;
        const auto group = parse_number(t[2], 255);
        if (!group) {
            return usage("tamper <controller> <group 0..3> (1: readers 1-8, 2: 16-128, 3: all)");
        }
        const auto o = parse_options(t, 3, {"ap", "psw"});
        if (!o.error.empty() || !frame_ids(o, ap, psw, error)) {
            return "error " + (o.error.empty() ? error : o.error);
        }
        payload = tamper_payload(static_cast<std::uint8_t>(*group));
    } else {  // card
        cmd = zf::kReportCardRecords;
        std::vector<CardRecord> records;
        const auto stamp = bcd_stamp(utc_now());
        std::size_t i = 2;
        for (; i < t.size() && t[i].find('=') == std::string_view::npos; ++i) {
            // CARD:READER:STATUS[:EXTRA]
            std::vector<std::string_view> parts;
            std::string_view rest = t[i];
            for (auto colon = rest.find(':'); colon != std::string_view::npos;
                 colon = rest.find(':')) {
                parts.push_back(rest.substr(0, colon));
                rest.remove_prefix(colon + 1);
            }
            parts.push_back(rest);
            if (parts.size() < 3 || parts.size() > 4) {
                return "error card record '" + std::string(t[i]) +
                       "' is not CARD:READER:STATUS[:EXTRA]";
            }
            CardRecord r;
            r.extra = stamp;
            if (parts[0] == "random") {
                std::uniform_int_distribution<std::uint32_t> card(1, 0x55555554);
                r.card = card(rng_);
            } else if (auto card = parse_hex_u32(parts[0])) {
                r.card = *card;
            } else {
                return "error card number '" + std::string(parts[0]) +
                       "' is not up to 8 hexadecimal digits";
            }
            if (parts[1] == "random") {
                r.reader =
                    static_cast<std::uint8_t>(1U << std::uniform_int_distribution<int>(0, 7)(rng_));
            } else if (auto reader = parse_readers(parts[1]);
                       reader && std::has_single_bit(*reader)) {
                r.reader = *reader;
            } else {
                return "error reader '" + std::string(parts[1]) + "' is not one of 1,2,4 ... 128";
            }
            if (parts[2] == "granted") {
                r.status = kGranted;
            } else if (parts[2] == "refused") {
                r.status = kRefused;
            } else if (parts[2] == "random") {
                r.status =
                    std::uniform_int_distribution<int>(0, 3)(rng_) == 0 ? kRefused : kGranted;
            } else if (auto status = parse_number(parts[2], 255)) {
                r.status = static_cast<std::uint8_t>(*status);
            } else {
                return "error status '" + std::string(parts[2]) +
                       "' is not granted, refused, random or 0..255";
            }
            if (parts.size() == 4) {
                const auto extra = parse_hex_bytes(parts[3]);
                if (!extra || extra->size() != r.extra.size()) {
                    return "error extra '" + std::string(parts[3]) +
                           "' is not 12 hexadecimal digits";
                }
                std::copy(extra->begin(), extra->end(), r.extra.begin());
            }
            records.push_back(r);
        }
        if (records.empty()) {
            return usage("card <controller> <card>:<reader>:<status>[:<extra>] ...");
        }
        const auto o = parse_options(t, i, {"ap", "psw"});
        if (!o.error.empty() || !frame_ids(o, ap, psw, error)) {
            return "error " + (o.error.empty() ? error : o.error);
        }
        auto built = card_records_payload(records);
        if (!built) {
            return "error at most " + std::to_string(kMaxCardRecords) + " records per report";
        }
        payload = std::move(*built);
    }
    return deliver_report(sel, cmd, payload, ap, psw);
}

}  // namespace ctlsim
