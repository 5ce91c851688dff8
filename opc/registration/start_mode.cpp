#include "opc/registration/start_mode.h"

#include <windows.h>

#include <shellapi.h>

#include <memory>
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

TStartMode StartModeFromCommandLine(std::wstring_view commandLine) {
    const std::wstring line(commandLine);
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&LocalFree)> argv(
        line.empty() ? nullptr : CommandLineToArgvW(line.c_str(), &count), &LocalFree);
    if (!argv || count < 2) {
        return TStartMode::Normal;
    }
    std::vector<std::wstring> arguments(argv.get() + 1, argv.get() + count);
    return StartModeFromArguments(arguments);
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
