#include "guarded.h"

#include <string>

#include "control_log.h"

namespace tarnet {

void log_failure(std::string_view where, std::string_view what) noexcept {
    try {
        std::string line;
        line.reserve(where.size() + what.size() + 16);
        line.append(where).append(": failed: ").append(what);
        log_line(line);
    } catch (...) {
        // No memory for the line: the parts go separately, as they are.
        log_line(where);
        log_line(what);
    }
}

}  // namespace tarnet
