#include "opc/registration/com_server.h"

#include <atomic>
#include <cstdio>

#include "opc/com/engine_lock.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/com/text.h"
#include "opc/idl/opc_ae_interfaces.h"
#include "opc/idl/opc_interfaces.h"
#include "opc/server/item_server.h"
#include "win/com_object.h"
#include "win/rpc_interface_anchor.h"

namespace porvex::opc {
namespace {

std::atomic<TComServer*> the_server{nullptr};

// Runs the last-release action on the main thread once the queue gets to it, if no object
// came back in between.
class TLastReleaseWork final : public TPostedWork {
  public:
    explicit TLastReleaseWork(std::function<void()> action) : action_(std::move(action)) {}
    void Run() override {
        if (win::ObjectCount::live() <= 0 && action_) {
            action_();
        }
    }

  private:
    std::function<void()> action_;
};

}  // namespace

const wchar_t TComServer::kCloseWarningTitle[] = L"COM Server Warning";
const wchar_t TComServer::kCloseWarningText[] =
    L"There are still active COM objects in this application.  One or more clients may have "
    L"references to these objects, so manually closing "
    L"this application may cause those client application(s) to fail."
    L"\r\n\r\n"
    L"Are you sure you want to close this application?";

TComServer::TComServer() : main_thread_(GetCurrentThreadId()) {
    TComServer* expected = nullptr;
    if (!the_server.compare_exchange_strong(expected, this)) {
        throw EOpcServer(L"OPCSERV: Only one COM server allowed");
    }
}

TComServer::~TComServer() {
    win::ObjectCount::set_on_last_release(nullptr);
    RevokeClassObjects();
    if (item_server_) {
        // Clients still connected lose their objects' engine (their calls then fail),
        // while the item server is whole.
        item_server_->DisconnectClients();
        // In the multithreaded apartment calls keep arriving on the RPC threads while the
        // program ends: the whole item server, derived part first, goes under the engine
        // lock, so that a call finds it whole or not at all.
        const TEngineGuard engine;
        item_server_.reset();
    }
    factories_.clear();
    if (the_server.load() == this) {
        the_server.store(nullptr);
    }
}

TComServer* TComServer::Instance() noexcept { return the_server.load(); }

TComServer& TComServer::Required() {
    TComServer* server = the_server.load();
    if (!server) {
        throw EOpcServer(L"OPCSERV: No COM server");
    }
    return *server;
}

void TComServer::AddFactory(std::unique_ptr<TOpcServerFactory> factory) {
    factories_.push_back(std::move(factory));
}

void TComServer::AdoptItemServer(std::unique_ptr<TOpcItemServer> server) {
    if (server) {
        server->Window().SetCallableOnAnyThread(server->CallableOnAnyThread());
    }
    item_server_ = std::move(server);
}

std::optional<int> TComServer::Start(std::wstring_view commandLine) {
    mode_ = StartModeFromCommandLine(commandLine);
    main_thread_ = GetCurrentThreadId();
    if (mode_ == TStartMode::RegServer || mode_ == TStartMode::UnregServer) {
        const bool registering = mode_ == TStartMode::RegServer;
        try {
            for (auto& factory : factories_) {
                factory->ApplyRegistration(registering);
            }
        } catch (...) {
            Report(std::wstring(registering ? L"Registration" : L"Unregistration") + L" failed: " +
                   DescribeException(std::current_exception()));
            return 1;
        }
        return 0;
    }
    // Every other start refreshes the entries; what the registry refuses is no reason not
    // to serve (the program may run without the rights to write them). The component
    // categories are another matter: their failure stops the start.
    for (auto& factory : factories_) {
        try {
            factory->ApplyRegistration(true);
        } catch (const ERegistrationError& e) {
            LogLine(L"registration not refreshed: " + e.Message());
        }
    }
    AnchorInterfaces();
    RegisterClassObjects();
    if (StartedByCom()) {
        win::ObjectCount::set_on_last_release([this] { LastObjectReleased(); });
    }
    return std::nullopt;
}

void TComServer::AnchorInterfaces() noexcept {
    // Every interface a client can hold on an object of the OPC engines (win/
    // rpc_interface_anchor.h says why), and those of activation: the class factory, and
    // the object through which Wine's activation service asks for it (IServiceProvider).
    static const IID kServed[] = {
        __uuidof(IUnknown),
        __uuidof(IClassFactory),
        __uuidof(IServiceProvider),
        __uuidof(IOPCServer),
        __uuidof(IOPCCommon),
        __uuidof(IOPCBrowseServerAddressSpace),
        __uuidof(IOPCItemProperties),
        __uuidof(IConnectionPointContainer),
        __uuidof(IConnectionPoint),
        __uuidof(IEnumConnections),
        __uuidof(IOPCItemMgt),
        __uuidof(IOPCGroupStateMgt),
        __uuidof(IOPCSyncIO),
        __uuidof(IOPCAsyncIO),
        __uuidof(IOPCAsyncIO2),
        __uuidof(IDataObject),
        __uuidof(IEnumOPCItemAttributes),
        __uuidof(IEnumString),
        __uuidof(IEnumUnknown),
        __uuidof(IOPCEventServer),
        __uuidof(IOPCEventSubscriptionMgt),
        __uuidof(IOPCEventAreaBrowser),
    };
    const win::RpcAnchorReport anchored = win::AnchorRpcInterfaces(kServed);
    if (!anchored.missing.empty()) {
        LogLine(L"interfaces not anchored: " + std::to_wstring(anchored.missing.size()));
    }
}

void TComServer::RegisterClassObjects() {
    for (auto& factory : factories_) {
        DWORD cookie = 0;
        const HRESULT hr = CoRegisterClassObject(factory->ClassId(), factory.get(),
                                                 CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        if (FAILED(hr)) {
            RevokeClassObjects();
            throw EOpcError(hr, L"the class object could not be registered with COM");
        }
        cookies_.push_back(cookie);
    }
    if (on_serving_changed_ && !cookies_.empty()) {
        on_serving_changed_(true);
    }
}

void TComServer::RevokeClassObjects() noexcept {
    if (cookies_.empty()) {
        return;
    }
    for (DWORD cookie : cookies_) {
        CoRevokeClassObject(cookie);
    }
    cookies_.clear();
    if (on_serving_changed_) {
        try {
            on_serving_changed_(false);
        } catch (...) {
            LogLine(L"serving-changed action: " + DescribeException(std::current_exception()));
        }
    }
}

void TComServer::SetOnServingChanged(std::function<void(bool)> action) {
    on_serving_changed_ = std::move(action);
}

bool TComServer::KeepRunningForUser() {
    if (cookies_.empty()) {
        return false;
    }
    kept_for_user_ = true;
    win::ObjectCount::set_on_last_release(nullptr);
    return true;
}

bool TComServer::ResumeServing() noexcept {
    if (!cookies_.empty()) {
        return true;
    }
    try {
        RegisterClassObjects();
        return true;
    } catch (...) {
        LogLine(L"the class objects could not be registered again: " +
                DescribeException(std::current_exception()));
        return false;
    }
}

void TComServer::SetOnLastRelease(std::function<void()> action) {
    on_last_release_ = std::move(action);
}

void TComServer::LastObjectReleased() {
    RevokeClassObjects();
    std::function<void()> action = on_last_release_;
    if (!action) {
        const DWORD thread = main_thread_;
        action = [thread] {
            if (GetCurrentThreadId() == thread) {
                PostQuitMessage(0);
            } else {
                PostThreadMessageW(thread, WM_QUIT, 0, 0);
            }
        };
    }
    // The last release may come on any thread; the window's queue of work is engine state.
    const TEngineGuard engine;
    if (TOpcItemServer* server = TOpcItemServer::Instance()) {
        server->Window().Post(std::make_unique<TLastReleaseWork>(std::move(action)));
    } else {
        action();
    }
}

void TComServer::SetErrorReporter(TReportError reporter) { report_ = std::move(reporter); }

void TComServer::Report(const std::wstring& text) const {
    LogLine(text);
    if (report_) {
        report_(text);
        return;
    }
    std::fprintf(stderr, "%s\n", Utf8FromWide(text).c_str());
}

long TComServer::ObjectCount() const noexcept { return win::ObjectCount::live(); }

void TComServer::SetAskUser(TAskUser ask) { ask_ = std::move(ask); }

bool TComServer::ConfirmClose(HWND owner) const {
    if (ObjectCount() <= 0) {
        return true;
    }
    const UINT flags = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;
    const int answer = ask_ ? ask_(owner, kCloseWarningText, kCloseWarningTitle, flags)
                            : MessageBoxW(owner, kCloseWarningText, kCloseWarningTitle, flags);
    return answer == IDYES;
}

}  // namespace porvex::opc
