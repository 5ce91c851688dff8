// The control language: one command per line, exactly one reply line per command,
// "ok ..." or "error <reason>". The full reference is docs/ctlsim.md; Simulator::execute
// carries it out.
#pragma once

#include <string_view>

namespace ctlsim {

// Every command word, in the order `help` lists them.
inline constexpr std::string_view kCommandNames[] = {
    "help",        "ping",           "list",
    "ports",       "info",           "stats",
    "status",      "reply",          "second-connection",
    "received",    "clear-received", "wait",
    "door-events", "alarms-cleared", "tamper",
    "card",        "frame",          "raw",
    "fault",       "disconnect",     "stream",
    "clock",       "quit",
};

bool is_command_name(std::string_view word);

}  // namespace ctlsim
