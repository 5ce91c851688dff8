// One more control connection to a running ctlsim (docs/ctlsim.md, "Control language"),
// so that several threads of a benchmark can send commands at once: each connection's
// commands are answered in order, independently of the others.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/socket.h"

namespace porvex::bench {

class CtlsimControl {
  public:
    // Throws std::runtime_error when the port cannot be reached.
    explicit CtlsimControl(std::uint16_t control_port);

    // Sends one command line and returns its reply line; throws std::runtime_error when
    // no reply comes within `timeout` or the connection is lost.
    std::string command(std::string_view line,
                        std::chrono::milliseconds timeout = std::chrono::seconds(30));

  private:
    zorvik::net::Socket socket_;
    std::string input_;
};

}  // namespace porvex::bench
