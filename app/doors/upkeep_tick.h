// The upkeep tick, run every 2 seconds while the door-state point is enabled: polls
// controllers whose state is unknown, closes doors reported open once their contact is
// closed, clears card numbers after R seconds, reverts tamper alarms after 10 seconds
// and ends remote opens that got no reply within 10 seconds.
#pragma once

#include "doors/door_commands.h"
#include "doors/door_directory.h"
#include "doors/leaf_change.h"

namespace porvex {

inline constexpr double kTickSeconds = 2.0;
inline constexpr double kPollIntervalSeconds = 60.0;  // state unknown: poll again after
inline constexpr double kOpenCheckSeconds = 5.0;      // door reported open: check after
inline constexpr double kTamperRevertSeconds = 10.0;  // tamper alarm shown for
inline constexpr double kRemoteOpenTimeoutSeconds = 10.0;
inline constexpr int kDefaultRefreshSeconds = 10;

class UpkeepTick {
  public:
    UpkeepTick(DoorDirectory& directory, DoorCommands& commands)
        : dir_(directory), commands_(commands) {}

    // One tick at update.now; refresh_seconds is R, the seconds after which card
    // numbers are cleared.
    void run(Update& update, int refresh_seconds);

  private:
    void poll(Update& update, DoorRecord& door);
    void door_pass(Update& update, DoorRecord& door, int refresh_seconds);
    void remote_open_timeout(Update& update, DoorRecord& door);

    DoorDirectory& dir_;
    DoorCommands& commands_;
};

}  // namespace porvex
