// Porvex398: the door server program, a window application that is also the OPC DA local
// server Porvex398.PorvexServer.3 and the OPC Alarms & Events server Porvex398.PorvexEvents.1.
//
//   Porvex398 -regserver     register the OPC classes and end
//   Porvex398 -unregserver   remove the registrations and end
//   Porvex398                refresh the registration silently, show the monitor window
//                            and serve until the window closes
//   started by COM           the same; ends when its last OPC client went
//   Porvex398 -exit          asks the running program to end as "OPC退出" does and waits
//                            for it (exit code 0; 1 when none runs, 2 when it did not end
//                            within 60 s)
//
// Test seams (environment): PORVEX_EXIT_WAIT_MS bounds the "OPC退出" wait for clients
// (default 30000); PORVEX_MANUAL_CLOCK=1 gives the door model a clock that only moves on
// the window message kMsgAdvanceClock. See docs/porvex398.md.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "core/clock.h"
#include "item_server/porvex_server.h"
#include "link/zorvik_link.h"
#include "opc/com/com_apartment.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/registration/com_server.h"
#include "opc/registration/register_server.h"
#include "opc/registration/start_mode.h"
#include "settings/registry_settings_store.h"
#include "ui/door_event_server.h"
#include "ui/file_log.h"
#include "ui/main_form.h"

namespace {

using porvex::ui::TFileLog;

std::optional<unsigned long> EnvNumber(const wchar_t* name) {
    wchar_t value[32] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, 32);
    if (n == 0 || n >= 32) {
        return std::nullopt;
    }
    wchar_t* end = nullptr;
    const unsigned long number = std::wcstoul(value, &end, 10);
    return end && *end == L'\0' ? std::optional<unsigned long>(number) : std::nullopt;
}

// Points the engine's log at the program's log for as long as the log exists.
struct TEngineLogToFile {
    explicit TEngineLogToFile(TFileLog& log) {
        porvex::opc::SetLogSink([&log](std::wstring_view line) { log.Line(line); });
    }
    ~TEngineLogToFile() { porvex::opc::SetLogSink({}); }
};

bool HasExitSwitch() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    bool found = false;
    for (int i = 1; args && i < count; ++i) {
        const wchar_t* arg = args[i];
        if ((arg[0] == L'-' || arg[0] == L'/') && _wcsicmp(arg + 1, L"exit") == 0) {
            found = true;
        }
    }
    LocalFree(args);
    return found;
}

// The running program's orderly exit, for scripts: the "OPC退出" command posted to its
// window, then a bounded wait for the process to end.
int AskRunningProgramToExit() {
    HWND window = FindWindowW(porvex::ui::kMainClassName, porvex::ui::kMainCaption);
    if (!window) {
        return 1;
    }
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, process_id);
    PostMessageW(window, WM_COMMAND, porvex::ui::kIdMenuExit, 0);
    const DWORD waited = process ? WaitForSingleObject(process, 60000) : WAIT_FAILED;
    if (process) {
        CloseHandle(process);
    }
    return waited == WAIT_OBJECT_0 ? 0 : 2;
}

int Run(HINSTANCE instance, TFileLog& log) {
    using namespace porvex;
    opc::TComApartment apartment;
    opc::TComServer com;
    opc::RegisterOpcServer(kPorvexServerClsid, kPorvexServerVersion, kPorvexServerDescription,
                           std::make_unique<PorvexServer>(), L"");
    ui::TDoorEventServer door_events;  // the Alarms & Events class, outliving the window
    if (const std::optional<int> code = com.Start(GetCommandLineW())) {
        return *code;
    }
    log.Line(std::wstring(L"starting (") + opc::StartModeName(com.StartMode()) + L" start)");

    RegistrySettingsStore store;
    SteadyClock steady;
    ManualClock manual;
    const bool manual_clock = EnvNumber(L"PORVEX_MANUAL_CLOCK").value_or(0) == 1;
    ui::TMainFormOptions options;
    options.settings = &store;
    options.clock = manual_clock ? static_cast<const Clock*>(&manual) : &steady;
    options.manual_clock = manual_clock ? &manual : nullptr;
    options.exit_wait_ms = static_cast<DWORD>(EnvNumber(L"PORVEX_EXIT_WAIT_MS").value_or(30000));
    options.make_link = [] { return std::make_unique<ZorvikLink>(); };

    ui::TMainForm form(instance, com, log, options);
    if (!form.Create()) {
        return 1;
    }
    // Started by COM: the program ends when its last OPC client has gone.
    com.SetOnLastRelease([&form] { PostMessageW(form.Handle(), ui::kMsgLastRelease, 0, 0); });
    form.Show();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The window is gone: the item server lets go of the door model before it is freed;
    // the COM server then disconnects any client still holding objects.
    form.ReleaseDoors();
    log.Line(L"ending");
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (HasExitSwitch()) {
        return AskRunningProgramToExit();
    }
    TFileLog log;
    TEngineLogToFile engine_log(log);
    try {
        return Run(instance, log);
    } catch (...) {
        log.Line(L"cannot run: " + porvex::opc::DescribeException(std::current_exception()));
        return 1;
    }
}
