#include <windows.h>

#include "control_log.h"

namespace tarnet {

void write_default_log(std::string_view line) noexcept {
    // In pieces, without allocating: this also runs when memory has run out.
    char piece[256];
    constexpr std::string_view kPrefix = "Tarnet: ";
    std::size_t used = kPrefix.copy(piece, kPrefix.size());
    for (char c : line) {
        if (used == sizeof piece - 2) {
            piece[used] = '\0';
            ::OutputDebugStringA(piece);
            used = 0;
        }
        piece[used++] = c;
    }
    piece[used++] = '\n';
    piece[used] = '\0';
    ::OutputDebugStringA(piece);
}

}  // namespace tarnet
