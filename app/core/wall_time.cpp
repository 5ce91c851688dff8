#include "core/wall_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace porvex {

namespace {

constexpr double kUnixEpochAsOleDate = 25569.0;  // 1970-01-01
constexpr double kSecondsPerDay = 86400.0;

bool local_parts(std::time_t at, std::tm& parts) {
#ifdef _WIN32
    return localtime_s(&parts, &at) == 0;
#else
    return localtime_r(&at, &parts) != nullptr;
#endif
}

}  // namespace

WallTime local_now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t whole = std::chrono::system_clock::to_time_t(now);
    const double fraction =
        std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(whole)).count();
    std::tm parts{};
    if (!local_parts(whole, parts)) {
        return {};
    }
    // The local clock reading counted from 1970-01-01 gives days on the local VT_DATE
    // scale.
    const double local_seconds = static_cast<double>(parts.tm_yday) * kSecondsPerDay +
                                 parts.tm_hour * 3600.0 + parts.tm_min * 60.0 + parts.tm_sec;
    // Days from 1970-01-01 to the first day of the local year.
    const int year = parts.tm_year + 1900;
    long days = 0;
    for (int y = 1970; y < year; ++y) {
        days += (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 366 : 365;
    }
    WallTime time;
    time.ole_date = kUnixEpochAsOleDate + static_cast<double>(days) +
                    (local_seconds + fraction) / kSecondsPerDay;
    time.text = ole_date_text(time.ole_date);
    return time;
}

std::string ole_date_text(double ole_date) {
    // Civil date from days since 1970-01-01 (Howard Hinnant's days_from_civil inverse).
    // Rounded to the millisecond first: 12:01:01 must not print as 12:01:00.999.
    constexpr long long kMillisecondsPerDay = 86400000;
    const long long total_ms =
        std::llround((ole_date - kUnixEpochAsOleDate) * static_cast<double>(kMillisecondsPerDay));
    long long day = total_ms / kMillisecondsPerDay;
    long long ms_of_day = total_ms % kMillisecondsPerDay;
    if (ms_of_day < 0) {
        ms_of_day += kMillisecondsPerDay;
        --day;
    }
    const long long seconds = ms_of_day / 1000;
    const long long z = day + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char text[128];  // room for any value the compiler can imagine
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", y, m, d,
                  seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

}  // namespace porvex
