// The stages of each card read's way through the door server, stamped as the card passes
// them, and the report of where the time goes: per stage the time from the card command
// (p50, p99, worst) and the time since the stage before; for the slowest cards (at or
// above the p99 of the whole way), which step took their time.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "door_run.h"

namespace porvex::bench {

class CardStages {
  public:
    enum Stage : int {
        sent,       // the card command went to the simulator
        answered,   // the simulator answered it (it wrote the frame before answering)
        callback,   // the access library handed the frame to the program (report callback)
        decoded,    // the door model's event worker decoded it (after the data lock)
        queued,     // the alarms observer posted it to the event hub
        delivered,  // the client's OnEvent carried it
        kStages,
    };

    // Stamps `card` at `stage` now (the first time only); a card is known from `sent` on.
    void mark(std::uint32_t card, Stage stage);
    // The card number of 8 hexadecimal digits (as the simulator is told, the frame
    // carries and the door model shows it).
    static std::optional<std::uint32_t> card_number(std::string_view text);
    static std::optional<std::uint32_t> card_number(std::wstring_view text);

    // Prints the stage table, the step that holds the tail and the slowest cards.
    void print(Wall::time_point run_start) const;

  private:
    using Stamps = std::array<Wall::time_point, kStages>;
    mutable std::mutex mutex_;
    std::unordered_map<std::uint32_t, Stamps> cards_;
};

}  // namespace porvex::bench
