#include "frame_fuzz.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "assembler.h"
#include "frame.h"

namespace zorvik::frame {
namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "frame fuzz invariant broken: %s\n", what);
        std::abort();
    }
}

// Feeds bytes in chunks whose sizes come from the input itself; returns the frames.
std::vector<std::vector<std::uint8_t>> reassemble(const std::vector<std::uint8_t>& stream,
                                                  const std::uint8_t* sizes, std::size_t count) {
    FrameAssembler assembler;
    std::vector<std::vector<std::uint8_t>> frames;
    std::size_t pos = 0;
    std::size_t k = 0;
    while (pos < stream.size()) {
        std::size_t chunk = count > 0 ? 1 + sizes[k++ % count] % 64 : stream.size();
        chunk = std::min(chunk, stream.size() - pos);
        assembler.append({stream.data() + pos, chunk});
        pos += chunk;
        for (auto cut = assembler.next(); cut.kind != FrameAssembler::Kind::need_more;
             cut = assembler.next()) {
            if (cut.kind == FrameAssembler::Kind::frame) {
                require(parse_frame(cut.bytes).has_value(), "assembler delivered an invalid frame");
                frames.emplace_back(cut.bytes.begin(), cut.bytes.end());
            } else {
                require(!parse_frame(cut.bytes).has_value(), "assembler rejected a valid frame");
            }
        }
        require(assembler.buffered() <= stream.size(), "assembler holds more than it was given");
    }
    return frames;
}

}  // namespace

int fuzz_frame_input(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> input(data, data + size);

    // A frame that validates is rebuilt byte for byte from its fields.
    if (auto view = parse_frame(input)) {
        require(build_frame(view->cmd, view->ap_code, view->psw, view->data) == input,
                "a valid frame does not rebuild to the same bytes");
    }

    // Arbitrary bytes never crash reassembly and yield only valid frames.
    reassemble(input, data, size);

    // A frame behind stray bytes (none of them a start byte) is always delivered, alone,
    // however the stream is split, unless its own payload carries a complete valid frame:
    // while the outer frame is still arriving, that inner frame is taken as the place to
    // resynchronise (a false start must not hold up real frames behind it).
    const std::size_t split = size / 2;
    std::vector<std::uint8_t> stream;
    for (std::size_t i = 0; i < split; ++i) {
        stream.push_back(data[i] == kFrameStart ? 0x00 : data[i]);
    }
    const std::size_t payload = std::min(size - split, kMaxPayload);
    const std::uint8_t cmd = size > 0 ? data[size - 1] : 0;
    const auto frame =
        build_frame(cmd, static_cast<std::uint32_t>(size), 0x123456, {data + split, payload});
    stream.insert(stream.end(), frame.begin(), frame.end());
    const auto frames = reassemble(stream, data, split);
    if (!holds_complete_frame(frame, 1)) {
        require(frames.size() == 1 && frames[0] == frame, "a frame behind stray bytes was lost");
    }
    return 0;
}

}  // namespace zorvik::frame
