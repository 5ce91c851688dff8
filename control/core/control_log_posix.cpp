#include <cstdio>

#include "control_log.h"

namespace tarnet {

void write_default_log(std::string_view line) noexcept {
    std::fprintf(stderr, "Tarnet: %.*s\n", static_cast<int>(line.size()), line.data());
}

}  // namespace tarnet
