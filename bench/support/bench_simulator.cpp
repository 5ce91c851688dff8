#include "bench_simulator.h"

#include <sstream>
#include <stdexcept>

namespace porvex::bench {

BenchSimulator::BenchSimulator(int controllers, std::uint16_t control_port) {
    if (control_port == 0) {
        started_.emplace(ctlsim::testing::CtlsimOptions{
            static_cast<std::size_t>(controllers), {"--quiet"}, std::chrono::seconds(120)});
        control_port_ = started_->control_port();
        ports_ = started_->ports();
        return;
    }
    attached_.emplace(control_port);
    control_port_ = control_port;
    const std::string reply = attached_->command("ports");
    std::istringstream words(reply);
    std::string word;
    words >> word;
    if (word != "ok") {
        throw std::runtime_error("the simulator at control port " + std::to_string(control_port) +
                                 " answered 'ports' with '" + reply + "'");
    }
    unsigned port = 0;
    while (static_cast<int>(ports_.size()) < controllers && words >> port) {
        ports_.push_back(static_cast<std::uint16_t>(port));
    }
    if (static_cast<int>(ports_.size()) < controllers) {
        throw std::runtime_error("the simulator at control port " + std::to_string(control_port) +
                                 " serves " + std::to_string(ports_.size()) +
                                 " controllers, fewer than " + std::to_string(controllers));
    }
}

std::string BenchSimulator::command(std::string_view line) {
    std::lock_guard lock(command_lock_);
    return started_ ? started_->command(line) : attached_->command(line);
}

std::string BenchSimulator::describe() const {
    return started_ ? "ctlsim started here (" + ctlsim::testing::Ctlsim::program() + ")"
                    : "ctlsim attached at control port " + std::to_string(control_port_);
}

}  // namespace porvex::bench
