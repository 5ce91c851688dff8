// Start-up and shut-down of the monitor window: StartDoorServer, OnShown with the connect
// pass, the upkeep timer, saving the settings, the orderly OPC exit and StopDoorServer.
#include "ui/monitor_window.h"

#include <commctrl.h>

#include <algorithm>

#include "door_opc/porvex_server.h"
#include "door_server.h"
#include "door_startup.h"
#include "opc/com/text.h"
#include "opc/registration/com_server.h"
#include "opc/update/delivery_counts.h"
#include "ui/door_event_server.h"
#include "ui/message_dialog.h"
#include "ui/progress_window.h"
#include "ui/wait_pumping.h"

namespace porvex::ui {
namespace {

constexpr UINT_PTR kTimerUpkeep = 1;
constexpr UINT_PTR kTimerConnectPass = 2;
// The report counts go to the log this often (and once at the end), so a site can see
// whether every controller report reached the clients.
constexpr UINT kCountsLogMs = 10 * 60 * 1000;

std::wstring Wide(std::string_view text) { return opc::WideFromUtf8(text); }

}  // namespace

void TMonitorWindow::StartDoorServer() {
    // The monitor gets client notifications from here on, also while a dialog below
    // runs its modal loop (OPC calls are served there too).
    if (PorvexServer* server = ItemServer()) {
        server->attach(nullptr, monitor_.get());
    }
    // The settings first: the door model is made for the enabled point kinds. The key is
    // created when missing; reading stops at the first value that cannot be read.
    settings_ = read_settings(*options_.settings);

    // The controller link registers the library's four callbacks (connection,
    // disconnection, report, reply); start() makes the event queue and the worker run.
    link_ = options_.make_link();
    // The upkeep tick runs on this thread (the window's timer), which also serves the OPC
    // clients and delivers events: its status queries are sent by a thread of their own.
    DoorServerOptions door_options;
    door_options.status_queries_on_thread = true;
    doors_ = std::make_unique<DoorServer>(settings_.points, *link_, *options_.clock, log_,
                                          std::move(door_options));
    doors_->add_observer(mailbox_.get());
    AttachDoorEvents(*doors_);
    doors_->start();

    settings_page_.Load(settings_);

    const DirectoryOutcome outcome = load_door_directory(settings_, *doors_, log_);
    switch (outcome.step) {
        case DirectoryStep::not_configured:
        case DirectoryStep::database_failed:
            ShowDialog(window_, Wide(outcome.dialog_text));
            SelectTab(TabIndex::system);
            break;
        case DirectoryStep::load_failed:
            // Rows before the error stay visible; without value holders nothing ticks.
            log_.write(LogLevel::error,
                       "the door list could not be read to its end: " + outcome.message);
            ShowDialog(window_, Wide(outcome.dialog_text));
            break;
        case DirectoryStep::loaded:
            doors_loaded_ = true;
            log_.write(LogLevel::info,
                       "loaded " + std::to_string(outcome.doors) + " doors from the database");
            break;
    }
    server_view_->Build(*doors_);
    DoorEventsLoaded(*doors_);
    if (PorvexServer* server = ItemServer()) {
        // A namespace that a client had built during start-up (empty) is built again.
        server->attach(doors_.get(), monitor_.get());
    }
    if (doors_loaded_ && doors_->upkeep_tick_enabled()) {
        SetTimer(window_, kTimerUpkeep, 2000, nullptr);
    }
    SetTimer(window_, kTimerCounts, kCountsLogMs, nullptr);
}

void TMonitorWindow::LogReportCounts() {
    if (!doors_) {
        return;
    }
    const opc::DeliveryCounts opc = opc::delivery_counts();
    std::string line = counts_text(doors_->report_counts());
    line += "; OPC update ticks: values found changed " + std::to_string(opc.values_changed);
    line += ", sent in OnDataChange " + std::to_string(opc.values_sent);
    line += ", accepted by the clients " + std::to_string(opc.values_accepted);
    line += ", failed calls " + std::to_string(opc.calls_failed);
    log_.write(LogLevel::info, line);
}

void TMonitorWindow::OnShown() {
    if (reshown_from_tray_) {
        reshown_from_tray_ = false;
        return;
    }
    if (!connect_started_ && doors_) {
        connect_started_ = true;
        SetTimer(window_, kTimerConnectPass, 100, nullptr);
    }
}

void TMonitorWindow::RunConnectPass() {
    KillTimer(window_, kTimerConnectPass);
    if (!doors_ || closed_) {
        return;
    }
    in_connect_pass_ = true;
    try {
        TProgressWindow progress(instance_);
        progress.SetMax(doors_->door_count());
        doors_->connect_pass([&progress](std::size_t done, std::size_t) {
            progress.SetPosition(done);
            PumpMessages();
        });
    } catch (const std::exception& e) {
        log_.write(LogLevel::error, std::string("the connect pass ended early: ") + e.what());
    }
    in_connect_pass_ = false;
    if (close_pending_) {
        CloseNow();
    }
}

void TMonitorWindow::RunUpkeepTick() {
    if (!doors_ || closed_) {
        return;
    }
    try {
        doors_->tick(refresh_seconds(settings_page_.RefreshText()));
    } catch (const std::exception& e) {
        log_.write(LogLevel::error, std::string("upkeep tick: ") + e.what());
    }
}

void TMonitorWindow::SaveSettingsAndClose() {
    const Settings values = settings_page_.Read();
    if (!save_settings(*options_.settings, values)) {
        log_.write(LogLevel::error, "the settings could not be saved (registry key not writable)");
    }
    ShowDialog(window_, Wide(kRestartNoticeText));
    // Saving always ends the program: the settings apply at the next start.
    RequestClose(false);
}

void TMonitorWindow::ExitOrderly() {
    if (asking_clients_ || closed_) {
        return;
    }
    if (options_.exit_started) {
        options_.exit_started();
    }
    if (ItemServer() || TDoorEventServer::Instance()) {
        asking_clients_ = true;
        // Bounded: a client that never lets go does not keep the program from ending.
        const DWORD start = GetTickCount();
        AskClientsToDisconnect();
        while (ConnectedClients() > 0 && !close_pending_) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= options_.exit_wait_ms) {
                log_.write(LogLevel::warning, std::to_string(ConnectedClients()) +
                                                  " OPC client(s) still connected after " +
                                                  std::to_string(options_.exit_wait_ms) +
                                                  " ms; ending anyway");
                com_.EndServing();
                break;
            }
            AskClientsToDisconnect();
            WaitPumping(std::min<DWORD>(500, options_.exit_wait_ms - elapsed));
        }
        asking_clients_ = false;
    }
    KillTimer(window_, kTimerUpkeep);
    ReleaseDoors();
    CloseNow();
}

