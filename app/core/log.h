// Where the door logic reports what an operator should see: dropped events, database
// and link trouble. The program decides where lines go (its window, a file); the
// default writes them to standard error with a time stamp.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace porvex {

enum class LogLevel { info, warning, error };

const char* to_string(LogLevel level);

class LogSink {
  public:
    virtual ~LogSink() = default;
    // Called from any thread; implementations must be thread-safe.
    virtual void write(LogLevel level, std::string_view message) = 0;
};

class StderrLog final : public LogSink {
  public:
    void write(LogLevel level, std::string_view message) override;

  private:
    std::mutex mutex_;
};

// Keeps every line; for tests and for callers that show the lines later.
class MemoryLog final : public LogSink {
  public:
    void write(LogLevel level, std::string_view message) override;
    std::vector<std::string> lines() const;
    bool contains(std::string_view fragment) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace porvex
