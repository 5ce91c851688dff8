// libFuzzer entry (built by the fuzz preset): build/fuzz/bin/frame_fuzzer [corpus]
#include "frame_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return zorvik::frame::fuzz_frame_input(data, size);
}
