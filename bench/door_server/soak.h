// The soak: minutes of card reads, door events and alarms at a door server under link
// faults, with every card accounted for (see soak.cpp).
#pragma once

#include "bench_simulator.h"
#include "door_bench.h"

namespace door_bench {

struct SoakParts {
    porvex::bench::BenchSimulator& sim;
    porvex::DoorServer& doors;
    Pump& pump;
    CardLatency& cards;
    CardLeafWatch& leaf_watch;
    DWORD update_rate_ms;
};

// Runs the soak of o.soak_minutes; returns 0 when no card was lost while its link was up
// and memory stayed within its bound, 1 otherwise.
int run_soak(const Options& o, SoakParts parts);

}  // namespace door_bench
