// How long one pass of the Tarnet engine's poll thread takes with many supervised links,
// with real echo probes (raw ICMP under Wine as root) against the controller simulator.
//
//     scripts/wine-run --tree build/win32 build/win32/bin/tarnet_poll_bench.exe
//         [--links 1,50,500] [--silent 0,10] [--passes 3] [--reports 200]
//
// Every link has upload enabled (supervised); the supervision thread probes each of them
// in turn. The silent hosts are addresses of TEST-NET-2 (198.51.100.x), which no host
// answers: they stay in the table disconnected and supervised. After the passes, card
// reports are sent to random links and the time from the simulator's command to the
// host's DataReceive is measured: p50, p99 and the worst (goal: p99 < 200 ms with 500
// links).
#include <winsock2.h>
// winsock2.h before windows.h
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ctlsim_driver.h"
#include "engine.h"
#include "notice_receiver.h"

namespace {

using namespace std::chrono;
using tarnet::Engine;

std::vector<int> numbers(const std::string& list) {
    std::vector<int> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        out.push_back(std::stoi(item));
    }
    return out;
}

void pump(DWORD wait_ms) {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, wait_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageW(&msg);
    }
}

// Notices as the control handles them: a reconnect request reconnects.
class Host : public tarnet::NoticeTarget, public tarnet::EventSink {
  public:
    void data_receive(const tarnet::FrameReport& report) override {
        ++reports;
        if (const auto it = sent_at.find(report.data); it != sent_at.end()) {
            latencies_ms.push_back(
                duration<double, std::milli>(steady_clock::now() - it->second).count());
            sent_at.erase(it);
        }
    }
    void failed_connect(const std::string&, std::int16_t) override { ++failed; }
    void reconnect_request(const std::string& server, std::int16_t port) override {
        if (engine->connect_link(server, port, *this) == 0) {
            engine->set_upload(server, port, true);
        }
    }
    void fire_reconnect(const std::string&, std::int16_t) override {}
    void fire_failed_connect(const std::string&, std::int16_t) override { ++failed; }

    std::shared_ptr<Engine> engine;
    int reports = 0;
    int failed = 0;
    // Payload text of each report sent and not yet received, with the time it was sent.
    std::map<std::string, steady_clock::time_point> sent_at;
    std::vector<double> latencies_ms;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

LRESULT CALLBACK owner_procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* receiver =
        reinterpret_cast<tarnet::NoticeReceiver*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    LRESULT result = 0;
    if (receiver != nullptr && receiver->handle(hwnd, msg, wparam, lparam, result)) {
        return result;
    }
    return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

HWND owner_window(tarnet::NoticeReceiver& receiver) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &owner_procedure;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TarnetBenchOwner";
    ::RegisterClassW(&wc);
    HWND hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&receiver));
    return hwnd;
}

