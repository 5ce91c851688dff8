#include "app_support.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "opc/com/text.h"
#include "sample_door_db.h"
#include "settings/registry_settings_store.h"
#include "ui/message_dialog.h"
#include "ui/monitor_window.h"
#include "win/task_memory.h"

namespace porvex::ui::testing {
namespace {

std::wstring Folder() {
    std::wstring path(MAX_PATH * 4, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    path.erase(path.find_last_of(L"\\/") + 1);
    return path;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

struct TWindowQuery {
    DWORD process;
    const std::wstring* cls;
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lp) {
    auto* q = reinterpret_cast<TWindowQuery*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != q->process || ClassOf(window) != *q->cls) {
        return TRUE;
    }
    if (q->caption && TextOf(window) != q->caption) {
        return TRUE;
    }
    q->found = window;
    return FALSE;
}

// The top-level window of a process with a class name and, optionally, a caption.
HWND FindTopLevel(DWORD process, const std::wstring& cls, const wchar_t* caption) {
    TWindowQuery query{process, &cls, caption, nullptr};
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

// A temporary group with one item; its server handle.
struct TOneItem {
    TOneItem(IOPCServer* server, const std::wstring& itemId, bool active) : server_(server) {
        DWORD rate = 0;
        if (FAILED(server->AddGroup(L"", active, 600000, 0, nullptr, nullptr, 0, &group_, &rate,
                                    IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items.put())))) {
            return;
        }
        OPCITEMDEF definition{};
        definition.szAccessPath = const_cast<LPWSTR>(L"");
        definition.szItemID = const_cast<LPWSTR>(itemId.c_str());
        definition.bActive = active;
        win::UniqueCoTaskMem<OPCITEMRESULT> results;
        win::UniqueCoTaskMem<HRESULT> errors;
        if (SUCCEEDED(items->AddItems(1, &definition, results.put(), errors.put())) &&
            SUCCEEDED(errors[0])) {
            handle = results[0].hServer;
        }
    }
    ~TOneItem() {
        items.reset();
        if (group_) {
            server_->RemoveGroup(group_, TRUE);
        }
    }
    IOPCServer* server_;
    OPCHANDLE group_ = 0;
    win::ComPtr<IOPCItemMgt> items;
    OPCHANDLE handle = 0;
};

}  // namespace

std::string TreeProgram(const char* name) { return Utf8(Folder()) + name; }
std::wstring Wide(std::string_view utf8) { return opc::WideFromUtf8(utf8); }
std::string Utf8(std::wstring_view wide) { return opc::Utf8FromWide(wide); }

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(50);
    }
}

void ClearSettings() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\Help"); }

void WriteSettings(const Settings& settings) {
    ClearSettings();
    RegistrySettingsStore store;
    ASSERT_TRUE(save_settings(store, settings));
}

Settings ReadSettings() {
    RegistrySettingsStore store;
    return read_settings(store);
}

Settings SqliteSettings(const std::wstring& db_file) {
    Settings s;
    s.db_type = 2;
    s.server = Utf8(db_file);
    s.refresh = "10";
    s.points = PointSet::all();
    return s;
}

void WriteOneControllerSettings(const std::filesystem::path& dir, std::uint16_t port, int doors) {
    SampleDoorDbOptions options;
    options.controllers = 1;
    options.doors_per_controller = doors;
    options.ports = {port};
    const std::filesystem::path db = dir / "doors.db";
    create_sample_door_db(db, options);
    WriteSettings(SqliteSettings(db.wstring()));
}

void RegisterOnce() {
    static bool done = false;
    if (done) {
        return;
    }
    const std::wstring dll = Wide(TreeProgram("PorvexOpcPS.dll"));
    HMODULE module = LoadLibraryW(dll.c_str());
    ASSERT_NE(module, nullptr) << "cannot load the proxy/stub DLL";
    auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
    ctlsim::testing::ChildProcess regserver(TreeProgram("Porvex398.exe"),
                                            {"-regserver", "-silent"});
    ASSERT_EQ(regserver.wait(30s).value_or(-1), 0);
    done = true;
}

std::wstring DoorItem(int controller, int door, std::string_view point) {
    return Wide(sample_door_name(controller, door) + "(" + sample_door_location(controller, door) +
                ")." + std::string(point));
}

