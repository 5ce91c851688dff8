// One fuzz input through validation and reassembly; aborts when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvik::frame {

int fuzz_frame_input(const std::uint8_t* data, std::size_t size);

}  // namespace zorvik::frame
