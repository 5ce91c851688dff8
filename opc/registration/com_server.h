// TComServer: the program's role as a local COM server, one per process. The program makes
// it at the start of its entry (after COM is initialised on the main thread), hands it the
// OPC server class through RegisterOpcServer (opc/registration/register_server.h), and then
// lets it act on the command line:
//
//   TComServer com;
//   RegisterOpcServer(kClsid, 3, L"Server description", std::make_unique<MyServer>(), L"");
//   if (const std::optional<int> exit_code = com.Start(GetCommandLineW())) {
//       return *exit_code;   // -regserver / -unregserver: done
//   }
//   ... create the window, run the message loop ...
//
// Start mode by switch (opc/registration/start_mode.h):
//   REGSERVER     write the registry entries and end (a failure is reported, exit code 1)
//   UNREGSERVER   remove them and end
//   AUTOMATION, EMBEDDING   started by COM: serve, and end by itself when the last COM
//                 object it served is released
//   none          refresh the entries silently (registry errors ignored) and serve
// Failures of the OPC component categories stop the start in every mode (Start raises).
//
// Serving means the class objects are registered with COM for local-server activation with
// multiple use. The destructor revokes them, disconnects the remaining clients and frees the
// item server.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "opc/registration/server_factory.h"
#include "opc/registration/start_mode.h"

namespace porvex::opc {

class TOpcItemServer;

class TComServer {
  public:
    // Asks the user a yes/no question: (owner, text, title, message box flags) -> the
    // button pressed (IDYES, IDNO).
    using TAskUser = std::function<int(HWND, const std::wstring&, const std::wstring&, UINT)>;
    // Shows an error that ends a start from the command line.
    using TReportError = std::function<void(const std::wstring&)>;

    // EOpcServer when the process already has one.
    TComServer();
    TComServer(const TComServer&) = delete;
    TComServer& operator=(const TComServer&) = delete;
    ~TComServer();

    // The process's instance, or null; Required raises EOpcServer "OPCSERV: No COM server"
    // when there is none.
    static TComServer* Instance() noexcept;
    static TComServer& Required();

    void AddFactory(std::unique_ptr<TOpcServerFactory> factory);
    const std::vector<std::unique_ptr<TOpcServerFactory>>& Factories() const noexcept {
        return factories_;
    }
    // The item server, freed after the clients were disconnected (by the destructor).
    void AdoptItemServer(std::unique_ptr<TOpcItemServer> server);

    // Acts on the command line (see above). Returns the exit code when the program is to
    // end now, nothing when it is to run. EOpcError / EOpcServer when it cannot start.
    std::optional<int> Start(std::wstring_view commandLine);
    TStartMode StartMode() const noexcept { return mode_; }
    bool StartedByCom() const noexcept { return opc::StartedByCom(mode_); }
    bool Serving() const noexcept { return !cookies_.empty(); }
    // Withdraws the class objects from COM: new clients start another instance of the
    // program. For a program that is about to end while clients may still hold objects
    // (the destructor does it too).
    void EndServing() noexcept { RevokeClassObjects(); }
    // A user started the program while this copy, started by COM, serves: from now on it
    // runs as if started by hand and no longer ends with its last client. False when it is
    // already ending (its class objects withdrawn): the user's copy then takes over.
    bool KeepRunningForUser();
    bool KeptForUser() const noexcept { return kept_for_user_; }
    // Registers the class objects again after a last release that raced with
    // KeepRunningForUser withdrew them. False (and logged) when COM refuses.
    bool ResumeServing() noexcept;

    // What happens when a program started by COM has released its last object: by default
    // WM_QUIT for the thread that called Start. The class objects are revoked first, so no
    // new client attaches to a program that is ending; should a client have attached in
    // between, the action waits for its objects to go too.
    void SetOnLastRelease(std::function<void()> action);
    // Called with true once the class objects are registered with COM and with false once
    // they are withdrawn (a program tells other copies of itself whether it serves).
    void SetOnServingChanged(std::function<void(bool)> action);
    // Where an error under REGSERVER/UNREGSERVER goes (default: standard error and the
    // engine log).
    void SetErrorReporter(TReportError reporter);

    // The live COM objects of the engine (and server locks).
    long ObjectCount() const noexcept;
    // The user closes the program: true when it may close. With live objects the user is
    // asked the "COM Server Warning" question (warning icon, "no" the default button).
    bool ConfirmClose(HWND owner) const;
    void SetAskUser(TAskUser ask);

    static const wchar_t kCloseWarningTitle[];
    static const wchar_t kCloseWarningText[];

  private:
    void RegisterClassObjects();
    void RevokeClassObjects() noexcept;
    void LastObjectReleased();
    void AnchorInterfaces() noexcept;
    void Report(const std::wstring& text) const;

    std::vector<std::unique_ptr<TOpcServerFactory>> factories_;
    std::unique_ptr<TOpcItemServer> item_server_;
    // The class objects' registrations (CoRegisterClassObject), empty while not serving.
    std::vector<DWORD> cookies_;
    bool kept_for_user_ = false;
    TStartMode mode_ = TStartMode::Normal;
    DWORD main_thread_ = 0;
    std::function<void()> on_last_release_;
    std::function<void(bool)> on_serving_changed_;
    TReportError report_;
    TAskUser ask_;
};

}  // namespace porvex::opc
