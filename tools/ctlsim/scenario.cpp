#include "scenario.h"

#include <fstream>
#include <sstream>

#include "commands.h"
#include "text.h"

namespace ctlsim {

namespace {

// The command text after `skip` tokens of line, as written.
std::string rest_of_line(std::string_view line, const std::vector<std::string_view>& tokens,
                         std::size_t skip) {
    if (skip >= tokens.size()) {
        return {};
    }
    const auto offset = static_cast<std::size_t>(tokens[skip].data() - line.data());
    auto rest = line.substr(offset);
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ' || rest.back() == '\t')) {
        rest.remove_suffix(1);
    }
    return std::string(rest);
}

}  // namespace

Scenario parse_scenario(std::string_view text, std::string_view origin) {
    Scenario scenario;
    std::size_t line_no = 0;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        ++line_no;
        const auto tokens = split_tokens(line);
        if (tokens.empty() || tokens[0].starts_with('#')) {
            continue;
        }
        auto fail = [&](const std::string& why) {
            scenario.error = std::string(origin) + ":" + std::to_string(line_no) + ": " + why;
            return scenario;
        };
        const std::string_view word = tokens[0];
        if (word == "seed") {
            const auto seed =
                tokens.size() == 2 ? parse_number(tokens[1], 0xFFFFFFFFU) : std::nullopt;
            if (!seed) {
                return fail("expected 'seed NUMBER'");
            }
            scenario.seed = static_cast<std::uint32_t>(*seed);
            continue;
        }
        ScenarioEntry entry;
        entry.line = line_no;
        std::size_t i = 1;
        if (word == "at") {
            const auto when = tokens.size() > 1 ? parse_duration(tokens[1]) : std::nullopt;
            if (!when) {
                return fail("expected 'at TIME COMMAND'");
            }
            entry.start = *when;
            i = 2;
        } else if (word == "every" || word == "rate") {
            entry.repeat = true;
            if (tokens.size() < 2) {
                return fail("expected '" + std::string(word) + " ... COMMAND'");
            }
            if (word == "every") {
                const auto interval = parse_duration(tokens[1]);
                if (!interval || interval->count() <= 0) {
                    return fail("bad interval '" + std::string(tokens[1]) + "'");
                }
                entry.interval = *interval;
            } else {
                auto per_second = tokens[1];
                if (!per_second.ends_with("/s")) {
                    return fail("expected 'rate N/s COMMAND'");
                }
                per_second.remove_suffix(2);
                const auto n = parse_number(per_second, 1'000'000);
                if (!n || *n == 0) {
                    return fail("bad rate '" + std::string(tokens[1]) +
                                "' (1 to 1000000 per second)");
                }
                entry.interval =
                    std::chrono::microseconds(1'000'000 / static_cast<std::int64_t>(*n));
            }
            i = 2;
            while (i + 1 < tokens.size() && (tokens[i] == "from" || tokens[i] == "for")) {
                const auto d = parse_duration(tokens[i + 1]);
                if (!d) {
                    return fail("bad time '" + std::string(tokens[i + 1]) + "'");
                }
                if (tokens[i] == "from") {
                    entry.start = *d;
                } else {
                    entry.duration = *d;
                }
                i += 2;
            }
        } else {
            return fail("unknown scenario word '" + std::string(word) +
                        "' (at, every, rate, seed)");
        }
        if (i >= tokens.size()) {
            return fail("no command");
        }
        if (!is_command_name(tokens[i])) {
            return fail("unknown command '" + std::string(tokens[i]) + "'");
        }
        if (tokens[i] == "wait") {
            return fail("'wait' cannot run in a scenario");
        }
        entry.command = rest_of_line(line, tokens, i);
        scenario.entries.push_back(std::move(entry));
    }
    return scenario;
}

Scenario load_scenario_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Scenario s;
        s.error = "cannot read the scenario " + path;
        return s;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_scenario(text.str(), path);
}

}  // namespace ctlsim
