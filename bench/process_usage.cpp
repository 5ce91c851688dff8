#include "process_usage.h"

#ifdef _WIN32
#include <windows.h>
// psapi.h needs windows.h first
#include <psapi.h>
#else
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#endif

namespace porvex::bench {

#ifdef _WIN32
double cpu_seconds() {
    FILETIME created;
    FILETIME ended;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        return 0;
    }
    auto to_100ns = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(to_100ns(kernel) + to_100ns(user)) / 1e7;
}

std::uint64_t resident_bytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return 0;
    }
    return counters.WorkingSetSize;
}

namespace {

template <class Count>
std::uint64_t sum_regions(Count count) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    std::uint64_t total = 0;
    auto* p = static_cast<const char*>(si.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION m;
    while (p < static_cast<const char*>(si.lpMaximumApplicationAddress) &&
           VirtualQuery(p, &m, sizeof m) == sizeof m) {
        if (count(m)) {
            total += m.RegionSize;
        }
        p = static_cast<const char*>(m.BaseAddress) + m.RegionSize;
    }
    return total;
}

}  // namespace

std::uint64_t address_space_bytes() {
    return sum_regions([](const MEMORY_BASIC_INFORMATION& m) { return m.State != MEM_FREE; });
}

std::uint64_t committed_private_bytes() {
    return sum_regions([](const MEMORY_BASIC_INFORMATION& m) {
        return m.State == MEM_COMMIT && m.Type == MEM_PRIVATE;
    });
}
#else
double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::uint64_t resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0;
    std::uint64_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

std::uint64_t address_space_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0;
    statm >> size;
    return size * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

std::uint64_t committed_private_bytes() { return 0; }
#endif

}  // namespace porvex::bench
