#include "measures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>

namespace porvex::bench {
namespace {

constexpr double kMs = 1e3;
constexpr double kUs = 1e6;
constexpr double kMb = 1.0 / (1024 * 1024);

// Latencies are stored in seconds, memory in bytes, CPU per value in seconds.
constexpr TMeasureInfo kInfo[kMeasureCount] = {
    {"activation, cold (server started by COM)", "ms", kMs, 0.85},
    {"activation, warm (CoCreateInstance, median)", "ms", kMs, 0.85},
    {"IOPCServer::GetStatus (median of 1,000)", "ms", kMs, 0.85},
    {"IOPCCommon::GetLocaleID (median of 1,000)", "ms", kMs, 0.85},
    {"SyncIO Read 1 item, cache", "ms", kMs, 0.85},
    {"SyncIO Read 100 items, cache", "ms", kMs, 0.85},
    {"SyncIO Read 1,000 items, cache", "ms", kMs, 0.85},
    {"SyncIO Read 1 item, device", "ms", kMs, 0.85},
    {"SyncIO Read 100 items, device", "ms", kMs, 0.85},
    {"SyncIO Read 1,000 items, device", "ms", kMs, 0.5},
    {"AddItems 1,000 items", "ms", kMs, 0.75},
    {"server resident memory after activation", "MB", kMb, 0.65},
    {"server resident memory, 1,000 items in a group", "MB", kMb, 0},
    {"server idle CPU", "%", 100, 0},
    {"rate granted when 50 ms is asked", "ms", 1, 0},
    {"values/s, 1,000 items at 50 ms", "1/s", 1, 0},
    {"server CPU per value at 50 ms, less idle (/proc)", "us", kUs, 1.0},
    {"  the same from GetProcessTimes", "us", kUs, 0},
    {"rate granted when 10 ms is asked", "ms", 1, 0},
    {"values/s, 1,000 items at 10 ms", "1/s", 1, 0},
    {"server CPU per value at 10 ms, less idle (/proc)", "us", kUs, 1.0},
    {"  the same from GetProcessTimes", "us", kUs, 0},
    {"empty call to the echo object (median of 1,000)", "ms", kMs, 0},
    {"in the server: GetStatus", "ms", kMs, 0},
    {"in the server: Read 1 item, cache", "ms", kMs, 0},
    {"in the server: Read 100 items, cache", "ms", kMs, 0},
    {"in the server: Read 1,000 items, cache", "ms", kMs, 0},
    {"in the server: Read 1 item, device", "ms", kMs, 0},
    {"in the server: Read 100 items, device", "ms", kMs, 0},
    {"in the server: Read 1,000 items, device", "ms", kMs, 0},
    {"in the server: AddItems 1,000 items", "ms", kMs, 0},
    {"server CPU per call: GetStatus", "ms", kMs, 0},
    {"server CPU per call: Read 1 item, cache", "ms", kMs, 0},
    {"server CPU per call: Read 100 items, cache", "ms", kMs, 0},
    {"server CPU per call: Read 1,000 items, cache", "ms", kMs, 0},
    {"server CPU per call: Read 1 item, device", "ms", kMs, 0},
    {"server CPU per call: Read 100 items, device", "ms", kMs, 0},
    {"server CPU per call: Read 1,000 items, device", "ms", kMs, 0},
    {"server CPU per call: AddItems 1,000 items", "ms", kMs, 0},
    {"client CPU per call: GetStatus", "ms", kMs, 0},
    {"client CPU per call: Read 1 item, cache", "ms", kMs, 0},
    {"client CPU per call: Read 100 items, cache", "ms", kMs, 0},
    {"client CPU per call: Read 1,000 items, cache", "ms", kMs, 0},
    {"client CPU per call: Read 1 item, device", "ms", kMs, 0},
    {"client CPU per call: Read 100 items, device", "ms", kMs, 0},
    {"client CPU per call: Read 1,000 items, device", "ms", kMs, 0},
    {"client CPU per call: AddItems 1,000 items", "ms", kMs, 0},
};

// Each call measured with the measure of its time inside the server.
constexpr struct {
    TMeasure round_trip;
    TMeasure in_server;
    const char* name;
} kCalls[] = {
    {kGetStatus, kInServerGetStatus, "GetStatus"},
    {kReadCache1, kInServerReadCache1, "Read 1 item, cache"},
    {kReadCache100, kInServerReadCache100, "Read 100 items, cache"},
    {kReadCache1000, kInServerReadCache1000, "Read 1,000 items, cache"},
    {kReadDevice1, kInServerReadDevice1, "Read 1 item, device"},
    {kReadDevice100, kInServerReadDevice100, "Read 100 items, device"},
    {kReadDevice1000, kInServerReadDevice1000, "Read 1,000 items, device"},
    {kAddItems1000, kInServerAddItems1000, "AddItems 1,000 items"},
};

double MedianOf(const std::vector<TMeasures>& runs, int measure) {
    std::vector<double> values;
    for (const TMeasures& run : runs) {
        if (!std::isnan(run[static_cast<std::size_t>(measure)])) {
            values.push_back(run[static_cast<std::size_t>(measure)]);
        }
    }
    return Median(values);
}

}  // namespace

const TMeasureInfo& Info(TMeasure measure) { return kInfo[measure]; }

TMeasures NewMeasures() {
    return TMeasures(kMeasureCount, std::numeric_limits<double>::quiet_NaN());
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void PrintBreakdown(const std::vector<TMeasures>& current, const std::vector<TMeasures>& baseline) {
    const double floor = MedianOf(current, kEmptyCall);
    std::printf(
        "\nwhere the time of a call goes, this build (ms; medians over repetitions; rest = round "
        "trip - in server,\nof which the empty call's floor %.3f ms is the same for every call):\n",
        floor * kMs);
    std::printf("%-26s %11s %11s %11s %11s %9s\n", "call", "round trip", "in server", "rest",
                "rest-floor", "in server");
    for (const auto& call : kCalls) {
        std::vector<double> rest;
        std::vector<double> share;
        for (const TMeasures& run : current) {
            const double trip = run[static_cast<std::size_t>(call.round_trip)];
            const double inside = run[static_cast<std::size_t>(call.in_server)];
            if (!std::isnan(trip) && !std::isnan(inside)) {
                rest.push_back(trip - inside);
                share.push_back(inside / trip);
            }
        }
        std::printf("%-26s %11.3f %11.3f %11.3f %11.3f %8.1f%%\n", call.name,
                    MedianOf(current, call.round_trip) * kMs,
                    MedianOf(current, call.in_server) * kMs, Median(rest) * kMs,
                    (Median(rest) - floor) * kMs, Median(share) * 100);
    }
    // CPU is what the load of the machine disturbs least: the server's CPU per call, its part
    // outside the method (stub, RPC run-time, dispatch to the engine thread), the client's.
    std::printf(
        "\nCPU per call (ms; medians over repetitions; server CPU less its idle CPU):\n"
        "%-26s %11s %11s %8s %11s %11s %11s\n",
        "call", "server", baseline.empty() ? "" : "baseline", baseline.empty() ? "" : "ratio",
        "in method", "outside", "client");
    for (std::size_t i = 0; i < std::size(kCalls); ++i) {
        const auto& call = kCalls[i];
        const int server_cpu = kServerCpuGetStatus + static_cast<int>(i);
        const int client_cpu = kClientCpuGetStatus + static_cast<int>(i);
        std::vector<double> outside;
        for (const TMeasures& run : current) {
            const double difference = run[static_cast<std::size_t>(server_cpu)] -
                                      run[static_cast<std::size_t>(call.in_server)];
            if (!std::isnan(difference)) {
                outside.push_back(difference);
            }
        }
        const double now = MedianOf(current, server_cpu);
        const double before = baseline.empty() ? std::nan("") : MedianOf(baseline, server_cpu);
        std::printf("%-26s %11.3f %11.3f %7.2fx %11.3f %11.3f %11.3f\n", call.name, now * kMs,
                    before * kMs, now / before, MedianOf(current, call.in_server) * kMs,
                    Median(outside) * kMs, MedianOf(current, client_cpu) * kMs);
    }
}

void PrintTable(const std::vector<TMeasures>& current, const std::vector<TMeasures>& baseline,
                double valuesTarget10ms) {
    const bool compare = !baseline.empty();
    std::printf("\n%-50s %5s %11s %11s %8s %8s %s\n", "measure (medians over repetitions)", "unit",
                "this build", compare ? "baseline" : "", compare ? "ratio" : "", "target",
                "verdict");
    int missed = 0;
    for (int m = 0; m < kFirstBreakdownMeasure; ++m) {
        const TMeasureInfo& info = kInfo[m];
        const double now = MedianOf(current, m);
        const double before = compare ? MedianOf(baseline, m) : std::nan("");
        const double ratio = now / before;
        char target[16] = "";
        const char* verdict = "";
        if (m == kValues10) {
            std::snprintf(target, sizeof target, ">=%.0f", valuesTarget10ms);
            verdict = now >= valuesTarget10ms ? "met" : "MISSED";
        } else if (compare && info.target_ratio > 0) {
            std::snprintf(target, sizeof target, "<=%.2fx", info.target_ratio);
            verdict = ratio <= info.target_ratio ? "met" : "MISSED";
        }
        missed += verdict[0] == 'M' ? 1 : 0;
        std::printf("%-50s %5s %11.3f %11.3f %7.2fx %8s %s\n", info.name, info.unit,
                    now * info.scale, before * info.scale, ratio, target, verdict);
    }
    std::printf("targets missed: %d\n", missed);
}

}  // namespace porvex::bench
