// Fuzz entry of the DA 1.0 block decoder: any bytes, decoded as each of the three formats,
// must give a block or an error, never a read outside the input; a block that decodes is
// consistent with its header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace porvex::opcstream {

void FuzzStreamInput(const std::uint8_t* data, std::size_t size);

}  // namespace porvex::opcstream
