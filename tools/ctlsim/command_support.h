// Pieces shared by the files that carry out the control language (commands.cpp,
// report_commands.cpp, fault_commands.cpp). Internal to ctlsim_core.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "simulator.h"

namespace ctlsim {

struct Simulator::Selection {
    std::vector<Controller*> list;
    std::string error;        // the token named no controller
    std::string none_reason;  // random-live found nobody
};

namespace commands {

using Tokens = std::vector<std::string_view>;

// "error usage: <text>"
std::string usage(std::string_view text);
// "0x1F"
std::string byte_text(unsigned value);
// Connected, upload enabled and not silent.
bool can_take_reports(const Controller& c);

// key=value options among tokens from `first` on; every token there must be one of
// `allowed`, otherwise error says which was not.
struct Options {
    std::map<std::string, std::string_view, std::less<>> values;
    std::string error;
};
Options parse_options(const Tokens& t, std::size_t first,
                      std::initializer_list<std::string_view> allowed);

// ap= and psw= of report and frame commands.
bool frame_ids(const Options& o, std::uint32_t& ap, std::uint32_t& psw, std::string& error);

}  // namespace commands
}  // namespace ctlsim
