// Fault and reply-rule commands.
#include <chrono>

#include "command_support.h"
#include "frame/frame.h"
#include "text.h"

namespace ctlsim {

namespace zf = zorvik::frame;
using namespace commands;

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
