// ctlsim: many simulated door controllers on 127.0.0.1 for tests, benchmarks and demos.
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "options.h"
#include "simulator.h"

int main(int argc, char** argv) {
    using namespace ctlsim;
    const CommandLine cl = parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    if (cl.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Log log(cl.log_level);
    if (!cl.error.empty()) {
        log.error(cl.error);
        std::fputs(kUsage, stderr);
        return 2;
    }
    ControllerList list = controller_list(cl);
    for (const auto& warning : list.warnings) {
        log.info(warning);
    }
    if (!list.ok()) {
        log.error(list.error);
        return 2;
    }

    SimulatorConfig config;
    config.controllers = std::move(list.controllers);
    config.control_port = cl.control_port;
    config.seed = cl.seed;
    config.log_level = cl.log_level;
    if (!cl.scenario_file.empty()) {
        config.scenario = load_scenario_file(cl.scenario_file);
        if (!config.scenario.ok()) {
            log.error(config.scenario.error);
            return 2;
        }
    }

    Simulator sim(std::move(config));
    if (const std::string error = sim.start(); !error.empty()) {
        log.error(error);
        return 1;
    }
    sim.set_line_sink([](const std::string& reply) {
        std::fwrite(reply.data(), 1, reply.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    });
    const std::string ready = sim.ready_line() + "\n";
    std::fwrite(ready.data(), 1, ready.size(), stdout);
    std::fflush(stdout);

    if (cl.read_stdin) {
        // Standard input cannot be polled with sockets on Windows, so a thread reads it.
        // It holds the inbox, not the simulator, and may stay blocked in a read until
        // the process ends.
        std::thread([inbox = sim.inbox()] {
            std::string line;
            while (std::getline(std::cin, line)) {
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                inbox->post_line(std::move(line));
            }
            inbox->post_end_of_input();
        }).detach();
    }
    sim.run();
    return 0;
}
