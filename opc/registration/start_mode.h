// How the program was started, read from its command line. The switches "REGSERVER",
// "UNREGSERVER", "AUTOMATION" and "EMBEDDING" are matched without regard to letter case,
// each written with a leading '/' or '-' as an argument of its own; the first switch on the
// command line decides. COM starts a local server with "-Embedding".
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace porvex::opc {

enum class TStartMode {
    Normal,       // no switch: refresh the registration silently and serve
    RegServer,    // write the registration and end
    UnregServer,  // remove the registration and end
    Automation,   // started by COM
    Embedding,    // started by COM
};

// The mode named by the arguments (without the program's own name).
TStartMode StartModeFromArguments(std::span<const std::wstring> arguments);
// The arguments of a whole command line, the program's name first, split by the system's
// rules (blanks separate, quotes group, backslashes escape only quotes). The engine splits
// it itself so that a server does not load the shell's library for it.
std::vector<std::wstring> CommandLineArguments(std::wstring_view commandLine);
// The mode named by a whole command line as the system gives it (program name first).
TStartMode StartModeFromCommandLine(std::wstring_view commandLine);

inline bool StartedByCom(TStartMode mode) noexcept {
    return mode == TStartMode::Automation || mode == TStartMode::Embedding;
}

const wchar_t* StartModeName(TStartMode mode) noexcept;

}  // namespace porvex::opc
