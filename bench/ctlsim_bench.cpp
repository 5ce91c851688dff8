// ctlsim at scale: many controllers in one process, each with a live host connection.
// Prints start-up time, resident memory, idle CPU and CPU at a steady report rate of the
// simulator process (Linux: /proc). Run it from the optimised tree:
//
//     build/linux-release/bin/ctlsim_bench [--controllers 1000] [--seconds 30] [--rate 1000]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "frame/assembler.h"
#include "frame/packets.h"
#include "net/socket.h"

namespace {

using namespace std::chrono;
using ctlsim::testing::ChildProcess;
namespace net = zorvik::net;

struct Args {
    int controllers = 1000;
    int seconds = 30;
    int rate = 1000;
};

// utime + stime of a process in seconds.
double cpu_seconds(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) {  // state .. cmajflt (fields 3..13)
        fields >> skip;
    }
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long resident_kib(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

std::vector<std::uint16_t> ports_of(ChildProcess& sim) {
    sim.write("ports\n");
    const auto reply = sim.read_line(seconds(30));
    std::vector<std::uint16_t> ports;
    if (!reply || reply->rfind("ok", 0) != 0) {
        return ports;
    }
    std::istringstream in(reply->substr(2));
    unsigned p = 0;
    while (in >> p) {
        ports.push_back(static_cast<std::uint16_t>(p));
    }
    return ports;
}

// One host connection per controller, upload enabled and acknowledged.
std::vector<net::Socket> connect_all(const std::vector<std::uint16_t>& ports) {
    std::vector<net::Socket> links;
    for (auto port : ports) {
        auto s = net::connect_tcp("127.0.0.1", port, seconds(5));
        if (!s) {
            std::fprintf(stderr, "connect to %u failed: %s\n", port, net::to_string(s.error()));
            std::exit(1);
        }
        s->send(zorvik::frame::kUploadEnable);
        links.push_back(std::move(*s));
    }
    for (auto& link : links) {
        std::uint8_t ack[4];
        std::size_t got = 0;
        while (got < sizeof ack) {
            const auto r = link.recv({ack + got, sizeof ack - got});
            if (r.count == 0) {
                std::fprintf(stderr, "no upload acknowledgement\n");
                std::exit(1);
            }
            got += r.count;
        }
        link.set_nonblocking(true);
    }
    return links;
}

// Reads every link for the given time; returns the frames received.
std::uint64_t drain(std::vector<net::Socket>& links, duration<double> how_long) {
    std::vector<net::PollItem> items;
    for (auto& l : links) {
        items.push_back({l.native(), net::kReadable, 0});
    }
    std::vector<zorvik::frame::FrameAssembler> assemblers(links.size());
    std::uint64_t frames = 0;
    std::vector<std::uint8_t> buffer(65536);
    const auto end = steady_clock::now() + how_long;
    while (steady_clock::now() < end) {
        const auto left = duration_cast<milliseconds>(end - steady_clock::now()).count();
        (void)net::poll_sockets(items, static_cast<int>(std::max<long long>(left, 1)));
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].got == 0) {
                continue;
            }
            const auto r = links[i].recv(buffer);
            assemblers[i].append({buffer.data(), r.count});
            for (auto cut = assemblers[i].next();
                 cut.kind != zorvik::frame::FrameAssembler::Kind::need_more;
                 cut = assemblers[i].next()) {
                frames += cut.kind == zorvik::frame::FrameAssembler::Kind::frame ? 1 : 0;
            }
        }
    }
    return frames;
}

std::string program_beside(const char* argv0) {
    std::string self = argv0;
    const auto slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/ctlsim";
}

std::unique_ptr<ChildProcess> start(const std::string& program, int controllers,
                                    const std::vector<std::string>& more, double& ready_ms) {
    std::vector<std::string> args{"--controllers", std::to_string(controllers), "--base-port", "0",
                                  "--quiet"};
    args.insert(args.end(), more.begin(), more.end());
    const auto t0 = steady_clock::now();
    auto sim = std::make_unique<ChildProcess>(program, args);
    const auto ready = sim->read_line(seconds(60));
    if (!ready || ready->rfind("ready", 0) != 0) {
        std::fprintf(stderr, "ctlsim did not start\n");
        std::exit(1);
    }
    ready_ms = duration<double, std::milli>(steady_clock::now() - t0).count();
    return sim;
}

}  // namespace

int main(int argc, char** argv) {
    Args args;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const int v = std::atoi(argv[i + 1]);
        if (a == "--controllers") {
            args.controllers = v;
        } else if (a == "--seconds") {
            args.seconds = v;
        } else if (a == "--rate") {
            args.rate = v;
        }
    }
    net::NetStartup startup;
    std::string detail;
    if (net::ensure_socket_capacity(static_cast<std::size_t>(args.controllers) + 64, &detail) !=
        net::NetError::none) {
        std::fprintf(stderr, "ctlsim_bench: %s\n", detail.c_str());
        return 1;
    }
    const std::string program = program_beside(argv[0]);
    std::printf("ctlsim bench: %d controllers, %d s per measurement\n", args.controllers,
                args.seconds);

    // Idle: every controller connected, upload on, nothing happening.
    {
        double ready_ms = 0;
        auto sim = start(program, args.controllers, {}, ready_ms);
        std::printf("  start-up to ready line:     %.0f ms\n", ready_ms);
        const auto t0 = steady_clock::now();
        auto links = connect_all(ports_of(*sim));
        std::printf("  connect and enable upload:  %.0f ms for %zu connections\n",
                    duration<double, std::milli>(steady_clock::now() - t0).count(), links.size());
        std::this_thread::sleep_for(seconds(1));
        std::printf("  resident memory:            %.1f MiB\n",
                    static_cast<double>(resident_kib(sim->pid())) / 1024.0);
        const double c0 = cpu_seconds(sim->pid());
        std::this_thread::sleep_for(seconds(args.seconds));
        const double c1 = cpu_seconds(sim->pid());
        std::printf("  idle CPU:                   %.2f %% of one core\n",
                    100.0 * (c1 - c0) / args.seconds);
        sim->close_stdin();
        sim->wait(seconds(10));
    }

    // Steady reports: a scenario sends card reads to random live controllers.
    {
        char path[] = "/tmp/ctlsim_bench_XXXXXX";
        const int fd = ::mkstemp(path);
        const std::string scenario =
            "rate " + std::to_string(args.rate) + "/s card random-live random:random:random\n";
        if (fd < 0 || ::write(fd, scenario.data(), scenario.size()) < 0) {
            std::fprintf(stderr, "cannot write the scenario\n");
            return 1;
        }
        ::close(fd);
        double ready_ms = 0;
        auto sim = start(program, args.controllers, {"--scenario", path}, ready_ms);
        auto links = connect_all(ports_of(*sim));
        drain(links, seconds(1));
        const double c0 = cpu_seconds(sim->pid());
        const auto t0 = steady_clock::now();
        const auto frames = drain(links, seconds(args.seconds));
        const double elapsed = duration<double>(steady_clock::now() - t0).count();
        const double c1 = cpu_seconds(sim->pid());
        std::printf("  at %d reports/s:           %.2f %% of one core (%.0f reports/s received)\n",
                    args.rate, 100.0 * (c1 - c0) / elapsed, static_cast<double>(frames) / elapsed);
        std::printf("  resident memory then:      %.1f MiB\n",
                    static_cast<double>(resident_kib(sim->pid())) / 1024.0);
        sim->close_stdin();
        sim->wait(seconds(10));
        ::unlink(path);
    }
    return 0;
}