void run(int links, int silent, int passes, int reports) {
    ctlsim::testing::Ctlsim sim(static_cast<std::size_t>(std::max(links, 1)), {"--quiet"});
    Host host;
    tarnet::NoticeReceiver receiver(host);
    HWND window = owner_window(receiver);
    host.engine = Engine::create(window);
    Engine& engine = *host.engine;

    const auto setup_start = steady_clock::now();
    for (int i = 0; i < links; ++i) {
        const auto port = static_cast<std::int16_t>(sim.port(static_cast<std::size_t>(i)));
        if (engine.connect_link("127.0.0.1", port, host) != 0 ||
            engine.set_upload("127.0.0.1", port, true) != 0) {
            std::printf("link %d failed to come up\n", i);
        }
    }
    const double connect_ms =
        duration<double, std::milli>(steady_clock::now() - setup_start).count();
    for (int i = 0; i < silent; ++i) {
        const std::string address = "198.51.100." + std::to_string(10 + i);
        const auto r = engine.connect_link(address, 5768, host);  // 10060 after 5 probes
        engine.set_upload(address, 5768, true);                   // supervised, disconnected
        if (r != 10060) {
            std::printf("silent host %s gave %d\n", address.c_str(), r);
        }
    }
    const double setup_ms = duration<double, std::milli>(steady_clock::now() - setup_start).count();

    // Skip the pass that was running while links were added; then measure whole passes.
    std::uint64_t start = engine.poll_statistics().passes;
    while (engine.poll_statistics().passes < start + 1) {
        pump(10);
    }
    start = engine.poll_statistics().passes;
    std::vector<double> times;
    while (static_cast<int>(times.size()) < passes) {
        pump(10);
        const auto stats = engine.poll_statistics();
        if (stats.passes > start + times.size()) {
            times.push_back(stats.last_pass_ms);
        }
    }
    const double sum = std::accumulate(times.begin(), times.end(), 0.0);
    std::printf(
        "supervised=%-4d silent=%-3d pass ms: avg %9.1f  min %9.1f  max %9.1f  "
        "(%.1f ms per link)  connect %.0f ms (%.1f per link), setup %.0f ms\n",
        links, silent, sum / times.size(), *std::min_element(times.begin(), times.end()),
        *std::max_element(times.begin(), times.end()),
        sum / times.size() / std::max(links + silent, 1), connect_ms,
        connect_ms / std::max(links, 1), setup_ms);
    std::fflush(stdout);

    // Report latency: one card report at a time to a random link, 20 a second; the main
    // thread is the control's thread and handles the notices meanwhile.
    if (links > 0 && reports > 0) {
        std::mt19937 random(7);
        int not_sent = 0;
        for (int i = 0; i < reports; ++i) {
            char card[16];
            std::snprintf(card, sizeof card, "%08x", 0x20000000u + static_cast<unsigned>(i));
            const std::size_t ctl = random() % static_cast<unsigned>(links);
            // Payload text: count 01, the card, reader 01, status 80, six fixed bytes.
            host.sent_at[std::string("01") + card + "0180000000000000"] = steady_clock::now();
            const std::string reply =
                sim.command("card " + std::to_string(ctl) + " " + card + ":1:granted:000000000000");
            if (reply.find("sent=1") == std::string::npos) {
                ++not_sent;
            }
            const auto until = steady_clock::now() + 50ms;
            while (steady_clock::now() < until) {
                pump(5);
            }
        }
        const auto deadline = steady_clock::now() + 10s;
        while (!host.sent_at.empty() && steady_clock::now() < deadline) {
            pump(10);
        }
        std::printf(
            "supervised=%-4d silent=%-3d report -> DataReceive: %zu of %d received (%d not "
            "sent); p50 %.1f ms, p99 %.1f ms, worst %.1f ms (goal p99 < 200 ms); reports "
            "dropped by the engine %llu\n",
            links, silent, host.latencies_ms.size(), reports, not_sent,
            percentile(host.latencies_ms, 0.5), percentile(host.latencies_ms, 0.99),
            percentile(host.latencies_ms, 1.0),
            static_cast<unsigned long long>(engine.report_drops().total()));
        std::fflush(stdout);
    }
    engine.stop_all();
    host.engine.reset();
    ::DestroyWindow(window);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> links{1, 50, 500};
    std::vector<int> silent{0, 10};
    int passes = 3;
    int reports = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--links") == 0) {
            links = numbers(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--silent") == 0) {
            silent = numbers(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--passes") == 0) {
            passes = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--reports") == 0) {
            reports = std::max(0, std::atoi(argv[i + 1]));
        }
    }
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    tarnet::SystemEchoProber probe_check;
    if (!probe_check.probe("127.0.0.1", 500, 32, nullptr)) {
        std::printf("echo probes of 127.0.0.1 go unanswered (raw ICMP needs root under Wine)\n");
        return 1;
    }
    std::printf("echo probe method: %s\n",
                probe_check.last_method() == tarnet::SystemEchoProber::Method::raw_socket
                    ? "raw ICMP socket"
                    : "ICMP echo API");
    for (int s : silent) {
        for (int n : links) {
            run(n, s, passes, reports);
        }
    }
    ::WSACleanup();
    return 0;
}
