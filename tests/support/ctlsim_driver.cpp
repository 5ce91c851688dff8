#include "ctlsim_driver.h"

#include <cstdlib>

#include "child_process.h"

namespace ctlsim::testing {

namespace net = zorvik::net;

namespace {

std::vector<std::string_view> tokens_of(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ') {
            ++i;
        }
        if (i > start) {
            out.push_back(text.substr(start, i - start));
        }
    }
    return out;
}

unsigned long to_number(std::string_view text, int base) {
    const std::string s(text);
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str(), &end, base);
    if (s.empty() || *end != '\0') {
        throw CtlsimError("ctlsim: not a number: '" + s + "'");
    }
    return v;
}

std::vector<std::uint8_t> from_hex(std::string_view text) {
    std::vector<std::uint8_t> out;
    if (text == "-") {
        return out;
    }
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(to_number(text.substr(i, 2), 16)));
    }
    return out;
}

std::string build_dir() {
    const char* dir = std::getenv("PORVEX_BUILD_DIR");
    if (dir == nullptr || *dir == '\0') {
        throw CtlsimError(
            "PORVEX_BUILD_DIR is not set (ctest sets it; set it by hand to the build tree)");
    }
    return dir;
}

}  // namespace

std::string Ctlsim::program() {
    if (const char* chosen = std::getenv("PORVEX_CTLSIM"); chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
#ifdef _WIN32
    // Under Wine the build tree's path is a Unix path: Z: is the Unix root.
    std::string path = build_dir() + "/bin/ctlsim.exe";
    if (path.starts_with('/')) {
        path = "Z:" + path;
    }
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
#else
    return build_dir() + "/bin/ctlsim";
#endif
}

Ctlsim::Ctlsim(CtlsimOptions options) {
    if (!net_.ok()) {
        throw CtlsimError(std::string("ctlsim driver: ") + net::to_string(net_.error()));
    }
    std::vector<std::string> args{"--control-port", "0"};
    if (options.controllers > 0) {
        args.insert(args.end(),
                    {"--controllers", std::to_string(options.controllers), "--base-port", "0"});
    }
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());
    const std::string exe = program();
    process_ = std::make_unique<ChildProcess>(exe, args);
    const auto ready = process_->read_line(options.start_timeout);
    if (!ready || !ready->starts_with("ready ")) {
        throw CtlsimError("ctlsim (" + exe + ") did not get ready" +
                          (ready ? ": it said '" + *ready + "'" : std::string()) +
                          "; see its log above");
    }
    const auto fields = parse_fields(*ready);
    const auto control = fields.find("control");
    if (control == fields.end() || control->second == "none") {
        throw CtlsimError("ctlsim has no control port: '" + *ready + "'");
    }
    control_port_ = static_cast<std::uint16_t>(to_number(control->second, 10));
    auto socket = net::connect_tcp("127.0.0.1", control_port_, std::chrono::seconds(10));
    if (!socket) {
        throw CtlsimError(std::string("cannot connect to ctlsim's control port: ") +
                          net::to_string(socket.error()));
    }
    socket->set_nodelay(true);
    control_ = std::move(*socket);
    const std::string ports = ok("ports");
    for (auto port : tokens_of(ports)) {
        ports_.push_back(static_cast<std::uint16_t>(to_number(port, 10)));
    }
    if (options.controllers > 0 && ports_.size() != options.controllers) {
        throw CtlsimError("ctlsim serves " + std::to_string(ports_.size()) + " controllers, not " +
                          std::to_string(options.controllers));
    }
}

Ctlsim::Ctlsim(std::size_t controllers, std::vector<std::string> arguments)
    : Ctlsim([&] {
          CtlsimOptions options;
          options.controllers = controllers;
          options.arguments = std::move(arguments);
          return options;
      }()) {}

Ctlsim::~Ctlsim() {
    control_.close();
    if (process_) {
        process_->close_stdin();  // the simulator ends when its standard input closes
        if (!process_->wait(std::chrono::seconds(10))) {
            process_->kill();
        }
    }
}

std::uint16_t Ctlsim::port(std::size_t controller) const {
    if (controller >= ports_.size()) {
        throw CtlsimError("no controller " + std::to_string(controller));
    }
    return ports_[controller];
}

std::string Ctlsim::command(std::string_view line, std::chrono::milliseconds timeout) {
    if (line.find('\n') != std::string_view::npos) {
        throw CtlsimError("one command per call, without a line end");
    }
    std::string text(line);
    text += '\n';
    std::size_t done = 0;
    while (done < text.size()) {
        const auto sent = control_.send(
            {reinterpret_cast<const std::uint8_t*>(text.data()) + done, text.size() - done});
        if (sent.count == 0) {
            throw CtlsimError(std::string("ctlsim control connection lost: ") +
                              net::to_string(sent.error));
        }
        done += sent.count;
    }
    return read_reply(timeout);
}

