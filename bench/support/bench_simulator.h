// The controller simulator of a door benchmark: the build tree's ctlsim started here with
// its controllers on free ports (two runs never clash), or one already running reached
// through its control port (e.g. the native ctlsim beside a program under Wine), of which
// the first `controllers` are used.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ctlsim_control.h"
#include "ctlsim_driver.h"

namespace porvex::bench {

class BenchSimulator {
  public:
    // control_port 0: start one. Throws std::runtime_error (or CtlsimError) when the
    // simulator cannot be started or reached, or serves fewer controllers.
    BenchSimulator(int controllers, std::uint16_t control_port);

    // One command line and its reply, on the benchmark's own control connection (one
    // caller at a time; threads that send at once open a CtlsimControl each).
    std::string command(std::string_view line);
    std::uint16_t control_port() const { return control_port_; }
    // Controller c listens on ports()[c].
    const std::vector<std::uint16_t>& ports() const { return ports_; }
    // "started here" or "attached at port N", for the benchmark's first lines.
    std::string describe() const;

  private:
    zorvik::net::NetStartup net_;  // sockets usable before the control connection
    std::optional<ctlsim::testing::Ctlsim> started_;
    std::optional<CtlsimControl> attached_;
    std::mutex command_lock_;
    std::uint16_t control_port_ = 0;
    std::vector<std::uint16_t> ports_;
};

}  // namespace porvex::bench
