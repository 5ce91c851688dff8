#include "core/log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace porvex {

const char* to_string(LogLevel level) {
    switch (level) {
        case LogLevel::info:
            return "info";
        case LogLevel::warning:
            return "warning";
        case LogLevel::error:
            return "error";
    }
    return "?";
}

void StderrLog::write(LogLevel level, std::string_view message) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &now);
#else
    localtime_r(&now, &parts);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "%s porvex %s: %.*s\n", stamp, to_string(level),
                 static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
}

void MemoryLog::write(LogLevel level, std::string_view message) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::string(to_string(level)) + ": " + std::string(message));
}

std::vector<std::string> MemoryLog::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool MemoryLog::contains(std::string_view fragment) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
        if (line.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace porvex
