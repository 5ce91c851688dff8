// The measures of the out-of-process benchmark, and the comparison of two server builds.
#pragma once

#include <string>
#include <vector>

namespace porvex::bench {

enum TMeasure {
    kColdActivation,
    kWarmActivation,
    kGetStatus,
    kGetLocaleId,
    kReadCache1,
    kReadCache100,
    kReadCache1000,
    kReadDevice1,
    kReadDevice100,
    kReadDevice1000,
    kAddItems1000,
    kResidentActivated,
    kResident1000Items,
    kIdleCpu,
    kGranted50,
    kValues50,
    kCpuPerValue50,
    kSystemCpuPerValue50,
    kGranted10,
    kValues10,
    kCpuPerValue10,
    kSystemCpuPerValue10,
    // Where a call's time goes (this build's sample server started with -CallProfile; NaN
    // for a build without the profile): an empty call to the benchmark's echo object, and
    // the median time inside the server's method for the measure of the same name above.
    kEmptyCall,
    kInServerGetStatus,
    kInServerReadCache1,
    kInServerReadCache100,
    kInServerReadCache1000,
    kInServerReadDevice1,
    kInServerReadDevice100,
    kInServerReadDevice1000,
    kInServerAddItems1000,
    // CPU per call of the same calls: the server's process (less its idle CPU) and the
    // client's (this benchmark's process).
    kServerCpuGetStatus,
    kServerCpuReadCache1,
    kServerCpuReadCache100,
    kServerCpuReadCache1000,
    kServerCpuReadDevice1,
    kServerCpuReadDevice100,
    kServerCpuReadDevice1000,
    kServerCpuAddItems1000,
    kClientCpuGetStatus,
    kClientCpuReadCache1,
    kClientCpuReadCache100,
    kClientCpuReadCache1000,
    kClientCpuReadDevice1,
    kClientCpuReadDevice100,
    kClientCpuReadDevice1000,
    kClientCpuAddItems1000,
    kMeasureCount
};

// The first measure not in the comparison table (the breakdown of calls).
constexpr int kFirstBreakdownMeasure = kEmptyCall;

struct TMeasureInfo {
    const char* name;
    const char* unit;
    double scale;         // printed value = stored value x scale
    double target_ratio;  // new / baseline at most this (0: no ratio target)
};

const TMeasureInfo& Info(TMeasure measure);

// One repetition of one build: every measure, NaN where not taken.
using TMeasures = std::vector<double>;
TMeasures NewMeasures();

double Median(std::vector<double> values);

// The breakdown of this build's calls: for each measured call its round trip at the
// client, the time inside the server's method, the rest (proxy and stub marshalling, the
// RPC transport, the hand-over to the engine thread) and the empty call's floor; then the
// CPU each call costs the server outside its method (stub, RPC run-time) and the client.
void PrintBreakdown(const std::vector<TMeasures>& current, const std::vector<TMeasures>& baseline);

// The table: for each measure the median over repetitions of each build, the ratio and
// whether its target is met. baseline may be empty (one build only).
void PrintTable(const std::vector<TMeasures>& current, const std::vector<TMeasures>& baseline,
                double valuesTarget10ms);

}  // namespace porvex::bench
