// The control language carried out against the simulator's controllers.
#include "commands.h"

#include <algorithm>
#include <chrono>

#include "frame/frame.h"
#include "frame/hex.h"
#include "simulator.h"
#include "text.h"

namespace ctlsim {

namespace zf = zorvik::frame;

bool is_command_name(std::string_view word) {
    return std::find(std::begin(kCommandNames), std::end(kCommandNames), word) !=
           std::end(kCommandNames);
}

struct Simulator::Selection {
    std::vector<Controller*> list;
    std::string error;        // the token named no controller
    std::string none_reason;  // random-live found nobody
};

namespace {

using Tokens = std::vector<std::string_view>;

std::string usage(std::string_view text) { return "error usage: " + std::string(text); }

std::string hex_text(const Bytes& bytes) {
    return bytes.empty() ? "-" : zf::to_hex(bytes, zf::HexCase::upper);
}

std::string byte_text(unsigned value) {
    const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

bool can_take_reports(const Controller& c) {
    return c.connected() && c.model.upload_enabled() && !c.model.silent();
}

// Looks for key=value options among tokens from `first` on; every token there must be
// one of `allowed`.
struct Options {
    std::map<std::string, std::string_view, std::less<>> values;
    std::string error;
};

Options parse_options(const Tokens& t, std::size_t first,
                      std::initializer_list<std::string_view> allowed) {
    Options o;
    for (std::size_t i = first; i < t.size(); ++i) {
        const auto eq = t[i].find('=');
        const auto key = t[i].substr(0, eq);
        if (eq == std::string_view::npos ||
            std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            o.error = "unexpected '" + std::string(t[i]) + "'";
            return o;
        }
        o.values[std::string(key)] = t[i].substr(eq + 1);
    }
    return o;
}

// ap= and psw= of report and frame commands.
bool frame_ids(const Options& o, std::uint32_t& ap, std::uint32_t& psw, std::string& error) {
    if (auto it = o.values.find("ap"); it != o.values.end()) {
        const auto v = parse_number(it->second, 0xFFFF);
        if (!v) {
            error = "ap must be 0..65535";
            return false;
        }
        ap = static_cast<std::uint32_t>(*v);
    }
    if (auto it = o.values.find("psw"); it != o.values.end()) {
        const auto v = parse_number(it->second, 0xFFFFFF);
        if (!v) {
            error = "psw must be 0..16777215";
            return false;
        }
        psw = static_cast<std::uint32_t>(*v);
    }
    return true;
}

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

std::string time_text(const std::optional<zf::ControllerTime>& t) {
    if (!t) {
        return "none";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d weekday=%d", t->year, t->month,
                  t->day, t->hour, t->minute, t->second, t->weekday);
    return text;
}

std::string faults_text(const Controller& c) {
    std::string out;
    auto add = [&out](const std::string& item) {
        out += out.empty() ? "" : ",";
        out += item;
    };
    if (c.model.silent()) {
        add("silent");
    }
    if (c.faults.refuse) {
        add("refuse");
    }
    if (c.faults.delay.count() > 0) {
        add("delay:" + std::to_string(c.faults.delay.count()));
    }
    if (c.faults.split_pieces > 1) {
        add("split:" + std::to_string(c.faults.split_pieces) + "/" +
            std::to_string(c.faults.split_pause.count()));
    }
    if (!c.faults.garbage.empty()) {
        add("garbage:" + std::to_string(c.faults.garbage.size()));
    }
    if (c.faults.repeat > 1) {
        add("repeat:" + std::to_string(c.faults.repeat));
    }
    if (auto on = c.model.close_on()) {
        add("close-on:" + (*on < 0 ? std::string("any") : byte_text(static_cast<unsigned>(*on))));
    }
    return out.empty() ? "none" : out;
}

}  // namespace

Simulator::Selection Simulator::select(std::string_view token) {
    Selection sel;
    if (token == "*" || token == "all") {
        for (auto& c : controllers_) {
            sel.list.push_back(c.get());
        }
    } else if (token == "random") {
        if (!controllers_.empty()) {
            std::uniform_int_distribution<std::size_t> pick(0, controllers_.size() - 1);
            sel.list.push_back(controllers_[pick(rng_)].get());
        }
    } else if (token == "random-live") {
        std::vector<Controller*> live;
        for (auto& c : controllers_) {
            if (can_take_reports(*c)) {
                live.push_back(c.get());
            }
        }
        if (live.empty()) {
            sel.none_reason = "no-live-controller";
        } else {
            std::uniform_int_distribution<std::size_t> pick(0, live.size() - 1);
            sel.list.push_back(live[pick(rng_)]);
        }
    } else if (token.starts_with(':')) {
        const auto port = parse_number(token.substr(1), 65535);
        const auto it = port ? by_port_.find(static_cast<std::uint16_t>(*port)) : by_port_.end();
        if (it == by_port_.end()) {
            sel.error = "no controller on port " + std::string(token.substr(1));
        } else {
            sel.list.push_back(controllers_[it->second].get());
        }
    } else {
        const auto index = parse_number(token, 0xFFFFFFFF);
        if (!index || *index >= controllers_.size()) {
            sel.error = "no controller '" + std::string(token) + "' (an index 0.." +
                        std::to_string(controllers_.size() == 0 ? 0 : controllers_.size() - 1) +
                        ", :PORT, all, random or random-live)";
        } else {
            sel.list.push_back(controllers_[*index].get());
        }
    }
    return sel;
}

std::optional<std::string> Simulator::execute(ControlClient& client, std::string_view line) {
    const Tokens t = split_tokens(line);
    const std::string_view word = t[0];
    const bool has_selector = t.size() >= 2;

    if (word == "help") {
        std::string out = "ok commands:";
        for (auto name : kCommandNames) {
            out += ' ';
            out += name;
        }
        return out + " (see docs/ctlsim.md)";
    }
    if (word == "ping") {
        return "ok pong";
    }
    if (word == "quit") {
        stop_ = true;
        return "ok bye";
    }
    if (word == "list" || word == "ports") {
        std::string out = "ok";
        if (word == "list") {
            out += " " + std::to_string(controllers_.size());
        }
        for (const auto& c : controllers_) {
            out += ' ';
            if (word == "list") {
                out += std::to_string(c->index()) + ":";
            }
            out += std::to_string(c->port());
        }
        return out;
    }
    if (word == "stats") {
        return cmd_stats();
    }
    if (word == "wait") {
        return cmd_wait(client, t);
    }
    if (word == "door-events" || word == "alarms-cleared" || word == "tamper" || word == "card" ||
        word == "frame" || word == "raw") {
        return cmd_report(t);
    }
    if (word == "fault") {
        return cmd_fault(t);
    }
    if (word == "reply") {
        return cmd_reply(t);
    }
    if (!is_command_name(word)) {
        return "error unknown command '" + std::string(word.substr(0, 40)) + "' (try help)";
    }

    // The rest name controllers first.
    if (!has_selector) {
        return usage(std::string(word) + " <controller> ...");
    }
    Selection sel = select(t[1]);
    if (!sel.error.empty()) {
        return "error " + sel.error;
    }
    if (word == "info" || word == "received") {
        if (sel.list.size() != 1 || t.size() != 2) {
            return usage(std::string(word) + " <controller> (one controller)");
        }
        return word == "info" ? cmd_info(*sel.list[0]) : cmd_received(*sel.list[0]);
    }
    if (word == "clear-received") {
        if (t.size() != 2) {
            return usage("clear-received <controller>");
        }
        for (auto* c : sel.list) {
            c->model.log().clear();
        }
        return "ok cleared=" + std::to_string(sel.list.size());
    }
    if (word == "status") {
        const auto v = t.size() == 3 ? parse_number(t[2], 255) : std::nullopt;
        if (!v) {
            return usage("status <controller> <byte> (bit 7 door open, bit 0 contact closed)");
        }
        for (auto* c : sel.list) {
            c->model.set_status(static_cast<std::uint8_t>(*v));
        }
        return "ok status=" + byte_text(static_cast<unsigned>(*v));
    }
    if (word == "second-connection") {
        if (t.size() != 3 || (t[2] != "reject" && t[2] != "takeover")) {
            return usage("second-connection <controller> reject|takeover");
        }
        for (auto* c : sel.list) {
            c->second = t[2] == "reject" ? SecondConnection::reject : SecondConnection::takeover;
        }
        return "ok second-connection=" + std::string(t[2]);
    }
    if (word == "disconnect") {
        if (t.size() > 3 || (t.size() == 3 && t[2] != "reset")) {
            return usage("disconnect <controller> [reset]");
        }
        const bool reset = t.size() == 3;
        int closed = 0;
        for (auto* c : sel.list) {
            if (c->connected()) {
                drop(*c, reset ? "reset by command" : "closed by command", reset);
                ++closed;
            }
        }
        return "ok closed=" + std::to_string(closed);
    }
    return "error unknown command '" + std::string(word.substr(0, 40)) + "' (try help)";
}

std::string Simulator::cmd_info(const Controller& c) const {
    const auto& m = c.model;
    return "ok index=" + std::to_string(c.index()) + " port=" + std::to_string(c.port()) +
           " connected=" + (c.connected() ? "1" : "0") +
           " connections=" + std::to_string(c.connections) +
           " rejected=" + std::to_string(c.rejected_connections) +
           " upload=" + (m.upload_enabled() ? "on" : "off") + " status=" + byte_text(m.status()) +
           " time=" + time_text(m.last_time()) + " frames=" + std::to_string(m.frames()) +
           " invalid=" + std::to_string(m.invalid_frames()) +
           " skipped=" + std::to_string(m.skipped_bytes()) +
           " bad-times=" + std::to_string(m.rejected_times()) +
           " switches-on=" + std::to_string(m.log().switches(true)) +
           " switches-off=" + std::to_string(m.log().switches(false)) +
           " reports=" + std::to_string(c.reports_sent) +
           " dropped=" + std::to_string(c.reports_dropped) +
           " second=" + (c.second == SecondConnection::reject ? "reject" : "takeover") +
           " faults=" + faults_text(c);
}

std::string Simulator::cmd_stats() const {
    std::uint64_t connected = 0, frames = 0, invalid = 0, sent = 0, dropped = 0, bytes = 0;
    for (const auto& c : controllers_) {
        connected += c->connected() ? 1 : 0;
        frames += c->model.frames();
        invalid += c->model.invalid_frames();
        sent += c->reports_sent;
        dropped += c->reports_dropped;
        bytes += c->bytes_sent;
    }
    return "ok controllers=" + std::to_string(controllers_.size()) +
           " connected=" + std::to_string(connected) + " frames=" + std::to_string(frames) +
           " invalid=" + std::to_string(invalid) + " reports=" + std::to_string(sent) +
           " dropped=" + std::to_string(dropped) + " bytes-sent=" + std::to_string(bytes);
}

std::string Simulator::cmd_received(const Controller& c) const {
    const auto& entries = c.model.log().entries();
    std::string out = "ok " + std::to_string(entries.size());
    for (const auto& e : entries) {
        if (e.kind == ReceivedEntry::Kind::upload_switch) {
            out += e.upload_on ? " switch:on" : " switch:off";
        } else {
            out += " frame:" + zf::to_hex(std::span(&e.cmd, 1), zf::HexCase::upper) + ":" +
                   std::to_string(e.ap_code) + ":" + std::to_string(e.psw) + ":" + hex_text(e.data);
        }
    }
    return out;
}

std::optional<std::string> Simulator::cmd_wait(ControlClient& client, const Tokens& t) {
    constexpr std::string_view kUsage =
        "wait <controller> cmd=<code>|switch=on|switch=off|upload=on|upload=off|connected|"
        "disconnected|connections=<n> [count=<n>] [timeout=<ms>]";
    if (t.size() < 3 || client.kind == ControlClient::Kind::scenario) {
        return usage(kUsage);
    }
    Selection sel = select(t[1]);
    if (!sel.error.empty()) {
        return "error " + sel.error;
    }
    if (sel.list.size() != 1) {
        return usage(kUsage);
    }
    Controller* c = sel.list[0];
    Wait w;
    w.controller = c->index();
    w.condition = std::string(t[2]);
    const auto cond = t[2];
    if (auto code = option_value(cond, "cmd")) {
        const auto v = parse_number(*code, 255);
        if (!v) {
            return usage(kUsage);
        }
        const auto cmd = static_cast<std::uint8_t>(*v);
        w.current = [c, cmd] { return c->model.log().frames_with_cmd(cmd); };
    } else if (auto sw = option_value(cond, "switch")) {
        const auto on = parse_switch(*sw);
        if (!on) {
            return usage(kUsage);
        }
        const bool want = *on;
        w.current = [c, want] { return c->model.log().switches(want); };
    } else if (auto up = option_value(cond, "upload")) {
        const auto on = parse_switch(*up);
        if (!on) {
            return usage(kUsage);
        }
        const bool want = *on;
        w.current = [c, want] { return c->model.upload_enabled() == want ? 1U : 0U; };
    } else if (cond == "connected" || cond == "disconnected") {
        const bool want = cond == "connected";
        w.current = [c, want] { return c->connected() == want ? 1U : 0U; };
    } else if (auto n = option_value(cond, "connections")) {
        const auto v = parse_number(*n, 0xFFFFFFFF);
        if (!v) {
            return usage(kUsage);
        }
        w.target = *v;
        w.current = [c] { return c->connections; };
    } else {
        return usage(kUsage);
    }
    const auto o = parse_options(t, 3, {"count", "timeout"});
    if (!o.error.empty()) {
        return "error " + o.error;
    }
    std::chrono::milliseconds timeout(5000);
    if (auto it = o.values.find("count"); it != o.values.end()) {
        const auto v = parse_number(it->second, 0xFFFFFFFF);
        if (!v || w.condition.starts_with("connect") || w.condition.starts_with("upload") ||
            w.condition == "disconnected") {
            return "error count= only goes with cmd= and switch=";
        }
        w.target = *v;
    }
    if (auto it = o.values.find("timeout"); it != o.values.end()) {
        const auto v = parse_number(it->second, 600'000);
        if (!v) {
            return "error timeout= must be 0..600000 ms";
        }
        timeout = std::chrono::milliseconds(*v);
    }
    w.deadline = Clock::now() + timeout;
    client.wait = std::move(w);
    return std::nullopt;  // check_waits answers, at once if it already holds
}

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

std::string Simulator::cmd_fault(const Tokens& t) {
    constexpr std::string_view kUsage =
        "fault <controller> silent on|off | refuse on|off | delay <ms> | split <pieces> "
        "[<pause-ms>] | garbage <hex> | repeat <n> | close-on <cmd>|any|off | clear";
    if (t.size() < 3) {
        return usage(kUsage);
    }
    Selection sel = select(t[1]);
    if (!sel.error.empty()) {
        return "error " + sel.error;
    }
    const std::string_view what = t[2];
    const std::size_t n_args = t.size() - 3;

    auto set_refuse = [this](Controller& c, bool on) -> std::string {
        c.faults.refuse = on;
        if (on) {
            c.listener.close();
            return {};
        }
        if (!c.listener.valid()) {
            if (auto error = open_listener(c); !error.empty()) {
                c.faults.refuse = true;
                return error;
            }
        }
        return {};
    };

    if (what == "clear" && n_args == 0) {
        for (auto* c : sel.list) {
            c->model.set_silent(false);
            c->model.set_close_on(std::nullopt);
            c->faults = Faults();
            if (auto error = set_refuse(*c, false); !error.empty()) {
                return "error " + error;
            }
        }
        return "ok faults=none";
    }
    if ((what == "silent" || what == "refuse") && n_args == 1) {
        const auto on = parse_switch(t[3]);
        if (!on) {
            return usage(kUsage);
        }
        for (auto* c : sel.list) {
            if (what == "silent") {
                c->model.set_silent(*on);
            } else if (auto error = set_refuse(*c, *on); !error.empty()) {
                return "error " + error;
            }
        }
        return "ok " + std::string(what) + "=" + (*on ? "on" : "off");
    }
    if (what == "delay" && n_args == 1) {
        const auto d = parse_duration(t[3]);
        if (!d || *d > std::chrono::minutes(10)) {
            return "error delay must be 0 to 10 minutes (e.g. 250 or 250ms)";
        }
        for (auto* c : sel.list) {
            c->faults.delay = std::chrono::duration_cast<std::chrono::milliseconds>(*d);
        }
        return "ok delay=" +
               std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(*d).count());
    }
    if (what == "split" && (n_args == 1 || n_args == 2)) {
        const auto pieces = parse_number(t[3], 64);
        const auto pause = n_args == 2 ? parse_duration(t[4]) : std::chrono::microseconds(2000);
        if (!pieces || *pieces == 0 || !pause || *pause > std::chrono::seconds(10)) {
            return "error split takes 1..64 pieces and a pause of at most 10 s";
        }
        for (auto* c : sel.list) {
            c->faults.split_pieces = static_cast<int>(*pieces);
            c->faults.split_pause = std::chrono::duration_cast<std::chrono::milliseconds>(*pause);
        }
        return "ok split=" + std::to_string(*pieces);
    }
    if (what == "garbage" && n_args == 1) {
        const auto bytes = parse_hex_bytes(t[3]);
        if (!bytes || bytes->empty() || bytes->size() > 4096) {
            return "error garbage takes 1 to 4096 bytes of hexadecimal";
        }
        for (auto* c : sel.list) {
            c->faults.garbage = *bytes;
        }
        return "ok garbage=" + std::to_string(bytes->size());
    }
    if (what == "repeat" && n_args == 1) {
        const auto n = parse_number(t[3], 100);
        if (!n || *n == 0) {
            return "error repeat takes 1..100";
        }
        for (auto* c : sel.list) {
            c->faults.repeat = static_cast<int>(*n);
        }
        return "ok repeat=" + std::to_string(*n);
    }
    if (what == "close-on" && n_args == 1) {
        std::optional<int> on;
        if (t[3] == "any") {
            on = -1;
        } else if (t[3] != "off") {
            const auto code = parse_number(t[3], 255);
            if (!code) {
                return usage(kUsage);
            }
            on = static_cast<int>(*code);
        }
        for (auto* c : sel.list) {
            c->model.set_close_on(on);
        }
        return "ok close-on=" + std::string(t[3]);
    }
    return usage(kUsage);
}

std::string Simulator::cmd_reply(const Tokens& t) {
    constexpr std::string_view kUsage =
        "reply <controller> <cmd>|* default|silent|<reply-cmd> [<hex>]";
    if (t.size() < 4 || t.size() > 5) {
        return usage(kUsage);
    }
    Selection sel = select(t[1]);
    if (!sel.error.empty()) {
        return "error " + sel.error;
    }
    if (t[2] == "*") {
        if (t[3] != "default" || t.size() != 4) {
            return "error only 'reply <controller> * default' applies to every command";
        }
        for (auto* c : sel.list) {
            c->model.clear_rules();
        }
        return "ok reply=default";
    }
    const auto cmd = parse_number(t[2], 255);
    if (!cmd) {
        return usage(kUsage);
    }
    ReplyRule rule;
    if (t[3] == "default") {
        rule.mode = ReplyRule::Mode::standard;
    } else if (t[3] == "silent") {
        rule.mode = ReplyRule::Mode::silent;
    } else if (auto code = parse_number(t[3], 255)) {
        rule.mode = ReplyRule::Mode::code;
        rule.code = static_cast<std::uint8_t>(*code);
    } else {
        return usage(kUsage);
    }
    if (t.size() == 5) {
        auto payload = parse_hex_bytes(t[4]);
        if (!payload || payload->size() > zf::kMaxPayload || rule.mode == ReplyRule::Mode::silent) {
            return "error the reply payload must be hexadecimal (or - for none), at most " +
                   std::to_string(zf::kMaxPayload) + " bytes, and not with silent";
        }
        rule.payload = std::move(*payload);
    }
    const auto key = static_cast<std::uint8_t>(*cmd);
    for (auto* c : sel.list) {
        if (rule.mode == ReplyRule::Mode::standard && !rule.payload) {
            c->model.clear_rule(key);
        } else {
            c->model.set_rule(key, rule);
        }
    }
    return "ok reply " + byte_text(key) + "=" + std::string(t[3]);
}

}  // namespace ctlsim
