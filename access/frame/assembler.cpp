#include "assembler.h"

#include <algorithm>

#include "packets.h"

namespace zorvik::frame {

void FrameAssembler::append(std::span<const std::uint8_t> chunk) {
    if (read_ > 0 && (read_ == buffer_.size() || read_ >= buffer_.size() / 2)) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(read_));
        read_ = 0;
    }
    buffer_.insert(buffer_.end(), chunk.begin(), chunk.end());
}

void FrameAssembler::clear() {
    buffer_.clear();
    read_ = 0;
}

FrameAssembler::Cut FrameAssembler::next() {
    for (;;) {
        const std::span<const std::uint8_t> rest(buffer_.data() + read_, buffer_.size() - read_);
        if (rest.empty()) {
            return {};
        }
        const std::uint8_t first = rest[0];
        if (first == kUploadAck[0]) {
            const std::size_t n = std::min(rest.size(), kUploadAck.size());
            if (std::equal(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(n),
                           kUploadAck.begin())) {
                if (n < kUploadAck.size()) {
                    return {};  // maybe the start of an acknowledgement
                }
                consume(kUploadAck.size());
                ++acks_;
                continue;
            }
        }
        if (first != kFrameStart) {
            // Skip to the next byte that may start a frame or an acknowledgement.
            auto it = std::find_if(rest.begin() + 1, rest.end(), [](std::uint8_t b) {
                return b == kFrameStart || b == kUploadAck[0];
            });
            const auto n = static_cast<std::size_t>(it - rest.begin());
            skipped_ += n;
            consume(n);
            continue;
        }
        if (rest.size() < kHeaderSize) {
            return {};
        }
        const std::size_t len = payload_length(rest);
        if (len > kMaxPayload) {
            ++skipped_;
            consume(1);  // no frame is that long: this 0x7E does not start one
            continue;
        }
        const std::size_t total = len + kOverhead;
        if (rest.size() < total) {
            if (holds_complete_frame(rest, 1)) {
                // A stray 7E whose Len happens to be plausible would otherwise hold every
                // frame behind it until that many bytes arrive (for ever, on a quiet link).
                ++skipped_;
                consume(1);
                continue;
            }
            return {};
        }
        const auto candidate = rest.first(total);
        Invalid why = Invalid::bad_crc;
        if (parse_frame(candidate, &why)) {
            consume(total);
            return {Kind::frame, candidate, why};
        }
        ++skipped_;
        consume(1);
        return {Kind::rejected, candidate, why};
    }
}

}  // namespace zorvik::frame
