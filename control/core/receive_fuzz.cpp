#include "receive_fuzz.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>

#include "receive_buffer.h"

namespace tarnet {

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void check_report(const FrameReport& r) {
    require(r.data.size() == static_cast<std::size_t>(r.data_len));
    require(r.data.size() % 2 == 0 && r.data.size() <= ReceiveBuffer::kMaxPayload * 2);
    require(r.ret_code >= 0 && r.ret_code <= 255);
    require(r.ap_code >= 0 && r.ap_code <= 0xFFFF && r.psw >= 0 && r.psw <= 0xFFFFFF);
    for (char c : r.data) {
        require((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    }
}

class CheckingHandler : public ChunkHandler {
  public:
    explicit CheckingHandler(std::uint8_t mode) : mode_(mode) {}
    bool stop_requested() override { return false; }
    void upload_acknowledged() override {}
    void byte_skipped() override {}
    bool reply_claimed(const FrameReport& reply) override {
        check_report(reply);
        require(!is_report_code(reply.ret_code));
        return ((mode_ >> 4) & 1) != 0;
    }
    void queue_report(const FrameReport& report) override {
        check_report(report);
        // Two queued in a row from one chunk are never the same frame.
        require(!last_ || !same_frame(*last_, report));
        last_ = report;
    }
    void repeat_dropped(const FrameReport& report) override {
        // Only a repeat of the frame queued just before is left out.
        require(last_ && same_frame(*last_, report));
    }
    void new_chunk() { last_.reset(); }

  private:
    std::uint8_t mode_;
    std::optional<FrameReport> last_;
};

}  // namespace

int fuzz_receive_input(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    std::span<const std::uint8_t> stream(data + 1, size - 1);
    const std::size_t chunk = 1 + (mode & 0x0F) * 97;
    CheckingHandler handler(mode);
    ReceiveBuffer buffer;
    while (!stream.empty()) {
        const std::size_t n = std::min(chunk, stream.size());
        handler.new_chunk();
        require(buffer.process_chunk(stream.first(n), handler, "fuzz", 1) == ParseEnd::finished);
        require(buffer.buffered() <= ReceiveBuffer::kCapacity);
        stream = stream.subspan(n);
    }
    return 0;
}

}  // namespace tarnet
