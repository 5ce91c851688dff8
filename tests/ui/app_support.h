// What the end-to-end tests of Porvex398.exe share: the program under test started in the
// test's own prefix (with its virtual display), its window and its "注意" dialogs found
// by class and caption, settings in the prefix's registry, a door database made by the
// sample-database library, and a small OPC client over COM.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "opc/idl/opc_interfaces.h"
#include "settings/settings.h"
#include "win/com_ptr.h"
#include "win/variant.h"

namespace porvex::ui::testing {

using namespace std::chrono_literals;

inline constexpr char kProgId[] = "Porvex398.PorvexServer.3";

// A program of the build tree (the test program's own folder).
std::string TreeProgram(const char* name);
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// Waits until pred() holds (true) or timeout passes (false), pumping messages.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

// Settings in HKLM\Software\Microsoft\Windows\Help of the prefix.
void ClearSettings();
void WriteSettings(const Settings& settings);
Settings ReadSettings();
// Every point enabled, SQLite file `db_file` (a Windows path), R = 10.
Settings SqliteSettings(const std::wstring& db_file);
// A sample door database in dir (doors.db) of one controller reached at port with doors
// doors, and the settings that use it.
void WriteOneControllerSettings(const std::filesystem::path& dir, std::uint16_t port, int doors);

// The proxy/stub DLL and the OPC class, registered once per test program.
void RegisterOnce();

// Item ID of a door's point in the sample database.
std::wstring DoorItem(int controller, int door, std::string_view point);

// One running Porvex398.exe. The destructor ends it the way a script should (the
// "OPC退出" command), then by WM_CLOSE, and kills it only as a last resort (a failure).
using Environment = std::map<std::wstring, std::wstring>;

class TPorvexApp {
  public:
    // arguments: the command line after the program's name (for example -Embedding, as COM
    // starts it).
    explicit TPorvexApp(const Environment& environment = {}, const std::wstring& arguments = {});
    ~TPorvexApp();
    TPorvexApp(const TPorvexApp&) = delete;
    TPorvexApp& operator=(const TPorvexApp&) = delete;

    // The main window once it is shown (null after the time-out).
    HWND Window(std::chrono::milliseconds timeout = 20s);
    HWND Control(int id);
    // The text of the next "注意" dialog of the program, which is then dismissed with
    // OK; nothing when none came within the time-out.
    std::optional<std::wstring> TakeDialog(std::chrono::milliseconds timeout = 20s);
    // The exit code once the program has ended.
    std::optional<DWORD> WaitExit(std::chrono::milliseconds timeout);
    bool Running() const;
    DWORD ProcessId() const { return process_.dwProcessId; }
    // Posts a command (WM_COMMAND) to the main window.
    void Command(int id);

  private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

// A selected tab of the window's tab control, the item count of a tree view.
int SelectedTab(HWND window);
int TreeCount(HWND tree);

// An OPC client in this process.
win::ComPtr<IOPCServer> ConnectPorvex();
// Device read; nothing when the item is unknown or the read failed.
std::optional<win::Variant> ReadItem(IOPCServer* server, const std::wstring& item);
std::optional<long> ReadNumber(IOPCServer* server, const std::wstring& item);
// The quality of a device read.
std::optional<WORD> ReadQuality(IOPCServer* server, const std::wstring& item);
std::optional<std::wstring> ReadText(IOPCServer* server, const std::wstring& item);
HRESULT WriteItem(IOPCServer* server, const std::wstring& item, const win::Variant& value);
// Waits until a numeric item reads `expected`.
bool WaitNumber(IOPCServer* server, const std::wstring& item, long expected,
                std::chrono::milliseconds timeout = 10s);

// opcclient as a child process; its output lines (UTF-8).
class TClientProcess {
  public:
    explicit TClientProcess(const std::vector<std::string>& args);
    // Lines read before this call are no longer searched by the waits below.
    void Mark() { mark_ = lines_.size(); }
    // Waits for an output line (since the last Mark) containing every fragment.
    bool WaitLine(const std::vector<std::string>& fragments,
                  std::chrono::milliseconds timeout = 10s);
    // Waits for an output line for which matches() holds.
    bool WaitLineWhere(const std::function<bool(const std::string&)>& matches,
                       std::chrono::milliseconds timeout = 10s);
    std::optional<int> Wait(std::chrono::milliseconds timeout) { return child_.wait(timeout); }
    const std::vector<std::string>& Lines() const { return lines_; }

  private:
    ctlsim::testing::ChildProcess child_;
    std::vector<std::string> lines_;
    std::size_t mark_ = 0;
};

// A screen capture of a window's rectangle as 32-bit pixels (top-down rows).
struct TCapture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::size_t DistinctColours(RECT area) const;
    bool SaveBmp(const std::filesystem::path& file) const;
};
TCapture CaptureWindow(HWND window);

}  // namespace porvex::ui::testing
