// A child process whose standard input and output are pipes to the test, and whose
// standard error is the test's own (so its log appears in the test output).
// posix_spawn on POSIX, CreateProcess on Windows (also under Wine).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ctlsim::testing {

class ChildProcess {
  public:
    // Starts program with args; throws std::runtime_error when it cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    // Kills the child if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // One line of the child's standard output without its line end; nothing when the
    // time-out passes or the output ends first.
    std::optional<std::string> read_line(std::chrono::milliseconds timeout);
    void write(const std::string& text);
    void close_stdin();
    // The exit code, or nothing if the child still runs after timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    void kill();
    // The operating system's process id (for /proc and the like).
    long pid() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string buffer_;  // output read but not yet returned
};

}  // namespace ctlsim::testing
