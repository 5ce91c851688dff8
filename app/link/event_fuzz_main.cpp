// libFuzzer entry (built by the fuzz preset): build/fuzz/bin/event_fuzzer [corpus]
#include "link/event_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return porvex::fuzz_controller_event(data, size);
}
