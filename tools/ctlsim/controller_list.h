// Where the simulated controllers come from: the command line (a count and a base port,
// or explicit 127.0.0.1:PORT addresses) or a plain list file. Whatever the source, the
// result is one ControllerAddress per controller; a new source (a door database) only
// needs to produce the same list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ctlsim {

inline constexpr std::string_view kServedHost = "127.0.0.1";

struct ControllerAddress {
    std::string host;    // only 127.0.0.1 is served
    std::uint16_t port;  // 0: any free port, chosen when the controller starts listening
};

struct ControllerList {
    std::vector<ControllerAddress> controllers;
    std::vector<std::string> warnings;  // entries skipped, one sentence each
    std::string error;                  // set when the list cannot be used at all
    bool ok() const { return error.empty(); }
};

// "HOST:PORT"; HOST may be omitted (":5768" or "5768"). Nothing for malformed text.
bool parse_address(std::string_view text, ControllerAddress& out);

// Controllers base_port, base_port + 1 ... (all on free ports when base_port is 0).
ControllerList count_list(std::size_t count, std::uint16_t base_port);

// A list file: one HOST:PORT per line; blank lines and lines starting with '#' are
// ignored. Entries for another host than 127.0.0.1 are skipped with a warning, and an
// address listed twice (several doors on one controller) is one controller.
ControllerList parse_list_text(std::string_view text, std::string_view origin);
ControllerList load_list_file(const std::string& path);

// Appends more to list, dropping repeated non-zero ports; fails when a port repeats
// with explicit addresses (unique_required) or the total would exceed 65535.
void merge_lists(ControllerList& list, ControllerList more, bool unique_required);

}  // namespace ctlsim
