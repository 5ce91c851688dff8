#include "control_log.h"

#include <mutex>
#include <utility>

namespace tarnet {

namespace {

std::mutex& sink_lock() {
    static std::mutex lock;
    return lock;
}

LogSink& sink() {
    static LogSink current;
    return current;
}

}  // namespace

LogSink set_log_sink(LogSink replacement) {
    std::lock_guard guard(sink_lock());
    return std::exchange(sink(), std::move(replacement));
}

void log_line(std::string_view line) noexcept {
    try {
        std::lock_guard guard(sink_lock());
        if (sink()) {
            sink()(line);
            return;
        }
    } catch (...) {
        // Falls through to the default destination, which needs no memory.
    }
    write_default_log(line);
}

}  // namespace tarnet