TPorvexApp::TPorvexApp(const Environment& environment, const std::wstring& arguments) {
    for (const auto& [name, value] : environment) {
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    std::wstring program = Wide(TreeProgram("Porvex398.exe"));
    std::wstring command = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        command += L" " + arguments;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const BOOL started = CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &process_);
    for (const auto& [name, value] : environment) {
        SetEnvironmentVariableW(name.c_str(), nullptr);
    }
    EXPECT_TRUE(started) << "cannot start Porvex398.exe: " << GetLastError();
}

TPorvexApp::~TPorvexApp() {
    if (!process_.hProcess) {
        return;
    }
    if (Running()) {
        if (HWND window = Window(1s)) {
            PostMessageW(window, WM_COMMAND, kIdMenuExit, 0);
        }
        if (!WaitExit(40s)) {
            ADD_FAILURE() << "Porvex398 did not end after OPC退出; it is killed";
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 5000);
        }
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool TPorvexApp::Running() const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

HWND TPorvexApp::Window(std::chrono::milliseconds timeout) {
    if (window_ && IsWindow(window_)) {
        return window_;
    }
    // Shown, so start-up (StartDoorServer) is over: a client activated while the program does
    // not handle messages yet may be served twice by Wine's activation retry.
    HWND found = nullptr;
    WaitFor(
        [&] {
            found = FindTopLevel(process_.dwProcessId, kMainClassName, kMainCaption);
            return (found && IsWindowVisible(found)) || !Running();
        },
        timeout);
    window_ = found && IsWindowVisible(found) ? found : nullptr;
    return window_;
}

HWND TPorvexApp::Control(int id) {
    HWND window = Window();
    return window ? GetDlgItem(window, id) : nullptr;
}

void TPorvexApp::Command(int id) {
    if (HWND window = Window()) {
        PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(id), 0);
    }
}

std::optional<std::wstring> TPorvexApp::TakeDialog(std::chrono::milliseconds timeout) {
    // Found once it shows its text: the dialog exists a moment before its controls are
    // filled in.
    HWND dialog = nullptr;
    std::wstring text;
    WaitFor(
        [&] {
            dialog = FindTopLevel(process_.dwProcessId, L"#32770", kDialogCaption);
            text.clear();
            for (HWND child = dialog ? GetWindow(dialog, GW_CHILD) : nullptr; child;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                if (ClassOf(child) == L"Static") {
                    text += TextOf(child);
                }
            }
            return !text.empty();
        },
        timeout);
    if (!dialog) {
        return std::nullopt;
    }
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return !IsWindow(dialog); }, 5s);
    return text;
}

std::optional<DWORD> TPorvexApp::WaitExit(std::chrono::milliseconds timeout) {
    const bool ended = WaitFor([&] { return !Running(); }, timeout);
    if (!ended) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

int SelectedTab(HWND window) {
    HWND tab = GetDlgItem(window, kIdTab);
    return tab ? static_cast<int>(SendMessageW(tab, TCM_GETCURSEL, 0, 0)) : -1;
}

int TreeCount(HWND tree) {
    return tree ? static_cast<int>(SendMessageW(tree, 0x1100 + 5 /* TVM_GETCOUNT */, 0, 0)) : -1;
}

win::ComPtr<IOPCServer> ConnectPorvex() {
    win::ComPtr<IOPCServer> server;
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(Wide(kProgId).c_str(), &clsid), S_OK);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(server.put())),
              S_OK);
    return server;
}

namespace {

// One item read from the device: its value (adopted) and quality; nothing on any failure.
struct TReadState {
    win::Variant value;
    WORD quality = 0;
};

std::optional<TReadState> ReadState(IOPCServer* server, const std::wstring& item) {
    TOneItem one(server, item, true);
    win::ComPtr<IOPCSyncIO> io;
    if (!one.items || one.handle == 0 || FAILED(one.items.query(io))) {
        return std::nullopt;
    }
    win::UniqueCoTaskMem<OPCITEMSTATE> states;
    win::UniqueCoTaskMem<HRESULT> errors;
    if (FAILED(io->Read(OPC_DS_DEVICE, 1, &one.handle, states.put(), errors.put())) ||
        FAILED(errors[0])) {
        return std::nullopt;
    }
    TReadState state;
    state.value.value() = states[0].vDataValue;  // adopted
    state.quality = states[0].wQuality;
    return state;
}

}  // namespace

