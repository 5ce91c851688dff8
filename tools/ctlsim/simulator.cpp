#include "simulator.h"

#include <algorithm>
#include <utility>

#include "text.h"

namespace ctlsim {

namespace net = zorvik::net;

namespace {

constexpr std::size_t kReadChunk = 65536;

}  // namespace

Simulator::Simulator(SimulatorConfig config)
    : config_(std::move(config)),
      log_(config_.log_level),
      rng_(config_.seed.value_or(config_.scenario.seed.value_or(std::random_device{}()))),
      read_buffer_(kReadChunk) {}

Simulator::~Simulator() = default;

std::uint16_t Simulator::controller_port(std::size_t index) const {
    return index < controllers_.size() ? controllers_[index]->port() : 0;
}

std::string Simulator::start() {
    if (config_.controllers.empty()) {
        return "no controllers to simulate";
    }
    if (!net_.ok()) {
        return std::string("cannot start networking: ") + net::to_string(net_.error());
    }
    // Each controller holds a listener and a connection; a little more for the rest.
    std::string detail;
    const std::size_t sockets = 2 * config_.controllers.size() + kMaxControlClients + 64;
    if (net::ensure_socket_capacity(sockets, &detail) != net::NetError::none) {
        return "too many controllers for this process's file descriptor limit: " + detail;
    }
    auto waker = net::Waker::create();
    if (!waker) {
        return std::string("cannot create the loop's waker: ") + net::to_string(waker.error());
    }
    {
        std::lock_guard lock(inbox_->mutex_);
        inbox_->waker_ = std::move(*waker);
    }

    for (std::size_t i = 0; i < config_.controllers.size(); ++i) {
        controllers_.push_back(std::make_unique<Controller>(i, config_.controllers[i]));
        if (auto error = open_listener(*controllers_.back()); !error.empty()) {
            return error;
        }
        by_port_[controllers_.back()->port()] = i;
    }
    if (config_.control_port) {
        auto listener = net::listen_tcp(kServedHost, *config_.control_port, 16);
        if (!listener) {
            return "cannot open the control port " + std::to_string(*config_.control_port) + ": " +
                   net::to_string(listener.error());
        }
        listener->set_nonblocking(true);
        control_port_ = *listener->local_port();
        control_listener_ = std::move(*listener);
    }
    auto stdin_client = std::make_unique<ControlClient>();
    stdin_client->id = next_client_id_++;
    stdin_client->kind = ControlClient::Kind::standard_input;
    stdin_client_ = stdin_client.get();
    clients_[stdin_client->id] = std::move(stdin_client);
    if (!config_.scenario.entries.empty()) {
        auto scenario_client = std::make_unique<ControlClient>();
        scenario_client->id = next_client_id_++;
        scenario_client->kind = ControlClient::Kind::scenario;
        scenario_client_ = scenario_client.get();
        clients_[scenario_client->id] = std::move(scenario_client);
    }
    started_ = true;
    log_.info("serving " + std::to_string(controllers_.size()) + " controllers (first port " +
              std::to_string(controllers_.front()->port()) + ", last port " +
              std::to_string(controllers_.back()->port()) + ")" +
              (control_port_ ? ", control port " + std::to_string(*control_port_) : ""));
    return {};
}

std::string Simulator::ready_line() const {
    return "ready control=" + (control_port_ ? std::to_string(*control_port_) : "none") +
           " controllers=" + std::to_string(controllers_.size());
}

std::string Simulator::open_listener(Controller& c) {
    auto listener = net::listen_tcp(kServedHost, c.port(), 8);
    if (!listener) {
        std::string why = net::to_string(listener.error());
        if (listener.error() == net::NetError::address_in_use) {
            why += " (another program, or another ctlsim, holds it)";
        }
        return "cannot listen on " + std::string(kServedHost) + ":" + std::to_string(c.port()) +
               " for " + "controller " + std::to_string(c.index()) + ": " + why;
    }
    listener->set_nonblocking(true);
    if (c.port() == 0) {
        c.set_bound_port(*listener->local_port());
    }
    c.listener = std::move(*listener);
    return {};
}

void Simulator::set_line_sink(std::function<void(const std::string&)> sink) {
    line_sink_ = std::move(sink);
}

void Simulator::Inbox::post_line(std::string line) {
    {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    waker_.wake();
}

void Simulator::Inbox::post_end_of_input() {
    {
        std::lock_guard lock(mutex_);
        end_ = true;
    }
    waker_.wake();
}

void Simulator::Inbox::request_stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    waker_.wake();
}

// ---------------------------------------------------------------------------------------
// The loop

void Simulator::run() {
    if (!started_) {
        return;
    }
    start_scenario(Clock::now());
    while (!stop_) {
        build_poll_set();
        const auto polled = net::poll_sockets(items_, poll_timeout_ms(Clock::now()));
        if (!polled) {
            log_.error(std::string("poll failed: ") + net::to_string(polled.error()));
            break;
        }
        const auto now = Clock::now();
        dispatch(now);
        run_timers(Clock::now());
        run_scenario(Clock::now());
        check_waits(Clock::now());
        close_finished_clients();
        // The end of standard input ends the simulator once its last command is answered,
        // so a test that dies never leaves a simulator behind.
        if (stdin_ended_ && !stdin_client_->wait && stdin_client_->lines.empty()) {
            stop_ = true;
        }
    }
    // Let control clients read their last replies (bounded: a client that does not read
    // is not waited for long).
    const auto give_up = Clock::now() + std::chrono::seconds(1);
    for (;;) {
        std::vector<net::PollItem> pending;
        for (auto& [id, client] : clients_) {
            if (client->socket.valid() && !client->output.empty()) {
                pending.push_back({client->socket.native(), net::kWritable, 0});
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now());
        if (pending.empty() || left.count() <= 0) {
            break;
        }
        (void)net::poll_sockets(pending, static_cast<int>(left.count()));
        for (auto& [id, client] : clients_) {
            if (client->socket.valid() && !client->output.empty()) {
                write_control_client(*client);
            }
        }
    }
    log_.info("stopped");
}

void Simulator::build_poll_set() {
    items_.clear();
    slots_.clear();
    auto add = [this](const net::Socket& s, unsigned want, Slot slot) {
        items_.push_back({s.native(), want, 0});
        slots_.push_back(slot);
    };
    items_.push_back({inbox_->waker_.poll_socket(), net::kReadable, 0});
    slots_.push_back({Target::waker});
    if (control_listener_.valid() && clients_.size() < kMaxControlClients + 2) {
        add(control_listener_, net::kReadable, {Target::control_listener});
    }
    for (auto& [id, client] : clients_) {
        if (client->socket.valid()) {
            const unsigned want =
                (client->closing ? 0U : static_cast<unsigned>(net::kReadable)) |
                (client->output.empty() ? 0U : static_cast<unsigned>(net::kWritable));
            add(client->socket, want, {Target::control_client, nullptr, id});
        }
    }
    // A connection before its listener: when a client closes and reconnects at once, the
    // close is seen first and the new connection is served, not turned away.
    for (auto& c : controllers_) {
        if (c->connection.valid()) {
            add(c->connection, net::kReadable | (c->write_blocked ? net::kWritable : 0U),
                {Target::connection, c.get()});
        }
        if (c->listener.valid()) {
            add(c->listener, net::kReadable, {Target::listener, c.get()});
        }
    }
}

int Simulator::poll_timeout_ms(Clock::time_point now) const {
    std::optional<Clock::time_point> next;
    auto consider = [&next](Clock::time_point t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    if (!timers_.empty()) {
        consider(timers_.begin()->first);
    }
    // Fast scenario entries run in batches: one wake-up per tick at most, because each
    // wake-up polls every socket (at 1,000 controllers that costs far more than a report).
    for (const auto& p : periodic_) {
        consider(std::max(p.next, last_scenario_round_ + kScenarioTick));
    }
    for (const auto& [id, client] : clients_) {
        if (client->wait) {
            consider(client->wait->deadline);
        }
    }
    if (!next) {
        return -1;  // nothing scheduled: sleep until a socket wakes us
    }
    if (*next <= now) {
        return 0;
    }
    // Round up so the loop never wakes a little early and spins until the due time.
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(*next - now).count();
    return static_cast<int>(std::min<std::int64_t>((us + 999) / 1000, 60'000));
}

void Simulator::dispatch(Clock::time_point) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const unsigned got = items_[i].got;
        if (got == 0) {
            continue;
        }
        const Slot slot = slots_[i];
        switch (slot.target) {
            case Target::waker:
                inbox_->waker_.drain();
                take_posted_lines();
                break;
            case Target::control_listener:
                accept_control_client();
                break;
            case Target::control_client: {
                auto it = clients_.find(slot.client);
                if (it == clients_.end()) {
                    break;
                }
                if (got & net::kWritable) {
                    write_control_client(*it->second);
                }
                if (got & (net::kReadable | net::kError | net::kHangup)) {
                    read_control_client(*it->second);
                }
                break;
            }
            case Target::listener:
                if (slot.controller->listener.valid()) {
                    on_accept(*slot.controller);
                }
                break;
            case Target::connection: {
                Controller& c = *slot.controller;
                // The socket may have been replaced since the poll set was built.
                if (!c.connection.valid() || c.connection.native() != items_[i].socket) {
                    break;
                }
                if (got & net::kWritable) {
                    c.write_blocked = false;
                    flush(c);
                }
                if (c.connection.valid() && (got & (net::kReadable | net::kError | net::kHangup))) {
                    on_readable(c);
                }
                break;
            }
        }
    }
}

void Simulator::run_timers(Clock::time_point now) {
    // Timers added while running are due later than now or run in the next round.
    while (!timers_.empty() && timers_.begin()->first <= now) {
        auto fn = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        fn();
    }
}

void Simulator::take_posted_lines() {
    std::deque<std::string> lines;
    bool end = false;
    {
        std::lock_guard lock(inbox_->mutex_);
        lines.swap(inbox_->lines_);
        end = inbox_->end_;
        if (inbox_->stop_) {
            stop_ = true;
        }
    }
    for (auto& line : lines) {
        stdin_client_->lines.push_back(std::move(line));
    }
    if (end && !stdin_ended_) {
        stdin_ended_ = true;
        log_.info("standard input closed");
    }
    run_client(*stdin_client_);
}

// ---------------------------------------------------------------------------------------
// Scenario

void Simulator::start_scenario(Clock::time_point now) {
    for (const auto& entry : config_.scenario.entries) {
        const auto first = now + entry.start;
        if (entry.repeat) {
            Periodic p{&entry, first, std::nullopt};
            if (entry.duration) {
                p.end = first + *entry.duration;
            }
            periodic_.push_back(p);
        } else {
            const std::string* command = &entry.command;
            timers_.emplace(first, [this, command] {
                scenario_client_->lines.push_back(*command);
                run_client(*scenario_client_);
            });
        }
    }
    if (!config_.scenario.entries.empty()) {
        log_.info("scenario started: " + std::to_string(config_.scenario.entries.size()) +
                  " entries");
    }
}

void Simulator::run_scenario(Clock::time_point now) {
    if (now < last_scenario_round_ + kScenarioTick) {
        return;
    }
    last_scenario_round_ = now;
    for (std::size_t i = 0; i < periodic_.size() && !stop_;) {
        Periodic& p = periodic_[i];
        // Make up missed runs so the long-run rate holds, but never more than a second's
        // worth at once: a simulator that was stopped in a debugger must not flood.
        const auto interval = p.entry->interval;
        const auto backlog_limit = std::max<std::int64_t>(1, 1'000'000 / interval.count());
        std::int64_t runs = 0;
        while (p.next <= now && (!p.end || p.next < *p.end) && runs < backlog_limit) {
            scenario_client_->lines.push_back(p.entry->command);
            run_client(*scenario_client_);
            p.next += interval;
            ++runs;
        }
        if (p.next <= now) {
            p.next = now + interval;  // too far behind: start afresh
        }
        if (p.end && p.next >= *p.end) {
            periodic_.erase(periodic_.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        ++i;
    }
}

}  // namespace ctlsim
