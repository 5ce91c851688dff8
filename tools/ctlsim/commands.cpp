// The control language carried out against the simulator's controllers: selection,
// queries and waits here; reports in report_commands.cpp; faults and reply rules in
// fault_commands.cpp.
#include "commands.h"

#include <algorithm>
#include <cstdio>

#include "command_support.h"
#include "frame/frame.h"
#include "frame/hex.h"
#include "text.h"

namespace ctlsim {

namespace zf = zorvik::frame;
using namespace commands;

bool is_command_name(std::string_view word) {
    return std::find(std::begin(kCommandNames), std::end(kCommandNames), word) !=
           std::end(kCommandNames);
}

namespace commands {

std::string usage(std::string_view text) { return "error usage: " + std::string(text); }

std::string byte_text(unsigned value) {
    const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

bool can_take_reports(const Controller& c) {
    return c.connected() && c.model.upload_enabled() && !c.model.silent();
}

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

}  // namespace commands

namespace {

std::string hex_text(const Bytes& bytes) {
    return bytes.empty() ? "-" : zf::to_hex(bytes, zf::HexCase::upper);
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
            sel.list.push_back(controllers_[static_cast<std::size_t>(*index)].get());
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
    if (word == "stream") {
        return cmd_stream(t);
    }
    if (word == "clock") {
        return cmd_clock();
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

}  // namespace ctlsim
