// Porvex398: the door server program, a window application that is also the OPC DA local
// server Porvex398.PorvexServer.3 and the OPC Alarms & Events server Porvex398.PorvexEvents.1.
//
//   Porvex398 -regserver     register the OPC classes and end
//   Porvex398 -unregserver   remove the registrations and end
//                            (a failure shows a message box with the reason, unless /s or
//                            -silent is given, and ends with exit code 1)
//   Porvex398                refresh the registration silently, show the monitor window
//                            and serve until the window closes
//   started by COM           the same; ends when its last OPC client went
//   Porvex398 -exit          asks the running program to end as "OPC退出" does and waits
//                            for it (exit code 0; 1 when none runs, 2 when it did not end
//                            within 60 s)
//
// One copy serves (ui/single_door_server.h): a copy started while another one serves hands
// over and ends (exit code 0) without opening controller links. Once the program begins to
// end, it is gone within the client wait plus the grace (ui/exit_deadline.h).
//
// Test seams (environment): PORVEX_EXIT_WAIT_MS bounds the "OPC退出" wait for clients
// (default 30000); PORVEX_MANUAL_CLOCK=1 gives the door model a clock that only moves on
// the window message kMsgAdvanceClock. See docs/porvex398.md.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "door_opc/porvex_server.h"
#include "link/zorvik_link.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/registration/com_server.h"
#include "opc/registration/register_server.h"
#include "opc/registration/start_mode.h"
#include "settings/registry_settings_store.h"
#include "ui/door_event_server.h"
#include "ui/exit_deadline.h"
#include "ui/file_log.h"
#include "ui/monitor_window.h"
#include "ui/single_door_server.h"
#include "win/com_apartment.h"
#include "win/unique_any.h"

namespace {

using porvex::ui::TExitDeadline;
using porvex::ui::TFileLog;
using porvex::ui::TSingleDoorServer;

// How long a copy waits for another copy that is starting or ending before it gives up.
constexpr DWORD kClaimWaitMs = 30000;
// A copy started by hand while another serves asks it to keep running for the user; a
// copy that is ending says no, and this one tries again once it has ended.
constexpr UINT kHandOverAnswerMs = 10000;
constexpr int kHandOverAttempts = 50;
constexpr DWORD kHandOverRetryMs = 200;
// What the end may take beyond the wait for clients: detaching, releasing the doors and
// the controller links, COM's shutdown.
constexpr DWORD kExitGraceMs = 15000;

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

// True when one of the switches (without '-' or '/', any case) is on the command line.
bool HasSwitch(std::initializer_list<const wchar_t*> names) {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    bool found = false;
    for (int i = 1; args && i < count; ++i) {
        const wchar_t* arg = args[i];
        if (arg[0] != L'-' && arg[0] != L'/') {
            continue;
        }
        for (const wchar_t* name : names) {
            found = found || _wcsicmp(arg + 1, name) == 0;
        }
    }
    LocalFree(args);
    return found;
}

bool HasExitSwitch() { return HasSwitch({L"exit"}); }

// The windows of running copies of the program (normally one).
std::vector<HWND> ProgramWindows() {
    std::vector<HWND> windows;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, porvex::ui::kMainClassName,
                                   porvex::ui::kMainCaption)) != nullptr) {
        windows.push_back(window);
    }
    return windows;
}

// The running program's orderly exit, for scripts: the "OPC退出" command posted to the
// window of every running copy, then a bounded wait for all of them to end.
int AskRunningProgramToExit() {
    const std::vector<HWND> windows = ProgramWindows();
    if (windows.empty()) {
        return 1;
    }
    std::vector<porvex::win::UniqueHandle> processes;
    for (HWND window : windows) {
        DWORD process_id = 0;
        GetWindowThreadProcessId(window, &process_id);
        if (porvex::win::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, process_id));
            process) {
            processes.push_back(std::move(process));
        }
        PostMessageW(window, WM_COMMAND, porvex::ui::kIdMenuExit, 0);
    }
    const ULONGLONG deadline = GetTickCount64() + 60000;
    bool all_ended = processes.size() == windows.size();
    for (const porvex::win::UniqueHandle& process : processes) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        all_ended = WaitForSingleObject(process.get(), left) == WAIT_OBJECT_0 && all_ended;
    }
    return all_ended ? 0 : 2;
}

// A copy started by hand while another serves: the running copy is asked to stay for the
// user (a copy COM started would otherwise end with its last client) and shows its window.
// False when no running copy agrees (it is ending): this copy then claims the door server.
bool HandOverToRunningCopy() {
    for (HWND window : ProgramWindows()) {
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutW(window, porvex::ui::kMsgKeepRunningForUser, 0, 0, SMTO_ABORTIFHUNG,
                                kHandOverAnswerMs, &answer) != 0 &&
            answer == 1) {
            return true;
        }
    }
    return false;
}

