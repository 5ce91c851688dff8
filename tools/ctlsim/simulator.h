// The controller simulator: many controllers, one event loop thread.
//
// Every controller listens on its own 127.0.0.1 port and serves one connection at a
// time. One thread polls every socket (listeners, connections, control clients and a
// waker) and sleeps in poll() until something happens or the next timer is due, so an
// idle simulator uses no CPU. Timers (reply delays, split frames, wait time-outs,
// scenario runs) are a time-ordered queue consulted for the poll time-out.
//
// Control comes in lines: from control-port clients, from standard input (handed over
// by another thread through post_line) and from the scenario. Each client's commands are
// answered in order; a `wait` holds that client's later commands until it is answered.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "controller.h"
#include "log.h"
#include "net/socket.h"
#include "scenario.h"

namespace ctlsim {

struct SimulatorConfig {
    std::vector<ControllerAddress> controllers;
    std::optional<std::uint16_t> control_port;  // none: no control port
    Scenario scenario;
    std::optional<std::uint32_t> seed;  // for random choices; the scenario's otherwise
    LogLevel log_level = LogLevel::info;
};

class Simulator {
  public:
    explicit Simulator(SimulatorConfig config);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens every listener and the control port. Returns an error an operator can act
    // on, or an empty string.
    std::string start();

    // "ready control=<port|none> controllers=<n>", printed once start() succeeded.
    std::string ready_line() const;
    std::optional<std::uint16_t> control_port() const { return control_port_; }
    std::size_t controller_count() const { return controllers_.size(); }
    std::uint16_t controller_port(std::size_t index) const;

    // Runs the loop on the calling thread until `quit`, the end of standard input or
    // request_stop().
    void run();

    // Where replies to standard-input commands go (called on the loop thread).
    void set_line_sink(std::function<void(const std::string&)> sink);

    // Lines and signals other threads hand to the loop. Shared, so that a thread blocked
    // reading standard input may outlive the simulator.
    class Inbox {
      public:
        void post_line(std::string line);  // a standard-input command
        void post_end_of_input();          // standard input closed: the loop ends
        void request_stop();               // the loop ends

      private:
        friend class Simulator;
        std::mutex mutex_;
        std::deque<std::string> lines_;
        bool end_ = false;
        bool stop_ = false;
        zorvik::net::Waker waker_;
    };
    std::shared_ptr<Inbox> inbox() const { return inbox_; }
    void request_stop() { inbox_->request_stop(); }

  private:
    struct Wait {
        std::size_t controller = 0;
        std::string condition;                   // as written, for the reply
        std::function<std::uint64_t()> current;  // the value the condition looks at
        std::uint64_t target = 1;
        Clock::time_point deadline;
    };

    struct ControlClient {
        enum class Kind { socket, standard_input, scenario };
        std::uint64_t id = 0;
        Kind kind = Kind::socket;
        zorvik::net::Socket socket;
        std::string input;
        bool overlong = false;
        std::deque<std::string> lines;
        std::optional<Wait> wait;
        std::string output;
        bool closing = false;
    };

    struct Periodic {
        const ScenarioEntry* entry;
        Clock::time_point next;
        std::optional<Clock::time_point> end;
    };

    // Event loop.
    void build_poll_set();
    int poll_timeout_ms(Clock::time_point now) const;
    void dispatch(Clock::time_point now);
    void run_timers(Clock::time_point now);
    void take_posted_lines();

    // Controllers.
    std::string open_listener(Controller& c);
    void on_accept(Controller& c);
    void adopt(Controller& c, zorvik::net::Socket socket);
    void on_readable(Controller& c);
    void drop(Controller& c, std::string_view why, bool reset);
    void send_reply(Controller& c, Bytes bytes);
    void send_frame(Controller& c, Bytes bytes, Clock::duration delay);
    void send_raw(Controller& c, Bytes bytes);
    void queue(Controller& c, Bytes bytes, Clock::time_point due);
    void flush(Controller& c);

    // Control clients.
    void accept_control_client();
    void read_control_client(ControlClient& client);
    void run_client(ControlClient& client);
    void answer(ControlClient& client, const std::string& reply);
    void write_control_client(ControlClient& client);
    void check_waits(Clock::time_point now);
    void close_finished_clients();

    // Scenario.
    void start_scenario(Clock::time_point now);
    void run_scenario(Clock::time_point now);

    // Commands (commands.cpp). nullopt: the reply comes later (a wait was registered).
    std::optional<std::string> execute(ControlClient& client, std::string_view line);
    struct Selection;
    Selection select(std::string_view token);
    std::optional<std::string> cmd_wait(ControlClient& client,
                                        const std::vector<std::string_view>& t);
    std::string cmd_info(const Controller& c) const;
    std::string cmd_stats() const;
    std::string cmd_received(const Controller& c) const;
    std::string cmd_report(const std::vector<std::string_view>& t);
    std::string cmd_fault(const std::vector<std::string_view>& t);
    std::string cmd_reply(const std::vector<std::string_view>& t);
    std::string deliver_report(Selection& sel, std::uint8_t cmd, const Bytes& payload,
                               std::uint32_t ap, std::uint32_t psw);
    // stream_command.cpp
    struct Stream;
    std::string cmd_stream(const std::vector<std::string_view>& t);
    std::string cmd_clock() const;
    void run_stream(const std::shared_ptr<Stream>& stream);

    static constexpr std::size_t kMaxControlClients = 64;
    static constexpr std::size_t kMaxControlLine = 65536;
    static constexpr std::size_t kMaxControlOutput = 4 * 1024 * 1024;
    static constexpr int kAcceptsPerRound = 16;
    // A host that stops reading while reports keep coming is dropped rather than letting
    // its queue grow without bound (a real controller's buffer is far smaller).
    static constexpr std::size_t kMaxQueuedPerConnection = 4 * 1024 * 1024;

    SimulatorConfig config_;
    Log log_;
    zorvik::net::NetStartup net_;
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
    std::vector<std::unique_ptr<Controller>> controllers_;
    std::unordered_map<std::uint16_t, std::size_t> by_port_;
    zorvik::net::Socket control_listener_;
    std::optional<std::uint16_t> control_port_;
    std::map<std::uint64_t, std::unique_ptr<ControlClient>> clients_;
    std::uint64_t next_client_id_ = 1;
    ControlClient* stdin_client_ = nullptr;
    ControlClient* scenario_client_ = nullptr;
    std::function<void(const std::string&)> line_sink_;
    std::multimap<Clock::time_point, std::function<void()>> timers_;
    std::vector<Periodic> periodic_;
    static constexpr Clock::duration kScenarioTick = std::chrono::milliseconds(10);
    Clock::time_point last_scenario_round_{};
    std::mt19937 rng_;
    std::uint64_t stream_generation_ = 0;  // the running stream's; bumped by each new one
    bool stop_ = false;
    bool started_ = false;
    bool stdin_ended_ = false;

    // Poll set, rebuilt each round: what each item stands for.
    enum class Target { waker, control_listener, control_client, listener, connection };
    struct Slot {
        Target target;
        Controller* controller = nullptr;
        std::uint64_t client = 0;
    };
    std::vector<zorvik::net::PollItem> items_;
    std::vector<Slot> slots_;
    std::vector<std::uint8_t> read_buffer_;
};

}  // namespace ctlsim
