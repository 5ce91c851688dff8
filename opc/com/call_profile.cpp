#include "opc/com/call_profile.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "opc/com/critical_section.h"
#include "opc/com/text.h"

namespace porvex::opc {
namespace call_profile_detail {

std::atomic<bool> enabled{false};

namespace {

// Enough samples for the medians of a benchmark's measure; beyond it only the count and
// the sum grow, so that a profile left on does not grow without end.
constexpr std::size_t kMaxSamples = 100000;

struct TMethodTimes {
    unsigned long long calls = 0;
    LONGLONG total = 0;
    std::vector<LONGLONG> samples;
};

struct TProfile {
    TCriticalSection lock;
    // Keyed by the text: the same method's name may be a different literal in each file.
    std::map<std::string, TMethodTimes> methods;
};

TProfile& Profile() {
    static TProfile profile;
    return profile;
}

}  // namespace

void Record(const char* method, LONGLONG ticks) noexcept {
    try {
        TProfile& profile = Profile();
        TLock lock(profile.lock);
        TMethodTimes& times = profile.methods[method];
        ++times.calls;
        times.total += ticks;
        if (times.samples.size() < kMaxSamples) {
            times.samples.push_back(ticks);
        }
    } catch (...) {
        // Out of memory: the call goes untimed.
    }
}

}  // namespace call_profile_detail

void EnableCallProfile() noexcept {
    call_profile_detail::enabled.store(true, std::memory_order_relaxed);
}

bool CallProfileEnabled() noexcept {
    return call_profile_detail::enabled.load(std::memory_order_relaxed);
}

void RestartCallProfile() noexcept {
    auto& profile = call_profile_detail::Profile();
    TLock lock(profile.lock);
    profile.methods.clear();
}

std::wstring CallProfileText() {
    using call_profile_detail::TMethodTimes;
    std::map<std::string, TMethodTimes> methods;
    {
        auto& profile = call_profile_detail::Profile();
        TLock lock(profile.lock);
        methods = profile.methods;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double us_per_tick = 1e6 / static_cast<double>(frequency.QuadPart);
    std::wstring text;
    for (auto& [method, times] : methods) {
        std::vector<LONGLONG>& samples = times.samples;
        std::sort(samples.begin(), samples.end());
        const std::size_t mid = samples.size() / 2;
        const double median =
            samples.empty() ? 0.0
            : samples.size() % 2 != 0
                ? static_cast<double>(samples[mid])
                : (static_cast<double>(samples[mid - 1]) + static_cast<double>(samples[mid])) / 2;
        char line[256];
        std::snprintf(
            line, sizeof line, "%s calls=%llu median_us=%.2f mean_us=%.2f\n", method.c_str(),
            times.calls, median * us_per_tick,
            static_cast<double>(times.total) * us_per_tick / static_cast<double>(times.calls));
        text += WideFromUtf8(line);
    }
    return text;
}

}  // namespace porvex::opc
