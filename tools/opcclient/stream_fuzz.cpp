#include "stream_fuzz.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "stream_decode.h"

namespace porvex::opcstream {
namespace {

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "stream fuzz invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

void FuzzStreamInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the input, so a read past it is caught by the sanitizers.
    const std::vector<std::uint8_t> bytes(data, data + size);
    for (bool with_time : {false, true}) {
        const auto decoded = DecodeDataBlock(bytes, with_time);
        Require(decoded.block.has_value() != !decoded.error.empty(), "block and error disagree");
        if (decoded.block) {
            Require(decoded.block->size <= size, "dwSize beyond the input");
            Require(decoded.block->items.size() == decoded.block->item_count, "item count");
            for (const TDecodedItem& item : decoded.block->items) {
                Require(item.value_offset < decoded.block->size || decoded.block->items.empty(),
                        "value offset beyond dwSize");
            }
        }
    }
    const auto written = DecodeWriteComplete(bytes);
    if (written.block) {
        Require(16 + 8 * static_cast<std::size_t>(written.block->item_count) <= size,
                "results beyond the input");
    }
}

}  // namespace porvex::opcstream