void TMonitorWindow::AskClientsToDisconnect() {
    if (PorvexServer* server = ItemServer()) {
        server->ShutdownClients(kShutdownReason, -1);
    }
    if (TDoorEventServer* events = TDoorEventServer::Instance()) {
        events->Engine().RequestShutdown(kShutdownReason);
    }
}

std::size_t TMonitorWindow::ConnectedClients() const {
    std::size_t count = 0;
    if (PorvexServer* server = ItemServer()) {
        count += static_cast<std::size_t>(server->ClientCount());
    }
    if (TDoorEventServer* events = TDoorEventServer::Instance()) {
        count += events->Engine().ServerCount();
    }
    return count;
}

void TMonitorWindow::RequestClose(bool ask_user) {
    if (closed_) {
        return;
    }
    if (in_connect_pass_ || asking_clients_) {
        // The running pass or wait returns first; the close follows.
        close_pending_ = true;
        return;
    }
    if (ask_user && !com_.ConfirmClose(window_)) {
        return;
    }
    CloseNow();
}

void TMonitorWindow::CloseNow() {
    if (options_.exit_started) {
        options_.exit_started();
    }
    StopDoorServer();
    if (window_) {
        DestroyWindow(window_);  // WM_DESTROY ends the message loop
        window_ = nullptr;
    }
}

void TMonitorWindow::StopDoorServer() {
    if (closed_) {
        return;
    }
    closed_ = true;
    KillTimer(window_, kTimerUpkeep);
    KillTimer(window_, kTimerConnectPass);
    KillTimer(window_, kTimerCounts);
    if (doors_) {
        // stopping_, the library's links, the callbacks, then the worker after the event it
        // is handling.
        doors_->stop();
        LogReportCounts();
    }
}

void TMonitorWindow::ReleaseDoors() {
    // The item server first: once detached, no OPC read, write or resolution reaches the
    // model, and no client notification reaches the window (which may go before the
    // engine's last clients). Then release_doors stops the controller side before it
    // frees the records.
    if (PorvexServer* server = ItemServer()) {
        server->attach(nullptr, nullptr);
    }
    if (TDoorEventServer* events = TDoorEventServer::Instance()) {
        events->Detach();
    }
    if (server_view_) {
        server_view_->Detach();
    }
    if (doors_) {
        doors_->release_doors();
    }
}

}  // namespace porvex::ui
