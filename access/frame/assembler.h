// Cuts controller frames out of a TCP byte stream.
//
// Bytes that cannot start a frame are skipped up to the next 0x7E, and the controller's
// 4-byte upload acknowledgement (AA AA 00 BB) is consumed wherever it stands, so a valid
// frame behind stray bytes is always delivered. A candidate that fails validation costs
// one byte: scanning resumes right after its start byte, so a real frame hidden behind a
// false start byte is still found. A start byte whose Len is plausible but whose bytes are
// not all there yet waits for them, unless a complete valid frame already stands behind it:
// then it was a false start too and costs one byte, so stray bytes never hold up reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "frame.h"

namespace zorvik::frame {

class FrameAssembler {
  public:
    enum class Kind {
        need_more,  // nothing complete is buffered
        frame,      // bytes hold one valid frame
        rejected,   // bytes held a complete candidate that failed validation (why says how)
    };

    struct Cut {
        Kind kind = Kind::need_more;
        std::span<const std::uint8_t> bytes;  // valid until the next call on the assembler
        Invalid why = Invalid::bad_crc;
    };

    void append(std::span<const std::uint8_t> chunk);

    // Returns the next frame or rejected candidate, or need_more.
    Cut next();

    void clear();

    std::size_t buffered() const { return buffer_.size() - read_; }
    std::uint64_t skipped_bytes() const { return skipped_; }
    std::uint64_t acks_seen() const { return acks_; }

  private:
    void consume(std::size_t n) { read_ += n; }

    std::vector<std::uint8_t> buffer_;
    std::size_t read_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t acks_ = 0;
};

}  // namespace zorvik::frame
