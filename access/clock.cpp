#include "clock.h"

#include <ctime>

namespace zorvik::access {
namespace {

using std::chrono::milliseconds;

class SystemClock final : public Clock {
  public:
    // From the same clock real_wait_until_second() counts with: std::time() may lag the
    // system clock by a tick at a second's turn, and a waiter would then find the new
    // second not there yet and wake again and again until it is.
    std::int64_t seconds() const override {
        const auto ms = std::chrono::duration_cast<milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
        return ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    }

    std::uint32_t ticks() const override {
        const auto since = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(std::chrono::duration_cast<milliseconds>(since).count());
    }

    frame::ControllerTime local_time() const override {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
#ifdef _WIN32
        localtime_s(&tm, &now);
#else
        localtime_r(&now, &tm);
#endif
        frame::ControllerTime t;
        t.year = tm.tm_year + 1900;
        t.month = tm.tm_mon + 1;
        t.day = tm.tm_mday;
        t.weekday = tm.tm_wday;
        t.hour = tm.tm_hour;
        t.minute = tm.tm_min;
        t.second = tm.tm_sec;
        return t;
    }

    milliseconds real_wait_for(milliseconds clock_time) const override {
        return clock_time.count() > 0 ? clock_time : milliseconds(0);
    }

    milliseconds real_wait_until_second(std::int64_t second) const override {
        // A millisecond more, so the waiter wakes after the second has turned.
        const auto now = std::chrono::duration_cast<milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        const auto left = second * 1000 - now;
        return milliseconds(left > 0 ? left + 1 : 0);
    }

    int subscribe(Listener) override { return 0; }
    void unsubscribe(int) override {}
};

}  // namespace

std::shared_ptr<Clock> system_clock() {
    static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

}  // namespace zorvik::access
