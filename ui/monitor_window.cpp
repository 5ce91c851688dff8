// The window itself: class, layout of the four tabs, message dispatch, tray and menu.
// Start-up and shut-down are in monitor_window_lifecycle.cpp.
#include "ui/monitor_window.h"

#include <commctrl.h>

#include "door_opc/porvex_server.h"
#include "door_server.h"
#include "opc/com/text.h"
#include "opc/registration/com_server.h"

namespace porvex::ui {
namespace {

constexpr std::array<const wchar_t*, 4> kTabCaptions = {L"服务器监视", L"客户端监视", L"系统配置",
                                                        L"操作日志"};

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found_flag) {
    *reinterpret_cast<bool*>(found_flag) = true;
    return 0;
}

// A font that has Chinese glyphs, found by name; the GUI font when none is there.
HFONT MakeFont() {
    HDC dc = GetDC(nullptr);
    HFONT chosen = nullptr;
    for (const wchar_t* face : {L"Microsoft YaHei", L"SimSun", L"WenQuanYi Micro Hei"}) {
        LOGFONTW query{};
        query.lfCharSet = DEFAULT_CHARSET;
        wcsncpy(query.lfFaceName, face, LF_FACESIZE - 1);
        bool found = false;
        EnumFontFamiliesExW(dc, &query, &FontFound, reinterpret_cast<LPARAM>(&found), 0);
        if (found) {
            chosen = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_DONTCARE, face);
            break;
        }
    }
    ReleaseDC(nullptr, dc);
    return chosen ? chosen : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

}  // namespace

TMonitorWindow::TMonitorWindow(HINSTANCE instance, opc::TComServer& com, TFileLog& log,
                               TMonitorWindowOptions options)
    : instance_(instance), com_(com), log_(log), options_(std::move(options)) {}

TMonitorWindow::~TMonitorWindow() {
    ReleaseDoors();
    tray_.reset();
    if (popup_) {
        DestroyMenu(popup_);
    }
    if (window_) {
        DestroyWindow(window_);
    }
    if (font_ && font_ != GetStockObject(DEFAULT_GUI_FONT)) {
        DeleteObject(font_);
    }
}

PorvexServer* TMonitorWindow::ItemServer() const {
    return dynamic_cast<PorvexServer*>(opc::TOpcItemServer::Instance());
}

bool TMonitorWindow::Create() {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES |
                                               ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS |
                                               ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &TMonitorWindow::WndProc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
    if (!wc.hIcon) {
        wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    }
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    // The page colour of the tab control: the page controls lie on the window itself.
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kMainClassName;
    RegisterClassExW(&wc);

    // Without WS_CLIPCHILDREN: the window paints behind group boxes, which draw only
    // their frame and caption.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - w) / 2;
    const int y = work.top + (work.bottom - work.top - h) / 2;
    window_ = CreateWindowExW(0, kMainClassName, kMainCaption, style, x, y, w, h, nullptr, nullptr,
                              instance_, this);
    if (!window_) {
        log_.write(LogLevel::error, "the main window cannot be created (is there a display?)");
        return false;
    }
    tray_ = std::make_unique<TTrayIcon>(window_, kMsgTray, wc.hIcon);
    popup_ = CreatePopupMenu();
    AppendMenuW(popup_, MF_STRING, kIdMenuShow, L"显示界面");
    AppendMenuW(popup_, MF_STRING, kIdMenuExit, L"OPC退出");
    CreateControls();
    StartDoorServer();
    return true;
}

void TMonitorWindow::Show() {
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
}