bool ServingStart(porvex::opc::TStartMode mode) {
    return mode != porvex::opc::TStartMode::RegServer &&
           mode != porvex::opc::TStartMode::UnregServer;
}

int Run(HINSTANCE instance, TFileLog& log, TSingleDoorServer* single, TExitDeadline& deadline) {
    using namespace porvex;
    porvex::win::ComApartment apartment;
    apartment.require();
    opc::TComServer com;
    // A failed -regserver/-unregserver tells the operator why (no administrator rights,
    // a registry that refuses); scripts pass /s or -silent and read the exit code.
    const bool silent = HasSwitch({L"s", L"silent"});
    com.SetErrorReporter([&log, silent](const std::wstring& text) {
        log.Line(text);
        if (!silent) {
            MessageBoxW(nullptr, text.c_str(), L"Porvex398", MB_OK | MB_ICONERROR);
        }
    });
    opc::RegisterOpcServer(kPorvexServerClsid, kPorvexServerVersion, kPorvexServerDescription,
                           std::make_unique<PorvexServer>(), L"");
    if (single) {
        com.SetOnServingChanged([single](bool serving) { single->SetServing(serving); });
    }
    // Should the end take too long, the class objects leave COM before the process goes.
    deadline.SetBeforeEnd([&com] { com.EndServing(); });
    struct TForgetBeforeEnd {
        TExitDeadline& deadline;
        ~TForgetBeforeEnd() { deadline.SetBeforeEnd({}); }
    } forget_before_end{deadline};
    ui::TDoorEventServer door_events;  // the Alarms & Events class, outliving the window
    if (const std::optional<int> code = com.Start(GetCommandLineW())) {
        return *code;
    }
    log.Line(std::wstring(L"starting (") + opc::StartModeName(com.StartMode()) + L" start)");

    RegistrySettingsStore store;
    SteadyClock steady;
    ManualClock manual;
    const bool manual_clock = EnvNumber(L"PORVEX_MANUAL_CLOCK").value_or(0) == 1;
    ui::TMonitorWindowOptions options;
    options.settings = &store;
    options.clock = manual_clock ? static_cast<const Clock*>(&manual) : &steady;
    options.manual_clock = manual_clock ? &manual : nullptr;
    options.exit_wait_ms = static_cast<DWORD>(EnvNumber(L"PORVEX_EXIT_WAIT_MS").value_or(30000));
    options.make_link = [] { return std::make_unique<ZorvikLink>(); };
    const DWORD exit_bound = options.exit_wait_ms + kExitGraceMs;
    options.exit_started = [&deadline, exit_bound] { deadline.Arm(exit_bound); };

    ui::TMonitorWindow monitor(instance, com, log, options);
    if (!monitor.Create()) {
        return 1;
    }
    // Started by COM: the program ends when its last OPC client has gone.
    com.SetOnLastRelease([&monitor] { PostMessageW(monitor.Handle(), ui::kMsgLastRelease, 0, 0); });
    monitor.Show();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The window is gone: the item server lets go of the door model before it is freed;
    // the COM server then disconnects any client still holding objects.
    monitor.ReleaseDoors();
    log.Line(L"ending");
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (HasExitSwitch()) {
        return AskRunningProgramToExit();
    }
    namespace opc = porvex::opc;
    TFileLog log;
    TEngineLogToFile engine_log(log);
    try {
        // Declared after the log and destroyed before it: disarmed at the very end.
        TExitDeadline deadline(log);
        const opc::TStartMode mode = opc::StartModeFromCommandLine(GetCommandLineW());
        std::optional<TSingleDoorServer> single;
        if (ServingStart(mode)) {
            single.emplace();
            // A copy that answers "ending" to a hand-over gets a few more chances to end.
            for (int attempt = 0;; ++attempt) {
                const TSingleDoorServer::TClaim claim = single->Claim(kClaimWaitMs);
                if (claim == TSingleDoorServer::TClaim::Owner) {
                    break;
                }
                if (claim == TSingleDoorServer::TClaim::TimedOut) {
                    log.Line(
                        L"cannot start: another copy of the door server neither served nor "
                        L"ended within " +
                        std::to_wstring(kClaimWaitMs) + L" ms");
                    return 1;
                }
                if (opc::StartedByCom(mode) || HandOverToRunningCopy()) {
                    log.Line(
                        std::wstring(L"another copy of the door server is running; this copy (") +
                        opc::StartModeName(mode) + L" start) ends without serving");
                    return 0;
                }
                if (attempt == kHandOverAttempts) {
                    log.Line(
                        L"cannot start: another copy of the door server serves but neither "
                        L"kept running nor ended");
                    return 1;
                }
                Sleep(kHandOverRetryMs);  // the running copy is ending: claim once it has
            }
        }
        return Run(instance, log, single ? &*single : nullptr, deadline);
    } catch (...) {
        log.Line(L"cannot run: " + porvex::opc::DescribeException(std::current_exception()));
        return 1;
    }
}
