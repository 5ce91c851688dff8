#include "opc/registration/start_mode.h"

#include <vector>

#include "opc/com/text.h"

namespace porvex::opc {
namespace {

struct TSwitch {
    const wchar_t* name;
    TStartMode mode;
};

constexpr TSwitch kSwitches[] = {
    {L"REGSERVER", TStartMode::RegServer},
    {L"UNREGSERVER", TStartMode::UnregServer},
    {L"AUTOMATION", TStartMode::Automation},
    {L"EMBEDDING", TStartMode::Embedding},
};

}  // namespace

TStartMode StartModeFromArguments(std::span<const std::wstring> arguments) {
    for (const std::wstring& argument : arguments) {
        if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) {
            continue;
        }
        const std::wstring_view name = std::wstring_view(argument).substr(1);
        for (const TSwitch& known : kSwitches) {
            if (EqualNoCase(name, known.name)) {
                return known.mode;
            }
        }
    }
    return TStartMode::Normal;
}

std::vector<std::wstring> CommandLineArguments(std::wstring_view commandLine) {
    std::vector<std::wstring> arguments;
    std::size_t at = 0;
    const std::size_t end = commandLine.size();
    auto blank = [&](std::size_t i) { return commandLine[i] == L' ' || commandLine[i] == L'\t'; };
    // The program's name: up to the closing quote when quoted, else up to a blank;
    // backslashes are plain characters in it.
    if (at < end) {
        std::wstring program;
        if (commandLine[at] == L'"') {
            const std::size_t close = commandLine.find(L'"', at + 1);
            program = commandLine.substr(at + 1, close == std::wstring_view::npos
                                                     ? std::wstring_view::npos
                                                     : close - at - 1);
            at = close == std::wstring_view::npos ? end : close + 1;
        } else {
            while (at < end && !blank(at)) {
                program += commandLine[at++];
            }
        }
        arguments.push_back(std::move(program));
    }
    for (;;) {
        while (at < end && blank(at)) {
            ++at;
        }
        if (at >= end) {
            return arguments;
        }
        // Quotes group (an odd count is inside); a quote after 2n backslashes leaves n of
        // them and opens or closes, after 2n + 1 it leaves n and a quote. Within a run of
        // quotes every third is a literal one.
        std::wstring argument;
        int quotes = 0;
        std::size_t backslashes = 0;
        while (at < end && !(quotes == 0 && blank(at))) {
            const wchar_t c = commandLine[at++];
            if (c == L'\\') {
                argument += c;
                ++backslashes;
                continue;
            }
            if (c != L'"') {
                argument += c;
                backslashes = 0;
                continue;
            }
            if (backslashes % 2 == 0) {
                argument.resize(argument.size() - backslashes / 2);
                ++quotes;
            } else {
                argument.resize(argument.size() - backslashes / 2 - 1);
                argument += L'"';
            }
            backslashes = 0;
            while (at < end && commandLine[at] == L'"') {
                if (++quotes == 3) {
                    argument += L'"';
                    quotes = 0;
                }
                ++at;
            }
            if (quotes == 2) {
                quotes = 0;
            }
        }
        arguments.push_back(std::move(argument));
    }
}

TStartMode StartModeFromCommandLine(std::wstring_view commandLine) {
    const std::vector<std::wstring> arguments = CommandLineArguments(commandLine);
    if (arguments.size() < 2) {
        return TStartMode::Normal;
    }
    return StartModeFromArguments(std::span<const std::wstring>(arguments).subspan(1));
}

const wchar_t* StartModeName(TStartMode mode) noexcept {
    switch (mode) {
        case TStartMode::Normal:
            return L"normal";
        case TStartMode::RegServer:
            return L"REGSERVER";
        case TStartMode::UnregServer:
            return L"UNREGSERVER";
        case TStartMode::Automation:
            return L"AUTOMATION";
        case TStartMode::Embedding:
            return L"EMBEDDING";
    }
    return L"unknown";
}

}  // namespace porvex::opc