HWND TMonitorWindow::Make(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w,
                          int h, int id, TabIndex tab, DWORD ex_style) {
    HWND control =
        CreateWindowExW(ex_style, cls, text, WS_CHILD | style, x, y, w, h, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    pages_[static_cast<std::size_t>(tab)].push_back(control);
    return control;
}

void TMonitorWindow::CreateControls() {
    font_ = MakeFont();
    tab_ =
        CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                        kClientWidth, kClientHeight, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdTab)), instance_, nullptr);
    SendMessageW(tab_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    for (std::size_t i = 0; i < kTabCaptions.size(); ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(kTabCaptions[i]);
        SendMessageW(tab_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    RECT page{0, 0, kClientWidth, kClientHeight};
    TabCtrl_AdjustRect(tab_, FALSE, &page);
    const int px = page.left;
    const int py = page.top;
    const int pw = page.right - page.left;
    const int ph = page.bottom - page.top;
    const int button_y = page.bottom - 34;
    const DWORD tree_style = WS_BORDER | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS |
                             TVS_LINESATROOT | TVS_SHOWSELALWAYS;

    server_tree_ = Make(WC_TREEVIEWW, L"", tree_style, px + 2, py + 2, pw - 4, ph - 42,
                        kIdServerTree, TabIndex::server, WS_EX_CLIENTEDGE);
    Make(WC_BUTTONW, L"全部展开", BS_PUSHBUTTON | WS_TABSTOP, px + 4, button_y, 96, 28,
         kIdExpandAll, TabIndex::server);
    Make(WC_BUTTONW, L"全部收拢", BS_PUSHBUTTON | WS_TABSTOP, px + 108, button_y, 96, 28,
         kIdCollapseAll, TabIndex::server);
    refresh_check_ = Make(WC_BUTTONW, L"是否实时刷新", BS_AUTOCHECKBOX | WS_TABSTOP, px + 220,
                          button_y + 3, 160, 22, kIdRefreshCheck, TabIndex::server);

    client_tree_ = Make(WC_TREEVIEWW, L"", tree_style, px + 2, py + 2, pw - 4, ph - 42,
                        kIdClientTree, TabIndex::client, WS_EX_CLIENTEDGE);
    Make(WC_BUTTONW, L"断开所有的客户端", BS_PUSHBUTTON | WS_TABSTOP, px + 4, button_y, 150, 28,
         kIdDisconnectAll, TabIndex::client);

    std::vector<HWND>& system = pages_[static_cast<std::size_t>(TabIndex::system)];
    settings_page_.Create(window_, instance_, font_, RECT{px, py, px + pw, button_y - 4},
                          kIdSettingsFirst, system);
    Make(WC_BUTTONW, L"保存配置", BS_PUSHBUTTON | WS_TABSTOP, px + pw - 110, button_y, 106, 28,
         kIdSave, TabIndex::system);

    log_list_ = Make(WC_LISTBOXW, L"",
                     WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY,
                     px + 2, py + 2, pw - 4, ph - 42, kIdLogList, TabIndex::log, WS_EX_CLIENTEDGE);
    SendMessageW(log_list_, LB_SETHORIZONTALEXTENT, 1200, 0);
    Make(WC_BUTTONW, L"清空内容", BS_PUSHBUTTON | WS_TABSTOP, px + 4, button_y, 96, 28, kIdClearLog,
         TabIndex::log);

    // The tab control lies below the page controls (they get the clicks); the controls
    // keep their creation order, which is their tab order and defines the radio group.
    SetWindowPos(tab_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    server_view_ = std::make_unique<TServerTreeView>(server_tree_);
    monitor_ = std::make_unique<TClientMonitor>(client_tree_, log_list_);
    mailbox_ = std::make_unique<TLeafMailbox>(window_, kMsgLeavesChanged);
    SelectTab(TabIndex::server);
}

void TMonitorWindow::SelectTab(TabIndex tab) {
    SendMessageW(tab_, TCM_SETCURSEL, static_cast<WPARAM>(tab), 0);
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        const int show = i == static_cast<std::size_t>(tab) ? SW_SHOW : SW_HIDE;
        for (HWND control : pages_[i]) {
            ShowWindow(control, show);
        }
    }
}

LRESULT CALLBACK TMonitorWindow::WndProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    TMonitorWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<TMonitorWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_ = window;
    } else {
        self = reinterpret_cast<TMonitorWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (!self) {
        return DefWindowProcW(window, message, wp, lp);
    }
    try {
        return self->Handle(message, wp, lp);
    } catch (const std::exception& e) {
        self->log_.write(LogLevel::error, std::string("window message failed: ") + e.what());
    } catch (...) {
        self->log_.write(LogLevel::error, "window message failed");
    }
    return 0;
}

LRESULT TMonitorWindow::Handle(UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wp));
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            // Labels, check boxes and group boxes on the tab's page colour.
            HDC dc = reinterpret_cast<HDC>(wp);
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lp);
            if (header->hwndFrom == tab_ && header->code == TCN_SELCHANGE) {
                SelectTab(static_cast<TabIndex>(SendMessageW(tab_, TCM_GETCURSEL, 0, 0)));
            }
            return 0;
        }
        case WM_TIMER:
            if (wp == 1) {
                RunUpkeepTick();
            } else if (wp == 2) {
                RunConnectPass();
            } else if (wp == kTimerCounts) {
                LogReportCounts();
            }
            return 0;
        case WM_SHOWWINDOW:
            if (wp) {
                OnShown();
            }
            break;
        case WM_SYSCOMMAND: {
            LRESULT result = 0;
            bool handled = false;
            OnSysCommand(wp, lp, result, handled);
            if (handled) {
                return result;
            }
            break;
        }
        case kMsgLeavesChanged:
            if (doors_ && server_view_) {
                const std::vector<LeafChange> changes = mailbox_->Take();
                const bool visible = SendMessageW(refresh_check_, BM_GETCHECK, 0, 0) == BST_CHECKED;
                server_view_->ApplyChanges(*doors_, changes, visible);
            }
            return 0;
        case kMsgTray:
            if (lp == WM_RBUTTONUP || lp == WM_CONTEXTMENU) {
                ShowTrayMenu();
            } else if (lp == WM_LBUTTONDBLCLK) {
                ShowFromTray();
            }
            return 0;
        case kMsgAdvanceClock:
            if (options_.manual_clock) {
                options_.manual_clock->advance(static_cast<double>(wp));
                return 1;
            }
            return 0;
        case kMsgLastRelease:
            if (com_.KeptForUser()) {
                // The last client left just as a user asked for the program: it stays,
                // and serves again if its class objects were already withdrawn.
                com_.ResumeServing();
                return 0;
            }
            RequestClose(false);
            return 0;
        case kMsgKeepRunningForUser:
            if (closed_ || close_pending_ || !com_.KeepRunningForUser()) {
                return 0;
            }
            log_.write(LogLevel::info,
                       "started again by a user: this copy keeps running after its last client");
            ShowFromTray();
            return 1;
        case WM_CLOSE:
            RequestClose(true);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wp, lp);
}

