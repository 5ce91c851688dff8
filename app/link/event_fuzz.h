// One fuzz input through DataReceive (and now and then the upkeep tick) on a small door
// plant; aborts when a door's state leaves its allowed values or a leaf's text is not
// the view of its door's state. Controllers send these payloads: nothing they send may
// break the doors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace porvex {

int fuzz_controller_event(const std::uint8_t* data, std::size_t size);

}  // namespace porvex
