#include "log.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace ctlsim {

void Log::write(std::string_view tag, std::string_view text) const {
    using namespace std::chrono;
    const auto now = system_clock::now().time_since_epoch();
    const auto ms = duration_cast<milliseconds>(now).count() % 86'400'000;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3'600'000),
                  static_cast<int>(ms / 60'000 % 60), static_cast<int>(ms / 1000 % 60),
                  static_cast<int>(ms % 1000));
    std::string line = "ctlsim ";
    line += stamp;
    line += ' ';
    line += tag;
    line += text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void Log::error(std::string_view text) const { write("error: ", text); }

void Log::info(std::string_view text) const {
    if (level_ != LogLevel::quiet) {
        write("", text);
    }
}

void Log::debug(std::string_view text) const {
    if (level_ == LogLevel::debug) {
        write("", text);
    }
}

}  // namespace ctlsim
