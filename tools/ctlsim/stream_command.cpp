// A steady report stream for benchmarks, and the simulator's clock to relate its stamps to.
//
// `stream <count> <rate> <seconds> [cmd=<n>]` sends `rate` frames a second for `seconds`
// seconds, in turn from controllers 0..count-1, each at its own time on the schedule (one
// wake-up of the loop sends every frame due by then). A frame's payload is the moment it
// was sent: the simulator's steady clock in nanoseconds as 8 bytes, most significant
// first, so a host that receives it can measure the time to its callback without a round
// trip per report. `clock` tells that clock. A new stream ends the one before.
#include <algorithm>
#include <chrono>
#include <memory>

#include "command_support.h"
#include "frame/frame.h"
#include "text.h"

namespace ctlsim {

namespace zf = zorvik::frame;
using namespace commands;

namespace {

std::uint64_t clock_ns(Clock::time_point t) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

}  // namespace

struct Simulator::Stream {
    std::uint64_t generation = 0;
    std::size_t controllers = 0;
    std::uint8_t cmd = 0;
    Clock::time_point start;
    Clock::duration period{};
    std::uint64_t total = 0;
    std::uint64_t next = 0;  // frames sent or skipped so far
    std::uint64_t sent = 0;
};

std::string Simulator::cmd_clock() const { return "ok " + std::to_string(clock_ns(Clock::now())); }

std::string Simulator::cmd_stream(const std::vector<std::string_view>& t) {
    constexpr const char* kUsage = "stream <count> <rate per s> <seconds> [cmd=<n>]";
    if (t.size() < 4) {
        return usage(kUsage);
    }
    const auto count = parse_number(t[1], controllers_.size());
    const auto rate = parse_number(t[2], 100'000);
    const auto seconds = parse_number(t[3], 3'600);
    if (!count || *count == 0 || !rate || *rate == 0 || !seconds || *seconds == 0) {
        return usage(kUsage);
    }
    const auto o = parse_options(t, 4, {"cmd"});
    if (!o.error.empty()) {
        return "error " + o.error;
    }
    std::uint8_t cmd = zf::kReportCardRecords;  // what a host hands to its report callback
    if (auto it = o.values.find("cmd"); it != o.values.end()) {
        const auto v = parse_number(it->second, 255);
        if (!v) {
            return "error cmd must be 0..255";
        }
        cmd = static_cast<std::uint8_t>(*v);
    }
    auto stream = std::make_shared<Stream>();
    stream->generation = ++stream_generation_;
    stream->controllers = static_cast<std::size_t>(*count);
    stream->cmd = cmd;
    stream->start = Clock::now();
    stream->period = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) /
                     static_cast<Clock::rep>(*rate);
    stream->total = *rate * *seconds;
    run_stream(stream);
    return "ok frames=" + std::to_string(stream->total);
}

void Simulator::run_stream(const std::shared_ptr<Stream>& stream) {
    if (stream->generation != stream_generation_) {
        return;  // a newer stream replaced this one
    }
    const auto now = Clock::now();
    while (stream->next < stream->total &&
           stream->start + stream->period * static_cast<Clock::rep>(stream->next) <= now) {
        Controller& c = *controllers_[static_cast<std::size_t>(stream->next % stream->controllers)];
        ++stream->next;
        if (!c.connected()) {
            continue;
        }
        const std::uint64_t stamp = clock_ns(Clock::now());
        Bytes payload(8);
        for (int i = 0; i < 8; ++i) {
            payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(stamp >> (56 - 8 * i));
        }
        Bytes frame;
        if (zf::append_frame(frame, stream->cmd, 0, 0, payload)) {
            send_frame(c, std::move(frame), Clock::duration::zero());
            ++stream->sent;
        }
    }
    if (stream->next < stream->total) {
        timers_.emplace(stream->start + stream->period * static_cast<Clock::rep>(stream->next),
                        [this, stream] { run_stream(stream); });
    } else {
        log_.info("stream of " + std::to_string(stream->total) +
                  " frames ended: " + std::to_string(stream->sent) + " sent");
    }
}

}  // namespace ctlsim
