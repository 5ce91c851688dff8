// opcsample: a small OPC DA 1.0/2.0 local server on the engine, with simulated items
// (sample_items.h). It is the subject of the out-of-process tests and a server to try
// clients against without the door server:
//
//   opcsample -regserver     register (ProgIDs opcsample.SampleServer.1 for DA and
//                            opcsample.SampleEvents.1 for Alarms & Events) and end
//   opcsample -unregserver   remove the registration and end
//   started by COM           serves its clients and ends after the last one went
//   opcsample                registers silently and serves until the process is ended
//
// With "-MinUpdateRate MS" (any of the above) the groups update no faster than MS
// milliseconds (default 50; the engine's floor is 10). With "-CallProfile" the engine times
// every call inside its COM methods; Diagnostics.CallProfile reads that profile and a
// write to it restarts it (opc/com/call_profile.h; the benchmark bench_opc_remote uses it).
//
// Its log (clients asked to disconnect, failed client callbacks, errors) goes to
// opcsample.log in the user's temporary folder, the debugger and standard error.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "opc/com/call_profile.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/com/text.h"
#include "opc/events/com/event_engine.h"
#include "opc/events/com/register_event_server.h"
#include "opc/registration/com_server.h"
#include "opc/registration/register_server.h"
#include "opc/registration/start_mode.h"
#include "tools/opcsample/sample_events.h"
#include "tools/opcsample/sample_server.h"
#include "win/com_apartment.h"

namespace {

// {2BA2546D-BF15-42CC-B885-DD3C29527601}
constexpr CLSID kSampleClsid = {
    0x2BA2546D, 0xBF15, 0x42CC, {0xB8, 0x85, 0xDD, 0x3C, 0x29, 0x52, 0x76, 0x01}};
// {6F1C0D42-9B7E-4E55-A3C1-5D2E8B6A9F10}: the Alarms & Events class
constexpr CLSID kSampleEventsClsid = {
    0x6F1C0D42, 0x9B7E, 0x4E55, {0xA3, 0xC1, 0x5D, 0x2E, 0x8B, 0x6A, 0x9F, 0x10}};
constexpr int kVersion = 1;
constexpr wchar_t kDescription[] = L"Porvex OPC Sample Server";
constexpr wchar_t kVendor[] = L"Porvex";
constexpr wchar_t kEventsDescription[] = L"Porvex OPC Sample Event Server";

// The value of -MinUpdateRate (or /MinUpdateRate), the default without it. EOpcError
// E_INVALIDARG when it is not a positive number.
// Whether arg is the switch name, given as -name or /name in any case.
bool IsSwitch(const std::wstring& arg, std::wstring_view name) {
    return arg.size() > 1 && (arg[0] == L'-' || arg[0] == L'/') &&
           porvex::opc::EqualNoCase(std::wstring_view(arg).substr(1), name);
}

bool CallProfileAsked() {
    const std::vector<std::wstring> args = porvex::opc::CommandLineArguments(GetCommandLineW());
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (IsSwitch(args[i], L"CallProfile")) {
            return true;
        }
    }
    return false;
}

int MinUpdateRateFromCommandLine() {
    const std::vector<std::wstring> args = porvex::opc::CommandLineArguments(GetCommandLineW());
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (IsSwitch(arg, L"MinUpdateRate")) {
            wchar_t* end = nullptr;
            const long rate = i + 1 < args.size() ? std::wcstol(args[i + 1].c_str(), &end, 10) : 0;
            if (rate <= 0 || rate > 3600000 || !end || *end != L'\0') {
                throw porvex::opc::EOpcError(E_INVALIDARG,
                                             L"-MinUpdateRate needs a number of milliseconds");
            }
            return static_cast<int>(rate);
        }
    }
    return porvex::opc::sample::SampleServer::kDefaultMinUpdateRate;
}

int Serve() {
    using namespace porvex::opc;
    // The apartment the item server asks for (TOpcItemServer::CallableOnAnyThread). In the
    // multithreaded one the clients' calls run on the RPC threads under the engine lock;
    // this thread still runs the window's timers and posted work in the loop below.
    porvex::win::ComApartment apartment(sample::SampleServer::kCallableOnAnyThread
                                            ? COINIT_MULTITHREADED
                                            : COINIT_APARTMENTTHREADED);
    apartment.require();
    TComServer com;
    if (CallProfileAsked()) {
        EnableCallProfile();
    }
    auto item_server = std::make_unique<sample::SampleServer>(MinUpdateRateFromCommandLine());
    sample::SampleServer& sample_server = *item_server;
    RegisterOpcServer(kSampleClsid, kVersion, kDescription, std::move(item_server), kVendor);
    // The status's vendor text is the server's name alone (the engine's default appends the
    // vendor, which the name already holds).
    sample_server.SetVendorInfo(kDescription);
    events::TEventEngine engine(sample::SampleEventCatalog(), kEventsDescription);
    engine.SetItemIdTranslator(
        [](const std::wstring& source, std::uint32_t, const std::wstring&, const std::wstring&,
           std::uint32_t attribute) { return sample::SampleAttributeItem(source, attribute); },
        kSampleClsid);
    events::RegisterEventServer(kSampleEventsClsid, L"SampleEvents.1", kEventsDescription, kVendor);
    if (const std::optional<int> exit_code = com.Start(GetCommandLineW())) {
        return *exit_code;
    }
    LogLine(std::wstring(L"serving (") + StartModeName(com.StartMode()) + L" start, " +
            (sample::SampleServer::kCallableOnAnyThread ? L"multithreaded" : L"single-threaded") +
            L" apartment)");
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    LogLine(L"ending");
    return 0;
}

// The log file: opcsample.log in the user's temporary folder (a server started by COM has
// no console to write to).
std::wstring LogPath() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return length == 0 || length > MAX_PATH ? std::wstring()
                                            : std::wstring(folder) + L"opcsample.log";
}

void WriteLog(std::wstring_view line) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t stamp[64];
    std::swprintf(stamp, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                  GetCurrentProcessId());
    const std::wstring text = stamp + std::wstring(line) + L"\n";
    OutputDebugStringW(text.c_str());
    const std::string utf8 = porvex::opc::Utf8FromWide(text);
    static const std::wstring path = LogPath();
    if (!path.empty()) {
        if (std::FILE* file = _wfopen(path.c_str(), L"ab")) {
            std::fwrite(utf8.data(), 1, utf8.size(), file);
            std::fclose(file);
        }
    }
    std::fputs(utf8.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    porvex::opc::SetLogSink(&WriteLog);
    try {
        const int code = Serve();
        // Everything is torn down by now, COM included: a server that logged "ending" but
        // not this hangs in its end.
        porvex::opc::LogLine(L"ended");
        return code;
    } catch (...) {
        porvex::opc::LogLine(L"cannot start: " +
                             porvex::opc::DescribeException(std::current_exception()));
        return 1;
    }
}
