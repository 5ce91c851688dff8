// Drives the controller simulator (tools/ctlsim) from a test, on both toolchains.
//
// The driver starts the ctlsim program of the test's own build tree
// ($PORVEX_BUILD_DIR/bin/ctlsim, or ctlsim.exe when the test is a Windows program under
// Wine; PORVEX_CTLSIM names another program), waits for its ready line, connects to its
// control port and offers typed calls over the control language (docs/ctlsim.md).
//
//     ctlsim::testing::Ctlsim sim(2);                // two controllers
//     connect_your_code_to("127.0.0.1", sim.port(0));
//     ASSERT_TRUE(sim.wait_upload(0, true));
//     sim.ok("card 0 0012ab34:1:granted");
//     ASSERT_TRUE(sim.wait_received(0, 0x20));   // your code sent a remote open
//     auto frames = sim.received(0);
//
// Controllers listen on free ports, so tests never collide. The simulator reads its
// standard input from the driver and ends when that closes: even a test that crashes
// leaves no simulator behind. Errors (no program, no ready line, a lost control
// connection) throw CtlsimError, which GoogleTest reports as a failure.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/socket.h"

namespace ctlsim::testing {

class ChildProcess;

class CtlsimError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct CtlsimOptions {
    // Each on a free port. 0: only the controllers the arguments name (--listen,
    // --list, --door-db), on the ports they give.
    std::size_t controllers = 1;
    std::vector<std::string> arguments;  // more ctlsim arguments, e.g. {"--scenario", path}
    std::chrono::milliseconds start_timeout{30000};
};

// One entry of what a controller received (the `received` command).
struct Received {
    bool upload_switch = false;  // the raw upload switch rather than a frame
    bool upload_on = false;      // for a switch: enable or disable
    std::uint8_t cmd = 0;
    std::uint16_t ap_code = 0;
    std::uint32_t psw = 0;
    std::vector<std::uint8_t> data;
};

class Ctlsim {
  public:
    explicit Ctlsim(CtlsimOptions options);
    explicit Ctlsim(std::size_t controllers = 1, std::vector<std::string> arguments = {});
    ~Ctlsim();  // closes the simulator's standard input, waits for it, kills it if needed
    Ctlsim(const Ctlsim&) = delete;
    Ctlsim& operator=(const Ctlsim&) = delete;

    // The ctlsim program this driver starts.
    static std::string program();

    std::uint16_t port(std::size_t controller) const;
    const std::vector<std::uint16_t>& ports() const { return ports_; }
    std::uint16_t control_port() const { return control_port_; }

    // Sends one command line and returns its reply line as it came ("ok ..." or
    // "error ..."). Waits at most timeout for the reply.
    std::string command(std::string_view line,
                        std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // The same, but throws unless the reply is "ok"; returns what follows "ok ".
    std::string ok(std::string_view line);

    // Waits until controller ctl has received count frames with command code cmd since
    // the last clear_received (true), or timeout passed (false).
    bool wait_received(std::size_t ctl, std::uint8_t cmd, unsigned count = 1,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool wait_upload(std::size_t ctl, bool on,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool wait_connected(std::size_t ctl, bool connected,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Any condition of the `wait` command, e.g. "connections=2".
    bool wait(std::size_t ctl, std::string_view condition,
              std::chrono::milliseconds timeout = std::chrono::seconds(5));

    std::vector<Received> received(std::size_t ctl);
    void clear_received(std::size_t ctl);
    // The key=value fields of `info`, e.g. info(0)["upload"] == "on".
    std::map<std::string, std::string> info(std::size_t ctl);

    // `fault <ctl> <what>`, e.g. fault(0, "silent on").
    void fault(std::size_t ctl, std::string_view what);
    // A report command for one controller ("card", "door-events", "tamper",
    // "alarms-cleared", "frame", "raw") with its arguments; returns the frames (or raw
    // writes) sent: 0 when the controller is not connected, or for a report when its
    // upload is off or it is silent. Check the result, or use deliver().
    [[nodiscard]] int report(std::string_view kind, std::size_t ctl, std::string_view arguments);
    // The same, for a report that must go out: throws CtlsimError when nothing was sent,
    // so a test never carries on as if the controller had sent it.
    void deliver(std::string_view kind, std::size_t ctl, std::string_view arguments);

  private:
    std::string read_reply(std::chrono::milliseconds timeout);

    std::unique_ptr<ChildProcess> process_;
    zorvik::net::NetStartup net_;
    zorvik::net::Socket control_;
    std::string input_;
    std::uint16_t control_port_ = 0;
    std::vector<std::uint16_t> ports_;
};

// Parses the reply of `received`; throws CtlsimError on anything else.
std::vector<Received> parse_received(std::string_view reply);
// The key=value tokens of a reply.
std::map<std::string, std::string> parse_fields(std::string_view reply);

}  // namespace ctlsim::testing
