#include "controller_list.h"

#include <fstream>
#include <set>
#include <sstream>

#include "text.h"

namespace ctlsim {

bool parse_address(std::string_view text, ControllerAddress& out) {
    std::string_view host = kServedHost;
    std::string_view port_text = text;
    if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        if (colon > 0) {
            host = text.substr(0, colon);
        }
        port_text = text.substr(colon + 1);
    }
    const auto port = parse_number(port_text, 65535);
    if (!port || host.empty()) {
        return false;
    }
    out.host = host == "localhost" ? std::string(kServedHost) : std::string(host);
    out.port = static_cast<std::uint16_t>(*port);
    return true;
}

ControllerList count_list(std::size_t count, std::uint16_t base_port) {
    ControllerList list;
    if (base_port != 0 && base_port + count - 1 > 65535) {
        list.error = "ports " + std::to_string(base_port) + " and up leave room for only " +
                     std::to_string(65536 - base_port) + " controllers";
        return list;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto port = static_cast<std::uint16_t>(base_port == 0 ? 0 : base_port + i);
        list.controllers.push_back({std::string(kServedHost), port});
    }
    return list;
}

ControllerList parse_list_text(std::string_view text, std::string_view origin) {
    ControllerList list;
    std::set<std::uint16_t> seen;
    std::size_t line_no = 0;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        ++line_no;
        const auto tokens = split_tokens(line);
        if (tokens.empty() || tokens[0].starts_with('#')) {
            continue;
        }
        const std::string where = std::string(origin) + ":" + std::to_string(line_no);
        ControllerAddress address;
        if (tokens.size() != 1 || !parse_address(tokens[0], address)) {
            list.error = where + ": expected HOST:PORT, got '" + std::string(line) + "'";
            return list;
        }
        if (address.host != kServedHost) {
            list.warnings.push_back(where + ": " + address.host + " skipped (only " +
                                    std::string(kServedHost) + " is served)");
            continue;
        }
        if (address.port != 0 && !seen.insert(address.port).second) {
            continue;  // another door of the same controller
        }
        list.controllers.push_back(address);
    }
    return list;
}

ControllerList load_list_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ControllerList list;
        list.error = "cannot read the controller list " + path;
        return list;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_list_text(text.str(), path);
}

void merge_lists(ControllerList& list, ControllerList more, bool unique_required) {
    if (!more.ok()) {
        list.error = more.error;
        return;
    }
    list.warnings.insert(list.warnings.end(), more.warnings.begin(), more.warnings.end());
    std::set<std::uint16_t> seen;
    for (const auto& c : list.controllers) {
        if (c.port != 0) {
            seen.insert(c.port);
        }
    }
    for (auto& c : more.controllers) {
        if (c.port != 0 && !seen.insert(c.port).second) {
            if (unique_required) {
                list.error = "port " + std::to_string(c.port) + " is given twice";
                return;
            }
            continue;
        }
        list.controllers.push_back(std::move(c));
    }
    if (list.controllers.size() > 65535) {
        list.error = "more than 65535 controllers";
    }
}

}  // namespace ctlsim
