// Control clients: reading command lines, answering in order, waits.
#include "simulator.h"
#include "text.h"

namespace ctlsim {

namespace net = zorvik::net;

void Simulator::accept_control_client() {
    for (int n = 0; n < kAcceptsPerRound; ++n) {
        auto accepted = net::accept(control_listener_);
        if (!accepted) {
            return;
        }
        if (clients_.size() >= kMaxControlClients + 2) {
            log_.error("control client refused: " + std::to_string(kMaxControlClients) +
                       " are connected already");
            continue;
        }
        accepted->set_nonblocking(true);
        accepted->set_nodelay(true);
        auto client = std::make_unique<ControlClient>();
        client->id = next_client_id_++;
        client->socket = std::move(*accepted);
        log_.debug("control client " + std::to_string(client->id) + " connected");
        clients_[client->id] = std::move(client);
    }
}

void Simulator::read_control_client(ControlClient& client) {
    char buffer[8192];
    const auto got = client.socket.recv({reinterpret_cast<std::uint8_t*>(buffer), sizeof buffer});
    if (got.count == 0) {
        if (got.error == net::NetError::closed) {
            client.closing = true;  // answer what it sent, then close
        } else if (got.error != net::NetError::would_block &&
                   got.error != net::NetError::interrupted) {
            client.closing = true;
            client.socket.close();  // nobody left to read the replies
        }
        return;
    }
    client.input.append(buffer, got.count);
    std::size_t start = 0;
    for (;;) {
        const auto eol = client.input.find('\n', start);
        if (eol == std::string::npos) {
            break;
        }
        std::string line = client.input.substr(start, eol - start);
        start = eol + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (client.overlong || line.size() > kMaxControlLine) {
            client.overlong = false;
            client.lines.push_back("\x01overlong");
        } else {
            client.lines.push_back(std::move(line));
        }
    }
    client.input.erase(0, start);
    if (client.input.size() > kMaxControlLine) {
        client.overlong = true;  // answered with an error once its end arrives
        client.input.clear();
    }
    run_client(client);
}

void Simulator::run_client(ControlClient& client) {
    while (!client.wait && !client.lines.empty() && !stop_) {
        const std::string line = std::move(client.lines.front());
        client.lines.pop_front();
        if (line == "\x01overlong") {
            answer(client, "error line longer than " + std::to_string(kMaxControlLine) + " bytes");
            continue;
        }
        const auto tokens = split_tokens(line);
        if (tokens.empty() || tokens[0].starts_with('#')) {
            continue;  // blank lines and comments are not commands
        }
        if (auto reply = execute(client, line)) {
            answer(client, *reply);
        }
    }
}

void Simulator::answer(ControlClient& client, const std::string& reply) {
    switch (client.kind) {
        case ControlClient::Kind::standard_input:
            if (line_sink_) {
                line_sink_(reply);
            }
            break;
        case ControlClient::Kind::scenario:
            if (reply.starts_with("error")) {
                log_.error("scenario: " + reply);
            } else {
                log_.debug("scenario: " + reply);
            }
            break;
        case ControlClient::Kind::socket:
            if (!client.socket.valid()) {
                break;
            }
            client.output += reply;
            client.output += '\n';
            write_control_client(client);
            if (client.output.size() > kMaxControlOutput) {
                log_.error("control client " + std::to_string(client.id) +
                           " does not read its replies: closed");
                client.socket.close();
                client.closing = true;
            }
            break;
    }
}

void Simulator::write_control_client(ControlClient& client) {
    while (!client.output.empty() && client.socket.valid()) {
        const auto sent = client.socket.send(
            {reinterpret_cast<const std::uint8_t*>(client.output.data()), client.output.size()});
        if (sent.count > 0) {
            client.output.erase(0, sent.count);
            continue;
        }
        if (sent.error != net::NetError::would_block && sent.error != net::NetError::interrupted) {
            client.socket.close();
            client.closing = true;
        }
        return;
    }
}

void Simulator::check_waits(Clock::time_point now) {
    for (auto& [id, client] : clients_) {
        if (!client->wait) {
            continue;
        }
        const Wait& w = *client->wait;
        const auto value = w.current();
        std::string reply;
        if (value >= w.target) {
            reply = "ok " + w.condition + " count=" + std::to_string(value);
        } else if (now >= w.deadline) {
            reply = "error timeout " + w.condition + " count=" + std::to_string(value);
        } else {
            continue;
        }
        client->wait.reset();
        answer(*client, reply);
        run_client(*client);
    }
}

void Simulator::close_finished_clients() {
    for (auto it = clients_.begin(); it != clients_.end();) {
        ControlClient& client = *it->second;
        if (client.kind == ControlClient::Kind::socket && client.closing && !client.wait &&
            client.lines.empty() && (client.output.empty() || !client.socket.valid())) {
            log_.debug("control client " + std::to_string(client.id) + " left");
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace ctlsim
