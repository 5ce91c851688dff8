// Collects the control's log lines while it lives (the control's log sink).
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "control_log.h"

namespace tarnet::testing {

class LogCapture {
  public:
    LogCapture() {
        previous_ = set_log_sink([this](std::string_view line) {
            std::lock_guard guard(lock_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { set_log_sink(std::move(previous_)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool contains(std::string_view text) {
        std::lock_guard guard(lock_);
        for (const auto& line : lines_) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

  private:
    LogSink previous_;
    std::mutex lock_;
    std::vector<std::string> lines_;
};

}  // namespace tarnet::testing
