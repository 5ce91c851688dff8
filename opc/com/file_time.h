// Time stamps: FILETIME (UTC, 100 ns since 1601) and OLE dates (days since 1899-12-30).
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstdint>

namespace porvex::opc {

inline std::uint64_t FileTimeTicks(const FILETIME& t) noexcept {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

inline FILETIME FileTimeFromTicks(std::uint64_t ticks) noexcept {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(ticks);
    t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

// The OLE date of a FILETIME, to the millisecond (the system conversion drops them).
inline DATE OleDateFromFileTime(const FILETIME& t) noexcept {
    constexpr double kTicksPerDay = 864000000000.0;
    constexpr double kDaysFrom1601To1899 = 109205.0;
    return static_cast<double>(FileTimeTicks(t)) / kTicksPerDay - kDaysFrom1601To1899;
}

}  // namespace porvex::opc
