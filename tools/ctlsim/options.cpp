#include "options.h"

#include "door_db_list.h"
#include "text.h"

namespace ctlsim {

const char* const kUsage =
    "usage: ctlsim [options]\n"
    "  --controllers N      simulate N controllers on consecutive ports (default 1)\n"
    "  --base-port P        first of those ports (default 5768; 0: free ports)\n"
    "  --listen ADDR:PORT   one controller at 127.0.0.1:PORT (repeatable; port 0: a free port)\n"
    "  --list FILE          controllers from a list file, one ADDR:PORT per line\n"
    "  --door-db FILE       controllers of the doors in a door database (SQLite)\n"
    "  --control-port P     take commands on 127.0.0.1:P too (0: a free port)\n"
    "  --scenario FILE      run a scenario file (see docs/ctlsim.md)\n"
    "  --seed N             seed of the random choices\n"
    "  --no-stdin           do not read commands from standard input\n"
    "  --quiet | --verbose  less or more log on standard error\n"
    "Prints 'ready control=<port|none> controllers=<n>' when serving. Reads commands\n"
    "from standard input and ends when it closes (unless --no-stdin) or on 'quit'.\n";

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine cl;
    auto fail = [&cl](const std::string& why) {
        cl.error = why;
        return cl;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            cl.help = true;
        } else if (a == "--no-stdin") {
            cl.read_stdin = false;
        } else if (a == "--quiet") {
            cl.log_level = LogLevel::quiet;
        } else if (a == "--verbose") {
            cl.log_level = LogLevel::debug;
        } else if (a == "--controllers") {
            const auto n = value(v) ? parse_number(v, 65535) : std::nullopt;
            if (!n || *n == 0) {
                return fail("--controllers takes 1..65535");
            }
            cl.count = static_cast<std::size_t>(*n);
        } else if (a == "--base-port" || a == "--control-port") {
            const auto p = value(v) ? parse_number(v, 65535) : std::nullopt;
            if (!p) {
                return fail(a + " takes a port 0..65535");
            }
            if (a == "--base-port") {
                cl.base_port = static_cast<std::uint16_t>(*p);
            } else {
                cl.control_port = static_cast<std::uint16_t>(*p);
            }
        } else if (a == "--listen") {
            ControllerAddress address;
            if (!value(v) || !parse_address(v, address)) {
                return fail("--listen takes 127.0.0.1:PORT");
            }
            if (address.host != kServedHost) {
                return fail("--listen " + v + ": only " + std::string(kServedHost) + " is served");
            }
            cl.listen.push_back(address);
        } else if (a == "--list") {
            if (!value(v)) {
                return fail("--list takes a file");
            }
            cl.list_files.push_back(v);
        } else if (a == "--door-db") {
            if (!value(v)) {
                return fail("--door-db takes a database file");
            }
            cl.door_dbs.push_back(v);
        } else if (a == "--scenario") {
            if (!value(cl.scenario_file)) {
                return fail("--scenario takes a file");
            }
        } else if (a == "--seed") {
            const auto s = value(v) ? parse_number(v, 0xFFFFFFFF) : std::nullopt;
            if (!s) {
                return fail("--seed takes 0..4294967295");
            }
            cl.seed = static_cast<std::uint32_t>(*s);
        } else {
            return fail("unknown argument '" + a + "'");
        }
    }
    return cl;
}

ControllerList controller_list(const CommandLine& cl) {
    ControllerList list;
    if (cl.count) {
        merge_lists(list, count_list(*cl.count, cl.base_port), true);
    }
    ControllerList explicit_list;
    explicit_list.controllers = cl.listen;
    if (list.ok()) {
        merge_lists(list, std::move(explicit_list), true);
    }
    for (const auto& file : cl.list_files) {
        if (list.ok()) {
            merge_lists(list, load_list_file(file), false);
        }
    }
    for (const auto& file : cl.door_dbs) {
        if (list.ok()) {
            merge_lists(list, load_door_db(file), false);
        }
    }
    if (list.ok() && !cl.count && cl.listen.empty() && cl.list_files.empty() &&
        cl.door_dbs.empty()) {
        list = count_list(1, cl.base_port);
    }
    if (list.ok() && list.controllers.empty()) {
        list.error = "the controller list is empty";
    }
    return list;
}

}  // namespace ctlsim
