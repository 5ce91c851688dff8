// Command codes of controller reports and of the program's commands (decimal, as the
// controllers document them).
#pragma once

namespace porvex {

inline constexpr int kCmdDoorEvents = 26;
inline constexpr int kCmdAlarmsCleared = 27;
inline constexpr int kCmdTamper = 28;
inline constexpr int kCmdCardRecords = 30;
inline constexpr int kCmdRemoteOpen = 32;
inline constexpr int kCmdStatusQuery = 33;
inline constexpr int kFirstReportCode = 0x12;
inline constexpr int kLastReportCode = 0x1F;

}  // namespace porvex