std::string Ctlsim::read_reply(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto eol = input_.find('\n'); eol != std::string::npos) {
            std::string line = input_.substr(0, eol);
            input_.erase(0, eol + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw CtlsimError("ctlsim did not answer in time");
        }
        net::PollItem item{control_.native(), net::kReadable, 0};
        (void)net::poll_sockets({&item, 1}, static_cast<int>(left.count()));
        if (item.got == 0) {
            continue;
        }
        std::uint8_t chunk[4096];
        const auto got = control_.recv(chunk);
        if (got.count == 0) {
            if (got.error == net::NetError::would_block ||
                got.error == net::NetError::interrupted) {
                continue;
            }
            throw CtlsimError(std::string("ctlsim control connection lost: ") +
                              net::to_string(got.error));
        }
        input_.append(reinterpret_cast<const char*>(chunk), got.count);
    }
}

std::string Ctlsim::ok(std::string_view line) {
    const std::string reply = command(line);
    if (reply == "ok") {
        return {};
    }
    if (!reply.starts_with("ok ")) {
        throw CtlsimError("ctlsim: '" + std::string(line) + "' -> '" + reply + "'");
    }
    return reply.substr(3);
}

bool Ctlsim::wait(std::size_t ctl, std::string_view condition, std::chrono::milliseconds timeout) {
    const std::string line = "wait " + std::to_string(ctl) + " " + std::string(condition) +
                             " timeout=" + std::to_string(timeout.count());
    const std::string reply = command(line, timeout + std::chrono::seconds(30));
    if (reply.starts_with("ok")) {
        return true;
    }
    if (reply.starts_with("error timeout")) {
        return false;
    }
    throw CtlsimError("ctlsim: '" + line + "' -> '" + reply + "'");
}

bool Ctlsim::wait_received(std::size_t ctl, std::uint8_t cmd, unsigned count,
                           std::chrono::milliseconds timeout) {
    return wait(ctl, "cmd=" + std::to_string(cmd) + " count=" + std::to_string(count), timeout);
}

bool Ctlsim::wait_upload(std::size_t ctl, bool on, std::chrono::milliseconds timeout) {
    return wait(ctl, on ? "upload=on" : "upload=off", timeout);
}

bool Ctlsim::wait_connected(std::size_t ctl, bool connected, std::chrono::milliseconds timeout) {
    return wait(ctl, connected ? "connected" : "disconnected", timeout);
}

std::vector<Received> Ctlsim::received(std::size_t ctl) {
    return parse_received(command("received " + std::to_string(ctl)));
}

void Ctlsim::clear_received(std::size_t ctl) { ok("clear-received " + std::to_string(ctl)); }

std::map<std::string, std::string> Ctlsim::info(std::size_t ctl) {
    return parse_fields(ok("info " + std::to_string(ctl)));
}

void Ctlsim::fault(std::size_t ctl, std::string_view what) {
    ok("fault " + std::to_string(ctl) + " " + std::string(what));
}

int Ctlsim::report(std::string_view kind, std::size_t ctl, std::string_view arguments) {
    const auto fields = parse_fields(
        ok(std::string(kind) + " " + std::to_string(ctl) + " " + std::string(arguments)));
    const auto sent = fields.find("sent");
    return sent == fields.end() ? 0 : static_cast<int>(to_number(sent->second, 10));
}

void Ctlsim::deliver(std::string_view kind, std::size_t ctl, std::string_view arguments) {
    if (report(kind, ctl, arguments) == 0) {
        throw CtlsimError("ctlsim: '" + std::string(kind) + " " + std::to_string(ctl) + " " +
                          std::string(arguments) +
                          "' sent nothing: " + command("info " + std::to_string(ctl)));
    }
}

std::vector<Received> parse_received(std::string_view reply) {
    const auto t = tokens_of(reply);
    if (t.size() < 2 || t[0] != "ok") {
        throw CtlsimError("ctlsim: unexpected reply to received: '" + std::string(reply) + "'");
    }
    std::vector<Received> out;
    for (std::size_t i = 2; i < t.size(); ++i) {
        Received r;
        if (t[i] == "switch:on" || t[i] == "switch:off") {
            r.upload_switch = true;
            r.upload_on = t[i] == "switch:on";
        } else {
            // frame:CMD:AP:PSW:DATA
            std::vector<std::string_view> parts;
            std::string_view rest = t[i];
            for (auto c = rest.find(':'); c != std::string_view::npos; c = rest.find(':')) {
                parts.push_back(rest.substr(0, c));
                rest.remove_prefix(c + 1);
            }
            parts.push_back(rest);
            if (parts.size() != 5 || parts[0] != "frame") {
                throw CtlsimError("ctlsim: bad received entry '" + std::string(t[i]) + "'");
            }
            r.cmd = static_cast<std::uint8_t>(to_number(parts[1], 16));
            r.ap_code = static_cast<std::uint16_t>(to_number(parts[2], 10));
            r.psw = static_cast<std::uint32_t>(to_number(parts[3], 10));
            r.data = from_hex(parts[4]);
        }
        out.push_back(std::move(r));
    }
    if (out.size() != to_number(t[1], 10)) {
        throw CtlsimError("ctlsim: received count does not match: '" + std::string(reply) + "'");
    }
    return out;
}

std::map<std::string, std::string> parse_fields(std::string_view reply) {
    std::map<std::string, std::string> out;
    for (auto token : tokens_of(reply)) {
        if (const auto eq = token.find('='); eq != std::string_view::npos) {
            out[std::string(token.substr(0, eq))] = std::string(token.substr(eq + 1));
        }
    }
    return out;
}

}  // namespace ctlsim::testing
