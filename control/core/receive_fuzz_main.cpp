// libFuzzer entry (built by the fuzz preset): build/fuzz/bin/tarnet_receive_fuzzer [corpus]
#include "receive_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tarnet::fuzz_receive_input(data, size);
}