void TMonitorWindow::OnCommand(int id) {
    switch (id) {
        case kIdExpandAll:
            server_view_->ExpandAll();
            break;
        case kIdCollapseAll:
            server_view_->CollapseAll();
            break;
        case kIdDisconnectAll:
            if (PorvexServer* server = ItemServer()) {
                server->ShutdownClients(kShutdownReason, -1);
            }
            break;
        case kIdClearLog:
            monitor_->ClearLog();
            break;
        case kIdSave:
            SaveSettingsAndClose();
            break;
        case kIdMenuShow:
            ShowFromTray();
            break;
        case kIdMenuExit:
            ExitOrderly();
            break;
        default:
            settings_page_.OnCommand(id);
            break;
    }
}

void TMonitorWindow::OnSysCommand(WPARAM command, LPARAM, LRESULT& result, bool& handled) {
    // The exact value: SC_MINIMIZE with the low bits that some callers add is another
    // command and gets the default handling.
    if (command != SC_MINIMIZE) {
        return;
    }
    if (tray_->Add()) {
        ShowWindow(window_, SW_HIDE);
        handled = true;
        result = 0;
    } else {
        // No usable notification area: a hidden window could never come back, so the
        // window minimises normally and the server keeps running.
        log_.write(LogLevel::warning, "no notification area: the window minimises instead");
    }
}

void TMonitorWindow::ShowFromTray() {
    if (!IsWindowVisible(window_)) {
        reshown_from_tray_ = true;
    }
    ShowWindow(window_, SW_SHOW);
    ShowWindow(window_, SW_RESTORE);
    SetForegroundWindow(window_);
}

void TMonitorWindow::ShowTrayMenu() {
    POINT at{};
    GetCursorPos(&at);
    SetForegroundWindow(window_);
    TrackPopupMenu(popup_, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
    PostMessageW(window_, WM_NULL, 0, 0);
}

}  // namespace porvex::ui
