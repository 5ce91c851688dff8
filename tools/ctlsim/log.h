// The simulator's operator log: one line per event on standard error, with the time.
// Standard output is kept for the ready line and the replies to standard input.
#pragma once

#include <string_view>

namespace ctlsim {

enum class LogLevel { quiet, info, debug };

class Log {
  public:
    explicit Log(LogLevel level = LogLevel::info) : level_(level) {}

    void error(std::string_view text) const;  // shown even when quiet
    void info(std::string_view text) const;
    void debug(std::string_view text) const;
    bool debugging() const { return level_ == LogLevel::debug; }

  private:
    void write(std::string_view tag, std::string_view text) const;
    LogLevel level_;
};

}  // namespace ctlsim