std::optional<WORD> ReadQuality(IOPCServer* server, const std::wstring& item) {
    std::optional<TReadState> state = ReadState(server, item);
    return state ? std::optional<WORD>(state->quality) : std::nullopt;
}

std::optional<win::Variant> ReadItem(IOPCServer* server, const std::wstring& item) {
    std::optional<TReadState> state = ReadState(server, item);
    return state ? std::optional<win::Variant>(std::move(state->value)) : std::nullopt;
}

std::optional<long> ReadNumber(IOPCServer* server, const std::wstring& item) {
    std::optional<win::Variant> value = ReadItem(server, item);
    if (!value) {
        return std::nullopt;
    }
    VARIANT number;
    VariantInit(&number);
    if (FAILED(VariantChangeType(&number, &value->value(), 0, VT_I4))) {
        return std::nullopt;
    }
    return V_I4(&number);
}

std::optional<std::wstring> ReadText(IOPCServer* server, const std::wstring& item) {
    std::optional<win::Variant> value = ReadItem(server, item);
    if (!value || V_VT(&value->value()) != VT_BSTR) {
        return std::nullopt;
    }
    return std::wstring(V_BSTR(&value->value()), SysStringLen(V_BSTR(&value->value())));
}

HRESULT WriteItem(IOPCServer* server, const std::wstring& item, const win::Variant& value) {
    TOneItem one(server, item, false);
    win::ComPtr<IOPCSyncIO> io;
    if (!one.items || one.handle == 0 || FAILED(one.items.query(io))) {
        return E_FAIL;
    }
    win::UniqueCoTaskMem<HRESULT> errors;
    VARIANT copy = value.value();
    const HRESULT hr = io->Write(1, &one.handle, &copy, errors.put());
    return FAILED(hr) ? hr : errors[0];
}

bool WaitNumber(IOPCServer* server, const std::wstring& item, long expected,
                std::chrono::milliseconds timeout) {
    return WaitFor([&] { return ReadNumber(server, item) == expected; }, timeout);
}

TClientProcess::TClientProcess(const std::vector<std::string>& args)
    : child_(TreeProgram("opcclient.exe"), args) {}

bool TClientProcess::WaitLine(const std::vector<std::string>& fragments,
                              std::chrono::milliseconds timeout) {
    return WaitLineWhere(
        [&](const std::string& line) {
            for (const std::string& fragment : fragments) {
                if (line.find(fragment) == std::string::npos) {
                    return false;
                }
            }
            return true;
        },
        timeout);
}

bool TClientProcess::WaitLineWhere(const std::function<bool(const std::string&)>& matches,
                                   std::chrono::milliseconds timeout) {
    for (std::size_t i = mark_; i < lines_.size(); ++i) {
        if (matches(lines_[i])) {
            return true;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        std::optional<std::string> line = child_.read_line(left);
        if (!line) {
            return false;
        }
        lines_.push_back(*line);
        if (matches(*line)) {
            return true;
        }
    }
}

std::size_t TCapture::DistinctColours(RECT area) const {
    std::set<std::uint32_t> colours;
    for (int y = std::max<int>(0, area.top); y < std::min<int>(height, area.bottom); ++y) {
        for (int x = std::max<int>(0, area.left); x < std::min<int>(width, area.right); ++x) {
            colours.insert(pixels[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF);
        }
    }
    return colours.size();
}

bool TCapture::SaveBmp(const std::filesystem::path& file) const {
    BITMAPFILEHEADER header{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biCompression = BI_RGB;
    const DWORD bytes = static_cast<DWORD>(pixels.size() * 4);
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + bytes;
    HANDLE out = CreateFileW(file.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(out, &header, sizeof header, &written, nullptr) &&
              WriteFile(out, &info, sizeof info, &written, nullptr) &&
              WriteFile(out, pixels.data(), bytes, &written, nullptr);
    CloseHandle(out);
    return ok;
}

TCapture CaptureWindow(HWND window) {
    TCapture capture;
    RECT rect{};
    if (!GetWindowRect(window, &rect)) {
        return capture;
    }
    capture.width = rect.right - rect.left;
    capture.height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, capture.width, capture.height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        const auto* first = static_cast<const std::uint32_t*>(bits);
        capture.pixels.assign(first,
                              first + static_cast<std::size_t>(capture.width) * capture.height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return capture;
}

}  // namespace porvex::ui::testing
