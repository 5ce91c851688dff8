// TMonitorWindow: the monitor window and the program's start-up and shut-down.
//
// Caption "TCP/IP门禁OPC服务器 (398)-V3.0", client area 447 × 473 centred, a tab control
// with "服务器监视" (server tree), "客户端监视" (client tree), "系统配置" (settings) and
// "操作日志" (log list). StartDoorServer reads the settings, makes the door model and loads
// the door directory; the first show runs the connect pass; the upkeep timer ticks every 2 s while
// the door-state point is enabled; the tray menu offers "显示界面" and "OPC退出".
//
// Scripts and tests drive it with window messages (see docs/porvex398.md): WM_CLOSE, the
// menu commands below as WM_COMMAND, and kMsgAdvanceClock when a manual clock was given.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "link/controller_link.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "ui/client_monitor.h"
#include "ui/file_log.h"
#include "ui/leaf_mailbox.h"
#include "ui/server_tree_view.h"
#include "ui/settings_page.h"
#include "ui/tray_icon.h"

namespace porvex {
class DoorServer;
class PorvexServer;
namespace opc {
class TComServer;
}
}  // namespace porvex

namespace porvex::ui {

inline constexpr wchar_t kMainCaption[] = L"TCP/IP门禁OPC服务器 (398)-V3.0";
inline constexpr wchar_t kMainClassName[] = L"TPorvexMainForm";
inline constexpr wchar_t kShutdownReason[] = L"断开所有OPC客户端";
inline constexpr int kClientWidth = 447;
inline constexpr int kClientHeight = 473;

// Control and command IDs (WM_COMMAND).
enum : int {
    kIdTab = 100,
    kIdServerTree = 101,
    kIdExpandAll = 102,     // "全部展开"
    kIdCollapseAll = 103,   // "全部收拢"
    kIdRefreshCheck = 104,  // "是否实时刷新"
    kIdClientTree = 110,
    kIdDisconnectAll = 111,  // "断开所有的客户端"
    kIdLogList = 120,
    kIdClearLog = 121,  // "清空内容"
    kIdSave = 130,      // "保存配置"
    kIdSettingsFirst = 140,
    kIdMenuShow = 200,  // "显示界面"
    kIdMenuExit = 201,  // "OPC退出"
};

// Window messages.
enum : UINT {
    kMsgLeavesChanged = WM_APP + 1,
    kMsgTray = WM_APP + 2,
    // wParam: seconds to move the manual clock on; answers 1 when there is one, else 0.
    kMsgAdvanceClock = WM_APP + 3,
    kMsgLastRelease = WM_APP + 4,
    // Sent by a copy a user started while this one serves: answers 1 when this copy stays
    // running for the user (and shows its window), 0 when it is already ending.
    kMsgKeepRunningForUser = WM_APP + 5,
};

enum class TabIndex : int { server = 0, client = 1, system = 2, log = 3 };

struct TMonitorWindowOptions {
    SettingsStore* settings = nullptr;    // required
    const Clock* clock = nullptr;         // required: the door model's time
    ManualClock* manual_clock = nullptr;  // when set, kMsgAdvanceClock moves it (tests)
    // The bound of "OPC退出"'s wait for clients to disconnect.
    DWORD exit_wait_ms = 30000;
    // Makes the controller link (the access library's exports in the program).
    std::function<std::unique_ptr<ControllerLink>()> make_link;
    // Called when the program begins to end ("OPC退出" or the window closing): the program
    // arms the bound of its end (ui/exit_deadline.h).
    std::function<void()> exit_started;
};

class TMonitorWindow {
  public:
    TMonitorWindow(HINSTANCE instance, opc::TComServer& com, TFileLog& log,
                   TMonitorWindowOptions options);
    ~TMonitorWindow();
    TMonitorWindow(const TMonitorWindow&) = delete;
    TMonitorWindow& operator=(const TMonitorWindow&) = delete;

    // Creates the window and its controls and runs StartDoorServer. False when the window
    // could not be made.
    bool Create();
    // The first show (OnShown starts the connect pass).
    void Show();
    HWND Handle() const noexcept { return window_; }

    // The orderly exit's last step and every other close: detaches the item server and
    // releases the door model. Called by the program after its message loop as well.
    void ReleaseDoors();

  private:
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT message, WPARAM wp, LPARAM lp);
    void CreateControls();
    HWND Make(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
              int id, TabIndex tab, DWORD ex_style = 0);
    void SelectTab(TabIndex tab);
    void OnCommand(int id);

    // Start-up and shut-down.
    void StartDoorServer();
    void OnShown();
    void RunConnectPass();
    void RunUpkeepTick();
    // Writes every stage's report counts to the log (every 10 minutes and at the end).
    void LogReportCounts();
    static constexpr UINT_PTR kTimerCounts = 3;
    void SaveSettingsAndClose();  // "保存配置": saves, then the program ends
    void ExitOrderly();           // "OPC退出": the orderly exit
    void ShowFromTray();          // the window shown again from the tray
    void OnSysCommand(WPARAM command, LPARAM lp, LRESULT& result, bool& handled);
    void ShowTrayMenu();
    // Closes the window now (StopDoorServer, then the window goes), or as soon as the
    // connect pass or the exit's wait for clients returns.
    void RequestClose(bool ask_user);
    void CloseNow();
    void StopDoorServer();
    PorvexServer* ItemServer() const;
    // Asks the clients of both classes (Data Access and Alarms & Events) to disconnect;
    // the number of client objects still connected.
    void AskClientsToDisconnect();
    std::size_t ConnectedClients() const;

    HINSTANCE instance_;
    opc::TComServer& com_;
    TFileLog& log_;
    TMonitorWindowOptions options_;

    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    HWND tab_ = nullptr;
    HWND server_tree_ = nullptr;
    HWND client_tree_ = nullptr;
    HWND log_list_ = nullptr;
    HWND refresh_check_ = nullptr;
    std::array<std::vector<HWND>, 4> pages_;
    TSettingsPage settings_page_;
    std::unique_ptr<TServerTreeView> server_view_;
    std::unique_ptr<TClientMonitor> monitor_;
    std::unique_ptr<TLeafMailbox> mailbox_;
    std::unique_ptr<TTrayIcon> tray_;
    HMENU popup_ = nullptr;

    Settings settings_;
    std::unique_ptr<ControllerLink> link_;
    std::unique_ptr<DoorServer> doors_;
    bool doors_loaded_ = false;

    bool reshown_from_tray_ = false;
    bool connect_started_ = false;
    bool in_connect_pass_ = false;
    bool asking_clients_ = false;
    bool close_pending_ = false;
    bool closed_ = false;
};

}  // namespace porvex::ui
