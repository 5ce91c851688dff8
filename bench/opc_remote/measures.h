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
    kMeasureCount
};

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

// The table: for each measure the median over repetitions of each build, the ratio and
// whether its target is met. baseline may be empty (one build only).
void PrintTable(const std::vector<TMeasures>& current, const std::vector<TMeasures>& baseline,
                double valuesTarget10ms);

}  // namespace porvex::bench
