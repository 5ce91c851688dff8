// One fuzz input through the control's receive buffer; aborts when an invariant breaks.
// The first byte chooses the chunk sizes and which replies claim a request, the rest is
// the byte stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnet {

int fuzz_receive_input(const std::uint8_t* data, std::size_t size);

}  // namespace tarnet
