#include <cstddef>
#include <cstdint>

#include "stream_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    porvex::opcstream::FuzzStreamInput(data, size);
    return 0;
}
