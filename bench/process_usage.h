// CPU time and resident memory of the calling process, for benchmarks.
#pragma once

#include <cstdint>

namespace porvex::bench {

// User and system CPU time of this process, in seconds.
double cpu_seconds();
// Resident memory of this process (the working set on Windows), in bytes.
std::uint64_t resident_bytes();
// Address space in use (reserved or committed), in bytes: what limits a 32-bit process.
std::uint64_t address_space_bytes();
// Private memory committed (Windows; what the system charges the process). 0 elsewhere.
std::uint64_t committed_private_bytes();

}  // namespace porvex::bench
